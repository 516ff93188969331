#!/usr/bin/env python3
"""Page-script tests: VBScript and JScript pages drive VARO.WebMng late-bound
under Wine's cscript, over request bodies captured from real clients.

Registers the built VARO.DLL with Wine's regsvr32 in the build's prefix, runs
each page script over each fixture, checks what the script printed and the
files it wrote (byte for byte), and unregisters the DLL again. Given a 32-bit
DLL as well (the 64-bit build's 64-bit prefix), registers both side by side
and runs every page through the 32-bit cscript (the 64-bit one being the run
without it). VARO_TEST_SCALE lowers the rounds of the long check.

usage: run_page_scripts.py BUILD_DIR DLL_PATH CODEPAGE [DLL32_PATH]
"""
import os
import re
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, "..", "..", ".."))
FIXTURES = os.path.join(SOURCE, "tests", "fixtures", "requests")


def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


sys.path.insert(0, SOURCE)
from tools.pagehost import pagehost  # noqa: E402

# Debian's wine command starts Wine's own programs (cscript, regsvr32, reg) as
# 32-bit ones; the 64-bit loader starts the 64-bit ones of a 64-bit prefix.
WINE64 = pagehost.wine_loader("win64")
SYSWOW64 = "C:\\windows\\syswow64\\"


class ScriptHost:
    """One bitness of a prefix: its regsvr32, cscript and reg, and the DLL
    that its processes must load."""

    def __init__(self, label, wine, folder, dll):
        self.label, self.wine, self.folder, self.dll = label, wine, folder, dll

    def command(self, program, *args):
        return [self.wine, self.folder + program] + list(args)


def script_hosts(build, dll, dll32=None):
    """The hosts of a build's prefix: its own bitness, and with dll32 in a
    64-bit prefix the 32-bit one beside it."""
    if wine_arch(build) != "win64":
        return [ScriptHost("", "wine", "", dll)]
    hosts = [ScriptHost("x64 ", WINE64, "C:\\windows\\system32\\", dll)]
    if dll32:
        hosts.append(ScriptHost("x86 ", "wine", SYSWOW64, dll32))
    return hosts


def wine_arch(build):
    path = os.path.join(build, "wine-arch")
    return open(path).read().strip() if os.path.exists(path) else "win32"


def wine_env(build, codepage):
    """The build's Wine prefix under the code page's locale."""
    return dict(os.environ, WINEARCH=wine_arch(build), WINEDEBUG="-all", WINEPREFIX=os.path.join(build, "wine-prefix"),
                LC_ALL="ja_JP.UTF-8" if codepage == 932 else "C")


def register(hosts, env, unregister=False):
    """regsvr32 (/u) of each host's DLL; the failures' messages."""
    failures = []
    for host in hosts:
        proc = run(host.command("regsvr32.exe", *(["/u"] if unregister else []), "/s", wine_path(host.dll)), env)
        if proc.returncode != 0:
            failures.append(f"{host.label}regsvr32 {'/u ' if unregister else ''}failed ({proc.returncode}): "
                            f"{proc.stdout.decode(errors='replace')}")
    return failures


def ansi_text(data, codepage):
    """Bytes as the ANSI code page turns them into UTF-16 (Windows' tables:
    1252's five undefined bytes map to the C1 controls of the same value)."""
    if codepage == 932:
        return data.decode("cp932")
    return "".join(bytes([b]).decode("cp1252") if b not in (0x81, 0x8D, 0x8F, 0x90, 0x9D) else chr(b) for b in data)


def client_split(name, codepage):
    """(directory, file name) of a client file name: split at the last '\\' or
    '/' that is a whole character of the code page, never at position 0."""
    split, i = None, 0
    while i < len(name):
        lead = codepage == 932 and (0x81 <= name[i] <= 0x9F or 0xE0 <= name[i] <= 0xFC) and i + 1 < len(name)
        if not lead and name[i] in b"\\/" and i > 0:
            split = i
        i += 2 if lead else 1
    if split is None:
        return None, name
    return name[:split], name[split + 1:]


def codes(text):
    return "[" + ",".join(str(ord(c)) for c in text) + "]"


def read(name):
    with open(os.path.join(FIXTURES, name), "rb") as f:
        return f.read()


# What each captured body holds: text fields (their raw bytes) and file
# fields (client file name bytes, content file). See tests/fixtures/README.md.
FORM_TEXT = {"title": b"hello", "comment": b"line one\r\nline two", "color": b"red,,blue", "empty": b""}
FORM_FILES = {"upload": (b"hello.txt", "hello.txt"), "data": (b"bytes.bin", "bytes.bin")}
SJIS_TEXT = {"\u540d\u524d": "\u7530\u4e2d \u592a\u90ce".encode("cp932"), "\u8868": "\u30bd\u30d5\u30c8".encode("cp932")}
SJIS_FILES = {"\u6dfb\u4ed8": ("\u8868.txt".encode("cp932"), "sjis-file.txt")}

FIXTURE_TABLE = [
    ("chromium-form.bin", FORM_TEXT, FORM_FILES),
    ("firefox-form.bin", FORM_TEXT, FORM_FILES),
    ("curl-form.bin", FORM_TEXT, FORM_FILES),
    ("chromium-sjis.bin", SJIS_TEXT, SJIS_FILES),
    ("firefox-sjis.bin", SJIS_TEXT, SJIS_FILES),
]

FILE_OPEN_ERROR = "\u30d5\u30a1\u30a4\u30eb\u30aa\u30fc\u30d7\u30f3\u30a8\u30e9\u30fc"
ITEM_NAME_NULL = "\u30a2\u30a4\u30c6\u30e0\u540d\u304cNULL\u3067\u3059\u3002"
NOT_ARRAY_TYPE = "\u914d\u5217\u578b\u3067\u306f\u3042\u308a\u307e\u305b\u3093\u3002"
NOT_REQUEST = ("Handle \u306e 1 \u756a\u76ee\u306e\u5f15\u6570\u306b\u306f Request \u30aa\u30d6\u30b8\u30a7\u30af\u30c8 "
               "(ServerVariables \u3068 BinaryRead \u3092\u6301\u3064\u30aa\u30d6\u30b8\u30a7\u30af\u30c8) "
               "\u3092\u6e21\u3057\u3066\u304f\u3060\u3055\u3044\u3002")
GUID_RE = re.compile(r"^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$")


class Checker:
    def __init__(self, label):
        self.label = label
        self.failures = []

    def expect(self, condition, what):
        if not condition:
            self.failures.append(what)


def report(checks, title):
    """Prints each check and a summary line; the exit status of the run."""
    failed = [c for c in checks if c.failures]
    for c in checks:
        print(("FAIL " if c.failures else "ok   ") + c.label)
        for f in c.failures:
            print("     " + f)
    print(f"{title}: {len(checks) - len(failed)} passed, {len(failed)} failed")
    return 1 if failed else 0


def run(cmd, env, timeout=120):
    return subprocess.run(cmd, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout,
                          stdin=subprocess.DEVNULL)


def check_page(host, lang, script, fixture, text_fields, file_fields, codepage, env, out_root):
    check = Checker(f"{host.label}{lang} {fixture} cp{codepage}")
    body = os.path.join(FIXTURES, fixture)
    if not os.path.exists(body):
        check.expect(False, f"fixture {fixture} is missing")
        return check
    out = os.path.join(out_root, f"{os.path.splitext(fixture)[0]}-{lang}")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    names = list(text_fields) + list(file_fields)
    # Field names reach the script as ANSI command-line arguments: Japanese
    # names only under code page 932.
    encoding = "cp932" if codepage == 932 else "cp1252"
    arg_names = [n for n in names if n.encode(encoding, "replace").decode(encoding) == n]
    proc = run(host.command("cscript.exe", "//nologo", wine_path(script), wine_path(body), wine_path(out), *arg_names), env)
    text = proc.stdout.decode(encoding, "replace")
    lines = [l.strip() for l in text.splitlines() if l.strip()]
    fields = {}
    for line in lines:
        parts = line.split(" ")
        fields.setdefault(parts[0], []).append(parts[1:])
    check.expect(lines and lines[-1] == "sentinel done", f"no sentinel; output:\n{text}")
    if not lines or lines[-1] != "sentinel done":
        return check

    for index, name in enumerate(arg_names, start=2):
        key = str(index)
        if name in text_fields:
            expected = codes(ansi_text(text_fields[name], codepage))
            got = [p for p in fields.get("form", []) if p[0] == key]
            check.expect(got and got[0][1] == expected, f"Form({name}) = {got}, expected {expected}")
        else:
            client_name, content_file = file_fields[name]
            content = read(content_file)
            saved = os.path.join(out, name + ".saved")
            check.expect(os.path.exists(saved) and open(saved, "rb").read() == content,
                         f"WriteForm({name}) did not save the upload byte for byte")
            if lang == "vbs":
                info = [p for p in fields.get("info", []) if p[0] == key]
                directory, file_name = client_split(client_name, codepage)
                expected = [key, "0", codes(ansi_text(directory, codepage)) if directory else "[]",
                            codes(ansi_text(file_name, codepage)), str(len(content))]
                check.expect(info and info[0] == expected, f"GetFileInfo({name}) = {info}, expected {expected}")
    # FormBinary's bytes went through WriteBinary (checked by the Form and
    # file checks above for content); DeleteFileEx then removed them all.
    check.expect(not [f for f in os.listdir(out) if f.endswith(".bin")], "DeleteFileEx left .bin files")
    check.expect(fields.get("deletefileex") == [["0"]], f"DeleteFileEx gave {fields.get('deletefileex')}")
    check.expect(fields.get("deletefile") == [["-1"]], f"DeleteFile gave {fields.get('deletefile')}")
    check.expect(len(fields.get("formbinary", [])) == len(arg_names) and
                 all(p[1] == "0" for p in fields.get("formbinary", [])),
                 f"WriteBinary of FormBinary gave {fields.get('formbinary')}")
    errors = fields.get("error", [])
    check.expect(errors == [["80004005", codes(FILE_OPEN_ERROR)], ["80004005", codes(NOT_ARRAY_TYPE)]],
                 f"errors seen by the script: {errors}")
    check_guids(check, fields)
    return check


def check_guids(check, fields):
    guids = fields.get("guid", [[]])[0]
    check.expect(len(guids) == 2 and all(GUID_RE.match(g) for g in guids) and guids[0] != guids[1],
                 f"CreateGUID gave {guids}")


def check_jscript_page(host, script, codepage, env, out_root):
    check = Checker(f"{host.label}js cp{codepage}")
    out = os.path.join(out_root, "jscript")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    for name in ("a.tmp", "b.tmp", "c.tmp"):
        open(os.path.join(out, name), "wb").close()
    proc = run(host.command("cscript.exe", "//nologo", wine_path(script),
                            wine_path(os.path.join(FIXTURES, "curl-form.bin")), wine_path(out)), env)
    text = proc.stdout.decode("cp932" if codepage == 932 else "cp1252", "replace")
    lines = [l.strip() for l in text.splitlines() if l.strip()]
    fields = {}
    for line in lines:
        parts = line.split(" ")
        fields.setdefault(parts[0], []).append(parts[1:])
    check.expect(lines and lines[-1] == "sentinel done", f"no sentinel; output:\n{text}")
    check.expect(fields.get("error") == [["80004005", codes(NOT_ARRAY_TYPE)]] * 2,
                 f"errors seen by the script: {fields.get('error')}")
    check_guids(check, fields)
    check.expect(fields.get("deletefile") == [["0", "-1"]], f"DeleteFile gave {fields.get('deletefile')}")
    check.expect(fields.get("deletefileex") == [["0"]], f"DeleteFileEx gave {fields.get('deletefileex')}")
    check.expect(os.listdir(out) == [], f"left in {out}: {os.listdir(out)}")
    return check


def check_resumable_page(host, env, out_root, registered):
    """VARO.Resumable late-bound through both ProgIDs while regsvr32 has
    registered the DLL; once unregistered, neither ProgID creates."""
    check = Checker(f"{host.label}resumable {'registered' if registered else 'unregistered'}")
    out = os.path.join(out_root, "resumable")
    os.makedirs(out, exist_ok=True)
    proc = run(host.command("cscript.exe", "//nologo", wine_path(os.path.join(HERE, "resumable_page.vbs")),
                            wine_path(out)), env)
    text = proc.stdout.decode("cp932", "replace")
    lines = [l.strip() for l in text.splitlines() if l.strip()]
    if not registered:
        check.expect(lines == ["create 1AD", "create1 1AD", "sentinel done"], f"while unregistered:\n{text}")
        return check
    expected = ["create 0", "create1 0", "settings 1048576 30 sha1,md5,sha256 True",
                "handle 80070057 " + codes(NOT_REQUEST), "status 0 complete False", "sentinel done"]
    check.expect(lines == expected, f"the page said:\n{text}")
    return check


def peak_memory_kb(marker):
    """VmHWM of the running Wine process whose command line holds marker."""
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                cmdline = f.read().decode(errors="replace")
            if marker not in cmdline or "cscript.exe" not in cmdline or "start.exe" in cmdline:
                continue
            with open(f"/proc/{pid}/status") as f:
                for line in f:
                    if line.startswith("VmHWM:"):
                        return int(line.split()[1])
        except OSError:
            continue
    return None


def scaled(count, floor):
    """count lowered by VARO_TEST_SCALE (emulated runs), never below floor."""
    scale = float(os.environ.get("VARO_TEST_SCALE", "1") or 1)
    lowered = max(floor, int(count * scale)) if 0 < scale < 1 else count
    if lowered != count:
        print(f"     {lowered} rounds instead of {count} (VARO_TEST_SCALE)")
    return lowered


def check_reused_variables(host, codepage, env, out_root, rounds=None, size=2 << 20):
    """A page that reads a 2 MB file into the same variable 300 times: the
    process's peak memory after the last read is that after the 20th, not
    280 copies of the file more."""
    rounds = rounds or scaled(300, 100)
    check = Checker(f"{host.label}reused variables cp{codepage}")
    data = os.path.join(out_root, "two-megabytes.bin")
    with open(data, "wb") as f:
        f.write(os.urandom(size))
    script = os.path.join(HERE, "reuse_variables.vbs")
    proc = subprocess.Popen(host.command("cscript.exe", "//nologo", wine_path(script), wine_path(data), str(rounds)),
                            env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
    peaks, lines = [], []
    for raw in proc.stdout:
        line = raw.decode(errors="replace").strip()
        lines.append(line)
        if line.startswith("reads "):
            peaks.append(peak_memory_kb("reuse_variables.vbs"))
    proc.wait(timeout=120)
    check.expect(lines[-1:] == ["sentinel done"], f"no sentinel; output: {lines}")
    check.expect(lines[:1] == ["reads 20"] and f"reads {rounds}" in lines, f"reads failed: {lines}")
    check.expect(len(peaks) == 2 and None not in peaks, f"peak memory not measured: {peaks}")
    if len(peaks) == 2 and None not in peaks:
        growth_mb = (peaks[1] - peaks[0]) / 1024
        print(f"     peak memory after 20 reads {peaks[0] // 1024} MB, after {rounds} {peaks[1] // 1024} MB")
        check.expect(growth_mb < 32, f"memory grew by {growth_mb:.0f} MB over {rounds - 20} reads")
    return check


def main():
    build, dll, codepage = sys.argv[1], sys.argv[2], int(sys.argv[3])
    dll32 = sys.argv[4] if len(sys.argv) > 4 else None
    if dll32 and not os.path.exists(dll32):
        print(f"the 32-bit DLL {dll32} is missing: build preset windows first")
        return 1
    env = wine_env(build, codepage)
    hosts = script_hosts(build, dll, dll32)
    failures = register(hosts, env)
    pages_through = hosts[1:] if dll32 else hosts
    if failures:
        print("\n".join(failures))
        register(hosts, env, unregister=True)
        return 1
    checks = []
    try:
        for host in pages_through:
            out_root = os.path.join(build, "page-scripts", f"{host.label.strip()}cp{codepage}")
            os.makedirs(out_root, exist_ok=True)
            for fixture, text_fields, file_fields in FIXTURE_TABLE:
                checks.append(check_page(host, "vbs", os.path.join(HERE, "webmng_page.vbs"), fixture, text_fields,
                                         file_fields, codepage, env, out_root))
            checks.append(check_jscript_page(host, os.path.join(HERE, "webmng_page.js"), codepage, env, out_root))
            checks.append(check_reused_variables(host, codepage, env, out_root))
            checks.append(check_resumable_page(host, env, out_root, True))
    finally:
        failures = register(hosts, env, unregister=True)
    for host in pages_through:
        check = check_resumable_page(host, env, os.path.join(build, "page-scripts", f"{host.label.strip()}cp{codepage}"),
                                     False)
        check.failures[:0] = failures
        checks.append(check)
    return report(checks, "page scripts")


if __name__ == "__main__":
    sys.exit(main())
