#!/usr/bin/python3
"""Builds one of VARO's Windows Installer packages with wixl.

  make_package.py ARCH VERSION EPOCH TOOLS_DIR OUT.msi DLL_x64 DLL_x86

ARCH x64 makes the package for 64-bit Windows (the x64 DLL, and the x86 DLL
unless INSTALLX86=0), ARCH x86 the one for 32-bit Windows (the x86 DLL; give
"-" for DLL_x64). TOOLS_DIR is a native build folder for registry_rows,
configured and built there when it is not yet. The same inputs give the same bytes: the product code comes
from the version, the package code from the version and the files, and the
times the builder writes are replaced by EPOCH.
"""
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
# Fixed for the product's life: a later package finds and replaces an
# earlier one of the same architecture through it.
UPGRADE_CODES = {"x64": "8E0C7B5A-0D6B-4F5E-9C1A-3F2A7D6B9E41", "x86": "4B7D2E19-6A3C-4E8F-B15D-0C9E8A7F2D63"}
# Names the product and package codes made from the version.
NAMESPACE = uuid.UUID("2D7A9C1E-5B34-4F08-A6E2-91C3D58B7F0A")
FEATURE = {"x64": "VARO64", "x86": "VARO86"}
SYSTEM_FOLDER = {"x64": "ProgramFiles64Folder", "x86": "ProgramFilesFolder"}
# The keys of HKLM\Software\Classes that 32-bit programs see apart.
REDIRECTED = re.compile(r'Root="HKCR" Key="(CLSID|Interface)\\')


def folder_property(archs, arch):
    """The property naming a DLL's folder: INSTALLDIR for the package's own
    architecture, INSTALLDIR86 for the x86 DLL beside the x64 one."""
    return "INSTALLDIR86" if arch == "x86" and "x64" in archs else "INSTALLDIR"


def run(args, **kwargs):
    result = subprocess.run(args, capture_output=True, text=True, **kwargs)
    if result.returncode != 0:
        sys.exit(f"make_package: {' '.join(args)} failed ({result.returncode}):\n{result.stderr}")
    return result.stdout


def type_library():
    """The library's identifier and version, as varo.idl states them."""
    idl = open(os.path.join(ROOT, "resources", "varo.idl"), encoding="utf-8").read()
    m = re.search(r"uuid\(([0-9A-Fa-f-]{36})\),\s*version\((\d+)\.(\d+)\),\s*lcid\((\d+)\)[^\]]*\]\s*library", idl)
    if not m:
        sys.exit("make_package: no library block in varo.idl")
    return "{" + m.group(1).upper() + "}", int(m.group(2)), int(m.group(3)), int(m.group(4))


def component(arch, file_id, rows, guid):
    win64 = ' Win64="yes"' if arch == "x64" else ""
    lines = [f'<Component Id="Component_{arch}" Guid="{guid}"{win64}>',
             f'  <File Id="{file_id}" Name="VARO.DLL" Source="{file_id}" KeyPath="yes"/>']
    lines += ["  " + row for row in rows]
    lines.append("</Component>")
    return lines


def directories(archs, rows, version):
    out = []
    for arch in archs:
        system, prop = SYSTEM_FOLDER[arch], folder_property(archs, arch)
        # A new folder each version, so a new component each version.
        guid = str(uuid.uuid5(NAMESPACE, f"component {arch} {version}")).upper()
        # A folder per version, straight under Program Files: an upgrade
        # puts the new DLL beside the one that running page hosts hold, so
        # the next process loads the new one at once, and the uninstall of
        # a version removes its whole folder.
        out += [f'<Directory Id="{system}">', f'  <Directory Id="{prop}" Name="VARO {version}">']
        out += ["    " + line for line in component(arch, f"VARO.DLL_{arch}", rows[arch], guid)]
        out += ["  </Directory>", "</Directory>"]
    return "\n".join("      " + line for line in out)


def features(archs):
    return "\n".join(f'    <Feature Id="{FEATURE[arch]}" Level="1"><ComponentRef Id="Component_{arch}"/></Feature>'
                     for arch in archs)


def idt(name, columns, types, keys, rows):
    text = "\t".join(columns) + "\r\n" + "\t".join(types) + "\r\n" + name + "\t" + "\t".join(keys) + "\r\n"
    return text + "".join("\t".join(str(v) for v in row) + "\r\n" for row in rows)


def pin_summary_times(path, epoch):
    """Writes EPOCH as the summary information's creation and save times,
    which the builder takes from the clock (no option sets them)."""
    data = bytearray(open(path, "rb").read())
    u16 = lambda o: struct.unpack_from("<H", data, o)[0]
    u32 = lambda o: struct.unpack_from("<I", data, o)[0]
    sector = 1 << u16(0x1E)
    mini = 1 << u16(0x20)
    cutoff = u32(0x38)
    difat = [u32(0x4C + 4 * i) for i in range(109)]
    if u32(0x48):
        sys.exit("make_package: a package too large for the time fix")
    fat = []
    for s in difat:
        if s >= 0xFFFFFFFA:
            break
        fat += struct.unpack_from(f"<{sector // 4}I", data, (s + 1) * sector)

    def chain(start):
        out = []
        while start < 0xFFFFFFFA:
            out.append(start)
            start = fat[start]
        return out

    def offsets(sectors, size):
        return [(s + 1) * size for s in sectors]

    directory = b"".join(bytes(data[o:o + sector]) for o in offsets(chain(u32(0x30)), sector))
    entries = [directory[i:i + 128] for i in range(0, len(directory), 128)]
    root_start = struct.unpack_from("<I", entries[0], 116)[0]
    root_sectors = chain(root_start)
    minifat = []
    for o in offsets(chain(u32(0x3C)), sector) if u32(0x40) else []:
        minifat += struct.unpack_from(f"<{sector // 4}I", data, o)
    for entry in entries:
        length = struct.unpack_from("<H", entry, 64)[0]
        if entry[:length].decode("utf-16-le").rstrip("\0") != "\x05SummaryInformation":
            continue
        start, size = struct.unpack_from("<II", entry, 116)
        places = []  # file offset of each byte of the stream
        if size < cutoff:
            s = start
            while s < 0xFFFFFFFA:
                logical = s * mini
                base = (root_sectors[logical // sector] + 1) * sector + logical % sector
                places += range(base, base + mini)
                s = minifat[s]
        else:
            for o in offsets(chain(start), sector):
                places += range(o, o + sector)
        places = places[:size]
        stream = bytearray(data[p] for p in places)
        section = struct.unpack_from("<I", stream, 44)[0]
        count = struct.unpack_from("<I", stream, section + 4)[0]
        filetime = (max(epoch, 315532800) + 11644473600) * 10_000_000
        for i in range(count):
            pid, offset = struct.unpack_from("<II", stream, section + 8 + 8 * i)
            # 12: created, 13: last saved; both VT_FILETIME.
            if pid in (12, 13) and struct.unpack_from("<I", stream, section + offset)[0] == 0x40:
                struct.pack_into("<Q", stream, section + offset + 4, filetime)
        for p, b in zip(places, stream):
            data[p] = b
        open(path, "wb").write(data)
        return
    sys.exit("make_package: no summary information in the package")


def rows_tool(folder):
    """registry_rows built natively in folder, and the scripts the DLL embeds."""
    env = {k: v for k, v in os.environ.items() if k not in ("CMAKE_TOOLCHAIN_FILE", "CC", "CXX")}
    tool = os.path.join(folder, "installer", "registry_rows")
    # The emulated guest has no compiler: it uses the tool the host built.
    if shutil.which("ninja") or not os.path.exists(tool):
        if not os.path.exists(os.path.join(folder, "CMakeCache.txt")):
            run(["cmake", "-S", ROOT, "-B", folder, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release"], env=env)
        run(["cmake", "--build", folder, "-j2", "--target", "registry_rows"], env=env)
    names = open(os.path.join(folder, "installer", "registry_scripts.txt")).read().split()
    return tool, [os.path.join(ROOT, "resources", n) for n in names]


def main():
    if len(sys.argv) != 8:
        sys.exit(__doc__)
    arch, version, epoch, tools, out, dll64, dll86 = sys.argv[1:8]
    epoch = int(epoch)
    archs = ["x64", "x86"] if arch == "x64" else ["x86"]
    dlls = {"x64": dll64, "x86": dll86}
    tool, scripts = rows_tool(tools)
    rows = {a: run([tool, f"VARO.DLL_{a}"] + scripts).splitlines() for a in archs}
    if "x64" in archs:
        # Beside the x64 DLL the x86 one writes only what Windows keeps apart
        # for 32-bit programs (CLSID and Interface); the rest of Classes, the
        # ProgIDs among it, is one key for both views, which the x64 DLL's
        # rows write with the same values, as both regsvr32s do.
        rows["x86"] = [r for r in rows["x86"] if REDIRECTED.search(r)]
    digest = hashlib.sha256(version.encode())
    for a in archs:
        digest.update(open(dlls[a], "rb").read())
    template = open(os.path.join(HERE, "varo.wxs.in"), encoding="utf-8").read()
    fields = {"PRODUCT_CODE": str(uuid.uuid5(NAMESPACE, f"product {arch} {version}")).upper(),
              "UPGRADE_CODE": UPGRADE_CODES[arch], "VERSION": version, "ARCH": arch,
              "DIRECTORIES": directories(archs, rows, version), "FEATURES": features(archs)}
    for key, value in fields.items():
        template = template.replace(f"@{key}@", value)
    package_code = "{" + str(uuid.uuid5(NAMESPACE, "package " + digest.hexdigest())).upper() + "}"
    libid, major, minor, lcid = type_library()

    with tempfile.TemporaryDirectory() as work:
        for a in archs:
            shutil.copyfile(dlls[a], os.path.join(work, f"VARO.DLL_{a}"))
            os.utime(os.path.join(work, f"VARO.DLL_{a}"), (epoch, epoch))
        wxs = os.path.join(work, "varo.wxs")
        open(wxs, "w", encoding="utf-8").write(template)
        msi = os.path.join(work, "varo.msi")
        env = dict(os.environ, SOURCE_DATE_EPOCH=str(epoch))
        run(["wixl", "-a", arch, "-o", msi, wxs], cwd=work, env=env)
        # What the builder has no element for: the type libraries, which the
        # installer registers as RegisterTypeLib does for regsvr32, and the
        # property that leaves the x86 DLL out.
        sequence = run(["msiinfo", "export", msi, "InstallExecuteSequence"], cwd=work)
        sequence += "UnregisterTypeLibraries\t\t2300\r\nRegisterTypeLibraries\t\t5500\r\n"
        tables = {
            "InstallExecuteSequence.idt": sequence,
            "TypeLib.idt": idt("TypeLib", ["LibID", "Language", "Component_", "Version", "Description", "Directory_",
                                           "Feature_", "Cost"],
                               ["s38", "i2", "s72", "I4", "L128", "S72", "s38", "I4"], ["LibID", "Language", "Component_"],
                               [[libid, lcid, f"Component_{a}", major << 8 | minor, "", folder_property(archs, a), FEATURE[a], ""]
                                for a in archs]),
        }
        if arch == "x64":
            tables["Condition.idt"] = idt("Condition", ["Feature_", "Level", "Condition"], ["s38", "i2", "S255"],
                                          ["Feature_", "Level"], [["VARO86", 0, 'INSTALLX86="0"']])
        for name, text in tables.items():
            open(os.path.join(work, name), "w", newline="").write(text)
            run(["msibuild", msi, "-i", os.path.join(work, name)], cwd=work, env=env)
        run(["msibuild", msi, "-s", f"VARO {version} ({arch})", "VARO",
             ("x64" if arch == "x64" else "Intel") + ";1041", package_code], cwd=work, env=env)
        pin_summary_times(msi, epoch)
        shutil.copyfile(msi, out)


if __name__ == "__main__":
    main()
