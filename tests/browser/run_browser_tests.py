#!/usr/bin/python3
"""End-to-end: real browsers fill and submit every sample page served by
scripts/serve on a free loopback port, finding each field through its label
as a person would: samples/upload.asp (Shift_JIS, WebMng),
samples/upload-utf8.asp (UTF-8, VARO.Upload) and samples/upload-js.asp (the
same form in JScript) with Japanese text, a binary file, a file with a
Japanese name, several files in one input, an untouched file input and a
30 MB file made at run time, and an 80 MB file through
samples/upload-large.asp, which takes the request as it arrives; the same
80 MB file is too large for upload.asp, whose refusal the browser shows;
samples/gallery.asp takes a PNG and a JPEG (type, size in pixels and hash
shown) and refuses a program renamed .jpg and a text file.
samples/upload-progress.asp sends a 50 MB file through a second server
whose --throttle makes it take seconds; the page's bar must be read rising
at least five times and reach 100 %, and a lowered file limit (?max=) must
show its refusal in the bar. samples/progress.asp, the JSON the bar polls,
is no form: it is driven through that page. samples/upload-resumable.asp
sends its file to samples/resumable.asp through tus in pieces and then
saves it, and continues an upload after the page is reloaded mid-way and
given the same file again; and Uppy's Dashboard with its Tus plugin (the uppy package's
prebuilt bundle, tests/tus/site/uppy.html through a server rooted at the
checkout) sends a file to resumable.asp, which upload-resumable.asp saves.
Each page's report is checked line by line and every saved file byte for
byte; each page, before and after the submission, must say its language,
title, heading and character set (the one it is sent in) and label every
field. Chromium runs through Selenium and chromedriver, Firefox ESR through
puppeteer-core; a browser that is missing is a failure. A few checks of the
server itself come first.

usage: run_browser_tests.py [--only chromium|firefox] [--screenshot PNG] [--screenshots DIR]
       (the summary line counts checks)
"""
import argparse
import base64
import hashlib
import json
import os
import random
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, "..", ".."))
WORK = os.path.join(SOURCE, "build", "browser")
GUID = "[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}"
BIG_SIZE = 30_000_000
LARGE_SIZE = 80 << 20
PROGRESS_SIZE = 50 << 20
PROGRESS_THROTTLE = 4 << 20  # bytes a second: the 50 MB take some 12 s
PROGRESS_PAGE = "upload-progress.asp"
RESUMABLE_PAGE = "upload-resumable.asp"
UPPY_SIZE = 5 << 20
# Samples that are not forms a person fills, and the page that drives each.
NOT_FORMS = {"progress.asp": PROGRESS_PAGE, "resumable.asp": RESUMABLE_PAGE}


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
        # For the gallery: two images, a program renamed as one, and text.
        "gallery.png": GALLERY_PNG,
        "gallery.jpg": GALLERY_JPG,
        "setup.jpg": b"MZ\x90\x00\x03\x00\x00\x00\x04\x00\x00\x00\xff\xff" + bytes(300),
        "notes.txt": "\u30e1\u30e2\r\n".encode("utf-8"),
        "progress.bin": rng.randbytes(PROGRESS_SIZE),
        "uppy.bin": rng.randbytes(UPPY_SIZE),
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

# The samples' labels and words.
L_TITLE = "\u984c\u540d"
L_NAME = "\u540d\u524d"
L_COMMENT = "\u30b3\u30e1\u30f3\u30c8"
RED, BLUE = "\u8d64", "\u9752"
L_FILE = "\u30d5\u30a1\u30a4\u30eb"
L_FILES = "\u30d5\u30a1\u30a4\u30eb (\u3044\u304f\u3064\u3067\u3082)"
L_OTHER = "\u307b\u304b\u306e\u30d5\u30a1\u30a4\u30eb"
NOT_SENT = "(\u9001\u4fe1\u3055\u308c\u3066\u3044\u307e\u305b\u3093)"
NO_FILE = "(\u30d5\u30a1\u30a4\u30eb\u306a\u3057)"
BYTES = "\u30d0\u30a4\u30c8"
SAVED_AS = "\u4fdd\u5b58\u540d"
TOO_LARGE = "\u9001\u4fe1\u3067\u304d\u308b\u306e\u306f\u5408\u8a08 50 MB \u307e\u3067\u3067\u3059\u3002"

# Each sample page and the character set it is sent in.
PAGES = {"upload.asp": "Shift_JIS", "upload-utf8.asp": "UTF-8", "upload-js.asp": "UTF-8", "upload-large.asp": "UTF-8",
         "gallery.asp": "UTF-8", PROGRESS_PAGE: "UTF-8", RESUMABLE_PAGE: "UTF-8"}


def png(width, height):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)) + \
        chunk(b"IEND", b"")


GALLERY_PNG = png(3, 2)
GALLERY_JPG = (b"\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x02\x00\x00\x01\x00\x01\x00\x00"
               b"\xff\xc0\x00\x11\x08" + struct.pack(">HH", 30, 40) + b"\x03\x01\x22\x00\x02\x11\x01\x03\x11\x01" +
               bytes(64))
L_IMAGES = "\u753b\u50cf (PNG, JPEG, GIF, WebP, BMP)"
PIXELS = "\u30d4\u30af\u30bb\u30eb"
TYPE_REFUSED = ("\u30d5\u30a1\u30a4\u30eb\u300c{}\u300d\u306e\u7a2e\u985e ({}) \u306f\u53d7\u3051\u4ed8\u3051\u3066"
                "\u3044\u307e\u305b\u3093\u3002AllowedTypes \u306b\u3042\u308b\u7a2e\u985e\u306e\u30d5\u30a1\u30a4"
                "\u30eb\u3092\u9001\u3063\u3066\u304f\u3060\u3055\u3044\u3002")


def gallery_line(name, kind, extension, size, content):
    """A gallery line: type, size, hash; "(保存済み)" after it when the other
    browser sent the same image first."""
    said = (f"{name}: {kind}, {size[0]} x {size[1]} {PIXELS}, {len(content)} {BYTES}"
            f"SHA-256 {hashlib.sha256(content).hexdigest()}.{extension}")
    return re.compile(re.escape(said) + "( \\(\u4fdd\u5b58\u6e08\u307f\\))?")

# Each submission: the page, text fields and file inputs by their labels,
# checkboxes by their labels' text, and either the report the page must
# produce (the text of an <li>, a pattern, (field, client name, extension)
# for a saved file, or ("sha256", client name) for the hash the page shows)
# or the message of its refusal.
UTF8_FORM = {"text": [(L_NAME, NAME), (L_COMMENT, COMMENT)], "boxes": [RED, BLUE],
             "files": [(L_FILES, [JP_FILE, "bytes.bin"])],
             "report": [f"name = {NAME}", f"comment = {COMMENT}", f"color = {RED}", f"color = {BLUE}",
                        ("files", JP_FILE, ".txt"), ("files", "bytes.bin", ".bin")]}
# What upload-resumable.asp says of random bytes: the browser's type, none
# from the content.
TYPE_UNKNOWN = re.compile("\u7a2e\u985e: .+ \\(\u4e2d\u8eab\u304b\u3089: \u4e0d\u660e\\)")
UTF8_BIG = {"text": [(L_NAME, "big")], "files": [(L_FILES, ["big.bin"]), (L_OTHER, [JP_FILE])],
            "report": ["name = big", "comment = ", ("files", "big.bin", ".bin"), ("other", JP_FILE, ".txt")]}
SUBMISSIONS = [
    {"page": "upload.asp", "label": "text, Japanese-named file, binary file, untouched input",
     "text": [(L_TITLE, TITLE), (L_COMMENT, COMMENT)], "boxes": [RED],
     "files": [(f"{L_FILE} 2", [JP_FILE]), (f"{L_FILE} 3", ["bytes.bin"])],
     "report": [f"title = {TITLE}", f"comment = {COMMENT}", "color = red", f"empty: {NO_FILE}",
                ("upload", JP_FILE, ".txt"), ("data", "bytes.bin", ".bin")]},
    {"page": "upload.asp", "label": "30 MB file", "text": [(L_TITLE, "big")], "files": [(f"{L_FILE} 3", ["big.bin"])],
     "report": ["title = big", "comment = ", f"color: {NOT_SENT}", f"empty: {NO_FILE}", f"upload: {NO_FILE}",
                ("data", "big.bin", ".bin")]},
    {"page": "upload.asp", "label": "80 MB file refused", "files": [(f"{L_FILE} 1", ["large.bin"])],
     "refused": TOO_LARGE},
    dict(UTF8_FORM, page="upload-utf8.asp", label="text, several files in one input, untouched input"),
    dict(UTF8_BIG, page="upload-utf8.asp", label="30 MB file"),
    dict(UTF8_FORM, page="upload-js.asp", label="text, several files in one input, untouched input"),
    dict(UTF8_BIG, page="upload-js.asp", label="30 MB file"),
    {"page": "upload-large.asp", "label": "80 MB file taken as it arrives",
     "text": [(L_TITLE, "large")], "files": [(L_FILE, ["large.bin"])],
     "report": ["title = large", ("file", "large.bin", ".bin")]},
    {"page": "gallery.asp", "label": "a PNG and a JPEG", "files": [(L_IMAGES, ["gallery.png", "gallery.jpg"])],
     "report": [gallery_line("gallery.png", "image/png", "png", (3, 2), GALLERY_PNG),
                gallery_line("gallery.jpg", "image/jpeg", "jpg", (40, 30), GALLERY_JPG)]},
    {"page": "gallery.asp", "label": "a program named .jpg refused", "files": [(L_IMAGES, ["setup.jpg"])],
     "refused": TYPE_REFUSED.format("setup.jpg", "application/x-msdownload")},
    {"page": "gallery.asp", "label": "a text file refused", "files": [(L_IMAGES, ["notes.txt"])],
     "refused": TYPE_REFUSED.format("notes.txt", "text/plain")},
    # The page's script sends the file to resumable.asp through tus in 1 MB
    # pieces, then posts only its upload URL, and the page saves the upload.
    {"page": RESUMABLE_PAGE, "label": "30 MB file through tus in 1 MB pieces", "files": [(L_FILE, ["big.bin"])],
     "report": [("file", "big.bin", ".bin"), TYPE_UNKNOWN,
                ("sha256", "big.bin")]},
    {"page": RESUMABLE_PAGE, "label": "a Japanese-named text file through tus", "files": [(L_FILE, [JP_FILE])],
     "report": [("file", JP_FILE, ".txt"), "\u7a2e\u985e: text/plain (\u4e2d\u8eab\u304b\u3089: text/plain)",
                ("sha256", JP_FILE)]},
]

# What a page says about itself: run in the page, by both browsers.
PAGE_FACTS = """
const meta = document.querySelector('meta[charset]');
const fields = document.querySelectorAll('form input:not([type=submit]), form textarea, form select');
return {lang: document.documentElement.lang, title: document.title.trim(),
        headings: Array.from(document.querySelectorAll('h1'), h => h.textContent.trim()),
        charset: document.characterSet, meta: meta ? meta.getAttribute('charset') : null,
        unlabelled: Array.from(fields).filter(e => e.labels.length === 0).map(e => e.name),
        items: Array.from(document.querySelectorAll('li'), li => li.textContent),
        error: document.querySelector('.error') ? document.querySelector('.error').textContent : null};
"""
# The label whose text is arguments[0] (a checkbox's label holds the box).
FIND_LABEL = """
for (const label of document.querySelectorAll('label'))
  if (label.textContent.trim() === arguments[0] && label.control) return label;
return null;
"""


def check_facts(check, when, page, facts):
    charset = PAGES[page]
    check.expect(facts["lang"] == "ja", f"{when}: <html lang> is {facts['lang']!r}")
    check.expect(facts["title"] != "" and len(facts["headings"]) == 1 and facts["headings"][0] != "",
                 f"{when}: title {facts['title']!r}, <h1> {facts['headings']!r}")
    check.expect(facts["charset"].lower() == charset.lower() and (facts["meta"] or "").lower() == charset.lower(),
                 f"{when}: read as {facts['charset']}, <meta charset> {facts['meta']!r}, expected {charset}")
    check.expect(facts["unlabelled"] == [], f"{when}: fields without a label: {facts['unlabelled']}")


def check_answer(check, submission, before, after, contents, uploads):
    """The page before and after the submission; the answer against the
    expected report or refusal."""
    check_facts(check, "the form", submission["page"], before)
    check_facts(check, "the answer", submission["page"], after)
    if "refused" in submission:
        check.expect(after["error"] == submission["refused"] and after["items"] == [],
                     f"refusal: {after['error']!r}, items {after['items']}")
        return []
    check.expect(after["error"] is None, f"the page refused: {after['error']!r}")
    return check_report(check, after["items"], submission["report"], contents, uploads)


def check_report(check, items, expected, contents, uploads):
    """The page's <li> lines against the expected ones; each saved file
    against what was sent. The names of the files it saved."""
    saved = []
    check.expect(len(items) == len(expected), f"{len(items)} lines, expected {len(expected)}: {items}")
    for got, want in zip(items, expected):
        if isinstance(want, str):
            check.expect(got == want, f"got {got!r}, expected {want!r}")
            continue
        if isinstance(want, re.Pattern):
            check.expect(want.fullmatch(got) is not None, f"got {got!r}, expected {want.pattern!r}")
            continue
        if len(want) == 2:  # ("sha256", client): the hash the page shows
            said = f"SHA-256: {hashlib.sha256(contents[want[1]]).hexdigest()}"
            check.expect(got == said, f"got {got!r}, expected {said!r}")
            continue
        field, client, ext = want
        content = contents[client]
        said = f"{field}: {client}, {len(content)} {BYTES}, {SAVED_AS} "
        m = re.fullmatch(re.escape(said) + f"({GUID}{re.escape(ext)})", got)
        if check.expect(m is not None, f"got {got!r}, expected {said}..."):
            saved.append(m.group(1))
            path = os.path.join(uploads, m.group(1))
            if check.expect(os.path.isfile(path), f"{m.group(1)} was not saved"):
                with open(path, "rb") as f:
                    check.expect(f.read() == content, f"{m.group(1)} differs from {client}")
    return saved


class Serve:
    """scripts/serve on a free port, stopped with SIGTERM."""

    def __init__(self, uploads, extra=(), log="serve.log"):
        self.uploads = uploads
        self.proc = subprocess.Popen([os.path.join(SOURCE, "scripts", "serve"), "--port", "0", "--uploads", uploads,
                                      *extra],
                                     stdout=subprocess.PIPE, stderr=open(os.path.join(WORK, log), "wb"),
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


def check_every_sample():
    """A sample page that no submission drives would go untested."""
    check = Check("every sample page is submitted")
    samples = {n for n in os.listdir(os.path.join(SOURCE, "samples")) if n.endswith(".asp")}
    driven = {s["page"] for s in SUBMISSIONS} | {PROGRESS_PAGE}
    check.expect(samples - set(NOT_FORMS) == driven == set(PAGES) and set(NOT_FORMS.values()) <= driven,
                 f"samples {sorted(samples)}, submitted {sorted(driven)}, not forms {sorted(NOT_FORMS)}")
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


def save_page(driver, path):
    """The whole page, not just the window, as a PNG."""
    size = driver.execute_cdp_cmd("Page.getLayoutMetrics", {})["cssContentSize"]
    shot = driver.execute_cdp_cmd("Page.captureScreenshot", {
        "format": "png", "captureBeyondViewport": True,
        "clip": {"x": 0, "y": 0, "width": size["width"], "height": size["height"], "scale": 1}})
    with open(path, "wb") as f:
        f.write(base64.b64decode(shot["data"]))


def chromium_submit(driver, url, submission, paths, shots):
    """Fills the form through its labels and submits it: what the page said
    before and after. shots: PNG paths for the page before and after."""
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support import expected_conditions
    from selenium.webdriver.support.ui import WebDriverWait

    def label(text):
        found = driver.execute_script(FIND_LABEL, text)
        if found is None:
            raise LookupError(f"no field labelled {text!r}")
        return found

    def control(text):
        return driver.execute_script("return arguments[0].control", label(text))

    def fill():
        # Through a blank page: the form's URL is often the one the answer
        # before it was shown at, and a fresh document is then certain.
        driver.get("about:blank")
        driver.get(url)
        WebDriverWait(driver, 30).until(lambda d: d.execute_script("return document.readyState") == "complete")
        # ChromeDriver sets a file input's files through node ids of the DOM
        # domain's document, which may still be the page before; asking for
        # the document makes it this one.
        driver.execute_cdp_cmd("DOM.getDocument", {"depth": 0})
        for text, value in submission.get("text", []):
            field = control(text)
            field.clear()
            field.send_keys(value)
        for text in submission.get("boxes", []):
            label(text).click()
        for text, names in submission.get("files", []):
            control(text).send_keys("\n".join(paths[n] for n in names))

    # Chromium now and then answers a fresh page's first lookups from the
    # page before it ("Node with given id does not belong to the document"):
    # the form is filled again on a fresh load, up to five times. Nothing
    # was sent yet.
    from selenium.common.exceptions import WebDriverException
    for attempt in range(5):
        try:
            fill()
            break
        except WebDriverException as e:
            if "does not belong to the document" not in str(e) or attempt == 4:
                raise
            print(f"     (the form filled again: {str(e).splitlines()[0]})", flush=True)
    before = driver.execute_script(PAGE_FACTS)
    if shots:
        save_page(driver, shots[0])
    button = driver.find_element(By.CSS_SELECTOR, "input[type=submit]")
    button.click()
    WebDriverWait(driver, 120).until(expected_conditions.staleness_of(button))
    WebDriverWait(driver, 120).until(lambda d: d.execute_script("return document.readyState") == "complete")
    if shots:
        save_page(driver, shots[1])
    return before, driver.execute_script(PAGE_FACTS)


def shot_paths(browser, screens):
    """For each submission, the PNGs of the form before it and of the answer
    after it (BROWSER-PAGE-before.png, BROWSER-PAGE-after.png), or None: the
    first submission of each page and each refusal."""
    shots, shot_pages = [], set()
    for submission in SUBMISSIONS:
        page = submission["page"]
        if not screens or (page in shot_pages and "refused" not in submission):
            shots.append(None)
            continue
        stem = f"{browser}-{os.path.splitext(page)[0]}" + ("-refused" if "refused" in submission else "")
        shots.append([os.path.join(screens, f"{stem}-before.png"), os.path.join(screens, f"{stem}-after.png")])
        shot_pages.add(page)
    return shots


def run_chromium(serve, paths, contents, screenshot, screens):
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
        for submission, shots in zip(SUBMISSIONS, shot_paths("chromium", screens)):
            page = submission["page"]
            check = Check(f"chromium {page}: {submission['label']}")
            t = time.monotonic()
            try:
                before, after = chromium_submit(driver, serve.url + page, submission, paths, shots)
                check_answer(check, submission, before, after, contents, serve.uploads)
            except Exception as e:  # a browser failure is this check's failure
                check.expect(False, f"{type(e).__name__}: {e}")
            check.notes.append(f"{time.monotonic() - t:.2f} s")
            checks.append(check)
            if screenshot and page == "upload-utf8.asp" and not check.failures and "several" in submission["label"]:
                save_page(driver, screenshot)
    finally:
        driver.quit()
    print(f"chromium: {time.monotonic() - started:.1f} s with start-up", flush=True)
    return checks


def chromium_check(check, run):
    """run(driver) in a fresh Chromium, its failure the check's; the time
    taken noted."""
    t = time.monotonic()
    try:
        driver = chromium_driver()
        try:
            run(driver)
        finally:
            driver.quit()
    except Exception as e:
        check.expect(False, f"{type(e).__name__}: {e}")
    check.notes.append(f"{time.monotonic() - t:.2f} s")
    return check


def firefox_jobs(jobs, timeout):
    """Runs jobs through firefox_forms.js: its list of results, or None, and
    the reason when there is none."""
    env = dict(os.environ, HOME=os.path.join(WORK, "firefox-home"))
    os.makedirs(env["HOME"], exist_ok=True)
    try:
        proc = subprocess.run(["node", os.path.join(HERE, "firefox_forms.js")], input=json.dumps(jobs).encode(),
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, timeout=timeout)
        results = json.loads(proc.stdout or b"null") if proc.returncode == 0 else None
        return results, proc.stderr.decode(errors="replace")[-2000:]
    except (subprocess.TimeoutExpired, ValueError) as e:
        return None, str(e)


def run_firefox(serve, paths, contents, screens):
    module = os.path.join(HERE, "node_modules", "puppeteer-core", "package.json")
    missing = [m for ok, m in [(os.path.exists("/usr/bin/firefox-esr"), "firefox-esr"),
                               (shutil.which("node"), "node"), (os.path.exists(module), "puppeteer-core")] if not ok]
    if missing:
        check = Check("firefox")
        check.expect(False, f"{', '.join(missing)} missing (scripts/setup installs them)")
        return [check]
    jobs = [{"url": serve.url + s["page"], "text": s.get("text", []), "boxes": s.get("boxes", []),
             "files": [(text, [paths[n] for n in names]) for text, names in s.get("files", [])],
             "facts": PAGE_FACTS, "findLabel": FIND_LABEL, "shots": shots}
            for s, shots in zip(SUBMISSIONS, shot_paths("firefox", screens))]
    started = time.monotonic()
    results, reason = firefox_jobs(jobs, 300)
    print(f"firefox: {time.monotonic() - started:.1f} s with start-up", flush=True)
    checks = []
    for i, submission in enumerate(SUBMISSIONS):
        check = Check(f"firefox {submission['page']}: {submission['label']}")
        result = results[i] if isinstance(results, list) and i < len(results) else {"error": reason}
        if check.expect("error" not in result, result.get("error", "")):
            check_answer(check, submission, result["before"], result["after"], contents, serve.uploads)
            check.notes.append(f"{result['seconds']:.2f} s")
        checks.append(check)
    return checks


# What the progress page shows: the bar's percent, its message, and whether
# the upload ended (the page's answer is in, or a refusal is shown).
READ_BAR = """
const text = (id) => document.getElementById(id).textContent.trim();
const result = text('result');
return {percent: text('percent'), message: text('message'), result: result,
        ended: (text('percent') === '100' && result.includes('\u4fdd\u5b58')) || text('message') !== ''};
"""
# (label, query, whether it is refused)
PROGRESS_RUNS = [("50 MB with the bar rising", "", False),
                 ("a file over ?max=1000000 refused in the bar", "?max=1000000", True)]


def check_progress(check, facts, readings, last, refused, contents, uploads):
    check_facts(check, "before", PROGRESS_PAGE, facts)
    if refused:
        check.expect("MaxFileBytes (1000000" in last["message"], f"the bar's message: {last['message']!r}")
        return
    values = [float(r["percent"]) for r in readings if r["percent"] not in ("", "0")]
    rising = [v for v in values if v < 100]
    check.expect(len(rising) >= 5 and all(a < b for a, b in zip(values, values[1:])),
                 f"the bar read {values}: five or more values below 100, each above the one before")
    check.expect(values[-1:] == [100.0] and last["message"] == "", f"the bar ended at {last}")
    m = re.search(r"(\d+) \u30d0\u30a4\u30c8, \u4fdd\u5b58\u540d (" + GUID + r"(?:\.\w+)?)", last["result"])
    if check.expect(m is not None, f"the answer names no saved file: {last['result'][:300]!r}"):
        check.expect(int(m.group(1)) == PROGRESS_SIZE, f"saved {m.group(1)} bytes")
        with open(os.path.join(uploads, m.group(2)), "rb") as f:
            check.expect(f.read() == contents["progress.bin"], "the saved file differs from the one sent")


def chromium_progress(driver, url, path, shots=None):
    """shots: PNG paths for the bar mid-upload (taken once it is between 25
    and 75 %) and at the end, or None."""
    from selenium.webdriver.common.by import By
    driver.get(url)
    facts = driver.execute_script(PAGE_FACTS)
    driver.find_element(By.ID, "file").send_keys(path)
    driver.find_element(By.CSS_SELECTOR, "input[type=submit]").click()
    readings, last, deadline, during = [], None, time.monotonic() + 40, None
    while time.monotonic() < deadline:
        last = driver.execute_script(READ_BAR)
        if not readings or readings[-1]["percent"] != last["percent"]:
            readings.append(last)
        if shots and during is None and last["percent"] and 25 <= float(last["percent"]) <= 75:
            during = shots[0]
            save_page(driver, during)
        if last["ended"]:
            break
        time.sleep(0.25)
    if shots:
        save_page(driver, shots[1])
    return facts, readings, last


def run_progress(paths, contents, only, screens=None):
    """upload-progress.asp in both browsers through a throttled server."""
    uploads = os.path.join(WORK, "progress-uploads")
    shutil.rmtree(uploads, ignore_errors=True)
    os.makedirs(uploads)
    checks = []
    try:
        serve = Serve(uploads, ["--throttle", str(PROGRESS_THROTTLE)], "serve-progress.log")
    except (RuntimeError, OSError) as e:
        check = Check("throttled serve starts")
        check.expect(False, str(e))
        return [check]
    try:
        if only != "firefox":
            try:
                driver = chromium_driver()
            except Exception as e:
                driver = None
                check = Check("chromium progress")
                check.expect(False, f"Chromium does not start ({type(e).__name__}: {e})")
                checks.append(check)
            if driver:
                try:
                    for label, query, refused in PROGRESS_RUNS:
                        check = Check(f"chromium {PROGRESS_PAGE}: {label}")
                        t = time.monotonic()
                        try:
                            stem = os.path.join(screens, "chromium-upload-progress" + ("-refused" if refused else "")) \
                                if screens else None
                            shots = [stem + "-during.png", stem + "-after.png"] if stem else None
                            facts, readings, last = chromium_progress(driver, serve.url + PROGRESS_PAGE + query,
                                                                      paths["progress.bin"], shots)
                            check_progress(check, facts, readings, last, refused, contents, uploads)
                        except Exception as e:
                            check.expect(False, f"{type(e).__name__}: {e}")
                        check.notes.append(f"{time.monotonic() - t:.2f} s")
                        checks.append(check)
                finally:
                    driver.quit()
        if only != "chromium":
            jobs = [{"url": serve.url + PROGRESS_PAGE + query, "file": paths["progress.bin"], "facts": PAGE_FACTS,
                     "read": READ_BAR, "seconds": 40} for _, query, _ in PROGRESS_RUNS]
            results, reason = firefox_jobs(jobs, 150)
            for i, (label, _, refused) in enumerate(PROGRESS_RUNS):
                check = Check(f"firefox {PROGRESS_PAGE}: {label}")
                result = results[i] if isinstance(results, list) and i < len(results) else {"error": reason}
                if check.expect("error" not in result, result.get("error", "")):
                    check_progress(check, result["facts"], result["readings"], result["last"], refused, contents,
                                   uploads)
                checks.append(check)
    finally:
        serve.stop()
    return checks


RESUME_AT = 8 << 20  # bytes the server holds when the page is reloaded
CONTINUES = "\u524d\u56de\u306e\u7d9a\u304d\u304b\u3089\u9001\u308a\u307e\u3059"


def check_resumed(check, held, message, after, contents, uploads):
    """upload-resumable.asp reloaded mid-upload and given the same file: it
    says it continues from what the server holds, then saves the file."""
    check.expect(RESUME_AT <= held < LARGE_SIZE, f"reloaded with {held} bytes held")
    m = re.search(CONTINUES + r" \((\d+) ", message)
    check.expect(m is not None and int(m.group(1)) >= held, f"after the reload the page said {message!r}")
    check_facts(check, "the answer", RESUMABLE_PAGE, after)
    check.expect(after["error"] is None, f"the page refused: {after['error']!r}")
    check_report(check, after["items"], [("file", "large.bin", ".bin"), TYPE_UNKNOWN, ("sha256", "large.bin")],
                 contents, uploads)


def chromium_resume(driver, url, path):
    """The page reloaded once the server holds RESUME_AT bytes, the same file
    chosen again: (bytes held at the reload, the page's message just after
    submitting again, its facts once its answer is in)."""
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support import expected_conditions
    from selenium.webdriver.support.ui import WebDriverWait
    driver.get(url)
    driver.find_element(By.ID, "file").send_keys(path)
    driver.find_element(By.CSS_SELECTOR, "input[type=submit]").click()
    held = WebDriverWait(driver, 60, poll_frequency=0.05).until(
        lambda d: (lambda n: n if n >= RESUME_AT else None)(int(d.find_element(By.ID, "held").text or 0)))
    driver.get("about:blank")
    driver.get(url)
    driver.execute_cdp_cmd("DOM.getDocument", {"depth": 0})
    driver.find_element(By.ID, "file").send_keys(path)
    button = driver.find_element(By.CSS_SELECTOR, "input[type=submit]")
    button.click()
    message = WebDriverWait(driver, 10, poll_frequency=0.05).until(
        lambda d: d.execute_script("var m = document.getElementById('message'); return m && m.textContent"))
    WebDriverWait(driver, 120).until(expected_conditions.staleness_of(button))
    WebDriverWait(driver, 120).until(lambda d: d.execute_script("return document.readyState") == "complete")
    return held, message, driver.execute_script(PAGE_FACTS)


def run_resume(serve, paths, contents, only):
    """upload-resumable.asp reloaded in the middle of an 80 MB upload, in
    both browsers: the upload continues from the server's bytes."""
    checks = []
    url = serve.url + RESUMABLE_PAGE
    if only != "firefox":
        check = Check(f"chromium {RESUMABLE_PAGE}: reloaded mid-upload, the same file continues")
        checks.append(chromium_check(check, lambda driver: check_resumed(
            check, *chromium_resume(driver, url, paths["large.bin"]), contents, serve.uploads)))
    if only != "chromium":
        check = Check(f"firefox {RESUMABLE_PAGE}: reloaded mid-upload, the same file continues")
        job = [{"url": url, "facts": PAGE_FACTS, "resume": {"file": paths["large.bin"], "reloadAt": RESUME_AT}}]
        results, reason = firefox_jobs(job, 300)
        result = results[0] if isinstance(results, list) and results else {"error": reason}
        if check.expect("error" not in result, result.get("error", "")):
            check_resumed(check, result["heldAtReload"], result["message"], result["after"], contents, serve.uploads)
            check.notes.append(f"{result['seconds']:.2f} s")
        checks.append(check)
    return checks


UPPY_PAGE = "tests/tus/site/uppy.html"


def saved_by_sample(serve, upload_url):
    """Has samples/upload-resumable.asp (served from the checkout's root)
    open and save a completed upload: the saved file's bytes."""
    boundary = "uppy-" + os.urandom(8).hex()
    body = (f"--{boundary}\r\nContent-Disposition: form-data; name=\"upload\"\r\n\r\n{upload_url}\r\n"
            f"--{boundary}--\r\n").encode()
    head = (f"POST /samples/{RESUMABLE_PAGE} HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: multipart/form-data; "
            f"boundary={boundary}\r\nContent-Length: {len(body)}\r\nConnection: close\r\n\r\n").encode()
    _, answer = raw_request(serve.port, head, body)
    page = answer.decode("utf-8", errors="replace")
    m = re.search(r"\u4fdd\u5b58\u540d (" + GUID + r"\.\w+)", page)
    if not answer.startswith(b"HTTP/1.1 200") or not m:
        error = re.search(r'<p class="error">([^<]*)<', page)
        raise RuntimeError(f"{RESUMABLE_PAGE} did not save {upload_url}: {error.group(1) if error else page[:300]!r}")
    with open(os.path.join(serve.uploads, m.group(1)), "rb") as f:
        return f.read()


def check_uppy(check, result, serve, contents):
    """Uppy's result: the one file sent, and the upload saved whole."""
    if not check.expect(result is not None, "Uppy gave no result"):
        return
    done, failed = result.get("successful", []), result.get("failed", [])
    if check.expect(len(done) == 1 and not failed, f"Uppy: {done} done, {failed} failed"):
        check.expect(done[0]["size"] == UPPY_SIZE, f"Uppy sent {done[0]['size']} bytes")
        try:
            check.expect(saved_by_sample(serve, done[0]["uploadURL"]) == contents["uppy.bin"],
                         "the saved upload differs from the file Uppy sent")
        except (RuntimeError, OSError) as e:
            check.expect(False, str(e))


def chromium_uppy(driver, url, path):
    """Uppy's Dashboard in Chromium: the file given to its input, its upload
    button pressed; window.uppyResult once it is done."""
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
    driver.get(url)
    WebDriverWait(driver, 30).until(lambda d: d.find_elements(By.CSS_SELECTOR, ".uppy-Dashboard-input"))
    driver.find_element(By.CSS_SELECTOR, ".uppy-Dashboard-input").send_keys(path)
    WebDriverWait(driver, 30).until(
        lambda d: d.find_elements(By.CSS_SELECTOR, ".uppy-StatusBar-actionBtn--upload"))[0].click()
    return WebDriverWait(driver, 120, poll_frequency=0.25).until(lambda d: d.execute_script("return window.uppyResult"))


def run_uppy(paths, contents, only):
    """Uppy's Dashboard with its Tus plugin (the uppy package's prebuilt
    bundle in tests/tus/node_modules) sends a file to samples/resumable.asp
    in both browsers, through a server rooted at the checkout so that one
    origin serves the bundle, the test page and the samples."""
    bundle = os.path.join(SOURCE, "tests", "tus", "node_modules", "uppy", "dist", "uppy.min.js")
    if not os.path.exists(bundle):
        check = Check("Uppy")
        check.expect(False, "tests/tus/node_modules/uppy is not installed (scripts/setup installs it)")
        return [check]
    uploads = os.path.join(WORK, "uppy-uploads")
    shutil.rmtree(uploads, ignore_errors=True)
    os.makedirs(uploads)
    try:
        serve = Serve(uploads, ["--root", SOURCE], "serve-uppy.log")
    except (RuntimeError, OSError) as e:
        check = Check("serve for Uppy starts")
        check.expect(False, str(e))
        return [check]
    checks = []
    url = serve.url + UPPY_PAGE
    try:
        if only != "firefox":
            check = Check("chromium Uppy Dashboard + Tus: 5 MB to resumable.asp, saved by upload-resumable.asp")
            checks.append(chromium_check(check, lambda driver: check_uppy(
                check, chromium_uppy(driver, url, paths["uppy.bin"]), serve, contents)))
        if only != "chromium":
            check = Check("firefox Uppy Dashboard + Tus: 5 MB to resumable.asp, saved by upload-resumable.asp")
            job = [{"url": url, "uppy": {"file": paths["uppy.bin"], "seconds": 120}}]
            results, reason = firefox_jobs(job, 200)
            result = results[0] if isinstance(results, list) and results else {"error": reason}
            if check.expect("error" not in result, result.get("error", "")):
                check_uppy(check, result["result"], serve, contents)
                check.notes.append(f"{result['seconds']:.2f} s")
            checks.append(check)
    finally:
        serve.stop()
    return checks


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--screenshot", help="save Chromium's view of upload-utf8.asp after an upload here (the "
                        "whole page)")
    parser.add_argument("--screenshots", "--screens", dest="screens",
                        help="save each browser's view of each sample before and after a submission (and of a "
                        "refusal) in this folder, as BROWSER-PAGE-before.png and BROWSER-PAGE-after.png")
    parser.add_argument("--only", choices=["chromium", "firefox"])
    args = parser.parse_args()
    if args.screens:
        os.makedirs(args.screens, exist_ok=True)
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
            checks.append(check_every_sample())
            if args.only != "firefox":
                checks += run_chromium(serve, paths, contents, args.screenshot, args.screens)
            if args.only != "chromium":
                checks += run_firefox(serve, paths, contents, args.screens)
            checks += run_resume(serve, paths, contents, args.only)
            checks += run_progress(paths, contents, args.only, args.screens)
            checks += run_uppy(paths, contents, args.only)
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
