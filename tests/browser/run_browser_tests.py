#!/usr/bin/python3
"""End-to-end: real browsers fill and submit samples/upload.asp (Shift_JIS,
WebMng) and samples/upload-utf8.asp (UTF-8, VARO.Upload) served by
scripts/serve on a free loopback port: Japanese text, a binary file, a file
with a Japanese name, several files in one input, an untouched file input
and a 30 MB file made at run time, and an 80 MB file through
samples/upload-large.asp, which takes the request as it arrives. Each
page's report is checked line by line and every saved file byte for byte.
Chromium runs through Selenium and chromedriver, Firefox ESR through
puppeteer-core; a browser that is missing is a failure. A few checks of the
server itself come first.

usage: run_browser_tests.py [--screenshot PNG]   (the summary line counts checks)
"""
import argparse
import json
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, "..", ".."))
WORK = os.path.join(SOURCE, "build", "browser")
GUID = "[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}"
BIG_SIZE = 30_000_000
LARGE_SIZE = 80 << 20


class Check:
    def __init__(self, label):
        self.label, self.failures, self.notes = label, [], []

    def expect(self, ok, message):
        if not ok:
            self.failures.append(message)
        return ok


def make_files():
    """The files the forms send, written where the browsers can pick them."""
    folder = os.path.join(WORK, "files")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    rng = random.Random(20260101)
    contents = {
        "\u5831\u544a\u66f8.txt": "\u8acb\u6c42\u66f8\u3068\u5831\u544a\u66f8\r\n".encode("utf-8"),
        # Bytes a scanner could mistake for structure: CR LF, dashes, zeros.
        "bytes.bin": bytes(range(256)) * 3 + b"\r\n--\r\n\x00\r\n-",
        "big.bin": rng.randbytes(BIG_SIZE),
        "large.bin": rng.randbytes(LARGE_SIZE),
    }
    paths = {}
    for name, content in contents.items():
        paths[name] = os.path.join(folder, name)
        with open(paths[name], "wb") as f:
            f.write(content)
    return paths, contents


JP_FILE = "\u5831\u544a\u66f8.txt"
TITLE = "\u65e5\u672c\u8a9e\u306e\u984c\u540d \u8868\u30bd"  # 表 and ソ end in a 0x5C trail byte in Shift_JIS
COMMENT = "\u30bd\u30d5\u30c8\uff06\u30a6\u30a7\u30a2 <b>&"
NAME = "\u5c71\u7530 \u592a\u90ce"

# Each submission: the page, text fields, checkboxes, files per input, and
# the report it must produce: (text of an <li>) or (field, client name,
# content name) for a saved file.
SUBMISSIONS = [
    ("upload.asp", "text, Japanese-named file, binary file, untouched input",
     [("title", TITLE), ("comment", COMMENT)], [("color", "red")],
     [("upload", [JP_FILE]), ("data", ["bytes.bin"])],
     [f"title = {TITLE}", f"comment = {COMMENT}", "color = red", "empty = ",
      ("upload", JP_FILE, ".txt"), ("data", "bytes.bin", ".bin")]),
    ("upload.asp", "30 MB file",
     [("title", "big")], [], [("data", ["big.bin"])],
     ["title = big", "comment = ", "color: (not in the form)", "empty = ", "upload = ", ("data", "big.bin", ".bin")]),
    ("upload-utf8.asp", "text, several files in one input, untouched input",
     [("name", NAME), ("comment", COMMENT)], [("color", "\u8d64"), ("color", "\u9752")],
     [("files", [JP_FILE, "bytes.bin"])],
     [f"name = {NAME}", f"comment = {COMMENT}", "color = \u8d64", "color = \u9752",
      ("files", JP_FILE, ".txt"), ("files", "bytes.bin", ".bin")]),
    ("upload-utf8.asp", "30 MB file",
     [("name", "big")], [], [("files", ["big.bin"]), ("other", [JP_FILE])],
     ["name = big", "comment = ", ("files", "big.bin", ".bin"), ("other", JP_FILE, ".txt")]),
    ("upload-large.asp", "80 MB file taken as it arrives",
     [("title", "large")], [], [("file", ["large.bin"])],
     ["title = large", ("file", "large.bin", ".bin")]),
]


def check_report(check, items, expected, contents, uploads):
    """The page's <li> lines against the expected ones; each saved file
    against what was sent. The names of the files it saved."""
    saved = []
    check.expect(len(items) == len(expected), f"{len(items)} lines, expected {len(expected)}: {items}")
    for got, want in zip(items, expected):
        if isinstance(want, str):
            check.expect(got == want, f"got {got!r}, expected {want!r}")
            continue
        field, client, ext = want
        content = contents[client]
        m = re.fullmatch(re.escape(f"{field}: {client}, {len(content)} bytes, saved as ") + f"({GUID}{re.escape(ext)})",
                         got)
        if check.expect(m is not None, f"got {got!r}, expected {field}: {client}, {len(content)} bytes, saved as ..."):
            saved.append(m.group(1))
            path = os.path.join(uploads, m.group(1))
            if check.expect(os.path.isfile(path), f"{m.group(1)} was not saved"):
                with open(path, "rb") as f:
                    check.expect(f.read() == content, f"{m.group(1)} differs from {client}")
    return saved


class Serve:
    """scripts/serve on a free port, stopped with SIGTERM."""

    def __init__(self, uploads):
        self.uploads = uploads
        self.proc = subprocess.Popen([os.path.join(SOURCE, "scripts", "serve"), "--port", "0", "--uploads", uploads],
                                     stdout=subprocess.PIPE, stderr=open(os.path.join(WORK, "serve.log"), "wb"),
                                     text=True)
        line = self.proc.stdout.readline()
        if line.startswith("this machine cannot run 32-bit programs"):
            print(f"serve: {line.strip()}")
            line = self.proc.stdout.readline()
        m = re.search(r"http://127\.0\.0\.1:(\d+)/", line)
        if not m:
            self.proc.kill()
            raise RuntimeError(f"serve did not start: {line!r} (see {WORK}/serve.log)")
        self.port = int(m.group(1))
        self.url = f"http://127.0.0.1:{self.port}/"

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            out, _ = self.proc.communicate(timeout=30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            out, _ = self.proc.communicate()
            return None, out
        return self.proc.returncode, out


def raw_request(port, head, body=b"", wait_continue=False):
    """Sends a request by hand: (interim answer, final answer) as bytes."""
    with socket.create_connection(("127.0.0.1", port), timeout=20) as s:
        s.sendall(head)
        interim = b""
        if wait_continue:
            while b"\r\n\r\n" not in interim:
                chunk = s.recv(4096)
                if not chunk:
                    break
                interim += chunk
        s.sendall(body)
        answer = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            answer += chunk
        return interim, answer


def check_server(serve):
    """What a browser does not try: Expect: 100-continue, files outside the
    folder, a static file as it is."""
    check = Check("serve: 100-continue, static files, the served folder only")
    body = b"--B\r\nContent-Disposition: form-data; name=\"name\"\r\n\r\nx\r\n--B--\r\n"
    head = (f"POST /upload-utf8.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: multipart/form-data; boundary=B\r\n"
            f"Content-Length: {len(body)}\r\nExpect: 100-continue\r\nConnection: close\r\n\r\n").encode()
    interim, answer = raw_request(serve.port, head, body, wait_continue=True)
    check.expect(interim.startswith(b"HTTP/1.1 100"), f"no 100 Continue: {interim[:100]!r}")
    check.expect(answer.startswith(b"HTTP/1.1 200") and b"<li>name = x</li>" in answer, f"answer {answer[:300]!r}")
    with open(os.path.join(SOURCE, "samples", "upload.vbs"), "rb") as f:
        vbs = f.read()
    _, answer = raw_request(serve.port, b"GET /upload.vbs HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
    check.expect(answer.endswith(b"\r\n\r\n" + vbs), "upload.vbs is not served as it is")
    for path in ["/../README.md", "/%2e%2e/README.md"]:
        _, answer = raw_request(serve.port, f"GET {path} HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n".encode())
        check.expect(answer.startswith(b"HTTP/1.1 403"), f"{path}: {answer[:100]!r}")
    return check


def chromium_driver():
    from selenium import webdriver
    from selenium.webdriver.chrome.options import Options
    from selenium.webdriver.chrome.service import Service
    options = Options()
    options.binary_location = "/usr/bin/chromium"
    for arg in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                "--window-size=760,480", f"--user-data-dir={os.path.join(WORK, 'chromium-profile')}"]:
        options.add_argument(arg)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def chromium_submit(driver, url, text, checks, files, paths):
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support import expected_conditions
    from selenium.webdriver.support.ui import WebDriverWait
    driver.get(url)
    for name, value in text:
        field = driver.find_element(By.NAME, name)
        field.clear()
        field.send_keys(value)
    for name, value in checks:
        driver.find_element(By.CSS_SELECTOR, f'input[name="{name}"][value="{value}"]').click()
    for name, names in files:
        driver.find_element(By.CSS_SELECTOR, f'input[type=file][name="{name}"]').send_keys(
            "\n".join(paths[n] for n in names))
    button = driver.find_element(By.CSS_SELECTOR, "input[type=submit]")
    button.click()
    WebDriverWait(driver, 120).until(expected_conditions.staleness_of(button))
    WebDriverWait(driver, 120).until(lambda d: d.execute_script("return document.readyState") == "complete")
    return driver.execute_script("return Array.from(document.querySelectorAll('li'), li => li.textContent)")


def run_chromium(serve, paths, contents, screenshot):
    checks = []
    if not (os.path.exists("/usr/bin/chromium") and os.path.exists("/usr/bin/chromedriver")):
        check = Check("chromium")
        check.expect(False, "chromium or chromium-driver is not installed (scripts/setup installs them)")
        return [check]
    started = time.monotonic()
    try:
        driver = chromium_driver()
    except Exception as e:  # no selenium for this python, or a driver that does not start
        check = Check("chromium")
        check.expect(False, f"Chromium does not start through Selenium ({type(e).__name__}: {e}); "
                            "scripts/setup installs python3-selenium and chromium-driver for /usr/bin/python3")
        return [check]
    try:
        for page, label, text, boxes, files, expected in SUBMISSIONS:
            check = Check(f"chromium {page}: {label}")
            t = time.monotonic()
            try:
                items = chromium_submit(driver, serve.url + page, text, boxes, files, paths)
                check_report(check, items, expected, contents, serve.uploads)
            except Exception as e:  # a browser failure is this check's failure
                check.expect(False, f"{type(e).__name__}: {e}")
            check.notes.append(f"{time.monotonic() - t:.2f} s")
            checks.append(check)
            if screenshot and page == "upload-utf8.asp" and not check.failures and "several" in label:
                driver.save_screenshot(screenshot)
    finally:
        driver.quit()
    print(f"chromium: {time.monotonic() - started:.1f} s with start-up", flush=True)
    return checks


def run_firefox(serve, paths, contents):
    module = os.path.join(HERE, "node_modules", "puppeteer-core", "package.json")
    missing = [m for ok, m in [(os.path.exists("/usr/bin/firefox-esr"), "firefox-esr"),
                               (shutil.which("node"), "node"), (os.path.exists(module), "puppeteer-core")] if not ok]
    if missing:
        check = Check("firefox")
        check.expect(False, f"{', '.join(missing)} missing (scripts/setup installs them)")
        return [check]
    jobs = [{"url": serve.url + page, "text": text, "checks": boxes,
             "files": [(name, [paths[n] for n in names]) for name, names in files]}
            for page, _, text, boxes, files, _ in SUBMISSIONS]
    started = time.monotonic()
    env = dict(os.environ, HOME=os.path.join(WORK, "firefox-home"))
    os.makedirs(env["HOME"], exist_ok=True)
    try:
        proc = subprocess.run(["node", os.path.join(HERE, "firefox_forms.js")], input=json.dumps(jobs).encode(),
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, timeout=300)
        results = json.loads(proc.stdout or b"null") if proc.returncode == 0 else None
        reason = proc.stderr.decode(errors="replace")[-2000:]
    except (subprocess.TimeoutExpired, ValueError) as e:
        results, reason = None, str(e)
    print(f"firefox: {time.monotonic() - started:.1f} s with start-up", flush=True)
    checks = []
    for i, (page, label, _, _, _, expected) in enumerate(SUBMISSIONS):
        check = Check(f"firefox {page}: {label}")
        result = results[i] if isinstance(results, list) and i < len(results) else {"error": reason}
        if check.expect("error" not in result, result.get("error", "")):
            check_report(check, result["items"], expected, contents, serve.uploads)
            check.notes.append(f"{result['seconds']:.2f} s")
        checks.append(check)
    return checks


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--screenshot", help="save Chromium's view of upload-utf8.asp after an upload here")
    parser.add_argument("--only", choices=["chromium", "firefox"])
    args = parser.parse_args()
    os.makedirs(WORK, exist_ok=True)
    uploads = os.path.join(WORK, "uploads")
    shutil.rmtree(uploads, ignore_errors=True)
    os.makedirs(uploads)
    paths, contents = make_files()
    checks = []
    try:
        serve = Serve(uploads)
    except (RuntimeError, OSError) as e:
        check = Check("serve starts")
        check.expect(False, str(e))
        checks.append(check)
        serve = None
    if serve:
        try:
            checks.append(check_server(serve))
            if args.only != "firefox":
                checks += run_chromium(serve, paths, contents, args.screenshot)
            if args.only != "chromium":
                checks += run_firefox(serve, paths, contents)
        finally:
            status, out = serve.stop()
        check = Check("serve stops on SIGTERM")
        check.expect(status == 0 and "stopped (page host exit status 0)" in out, f"status {status}: {out!r}")
        checks.append(check)
        print(out.strip())
    for c in checks:
        print(("FAIL " if c.failures else "ok   ") + c.label + (f" ({', '.join(c.notes)})" if c.notes else ""))
        for f in c.failures:
            print("     " + f[:2000])
    failed = sum(1 for c in checks if c.failures)
    print(f"browser: {len(checks) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
