#!/usr/bin/env python3
"""Authenticode signing as scripts/package --sign does it (installer/sign_files)
with a throwaway code-signing certificate made by openssl: the build's DLL
and an x64 package signed with the password from a file and from the
environment, each signature verified by osslsigncode; a wrong password and
a file changed after signing refused; the signed DLL registered with
regsvr32 and a page run against it under Wine.

usage: signing.py BUILD_DIR DLL PAGE_HOST VERSION
"""
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "scripts"))
import run_page_scripts as pages  # noqa: E402
from tools.pagehost import pagehost  # noqa: E402
import msi_packages  # noqa: E402

SIGN_FILES = os.path.join(pages.SOURCE, "installer", "sign_files")
PASSWORD = "throwaway pass"


def run(args, env=None, input_bytes=None):
    return subprocess.run(args, env=env, input=input_bytes, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)


def verify(path, cert):
    return run(["osslsigncode", "verify", "-in", path, "-CAfile", cert])


def main():
    build, dll, host_exe, version = sys.argv[1:5]
    work = os.path.join(build, "msi-signing")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    checks = []

    # The throwaway signer: a self-signed certificate for code signing and
    # its key, in a PFX under a password kept in a file.
    check = pages.Checker("throwaway code-signing certificate")
    key, cert, pfx = (os.path.join(work, n) for n in ("key.pem", "cert.pem", "signer.pfx"))
    password_file = os.path.join(work, "password.txt")
    with open(password_file, "w") as f:
        f.write(PASSWORD + "\n")
    proc = run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days", "2",
                "-subj", "/CN=VARO test signer", "-addext", "extendedKeyUsage=codeSigning",
                "-addext", "keyUsage=digitalSignature"])
    check.expect(proc.returncode == 0, f"openssl req: {proc.stdout!r}")
    proc = run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out", pfx,
                "-passout", f"file:{password_file}"])
    check.expect(proc.returncode == 0, f"openssl pkcs12: {proc.stdout!r}")
    checks.append(check)
    if check.failures:
        return pages.report(checks, "msi_signing")

    package = os.path.join(work, f"varo-{version}-x64.msi")
    proc = run([sys.executable, msi_packages.MAKE_PACKAGE, "x64", version, "1700000000", os.path.join(build, "host-tools"),
                package, dll, dll])
    check = pages.Checker("package built")
    check.expect(proc.returncode == 0, proc.stdout.decode(errors="replace"))
    checks.append(check)

    # Signed and verified, the password from a file or from the environment.
    base = {k: v for k, v in os.environ.items() if not k.startswith("VARO_SIGN_")}
    signed = {}
    for label, env in [("password file", dict(base, VARO_SIGN_PASSWORD_FILE=password_file)),
                       ("environment", dict(base, VARO_SIGN_PASSWORD=PASSWORD))]:
        check = pages.Checker(f"sign and verify, the password from the {label}")
        folder = os.path.join(work, label.replace(" ", "-"))
        os.makedirs(folder)
        files = [os.path.join(folder, "VARO.DLL"), os.path.join(folder, os.path.basename(package))]
        shutil.copyfile(dll, files[0])
        shutil.copyfile(package, files[1])
        proc = run([SIGN_FILES, pfx] + files, env=env)
        check.expect(proc.returncode == 0, f"sign_files: {proc.stdout!r}")
        for path in files:
            result = verify(path, cert)
            check.expect(result.returncode == 0, f"verify {os.path.basename(path)}: {result.stdout[-400:]!r}")
            check.expect(open(path, "rb").read() != open(dll if path.endswith(".DLL") else package, "rb").read(),
                         f"{os.path.basename(path)} unchanged by signing")
        signed[label] = files
        checks.append(check)

    check = pages.Checker("refused: no password, a wrong one, an unsigned file")
    target = os.path.join(work, "refused.DLL")
    shutil.copyfile(dll, target)
    for label, env in [("no password", base), ("wrong password", dict(base, VARO_SIGN_PASSWORD="wrong"))]:
        proc = run([SIGN_FILES, pfx, target], env=env)
        check.expect(proc.returncode != 0, f"{label}: signed anyway")
    check.expect(open(target, "rb").read() == open(dll, "rb").read(), "a refused signing changed the file")
    check.expect(verify(target, cert).returncode != 0, "an unsigned DLL verified")
    checks.append(check)

    # A byte changed after signing: the DLL's code, and a stream added to
    # the package.
    check = pages.Checker("a file changed after signing fails verification")
    dll_signed, msi_signed = signed["password file"]
    changed = os.path.join(work, "changed.DLL")
    data = bytearray(open(dll_signed, "rb").read())
    data[len(data) // 3] ^= 0x01
    open(changed, "wb").write(bytes(data))
    check.expect(verify(changed, cert).returncode != 0, "a DLL with a changed byte verified")
    changed_msi = os.path.join(work, "changed.msi")
    shutil.copyfile(msi_signed, changed_msi)
    extra = os.path.join(work, "extra.bin")
    open(extra, "wb").write(b"x")
    proc = run(["msibuild", changed_msi, "-a", "Extra", extra])
    check.expect(proc.returncode == 0, f"msibuild -a: {proc.stdout!r}")
    check.expect(verify(changed_msi, cert).returncode != 0, "a package with an added stream verified")
    checks.append(check)

    # The signed DLL still registers and serves a page.
    check = pages.Checker("the signed DLL registers and runs a page")
    env = pages.wine_env(build, 932)
    hosts = pages.script_hosts(build, dll_signed)
    failures = pages.register(hosts, env)
    check.expect(not failures, "; ".join(failures))
    try:
        if not failures:
            server = pagehost.PageHost([pagehost.wine_loader("win64"), host_exe], env, stderr=subprocess.DEVNULL)
            uploads = os.path.join(work, "uploads")
            os.makedirs(uploads)
            try:
                status, _, body = server.request(msi_packages.PAGE, uploads)
                check.expect(status.startswith("200") and body == msi_packages.PAGE_ANSWER, f"page: {status} {body!r}")
            except pagehost.PageHostError as e:
                check.expect(False, str(e))
            finally:
                server.close()
    finally:
        failures = pages.register(hosts, env, unregister=True)
        check.expect(not failures, "; ".join(failures))
    checks.append(check)
    return pages.report(checks, "msi_signing")


if __name__ == "__main__":
    sys.exit(main())
