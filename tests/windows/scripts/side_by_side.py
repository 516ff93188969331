#!/usr/bin/env python3
"""Both DLLs side by side in one 64-bit prefix: the 64-bit regsvr32 registers
the 64-bit DLL in the native registry view, the 32-bit one the 32-bit DLL in
the 32-bit view. A 64-bit script host must load the 64-bit DLL and a 32-bit
host the 32-bit one (Wine's +loaddll trace names the file); unregistering
either leaves the other working, the shared keys (ProgIDs, the type
library's key) go with the last one, and registering either restores them.

usage: side_by_side.py BUILD_DIR DLL64_PATH DLL32_PATH
"""
import os
import re
import sys

import run_page_scripts as pages

HERE = os.path.dirname(os.path.abspath(__file__))
CLSID = "{6F1D2C40-3B1A-4E52-9C7D-2A5B8E61F034}"
LIBID = "{A47E5D11-8C23-4B9A-B6E2-5D0F3C19A7E8}"
LOADED = re.compile(r'Loaded L"([^"]*VARO\.DLL)"', re.IGNORECASE)


def create_object(host, env):
    """(what the probe script said, the VARO.DLL files the process loaded).
    A host that said nothing at all, not even an error, is one Wine did not
    start (seen under load): it is run once more, with a note."""
    trace = dict(env, WINEDEBUG="+loaddll")
    command = host.command("cscript.exe", "//nologo", pages.wine_path(os.path.join(HERE, "create_object.vbs")))
    for attempt in range(2):
        proc = pages.run(command, trace)
        text = proc.stdout.decode(errors="replace")
        said = [l.strip() for l in text.splitlines() if l.startswith(("create ", "sentinel "))]
        if said or attempt:
            break
        print(f"note: {host.label}host said nothing (exit status {proc.returncode}, {len(text)} characters "
              f"of trace); run again", flush=True)
    if not said:
        said = [f"exit status {proc.returncode}", text[-600:]]
    loaded = {m.replace("\\\\", "\\").lower() for m in LOADED.findall(text)}
    return said, loaded


def key_exists(host, env, key):
    """Whether the key is there; reg.exe failing for any other reason than a
    missing key (a Wine process that did not start under load) is asked again,
    and after three tries is an error rather than an answer."""
    english = dict(env, LC_ALL="C")  # reg.exe's message in a known language
    for _ in range(3):
        proc = pages.run(host.command("reg.exe", "query", key), english)
        if proc.returncode == 0:
            return True
        if b"Unable to find" in proc.stdout:
            return False
    raise RuntimeError(f"reg.exe query {key} failed: {proc.stdout.decode(errors='replace').strip()}")


def check_state(label, hosts, registered, env):
    """Each host creates the object from its own DLL exactly when that DLL is
    registered; the shared keys exist while either is, and each platform's
    type library path only while its DLL is."""
    check = pages.Checker(label)
    for host in hosts:
        said, loaded = create_object(host, env)
        if host in registered:
            check.expect(said == ["create 0", "sentinel done"], f"{host.label}host: {said}")
            check.expect(loaded == {pages.wine_path(host.dll).lower()}, f"{host.label}host loaded {loaded}")
        else:
            check.expect(said == ["create 1AD", "sentinel done"], f"{host.label}host: {said} (expected 429)")
    native = hosts[0]
    for key in ("HKCR\\VARO.WebMng", "HKCR\\VARO.WebMng\\CurVer", "HKCR\\VARO.WebMng.1\\CLSID",
                "HKCR\\VARO.Resumable", "HKCR\\VARO.Resumable\\CurVer", "HKCR\\VARO.Resumable.1\\CLSID",
                f"HKCR\\TypeLib\\{LIBID}\\1.0"):
        check.expect(key_exists(native, env, key) == bool(registered), f"{key} exists: {not registered}")
    for host, platform in zip(hosts, ("win64", "win32")):
        key = f"HKCR\\TypeLib\\{LIBID}\\1.0\\0\\{platform}"
        check.expect(key_exists(native, env, key) == (host in registered), f"{key} exists: {host not in registered}")
        check.expect(key_exists(host, env, f"HKCR\\CLSID\\{CLSID}\\InprocServer32") == (host in registered),
                     f"{host.label}class key exists: {host not in registered}")
    return check


def main():
    build, dll64, dll32 = sys.argv[1], sys.argv[2], sys.argv[3]
    if not os.path.exists(dll32):
        print(f"the 32-bit DLL {dll32} is missing: build preset windows first")
        return 1
    env = pages.wine_env(build, 932)
    x64, x86 = hosts = pages.script_hosts(build, dll64, dll32)
    steps = [
        ("both registered", [x64, x86], []),
        ("64-bit unregistered, 32-bit kept", [x86], [x64]),
        ("64-bit registered again", [x64, x86], []),
        ("32-bit unregistered, 64-bit kept", [x64], [x86]),
        ("64-bit unregistered last", [], [x64]),
        ("32-bit registered alone", [x86], []),
        ("32-bit unregistered last", [], [x86]),
    ]
    checks = []
    registered = set()
    try:
        for label, add, remove in steps:
            failures = pages.register([h for h in add if h not in registered], env)
            failures += pages.register(remove, env, unregister=True)
            registered = (registered | set(add)) - set(remove)
            check = check_state(label, hosts, registered, env)
            check.failures[:0] = failures
            checks.append(check)
    finally:
        pages.register(hosts, env, unregister=True)
    return pages.report(checks, "side by side")


if __name__ == "__main__":
    sys.exit(main())
