#!/usr/bin/env python3
"""VARO's Windows Installer packages under Wine's msiexec, in the build's
64-bit prefix. Packages are made from the build's DLL with
installer/make_package.py, as scripts/package makes them, at the release
version and at a later one (the same DLL with a later version block). Then:
a silent install with a log, the registry it writes against the one regsvr32
writes for the same DLL at the same path (every key and value of both
registry views), a page run against the installed DLL, an upgrade while a
page host holds the DLL, a refused downgrade, a repair after the DLL was
deleted, and an uninstall after which the registry and Program Files are as
before the install.

usage: msi_packages.py BUILD_DIR DLL PAGE_HOST VERSION [DLL32]

With DLL32 the 32-bit DLL is installed and registered too (the x64 package's
x86 DLL, then the x86 package alone), which runs 32-bit code.
"""
import os
import shutil
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "scripts"))
import run_page_scripts as pages  # noqa: E402
from tools.pagehost import pagehost  # noqa: E402

MAKE_PACKAGE = os.path.join(pages.SOURCE, "installer", "make_package.py")
PAGE = os.path.join(HERE, "installed.asp")
PAGE_ANSWER = b"VARO.WebMng=IWebMng\r\nVARO.Upload=IUpload\r\nVARO.Progress=IProgress\r\n\n"
SYS32 = "C:\\windows\\system32\\"
SYSWOW64 = "C:\\windows\\syswow64\\"


def version_of(path):
    """The file version in a PE file's version block, as a tuple."""
    data = open(path, "rb").read()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        return None
    ms, ls = struct.unpack_from("<II", data, at + 8)
    return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def later_dll(dll, out):
    """A copy of the DLL whose version block says one release later."""
    data = bytearray(open(dll, "rb").read())
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    for field in (12, 20):  # dwFileVersionLS, dwProductVersionLS: the third field
        value = struct.unpack_from("<I", data, at + field)[0]
        struct.pack_into("<I", data, at + field, value + 0x10000)
    open(out, "wb").write(bytes(data))


def read_reg(path):
    """A .reg export as a set of 'key\\tvalue line' entries, key names
    compared without case (the registry's own rule)."""
    text = open(path, "rb").read().decode("utf-16")
    entries, key, pending = set(), None, ""
    for line in text.splitlines():
        if pending:
            line, pending = pending + line.strip(), ""
        if line.endswith("\\") and not line.startswith("["):
            pending = line[:-1]
            continue
        if line.startswith("[") and line.endswith("]"):
            key = line[1:-1].lower()
            entries.add(key)
        elif line and key is not None and not line.startswith("Windows Registry"):
            entries.add(key + "\t" + line)
    return entries


class Prefix:
    def __init__(self, build):
        self.build = build
        self.env = pages.wine_env(build, 932)
        self.drive = os.path.join(self.env["WINEPREFIX"], "drive_c")
        self.work = os.path.join(build, "msi-packages")
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.snapshots = 0

    def wine(self, args, wow64=False, timeout=300):
        loader = "wine" if wow64 else pages.WINE64
        return subprocess.run([loader] + args, env=self.env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              stdin=subprocess.DEVNULL, timeout=timeout)

    def msiexec(self, *args):
        """msiexec with a verbose log: (exit status, log text)."""
        self.snapshots += 1
        log = os.path.join(self.work, f"msiexec-{self.snapshots}.log")
        proc = self.wine([SYS32 + "msiexec.exe"] + list(args) + ["/qn", "/l*v", pages.wine_path(log)])
        # Wine writes the log in the ANSI code page (the prefix runs in 932).
        text = open(log, "rb").read().decode("cp932", "replace") if os.path.exists(log) else ""
        return proc.returncode, text

    def snapshot(self):
        """HKLM\\Software (both views: the 32-bit one is its Wow6432Node),
        HKCU\\Software, and the files under both Program Files and the
        installer's cache."""
        entries = set()
        for root in ("HKLM\\Software", "HKCU\\Software"):
            self.snapshots += 1
            out = os.path.join(self.work, f"snapshot-{self.snapshots}.reg")
            proc = self.wine([SYS32 + "reg.exe", "export", root, pages.wine_path(out), "/reg:64", "/y"])
            if proc.returncode != 0:
                raise RuntimeError(f"reg export {root}: {proc.stdout!r}")
            entries |= read_reg(out)
        for folder in ("Program Files", "Program Files (x86)", "windows/Installer"):
            top = os.path.join(self.drive, folder)
            for dirpath, dirnames, filenames in os.walk(top):
                for name in dirnames + filenames:
                    entries.add("file " + os.path.relpath(os.path.join(dirpath, name), self.drive).lower())
        return entries

    def installed(self, arch, version):
        folder = "Program Files" if arch == "x64" else "Program Files (x86)"
        return os.path.join(self.drive, folder, f"VARO {version}", "VARO.DLL")

    @staticmethod
    def windows_path(arch, version):
        folder = "Program Files" if arch == "x64" else "Program Files (x86)"
        return f"C:\\{folder}\\VARO {version}\\VARO.DLL"


def classes(entries):
    """The entries under HKLM\\Software\\Classes (both views) but the
    installer's own bookkeeping of products."""
    out = set()
    for e in entries:
        if not e.startswith("hkey_local_machine\\software\\classes\\"):
            continue
        rest = e[len("hkey_local_machine\\software\\classes\\"):]
        if rest.startswith("wow6432node\\"):
            rest = rest[len("wow6432node\\"):]
        if rest.split("\\", 1)[0].split("\t", 1)[0] == "installer":
            continue
        out.add(e)
    return out


# Windows Installer's own bookkeeping keys, made empty by the first package
# a machine installs and kept by the system after: theirs, not the product's.
# Only these, and only while empty: a product's key below them, or a value in
# them, is still a leftover.
_CLASSES = "hkey_local_machine\\software\\classes\\installer"
_CURRENT = "hkey_local_machine\\software\\microsoft\\windows\\currentversion\\installer"
INSTALLER_SHELLS = {_CLASSES, _CLASSES + "\\features", _CLASSES + "\\products", _CLASSES + "\\upgradecodes",
                    _CURRENT, _CURRENT + "\\upgradecodes", _CURRENT + "\\userdata",
                    _CURRENT + "\\userdata\\s-1-5-18", _CURRENT + "\\userdata\\s-1-5-18\\components",
                    _CURRENT + "\\userdata\\s-1-5-18\\products"}


def changes(before, after):
    added = {e for e in after - before if e not in INSTALLER_SHELLS}
    return sorted("+ " + e for e in added) + sorted("- " + e for e in before - after)


LIBID = "{a47e5d11-8c23-4b9a-b6e2-5d0f3c19a7e8}"


def wine_typelib_keys(left):
    """Of the leftovers, the 32-bit type library's own keys (TypeLib\\LIBID in
    either view, and the Interface keys whose TypeLib names it): Wine's
    64-bit msiexec registers a 32-bit component's type library from its own
    bitness and does not unregister it again, where Windows does both in
    the 32-bit view. Everything else still counts."""
    entries = [line[2:] for line in left if line.startswith("+ ")]
    iids = {e.split("\t")[0].rsplit("\\", 1)[0] for e in entries
            if "\\interface\\" in e and e.split("\t")[0].endswith("\\typelib") and LIBID.upper() in e.upper()}
    def ours(e):
        key = e.split("\t")[0]
        return ("\\typelib\\" + LIBID) in key or any(key == i or key.startswith(i + "\\") for i in iids)
    return [line for line in left if line.startswith("+ ") and ours(line[2:])]


def without_wine_typelib(left, dll32):
    """The leftovers less, where a 32-bit DLL was installed, the keys of
    wine_typelib_keys, which are said."""
    if not dll32:
        return left
    wine = wine_typelib_keys(left)
    if wine:
        print(f"note: Wine's msiexec left the 32-bit type library's {len(wine)} registry entries "
              f"(TypeLib\\{LIBID} and its interfaces), which Windows removes; not counted")
    return [line for line in left if line not in wine]


def show(lines, limit=30):
    return "\n      ".join(lines[:limit]) + (f"\n      ... {len(lines) - limit} more" if len(lines) > limit else "")


def run_page(host_command, prefix, label):
    out = os.path.join(prefix.work, label)
    os.makedirs(out, exist_ok=True)
    host = pagehost.PageHost(host_command, prefix.env, stderr=subprocess.DEVNULL)
    try:
        return host.request(PAGE, out)
    except pagehost.PageHostError as e:
        return (str(e), {}, b"")
    finally:
        host.close()


def main():
    build, dll, host_exe, version = sys.argv[1:5]
    dll32 = sys.argv[5] if len(sys.argv) > 5 else None
    if dll32 and not pagehost.runs_32bit():
        print(f"msi_packages: the x86 run registers the 32-bit DLL, and this machine {pagehost.machine_description()}; "
              "scripts/test runs it in the emulated guest")
        return 1
    prefix = Prefix(build)
    host_command = [pagehost.wine_loader("win64"), host_exe]
    checks = []
    started = time.monotonic()

    def add(check):
        checks.append(check)
        print(f"{'FAIL' if check.failures else 'ok'}: {check.label} ({time.monotonic() - started:.0f} s in)", flush=True)
        return not check.failures

    # The packages: the release version and a later one.
    major, minor, patch = (int(x) for x in version.split("."))
    later = f"{major}.{minor}.{patch + 1}"
    dll_later = os.path.join(prefix.work, "later", "VARO.DLL")
    os.makedirs(os.path.dirname(dll_later))
    later_dll(dll, dll_later)
    dll32_later = None
    if dll32:
        dll32_later = os.path.join(prefix.work, "later", "VARO32.DLL")
        later_dll(dll32, dll32_later)
    tools = os.path.join(build, "host-tools")
    epoch = "1700000000"
    packages = {}
    check = pages.Checker("packages built")
    for label, v, d64, d32 in [("first", version, dll, dll32 or dll), ("later", later, dll_later, dll32_later or dll_later)]:
        packages[label] = os.path.join(prefix.work, f"varo-{v}-x64.msi")
        proc = subprocess.run([sys.executable, MAKE_PACKAGE, "x64", v, epoch, tools, packages[label], d64, d32],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        check.expect(proc.returncode == 0, f"make_package {v}: {proc.stdout.decode(errors='replace')}")
    if dll32:
        packages["x86"] = os.path.join(prefix.work, f"varo-{version}-x86.msi")
        proc = subprocess.run([sys.executable, MAKE_PACKAGE, "x86", version, epoch, tools, packages["x86"], "-", dll32],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        check.expect(proc.returncode == 0, f"make_package x86: {proc.stdout.decode(errors='replace')}")
    if not add(check):
        return pages.report(checks, "msi_packages")

    base = prefix.snapshot()
    x86 = "1" if dll32 else "0"
    archs = ["x64", "x86"] if dll32 else ["x64"]

    # regsvr32 of the same DLLs at the paths the package installs them to.
    check = pages.Checker("regsvr32 of the DLLs at the installed paths")
    for arch, source in [("x64", dll), ("x86", dll32)][:len(archs)]:
        target = prefix.installed(arch, version)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(source, target)
        folder = SYS32 if arch == "x64" else SYSWOW64
        proc = prefix.wine([folder + "regsvr32.exe", "/s", prefix.windows_path(arch, version)], wow64=arch == "x86")
        check.expect(proc.returncode == 0, f"regsvr32 {arch}: {proc.returncode} {proc.stdout!r}")
    registered = prefix.snapshot()
    for arch in reversed(archs):
        folder = SYS32 if arch == "x64" else SYSWOW64
        proc = prefix.wine([folder + "regsvr32.exe", "/u", "/s", prefix.windows_path(arch, version)],
                           wow64=arch == "x86")
        check.expect(proc.returncode == 0, f"regsvr32 /u {arch}: {proc.returncode} {proc.stdout!r}")
    for arch in archs:
        shutil.rmtree(os.path.dirname(prefix.installed(arch, version)))
    # Start again from what regsvr32 /u left: what it leaves is not the
    # package's to judge.
    base = prefix.snapshot()
    regsvr32_classes = changes(classes(base), classes(registered))
    check.expect(any("inprocserver32" in line for line in regsvr32_classes), "regsvr32 registered nothing")
    add(check)

    # Install: the registry equals regsvr32's, the page runs.
    check = pages.Checker(f"install {os.path.basename(packages['first'])} INSTALLX86={x86}")
    status, log = prefix.msiexec("/i", pages.wine_path(packages["first"]), f"INSTALLX86={x86}")
    check.expect(status == 0, f"msiexec /i: exit status {status}; log {prefix.snapshots}")
    check.expect("InstallFinalize" in log and "WriteRegistryValues" in log, "the log does not tell the actions")
    for arch in archs:
        check.expect(os.path.exists(prefix.installed(arch, version)), f"no {arch} DLL installed")
    installed = prefix.snapshot()
    installed_classes = changes(classes(base), classes(installed))
    diff = sorted(set(installed_classes) ^ set(regsvr32_classes))
    check.expect(not diff, f"the package's registry differs from regsvr32's ({len(installed_classes)} and "
                           f"{len(regsvr32_classes)} changes):\n      {show(diff)}")
    status, headers, body = run_page(host_command, prefix, "page-first")
    check.expect(status.startswith("200") and body == PAGE_ANSWER, f"page: {status} {body!r}")
    if not add(check):
        prefix.msiexec("/x", pages.wine_path(packages["first"]))
        return pages.report(checks, "msi_packages")

    # Upgrade while a page host holds the installed DLL.
    check = pages.Checker(f"upgrade to {later} while a page host holds {version}")
    held = pagehost.PageHost(host_command, prefix.env, stderr=subprocess.DEVNULL)
    uploads = os.path.join(prefix.work, "held")
    os.makedirs(uploads, exist_ok=True)
    try:
        status, _, body = held.request(PAGE, uploads)
        check.expect(status.startswith("200") and body == PAGE_ANSWER, f"held host's first page: {status} {body!r}")
        status, log = prefix.msiexec("/i", pages.wine_path(packages["later"]), f"INSTALLX86={x86}")
        check.expect(status == 0, f"msiexec upgrade: exit status {status}; log {prefix.snapshots}")
        for arch in archs:
            got = version_of(prefix.installed(arch, later)) if os.path.exists(prefix.installed(arch, later)) else None
            check.expect(got == (major, minor, patch + 1, 0), f"{arch} DLL on disk after the upgrade: {got}")
        upgraded = prefix.snapshot()
        # One product left (the earlier one's uninstall entry went), the
        # same classes.
        moved = {e.replace(f"\\\\VARO {version}\\\\", f"\\\\VARO {later}\\\\") for e in classes(installed)}
        check.expect(changes(moved, classes(upgraded)) == [],
                     f"classes other than the new folder:\n      {show(changes(moved, classes(upgraded)))}")
        status, _, body = held.request(PAGE, uploads)
        check.expect(status.startswith("200") and body == PAGE_ANSWER, f"held host after the upgrade: {status} {body!r}")
    except pagehost.PageHostError as e:
        check.expect(False, f"held host: {e}")
    finally:
        held.close()
    status, _, body = run_page(host_command, prefix, "page-later")
    check.expect(status.startswith("200") and body == PAGE_ANSWER, f"page after the upgrade: {status} {body!r}")
    # The earlier version's DLL was in use when its uninstall ran: Windows
    # deletes it at the next restart, Wine leaves it. Either way nothing may
    # refer to it any more, nothing else of it may be left, and it must no
    # longer be held once its host has gone.
    for arch in archs:
        old = prefix.installed(arch, version)
        if os.path.exists(old):
            left = os.listdir(os.path.dirname(old))
            check.expect(left == ["VARO.DLL"], f"the earlier {arch} folder holds {left}")
            check.expect(not any(f"varo {version}" in e.lower() for e in classes(prefix.snapshot())),
                         f"the registry still refers to {version}")
            print(f"note: the held {version} {arch} DLL outlived its uninstall (Windows deletes it at restart)")
            shutil.rmtree(os.path.dirname(old))
    add(check)

    check = pages.Checker("downgrade refused with its message")
    status, log = prefix.msiexec("/i", pages.wine_path(packages["first"]), f"INSTALLX86={x86}")
    check.expect(status != 0, "the earlier package installed over the later one")
    # Wine's msiexec logs the refusal, not its text under /qn.
    check.expect("WIX_DOWNGRADE_DETECTED = {" in log and "LaunchConditions" in log,
                 f"no refusal in log {prefix.snapshots}")
    check.expect(all(version_of(prefix.installed(a, later)) == (major, minor, patch + 1, 0) for a in archs),
                 "the downgrade changed the installed DLL")
    add(check)

    check = pages.Checker("repair after the DLL was deleted")
    for arch in archs:
        os.remove(prefix.installed(arch, later))
    # The same package again with REINSTALL: what /fa does (Wine's msiexec
    # takes /f with a product code only).
    status, log = prefix.msiexec("/i", pages.wine_path(packages["later"]), "REINSTALL=ALL", "REINSTALLMODE=vomus",
                                 f"INSTALLX86={x86}")
    check.expect(status == 0, f"msiexec REINSTALL=ALL: exit status {status}; log {prefix.snapshots}")
    for arch in archs:
        check.expect(os.path.exists(prefix.installed(arch, later)) and
                     version_of(prefix.installed(arch, later)) == (major, minor, patch + 1, 0), f"{arch} DLL not restored")
    status, _, body = run_page(host_command, prefix, "page-repaired")
    check.expect(status.startswith("200") and body == PAGE_ANSWER, f"page after the repair: {status} {body!r}")
    add(check)

    check = pages.Checker("uninstall leaves nothing")
    status, log = prefix.msiexec("/x", pages.wine_path(packages["later"]))
    check.expect(status == 0, f"msiexec /x: exit status {status}; log {prefix.snapshots}")
    left = without_wine_typelib(changes(base, prefix.snapshot()), dll32)
    check.expect(not left, f"after the uninstall, against before the install:\n      {show(left)}")
    add(check)

    if dll32:
        # The x86 package alone: what 32-bit Windows gets.
        check = pages.Checker("x86 package: install, registry, uninstall")
        status, log = prefix.msiexec("/i", pages.wine_path(packages["x86"]))
        check.expect(status == 0, f"msiexec /i x86: exit status {status}; log {prefix.snapshots}")
        status, log = prefix.msiexec("/x", pages.wine_path(packages["x86"]))
        check.expect(status == 0, f"msiexec /x x86: exit status {status}; log {prefix.snapshots}")
        left = without_wine_typelib(changes(base, prefix.snapshot()), dll32)
        check.expect(not left, f"after the uninstall:\n      {show(left)}")
        add(check)
    return pages.report(checks, "msi_packages")


if __name__ == "__main__":
    sys.exit(main())
