#!/usr/bin/env python3
"""Classic pages as a web server runs them: the page host (tools/pagehost) runs
samples/upload.asp (VBScript) and upload_page_js.asp (JScript) under Wine over
request bodies captured from real clients, with VARO.DLL registered in the
build's prefix. Checks each response (in the page's character set) and the
files the page saved, byte for byte; host_check.asp checks what the pages
take from the host, host_request.asp the request (its body read in pieces
as a server gives it) and response one host process serves request after
request, upload_each.asp a host recycled between requests, and map_path.asp
Server.MapPath, host_verbs.asp the server variables of a request's
headers and where it came in, and the headers and status a page answers
with. The UTF-8 samples, upload-utf8.asp (Load), upload-large.asp
(LoadRequest) and upload-js.asp (JScript, LoadRequest), run over a generated
form; gallery.asp keeps images by their hash and refuses other types.
Every sample refuses a body over its size limit (413) and one that is
not its form (400) with its own answer, and saves nothing.

usage: run_asp_pages.py BUILD_DIR DLL_PATH PAGE_HOST CODEPAGE
"""
import hashlib
import os
import random
import urllib.parse
import re
import shutil
import struct
import subprocess
import sys
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "scripts"))
import run_page_scripts as pages  # noqa: E402
# run_page_scripts put the checkout on the path.
from tools.pagehost import pagehost  # noqa: E402

SAMPLE_PAGE = os.path.join(pages.SOURCE, "samples", "upload.asp")
UTF8_PAGE = os.path.join(pages.SOURCE, "samples", "upload-utf8.asp")
LARGE_PAGE = os.path.join(pages.SOURCE, "samples", "upload-large.asp")
JS_SAMPLE_PAGE = os.path.join(pages.SOURCE, "samples", "upload-js.asp")
UPLOAD_JS_PAGE = os.path.join(HERE, "upload_class_js.asp")
JS_PAGE = os.path.join(HERE, "upload_page_js.asp")
CHECK_PAGE = os.path.join(HERE, "host_check.asp")
REQUEST_PAGE = os.path.join(HERE, "host_request.asp")
EACH_PAGE = os.path.join(HERE, "upload_each.asp")
MAP_PAGE = os.path.join(HERE, "map_path.asp")
GALLERY_PAGE = os.path.join(pages.SOURCE, "samples", "gallery.asp")
FACTS_JS_PAGE = os.path.join(HERE, "upload_facts_js.asp")
VERBS_PAGE = os.path.join(HERE, "host_verbs.asp")
FORM_BODIES = ["chromium-form.bin", "firefox-form.bin", "curl-form.bin"]

# upload_page_js.asp's field list: memo is not in the form; empty is a file
# input the client left empty.
JS_FIELDS = [("title", "text"), ("comment", "text"), ("color", "text"), ("memo", "text"),
             ("empty", "file"), ("upload", "file"), ("data", "file")]
JS_HEADING = "<h1>\u30a2\u30c3\u30d7\u30ed\u30fc\u30c9\u7d50\u679c</h1>"
GUID = "[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}"
# The samples' words for a file input left empty, and a file's size and
# saved name.
NO_FILE = "(\u30d5\u30a1\u30a4\u30eb\u306a\u3057)"
BYTES = "\u30d0\u30a4\u30c8"
SAVED_AS = "\u4fdd\u5b58\u540d"


def html(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;").replace('"', "&quot;")


def page_tail(page):
    """The page text after its last script block: the end of every response."""
    with open(page, "rb") as f:
        text = f.read().decode(page_encoding(page))
    return text[text.rindex("%>") + 2:]


def sent_bytes(name):
    """What the form sent in a field: a file's content, the joined text
    values, or None when the field is not in the form."""
    if name in pages.FORM_FILES:
        return pages.read(pages.FORM_FILES[name][1])
    return pages.FORM_TEXT.get(name)


def page_encoding(page):
    """What a page's response is written in: its own code page (the pages
    here name the same character set if they name one)."""
    with open(page, "rb") as f:
        return "utf-8" if b"CodePage=65001" in f.readline() else "cp932"


def run_page(host, page, body, out, env, query=None):
    """Runs the page over the body with out/uploads as its uploads folder:
    (exit status, what the host printed, the response or None)."""
    shutil.rmtree(out, ignore_errors=True)
    uploads = os.path.join(out, "uploads")
    os.makedirs(uploads)
    response_file = os.path.join(out, "response.html")
    command = host + [pages.wine_path(page), pages.wine_path(body), pages.wine_path(uploads),
                      pages.wine_path(response_file)] + ([f"query={query}"] if query else [])
    proc = pages.run(command, env)
    if proc.returncode == 1 and not proc.stdout and not os.path.exists(response_file):
        # The host ends 0 or 2 with its reason; a silent 1 is Wine failing to
        # start it (seen once under load), so it is run once more.
        print(f"note: {os.path.basename(page)}: Wine did not start the page host; run again", flush=True)
        proc = pages.run(command, env)
    response = None
    if os.path.exists(response_file):
        with open(response_file, "rb") as f:
            response = f.read().decode(page_encoding(page), "replace")
    return proc.returncode, proc.stdout.decode("utf-8", "replace"), response


def saved_files(check, uploads, expected):
    """The uploads folder holds exactly the expected files, byte for byte."""
    names = sorted(os.listdir(uploads))
    check.expect(names == sorted(expected), f"uploads holds {names}, expected {sorted(expected)}")
    for name, content in expected.items():
        path = os.path.join(uploads, name)
        if os.path.exists(path):
            with open(path, "rb") as f:
                check.expect(f.read() == content, f"{name} differs from what the client sent")


def sjis(text):
    return text.encode("cp932")


# upload.asp's fields (text fields, then file inputs) as each body sends
# them: text values joined with ",", a file as (client name, content), None
# for a file input left empty. The Japanese form is read in code page 932.
SAMPLE_TEXTS = ["title", "comment", "color"]
ASCII_FORM = {"title": b"hello", "comment": b"line one\r\nline two", "color": b"red,,blue", "empty": None,
              "upload": (b"hello.txt", pages.read("hello.txt")), "data": (b"bytes.bin", pages.read("bytes.bin"))}
JAPANESE_FORM = {"title": sjis("\u65e5\u672c\u8a9e\u306e\u984c\u540d \u8868\u30bd"),
                 "comment": sjis("\u4e00\u884c\u76ee: \u30bd\u30d5\u30c8\u306e\u8868\u793a\r\n"
                                 "\u4e8c\u884c\u76ee: \u7530\u4e2d \u592a\u90ce"),
                 "color": b"red,blue", "empty": None,
                 "upload": (sjis("\u5831\u544a\u66f8_\u8868.txt"), pages.read("sjis-report.txt")),
                 "data": (b"bytes.bin", pages.read("bytes.bin"))}
SAMPLE_BODIES = [(fixture, ASCII_FORM, (932, 1252)) for fixture in FORM_BODIES] + [
    ("chromium-ja-form.bin", JAPANESE_FORM, (932,))]


def check_sample(host, fixture, codepage, env, out_root):
    check = pages.Checker(f"upload.asp {fixture} cp{codepage}")
    out = os.path.join(out_root, "upload-asp-" + os.path.splitext(fixture)[0])
    status, printed, response = run_page(host, SAMPLE_PAGE, os.path.join(pages.FIXTURES, fixture), out, env)
    check.expect(status == 0 and "Status:" not in printed, f"exit status {status}: {printed}")
    response = response or ""
    sent = next(form for name, form, _ in SAMPLE_BODIES if name == fixture)
    # Uploads are saved under a new GUID name that keeps a harmless extension.
    items, contents = [], []
    for name, value in sent.items():
        if name in SAMPLE_TEXTS:
            items.append(re.escape(f"<li>{name} = {html(value.decode('cp932'))}</li>"))
        elif value is None:
            items.append(re.escape(f"<li>{name}: {NO_FILE}</li>"))
        else:
            client_name, content = value[0].decode("cp932"), value[1]
            items.append(re.escape(f"<li>{name}: {html(client_name)}, {len(content)} {BYTES}, {SAVED_AS} ") +
                         f"({GUID}{re.escape(os.path.splitext(client_name)[1])})</li>")
            contents.append(content)
    match = re.search("<ul>" + "".join(items) + "</ul>", response)
    check.expect(match is not None and response.endswith(page_tail(SAMPLE_PAGE)) and 'class="error"' not in response,
                 f"response:\n{response!r}")
    if match:
        check.expect(len(set(match.groups())) == len(contents), f"saved names repeat: {match.groups()}")
        saved_files(check, os.path.join(out, "uploads"), dict(zip(match.groups(), contents)))
    return check


def check_jscript(host, fixture, codepage, env, out_root):
    check = pages.Checker(f"upload_page_js.asp {fixture} cp{codepage}")
    out = os.path.join(out_root, "upload-js-" + os.path.splitext(fixture)[0])
    body = os.path.join(pages.FIXTURES, fixture)
    status, printed, response = run_page(host, JS_PAGE, body, out, env)
    check.expect(status == 0, f"exit status {status}: {printed}")
    response = response or ""
    items, saved = [], {}
    for name, kind in JS_FIELDS:
        sent = sent_bytes(name)
        if sent is None:
            items.append(f"<li>{name}: (not in the form)</li>")
        elif kind == "text":
            items.append(f"<li>{name} = {html(sent.decode('ascii'))}</li>")
        else:
            items.append(f"<li>{name}: WriteForm 0, WriteBinary 0</li>")
            saved[name + ".saved"] = sent
            saved[name + ".bin"] = sent
    pieces = [
        JS_HEADING,
        "<ul>" + "".join(items) + "</ul>",
        f"<p>error: {pages.NOT_ARRAY_TYPE}</p>",
        f'<p>{os.path.getsize(body)} bytes, saved in uploads\\ ("{pages.wine_path(os.path.join(out, "uploads"))}")</p>',
    ]
    for piece in pieces:
        check.expect(piece in response, f"response lacks {piece!r}:\n{response!r}")
    check.expect(response.endswith(page_tail(JS_PAGE)), f"response does not end with the page's form:\n{response!r}")
    saved_files(check, os.path.join(out, "uploads"), saved)
    return check


# A UTF-8 page's form: Japanese names, values and file names, a value with a
# comma, several files in one input, an untouched file input, a binary file.
UTF8_BOUNDARY = "----VaroUtf8Form7d1"
BINARY = bytes(range(256)) * 3
UTF8_PARTS = [
    ("text", "\u540d\u524d", None, "\u30c6\u30b9\u30c8 \u592a\u90ce".encode("utf-8"), None),
    ("text", "color", None, b"red,green", None),
    ("text", "color", None, "\u9752".encode("utf-8"), None),
    ("file", "files", "\u5831\u544a.txt", "\u3053\u3093\u306b\u3061\u306f\r\n".encode("utf-8"), "text/plain"),
    ("file", "files", "page.asp", b"<% Response.Write 1 %>", "text/html"),
    ("file", "other", "", b"", "application/octet-stream"),
    ("file", "data", "bytes.bin", BINARY, "application/octet-stream"),
]


def form_body(parts):
    """A UTF-8 form of (kind, name, file name, content, content type) parts."""
    body = b""
    for kind, name, file_name, content, content_type in parts:
        disposition = f'form-data; name="{name}"' + (f'; filename="{file_name}"' if kind == "file" else "")
        body += f"--{UTF8_BOUNDARY}\r\nContent-Disposition: {disposition}\r\n".encode("utf-8")
        if content_type:
            body += f"Content-Type: {content_type}\r\n".encode("ascii")
        body += b"\r\n" + content + b"\r\n"
    return body + f"--{UTF8_BOUNDARY}--\r\n".encode("ascii")


def utf8_body():
    return form_body(UTF8_PARTS)


def write_body(out_root, name, body):
    path = os.path.join(out_root, name)
    with open(path, "wb") as f:
        f.write(body)
    return path


def check_utf8_sample(host, page, codepage, env, out_root):
    """upload-utf8.asp (Load of the whole body), upload-large.asp
    (LoadRequest) and upload-js.asp (JScript) answer the same form alike."""
    name = os.path.basename(page)
    check = pages.Checker(f"{name} cp{codepage}")
    out = os.path.join(out_root, os.path.splitext(name)[0])
    body_file = write_body(out_root, "utf8-form.bin", utf8_body())
    status, printed, response = run_page(host, page, body_file, out, env)
    check.expect(status == 0, f"exit status {status}: {printed}")
    response = response or ""
    texts = [(n, c.decode("utf-8")) for kind, n, _, c, _ in UTF8_PARTS if kind == "text"]
    values = "".join(f"<li>{html(n)} = {html(v)}</li>" for n, v in texts)
    files = [(n, f, c) for kind, n, f, c, _ in UTF8_PARTS if kind == "file" and f]
    items = [re.escape(f"<li>{html(n)}: {html(f)}, {len(c)} {BYTES}, {SAVED_AS} ") +
             f"({GUID}{re.escape('.txt' if f.endswith('.txt') else '.bin')})</li>" for n, f, c in files]
    # The values, then the saved files under a heading of their own.
    match = re.search(re.escape("<ul>" + values + "</ul>") + r"\s*<h2>[^<]+</h2>\s*<ul>" + "".join(items) + "</ul>",
                      response)
    check.expect(match is not None and response.endswith(page_tail(page)), f"response:\n{response!r}")
    if match:
        saved_files(check, os.path.join(out, "uploads"), dict(zip(match.groups(), [c for _, _, c in files])))
    return check


def many_parts_body():
    return b"".join(b'--B\r\nContent-Disposition: form-data; name="f%d"\r\n\r\nx\r\n' % i
                    for i in range(101)) + b"--B--\r\n"


TOO_LARGE = "\u9001\u4fe1\u3067\u304d\u308b\u306e\u306f\u5408\u8a08 50 MB \u307e\u3067\u3067\u3059\u3002"
TOO_LARGE_FILE = ("\u9001\u4fe1\u3067\u304d\u308b\u306e\u306f\u30d5\u30a1\u30a4\u30eb 1 \u3064\u306b\u3064\u304d 2 GB "
                  "\u307e\u3067\u3067\u3059\u3002")
NOT_THIS_FORM = ("\u3053\u306e\u30da\u30fc\u30b8\u306e\u30d5\u30a9\u30fc\u30e0\u304b\u3089\u9001\u4fe1\u3057\u3066"
                 "\u304f\u3060\u3055\u3044\u3002")
NOT_MULTIPART = "multipart/form-data \u306e\u672c\u6587\u3067\u306f\u3042\u308a\u307e\u305b\u3093"
TOO_MANY_PARTS = "\u30d1\u30fc\u30c8\u306e\u6570\u304c MaxParts (100) \u3092\u8d85\u3048\u3066\u3044\u307e\u3059"
MB = 1 << 20
# A refused request: the page's status and the start of its message. A body
# over a size limit is a sparse file of that many bytes (only the page's own
# check, before it reads the body, gives its own message).
GALLERY_TOO_LARGE = "\u9001\u4fe1\u3067\u304d\u308b\u306e\u306f\u5408\u8a08 20 MB \u307e\u3067\u3067\u3059\u3002"
REFUSALS = [
    # page, label, body (bytes, or a size for a sparse file), status, message
    (SAMPLE_PAGE, "over 50 MB", 50 * MB + 1, "413 Request Entity Too Large", TOO_LARGE),
    (SAMPLE_PAGE, "not a form", b"name=value&other=1", "400 Bad Request", NOT_THIS_FORM),
    (SAMPLE_PAGE, "another form", pages.read("chromium-sjis.bin"), "400 Bad Request", NOT_THIS_FORM),
    (UTF8_PAGE, "over 50 MB", 50 * MB + 1, "413 Request Entity Too Large", TOO_LARGE),
    (UTF8_PAGE, "not a form", b"name=value&other=1", "400 Bad Request", NOT_MULTIPART),
    (UTF8_PAGE, "101 parts", many_parts_body(), "413 Request Entity Too Large", TOO_MANY_PARTS),
    (LARGE_PAGE, "over 2 GB and 1 MB", 2 * 1024 * MB + MB + 1, "413 Request Entity Too Large", TOO_LARGE_FILE),
    (LARGE_PAGE, "not a form", b"name=value&other=1", "400 Bad Request", NOT_MULTIPART),
    (LARGE_PAGE, "101 parts", many_parts_body(), "413 Request Entity Too Large", TOO_MANY_PARTS),
    (JS_SAMPLE_PAGE, "over 50 MB", 50 * MB + 1, "413 Request Entity Too Large", TOO_LARGE),
    (JS_SAMPLE_PAGE, "not a form", b"name=value&other=1", "400 Bad Request", NOT_MULTIPART),
    (JS_SAMPLE_PAGE, "101 parts", many_parts_body(), "413 Request Entity Too Large", TOO_MANY_PARTS),
    (GALLERY_PAGE, "over 20 MB", 20 * MB + 1, "413 Request Entity Too Large", GALLERY_TOO_LARGE),
    (GALLERY_PAGE, "not a form", b"name=value&other=1", "400 Bad Request", NOT_MULTIPART),
]


def check_refusals(host, codepage, env, out_root):
    """Each sample answers a refused request with its status and message in
    the page, above its form again, and saves nothing."""
    check = pages.Checker(f"the samples' refusals cp{codepage}")
    out = os.path.join(out_root, "refusals")
    body_file = os.path.join(out_root, "refused.bin")
    for page, label, body, want_status, message in REFUSALS:
        what = f"{os.path.basename(page)}, {label}"
        if isinstance(body, int):
            with open(body_file, "wb") as f:
                f.truncate(body)
        else:
            write_body(out_root, "refused.bin", body)
        status, printed, response = run_page(host, page, body_file, out, env)
        response = response or ""
        check.expect(status == 0 and f"Status: {want_status}" in printed, f"{what}: exit status {status}: {printed}")
        check.expect(re.search(f'<p class="error">{re.escape(html(message))}[^<]*</p>', response) is not None and
                     "<li>" not in response and response.endswith(page_tail(page)), f"{what}: {response!r}")
        saved_files(check, os.path.join(out, "uploads"), {})
    os.remove(body_file)
    return check


def check_large_cut_short(host, codepage, env, out_root):
    """upload-large.asp over a request whose body ends early in --serve mode:
    the page shows LoadRequest's refusal and saves nothing; the host answers,
    then ends with status 2."""
    check = pages.Checker(f"upload-large.asp, a body that ends early, cp{codepage}")
    uploads = os.path.join(out_root, "upload-large-cut", "uploads")
    shutil.rmtree(uploads, ignore_errors=True)
    os.makedirs(uploads)
    body = utf8_body()
    head = (f"Page: {pages.wine_path(LARGE_PAGE)}\nUploads: {pages.wine_path(uploads)}\nMethod: POST\n"
            f"Content-Type: multipart/form-data; boundary={UTF8_BOUNDARY}\nContent-Length: {len(body)}\n\n")
    proc = subprocess.run(host + ["--serve"], env=env, input=head.encode("utf-8") + body[:len(body) // 2],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    answer = proc.stdout.partition(b"\n\n")[2].decode("utf-8", "replace")
    check.expect(proc.returncode == 2 and b"ends early" in proc.stderr,
                 f"exit status {proc.returncode}, {proc.stderr[-500:]!r}")
    check.expect(proc.stdout.startswith(b"Status: 400 Bad Request\n"), f"answer {proc.stdout[:200]!r}")
    ended_partway = "\u9014\u4e2d\u3067\u7d42\u308f\u308a\u307e\u3057\u305f"  # "ended partway"
    check.expect(re.search(f'<p class="error">[^<]*{ended_partway}[^<]*</p>', answer) is not None
                 and "<li>" not in answer, f"answer {answer[:2000]!r}")
    saved_files(check, uploads, {})
    return check


def check_upload_jscript(host, codepage, env, out_root, mode):
    """The same answers whether the page loads the body it read (mode "load")
    or has the request read in pieces (mode "stream")."""
    check = pages.Checker(f"upload_class_js.asp {mode} cp{codepage}")
    out = os.path.join(out_root, f"upload-class-js-{mode}")
    body_file = write_body(out_root, "utf8-form.bin", utf8_body())
    status, printed, response = run_page(host, UPLOAD_JS_PAGE, body_file, out, env, query=f"mode={mode}")
    check.expect(status == 0, f"exit status {status}: {printed}")
    response = response or ""
    expected = [
        "<p>count 7, names 5</p>",
        f"<p>{html(UTF8_PARTS[0][1])} = {html(UTF8_PARTS[0][3].decode('utf-8'))} first "
        f"{html(UTF8_PARTS[0][3].decode('utf-8'))}</p>",
        "<p>color = red,green|\u9752 first red,green</p>",
        "<p>files =  first undefined</p>",
        f"<p>file files {UTF8_PARTS[3][2]} [] txt text/plain {len(UTF8_PARTS[3][3])}</p>",
        "<p>file files page.asp [] asp text/html 22</p>",
        f"<p>file data bytes.bin [] bin application/octet-stream {len(BINARY)}</p>",
        "<p>missing true exists false</p>",
        "<p>refused multipart/form-data",
        "<p>still 7</p>",
    ]
    for piece in expected:
        check.expect(piece in response, f"response lacks {piece!r}:\n{response!r}")
    saved_files(check, os.path.join(out, "uploads"),
                {"0.bin": UTF8_PARTS[3][3], "1.bin": UTF8_PARTS[4][3], "2.bin": BINARY})
    return check


def check_host(host, codepage, env, out_root):
    """Page text, server variables, a body read in two parts, paths and
    encoding; a failed CreateObject is catchable, an uncaught error ends the
    page with a nonzero status and its page line."""
    check = pages.Checker(f"host_check.asp cp{codepage}")
    out = os.path.join(out_root, "host-check")
    body_file = os.path.join(pages.FIXTURES, "curl-form.bin")
    body = pages.read("curl-form.bin")
    status, printed, response = run_page(host, CHECK_PAGE, body_file, out, env)
    with open(CHECK_PAGE, "rb") as f:
        lines = f.read().decode("cp932").splitlines()
    error_line = next(i for i, line in enumerate(lines, start=1) if "NoSuchMember" in line)
    check.expect(status == 1, f"exit status {status}, expected 1 for the uncaught error")
    check.expect(f"line {error_line}:" in printed, f"the error is not reported at line {error_line}: {printed}")
    boundary = body.split(b"\r\n", 1)[0][2:].decode("ascii")
    expected = ("\n<p class=\"text\">\"\u65e5\u672c\u8a9e\" 'text' \\ end</p>\n"
                f"<p>method=POST type=multipart/form-data; boundary={boundary} other=[]</p>\n"
                f"<p>head 100 0</p><p>rest {len(body) - 100} 0</p>"
                "<p>&lt;a href=&quot;x&quot;&gt;&amp;&lt;/a&gt;</p><p>CreateObject failed: True</p>")
    check.expect((response or "").startswith(expected), f"response:\n{response!r}\nexpected:\n{expected!r}")
    # The error follows what the page wrote, with its page line, as a
    # server's error page shows it.
    error_part = (response or "")[len(expected):]
    # 800a01b6: the object has no such member.
    check.expect(f"/host_check.asp, line {error_line}</p>" in error_part and "'800a01b6'</b>" in error_part
                 and "not reached" not in error_part, f"error page:\n{error_part!r}")
    check.expect("Status: 500 Internal Server Error" in printed, f"the host printed {printed!r}")
    saved_files(check, os.path.join(out, "uploads"), {"head.bin": body[:100], "rest.bin": body[100:]})
    return check


def request_line(page, line_text):
    """The page line (from 1) that holds the text."""
    with open(page, "rb") as f:
        lines = f.read().decode("utf-8").splitlines()
    return next(i for i, line in enumerate(lines, start=1) if line_text in line)


def pieces_answer(body, total=None):
    """host_request.asp?mode=pieces over what arrived of a body of total
    bytes: the bytes echoed, then the count of each read after the first 10
    bytes (7919 at a time, the last one short, then 0)."""
    rest = len(body) - 10
    counts = [7919] * (rest // 7919) + ([rest % 7919] if rest % 7919 else []) + [0]
    return body + f"\ntotal {len(body) if total is None else total}: {' '.join(map(str, counts))}".encode("ascii")


# Bodies larger than a pipe holds, so a host that does not read past what a
# page leaves stops in the middle of one.
PIECES_BODY = random.Random(7).randbytes(300_001)
UNREAD_BODY = random.Random(8).randbytes(1_500_000)

# One host process serves request after request (a page's text after its last
# %> is part of its answer); each answer is checked in full, and the process
# outlives a failed page and a missing one, and stays in step after a page
# that leaves the body unread.
SERVE_CASES = [
    # label, page, method, content type, query, body, status, content type, expected body (or a test of it)
    ("query and variables", REQUEST_PAGE, "GET", "", "name=%E5%90%8D%E5%89%8D+x&x=1&x=2", b"", "200 OK",
     "text/html; charset=UTF-8",
     ("<p>GET||0|name=%E5%90%8D%E5%89%8D+x&x=1&x=2</p><p>\u540d\u524d x|1, 2|True</p>"
      "<p>a+b%26%E6%97%A5%E6%9C%AC</p>\n").encode("utf-8")),
    ("Shift_JIS response", REQUEST_PAGE, "GET", "", "mode=sjis", b"", "200 OK", "text/html; charset=Shift_JIS",
     "\u65e5\u672c\u8a9e\n".encode("cp932")),
    ("status", REQUEST_PAGE, "GET", "", "mode=status", b"", "404 Not Found", "text/html", b"gone\n"),
    ("binary echo", REQUEST_PAGE, "POST", "application/octet-stream", "mode=binary", bytes(range(256)) * 40,
     "200 OK", "application/octet-stream", bytes(range(256)) * 40 + b"\n"),
    ("body in pieces", REQUEST_PAGE, "POST", "application/octet-stream", "mode=pieces", PIECES_BODY, "200 OK",
     "application/octet-stream", pieces_answer(PIECES_BODY) + b"\n"),
    ("body left unread", REQUEST_PAGE, "POST", "application/octet-stream", "mode=status", UNREAD_BODY,
     "404 Not Found", "text/html", b"gone\n"),
    ("body read in part", REQUEST_PAGE, "POST", "application/octet-stream", "mode=first", UNREAD_BODY, "200 OK",
     "text/html", f"first 5 of {len(UNREAD_BODY)}: ".encode("ascii") + UNREAD_BODY[:5] + b"\n"),
    ("script error", REQUEST_PAGE, "POST", "text/plain", "mode=fail", b"x", "500 Internal Server Error", "text/html",
     lambda body: body.startswith(b"before") and "\u5931\u6557 &lt;b&gt;".encode("utf-8") in body and
     f"/host_request.asp, line {request_line(REQUEST_PAGE, 'Err.Raise')}</p>".encode("ascii") in body),
    # A status or character set the host cannot send is the page's error.
    ("bad status", REQUEST_PAGE, "GET", "", "mode=badstatus", b"", "500 Internal Server Error", "text/html",
     lambda body: b"not a status line: OK 200" in body),
    ("script timeout", REQUEST_PAGE, "GET", "", "mode=timeout", b"", "200 OK", "text/html", b"90 3600 refused 3600\n"),
    ("bad character set", REQUEST_PAGE, "GET", "", "mode=badcharset", b"", "500 Internal Server Error", "text/html",
     lambda body: b"unknown character set no-such-set" in body),
    ("missing page", os.path.join(HERE, "no-such-page.asp"), "POST", "", "", UNREAD_BODY, "500 Internal Server Error",
     "text/html; charset=UTF-8", lambda body: b"cannot read" in body),
    ("after failures", REQUEST_PAGE, "POST", "text/plain", "name=%41", b"abc", "200 OK", "text/html; charset=UTF-8",
     b"<p>POST|text/plain|3|name=%41</p><p>A||True</p><p>a+b%26%E6%97%A5%E6%9C%AC</p>\n"),
]


def check_serve(host, codepage, env, out_root):
    check = pages.Checker(f"pagehost --serve cp{codepage}")
    uploads = os.path.join(out_root, "serve-uploads")
    os.makedirs(uploads, exist_ok=True)
    server = pagehost.PageHost(host, env, stderr=subprocess.DEVNULL)
    try:
        for label, page, method, ctype, query, body, status, want_type, want_body in SERVE_CASES:
            got_status, headers, got_body = server.request(page, uploads, method, ctype, query, body)
            ok_body = want_body(got_body) if callable(want_body) else got_body == want_body
            check.expect(got_status == status and headers.get("content-type") == want_type and ok_body,
                         f"{label}: {got_status!r} {headers!r} {got_body[:400]!r}")
            # A failure is also told to the log, and only a failure.
            check.expect(("error" in headers) == status.startswith("500"), f"{label}: error header {headers!r}")
        # A request it cannot read ends the process with status 2; the end
        # of its input ends it with 0.
        # A host that died (a crash) is started again for the next request.
        server.proc.kill()
        server.proc.wait()
        label, page, method, ctype, query, body, status, want_type, want_body = SERVE_CASES[-1]
        got_status, _, got_body = server.request(page, uploads, method, ctype, query, body)
        check.expect(got_status == status and got_body == want_body, f"after a restart: {got_status} {got_body!r}")
        check.expect(server.close() == 0, "the host did not end cleanly at the end of its input")
        proc = subprocess.run(host + ["--serve"], env=env, input=b"no separator here\n\n",
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        check.expect(proc.returncode == 2 and b"not a request line" in proc.stderr,
                     f"bad request: {proc.returncode} {proc.stderr!r}")
    except pagehost.PageHostError as e:
        check.expect(False, str(e))
    finally:
        server.close()
    return check


# Server.MapPath from a page one folder below the served root (ROOT/asphost):
# the virtual path, and where it leads (ROOT, PAGE or UPLOADS and the rest)
# or a word of the script error it raises.
OUTSIDE = "leads outside the served folder"
NOT_VIRTUAL = "takes a virtual path"
MAP_CASES = [
    ("tmp", "PAGE/tmp"),
    ("data/x.csv", "PAGE/data/x.csv"),
    ("data\\x.csv", "PAGE/data/x.csv"),
    ("", "PAGE"),
    ("./a/../b.txt", "PAGE/b.txt"),
    ("/", "ROOT"),
    ("/data/x.csv", "ROOT/data/x.csv"),
    ("../x", "ROOT/x"),
    ("uploads", "UPLOADS"),
    ("Uploads/sub/a.bin", "UPLOADS/sub/a.bin"),
    ("/uploads/a.bin", "UPLOADS/a.bin"),
    ("../uploads/a.bin", "UPLOADS/a.bin"),
    ("sub/uploads/a", "PAGE/sub/uploads/a"),
    ("uploads/../x", "ROOT/x"),
    ("../..", OUTSIDE),
    ("/../x", OUTSIDE),
    ("uploads/../../x", OUTSIDE),
    ("a/../../../x", OUTSIDE),
    ("C:\\windows", NOT_VIRTUAL),
    ("x.txt:stream", NOT_VIRTUAL),
    ("*.txt", NOT_VIRTUAL),
]


def check_map_path(host, codepage, env, out_root):
    """Server.MapPath maps as a web server does, against the page's folder
    and the served root, with "uploads" leading to the host's uploads folder
    and nothing leading outside the root; a page outside the root it is
    given is not run."""
    check = pages.Checker(f"Server.MapPath cp{codepage}")
    root = os.path.dirname(HERE)
    uploads = os.path.join(out_root, "map-uploads")
    os.makedirs(uploads, exist_ok=True)
    places = {"ROOT": root, "PAGE": HERE, "UPLOADS": uploads}
    server = pagehost.PageHost(host, env, stderr=subprocess.DEVNULL)
    try:
        for path, want in MAP_CASES:
            query = "path=" + urllib.parse.quote(path, safe="")
            status, _, body = server.request(MAP_PAGE, uploads, "GET", "", query, root=root)
            place, _, rest = want.partition("/")
            if place in places:
                expected = "path: " + pages.wine_path(os.path.join(places[place], rest) if rest else places[place])
                ok = body.decode("utf-8") == expected + "\n"
            else:
                expected = f"error: ...{want}..."
                ok = body.decode("utf-8").startswith("error: ") and want in body.decode("utf-8")
            check.expect(status == "200 OK" and ok, f"MapPath({path!r}): {status} {body!r}, expected {expected!r}")
        status, headers, body = server.request(MAP_PAGE, uploads, "GET", "", "path=x",
                                               root=os.path.join(pages.SOURCE, "samples"))
        check.expect(status.startswith("500") and "not inside the served folder" in headers.get("error", ""),
                     f"a page outside the root: {status} {headers} {body[:200]!r}")
    except pagehost.PageHostError as e:
        check.expect(False, str(e))
    finally:
        server.close()
    return check


# Requests in the recycling run: the host is replaced after every
# RECYCLE_EVERY of them, so three processes serve it.
RECYCLE_EVERY = 3
RECYCLE_RUN = 7


def each_form(i):
    """Request i's form to upload_each.asp: its number, a file it saves and
    one it leaves, each of them its own."""
    return [("text", "n", None, str(i).encode("ascii"), None),
            ("file", "saved", f"s{i}.bin", random.Random(i).randbytes(1000 + 97 * i), "application/octet-stream"),
            ("file", "kept", f"\u4fdd\u7559{i}.txt", f"kept {i}\r\n".encode("ascii") * (i + 1), "text/plain")]


def temp_files(folder):
    return {name for name in os.listdir(folder) if name.startswith("varo-")}


def files_gone(folder, names):
    """Waits for the names to leave the folder (Wine closes an ended
    process's files a moment after the process itself ends); those left."""
    deadline = time.monotonic() + 30
    while names & temp_files(folder) and time.monotonic() < deadline:
        time.sleep(0.05)
    return names & temp_files(folder)


def run_each(check, server, uploads, i):
    """upload_each.asp over request i's form, its answer and saved file
    checked: the process that served it and the temporary files it left."""
    temp = os.path.join(uploads, "temp")
    before, pid = temp_files(temp), server.pid
    parts = each_form(i)
    status, _, body = server.request(EACH_PAGE, uploads, "POST", f"multipart/form-data; boundary={UTF8_BOUNDARY}",
                                     "", form_body(parts))
    saved, kept = parts[1][3], parts[2]
    match = re.fullmatch(re.escape(f"<p>n = {i}</p><p>saved: s{i}.bin, {len(saved)} bytes, saved as ") +
                         f"({GUID}\\.bin)" + re.escape(f"</p><p>kept: {kept[2]}, {len(kept[3])} bytes</p>") +
                         re.escape(page_tail(EACH_PAGE)), body.decode("utf-8", "replace"))
    check.expect(status == "200 OK" and match, f"request {i}: {status} {body[:400]!r}")
    if match:
        with open(os.path.join(uploads, match.group(1)), "rb") as f:
            check.expect(f.read() == saved, f"request {i}: the saved file differs from what was sent")
    return pid, temp_files(temp) - before


def check_recycling(host, codepage, env, out_root):
    """Under Wine a For Each loop keeps its upload, and with it the temporary
    files of the files the page left, until the process ends. A host
    recycled every RECYCLE_EVERY requests answers each request right, a new
    process takes the request after each RECYCLE_EVERY-th, and the one before
    ends cleanly and takes its temporary files with it while its successor
    keeps its own. A memory limit below any host's size recycles after every
    request, for memory."""
    check = pages.Checker(f"page host recycling cp{codepage}")
    uploads = os.path.join(out_root, "recycle", "uploads")
    temp = os.path.join(uploads, "temp")
    shutil.rmtree(os.path.dirname(uploads), ignore_errors=True)
    os.makedirs(temp)
    recycles = []
    server = pagehost.PageHost(host, env, stderr=subprocess.DEVNULL, recycle_requests=RECYCLE_EVERY,
                               on_recycle=recycles.append)
    try:
        server.start()
        pids, left = zip(*[run_each(check, server, uploads, i) for i in range(RECYCLE_RUN)])
        firsts = list(range(0, RECYCLE_RUN, RECYCLE_EVERY))  # the first request of each process
        check.expect(list(pids) == [pids[i - i % RECYCLE_EVERY] for i in range(RECYCLE_RUN)] and
                     len({pids[i] for i in firsts}) == len(firsts), f"served by processes {pids}")
        check.expect([(r.reason, r.requests, r.old_pid, r.new_pid) for r in recycles] ==
                     [("requests", RECYCLE_EVERY, pids[a], pids[b]) for a, b in zip(firsts, firsts[1:])] and
                     all(r.private_bytes > 0 for r in recycles), f"recycles {recycles}")
        check.expect(server.wait_retired() == [0] * (len(firsts) - 1), "a recycled host did not end cleanly")
        earlier = set().union(*left[:firsts[-1]])
        current = set().union(*left[firsts[-1]:])
        # Nothing would be shown if the engine let the uploads go.
        check.expect(earlier and current, f"the hosts left no temporary files: {left}")
        check.expect(not files_gone(temp, earlier), f"a recycled host's temporary files stay: {earlier}")
        check.expect(current <= temp_files(temp), f"the running host's temporary files went: {current}")
        check.expect(server.close() == 0, "the last host did not end cleanly")
        check.expect(not files_gone(temp, current), f"the last host's temporary files stay: {current}")

        recycles.clear()
        server = pagehost.PageHost(host, env, stderr=subprocess.DEVNULL, recycle_requests=0, recycle_mb=1,
                                   on_recycle=recycles.append)
        server.start()
        pids = [run_each(check, server, uploads, i)[0] for i in range(2)]
        check.expect([(r.reason, r.requests, r.old_pid) for r in recycles] == [("memory", 1, pid) for pid in pids] and
                     all(r.private_bytes > 1 << 20 for r in recycles) and recycles[0].new_pid == pids[1],
                     f"memory: served by {pids}, recycles {recycles}")
        check.expect(server.wait_retired() == [0, 0], "a host recycled for memory did not end cleanly")
    except pagehost.PageHostError as e:
        check.expect(False, str(e))
    finally:
        server.close()
    return check


def check_body_reading(host, codepage, env, out_root):
    """The body as a server gives it: in pieces from the body file; from a
    pipe that ends before Content-Length bytes came (a length past a Long's
    range, told exactly), the page sees what arrived and the host answers,
    then ends with status 2, as there is no next request to read."""
    check = pages.Checker(f"pagehost request body cp{codepage}")
    out = os.path.join(out_root, "body-reading")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    body_file = write_body(out, "pieces.bin", PIECES_BODY)
    response_file = os.path.join(out, "response.bin")
    proc = pages.run(host + [pages.wine_path(REQUEST_PAGE), pages.wine_path(body_file), pages.wine_path(out),
                      pages.wine_path(response_file), "query=mode=pieces"], env)
    check.expect(proc.returncode == 0, f"file: exit status {proc.returncode}: {proc.stdout[-2000:]!r}")
    if os.path.exists(response_file):
        with open(response_file, "rb") as f:
            response = f.read()
        check.expect(response == pieces_answer(PIECES_BODY) + b"\n", f"file: response ends {response[-200:]!r}")

    total = 3 << 30
    sent = PIECES_BODY[:20_000]
    head = (f"Page: {pages.wine_path(REQUEST_PAGE)}\nUploads: {pages.wine_path(out)}\nMethod: POST\n"
            f"Query: mode=pieces\nContent-Length: {total}\n\n").encode("utf-8")
    proc = subprocess.run(host + ["--serve"], env=env, input=head + sent, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=120)
    answer_head, _, answer = proc.stdout.partition(b"\n\n")
    check.expect(proc.returncode == 2 and b"ends early" in proc.stderr,
                 f"early end: exit status {proc.returncode}, {proc.stderr[-500:]!r}")
    check.expect(answer_head.startswith(b"Status: 200 OK\n") and
                 f"Error: the request body ends after 20000 of {total} bytes".encode("ascii") in answer_head,
                 f"early end: {answer_head!r}")
    check.expect(answer == pieces_answer(sent, total) + b"\n", f"early end: the page answered {answer[-200:]!r}")
    return check


def png(width, height):
    """A PNG's signature, header chunk and end chunk."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)) + \
        chunk(b"IEND", b"")


def jpeg(width, height):
    """A JPEG's start, a JFIF segment and a baseline frame header."""
    jfif = b"\xff\xe0\x00\x10JFIF\x00\x01\x02\x00\x00\x01\x00\x01\x00\x00"
    frame = b"\xff\xc0\x00\x11\x08" + struct.pack(">HH", height, width) + b"\x03\x01\x22\x00\x02\x11\x01\x03\x11\x01"
    return b"\xff\xd8" + jfif + frame + b"\x00" * 64


EXECUTABLE = b"MZ\x90\x00\x03\x00\x00\x00\x04\x00\x00\x00\xff\xff" + b"\x00" * 200
GALLERY_ERROR = ("\u30d5\u30a1\u30a4\u30eb\u300c{}\u300d\u306e\u7a2e\u985e ({}) \u306f\u53d7\u3051\u4ed8\u3051\u3066"
                 "\u3044\u307e\u305b\u3093\u3002AllowedTypes \u306b\u3042\u308b\u7a2e\u985e\u306e\u30d5\u30a1\u30a4"
                 "\u30eb\u3092\u9001\u3063\u3066\u304f\u3060\u3055\u3044\u3002")
PIXELS = "\u30d4\u30af\u30bb\u30eb"
ALREADY_KEPT = "(\u4fdd\u5b58\u6e08\u307f)"


def check_gallery(host, codepage, env, out_root):
    """gallery.asp keeps each image once under its SHA-256, showing its type
    and size, and refuses a form with a file that only claims to be an image
    (415) without keeping anything of it."""
    check = pages.Checker(f"gallery.asp cp{codepage}")
    out = os.path.join(out_root, "gallery")
    image, photo = png(3, 2), jpeg(40, 30)
    body_file = write_body(out_root, "gallery.bin", form_body([
        ("file", "images", "a.png", image, "image/png"), ("file", "images", "\u5199\u771f.jpg", photo, "image/jpeg"),
        ("file", "images", "again.png", image, "image/png")]))
    status, printed, response = run_page(host, GALLERY_PAGE, body_file, out, env)
    response = response or ""
    sha_png, sha_jpg = hashlib.sha256(image).hexdigest(), hashlib.sha256(photo).hexdigest()
    for line in [f"<li>a.png: image/png, 3 x 2 {PIXELS}, {len(image)} {BYTES}<br>SHA-256 {sha_png}.png</li>",
                 f"<li>\u5199\u771f.jpg: image/jpeg, 40 x 30 {PIXELS}, {len(photo)} {BYTES}<br>SHA-256 {sha_jpg}.jpg</li>",
                 f"<li>again.png: image/png, 3 x 2 {PIXELS}, {len(image)} {BYTES}<br>SHA-256 {sha_png}.png {ALREADY_KEPT}</li>"]:
        check.expect(status == 0 and line in response, f"response lacks {line!r}: {printed}\n{response!r}")
    saved_files(check, os.path.join(out, "uploads"), {f"{sha_png}.png": image, f"{sha_jpg}.jpg": photo})

    write_body(out_root, "gallery.bin", form_body([
        ("file", "images", "a.png", image, "image/png"), ("file", "images", "setup.jpg", EXECUTABLE, "image/jpeg")]))
    status, printed, response = run_page(host, GALLERY_PAGE, body_file, out, env)
    message = html(GALLERY_ERROR.format("setup.jpg", "application/x-msdownload"))
    check.expect(status == 0 and "Status: 415" in printed and f'<p class="error">{message}</p>' in (response or ""),
                 f"a renamed executable: {printed}\n{response!r}")
    saved_files(check, os.path.join(out, "uploads"), {})
    return check


def check_facts_js(host, codepage, env, out_root):
    """The same members from JScript: types, sizes and hashes, a replace only
    when asked, and a refused type caught with its message."""
    check = pages.Checker(f"upload_facts_js.asp cp{codepage}")
    out = os.path.join(out_root, "upload-facts-js")
    image, text = png(5, 7), b"plain text\r\n"
    body_file = write_body(out_root, "facts.bin", form_body([
        ("file", "a", "a.png", image, "image/png"), ("file", "b", "b.txt", text, "text/plain")]))
    status, printed, response = run_page(host, FACTS_JS_PAGE, body_file, out, env)
    response = response or ""
    for line in [f"<p>a.png image/png 5x7 {hashlib.sha256(image).hexdigest()} {hashlib.md5(image).hexdigest()}</p>",
                 f"<p>b.txt text/plain 0x0 {hashlib.sha256(text).hexdigest()}",
                 "<p>not replaced 80070050</p>", "<p>replaced</p>"]:
        check.expect(status == 0 and line in response, f"response lacks {line!r}: {printed}\n{response!r}")
    saved_files(check, os.path.join(out, "uploads"), {"kept.bin": text})
    status, printed, response = run_page(host, FACTS_JS_PAGE, body_file, out, env, query="mode=refuse")
    line = f"<p>refused {html(GALLERY_ERROR.format('b.txt', 'text/plain'))}</p><p>count 0 image/png SHA256</p>"
    check.expect(status == 0 and line in (response or ""), f"refused: {printed}\n{response!r}")
    saved_files(check, os.path.join(out, "uploads"), {})
    return check


# The client's header lines (names as sent, values as their bytes), where
# the request came in, and the server variables a page reads of them.
VAR_HEADERS = [("Host", "example.test:8443"), ("tus-resumable", "1.0.0"), ("Upload-Metadata", "filename d29ybGQ="),
               ("X-HTTP-Method-Override", "PATCH"), ("upload-metadata", "is_confidential"),
               ("X-Name", "\u65e5\u672c".encode("utf-8")), ("X-Empty", "")]
VAR_WHERE = pagehost.Where(server_port=8443, https=True, protocol="HTTP/1.0", remote_addr="10.0.0.7",
                           local_addr="10.0.0.1")
VAR_CASES = [
    ("HTTP_TUS_RESUMABLE", "1.0.0"),
    ("http_tus_resumable", "1.0.0"),
    ("HTTP_X_HTTP_METHOD_OVERRIDE", "PATCH"),
    ("HTTP_UPLOAD_METADATA", "filename d29ybGQ=, is_confidential"),
    ("HEADER_Upload-Metadata", "filename d29ybGQ=, is_confidential"),
    ("HTTP_X_NAME", "\u65e5\u672c"),
    ("HTTP_X_EMPTY", ""),
    ("HTTP_UPLOAD_OFFSET", ""),
    ("HTTP_", ""),
    ("HTTP_HOST", "example.test:8443"),
    ("SERVER_NAME", "example.test"),
    ("SERVER_PORT", "8443"),
    ("SERVER_PORT_SECURE", "1"),
    ("HTTPS", "on"),
    ("SERVER_PROTOCOL", "HTTP/1.0"),
    ("REMOTE_ADDR", "10.0.0.7"),
    ("LOCAL_ADDR", "10.0.0.1"),
    ("URL", "/app/up.asp"),
    ("SCRIPT_NAME", "/app/up.asp"),
    ("PATH_INFO", "/app/up.asp"),
    ("REQUEST_METHOD", "PATCH"),
    ("CONTENT_LENGTH", "3"),
    ("ALL_HTTP", "HTTP_HOST:example.test:8443\r\nHTTP_TUS_RESUMABLE:1.0.0\r\n"
     "HTTP_UPLOAD_METADATA:filename d29ybGQ=, is_confidential\r\nHTTP_X_HTTP_METHOD_OVERRIDE:PATCH\r\n"
     "HTTP_X_NAME:\u65e5\u672c\r\nHTTP_X_EMPTY:\r\n"),
    ("ALL_RAW", "Host: example.test:8443\r\ntus-resumable: 1.0.0\r\nUpload-Metadata: filename d29ybGQ=\r\n"
     "X-HTTP-Method-Override: PATCH\r\nupload-metadata: is_confidential\r\nX-Name: \u65e5\u672c\r\nX-Empty: \r\n"),
    ("NO_SUCH_VARIABLE", ""),
]
# Host headers and the SERVER_NAME each gives (the server's address when
# there is none).
SERVER_NAMES = [([("Host", "[::1]:8080")], "[::1]"), ([("Host", "a.test")], "a.test"), ([], "10.0.0.1")]


def check_server_variables(host, codepage, env, out_root):
    """Request.ServerVariables: one HTTP_ name for each header, whatever the
    case it was sent in, the lines of a repeated header joined, an absent
    one empty, the values read in the page's code page; where the request
    came in and the page's own path; and the headers the page adds going
    out in its order, those with a line break refused."""
    check = pages.Checker(f"server variables and response headers cp{codepage}")
    uploads = os.path.join(out_root, "verbs-uploads")
    os.makedirs(uploads, exist_ok=True)
    server = pagehost.PageHost(host, env, stderr=subprocess.DEVNULL)
    try:
        names = ",".join(name for name, _ in VAR_CASES)
        status, _, body = server.request(VERBS_PAGE, uploads, "PATCH", "application/offset+octet-stream",
                                         f"mode=vars&names={names}", b"abc", headers=VAR_HEADERS,
                                         url="/app/up.asp", where=VAR_WHERE)
        got = body.decode("utf-8", "replace")
        want = "".join(f"{name}={value}\n" for name, value in VAR_CASES)
        check.expect(status == "200 OK" and got == want, f"server variables: {status}\n{got!r}\nexpected\n{want!r}")
        for headers, name in SERVER_NAMES:
            status, _, body = server.request(VERBS_PAGE, uploads, "GET", "", "mode=vars&names=SERVER_NAME,URL",
                                             headers=headers, where=VAR_WHERE)
            check.expect(body == f"SERVER_NAME={name}\nURL=/host_verbs.asp\n".encode("utf-8"),
                         f"SERVER_NAME with {headers}: {body!r}")
        status, headers, body = server.request(VERBS_PAGE, uploads, "POST", "", "mode=answer&status=201%20Created&"
                                               "location=http://a.test/up.asp%3Fid%3Dx&offset=0")
        check.expect(status == "201 Created" and body == b"" and headers["header"] ==
                     [("Tus-Resumable", "1.0.0"), ("Location", "http://a.test/up.asp?id=x"), ("Upload-Offset", "0"),
                      ("Cache-Control", "no-store")], f"201: {status} {headers} {body!r}")
        for query, word in [("name=X-A%0D%0AX-B&value=1", "line break"), ("name=X-A&value=1%0A2", "line break"),
                            ("name=X-A&value=1%0D", "line break"), ("name=X-A&value=1%07", "control character"),
                            ("name=&value=1", "not a header name"), ("name=X:A&value=1", "not a header name"),
                            ("name=transfer-encoding&value=chunked", "server's to set")]:
            status, headers, body = server.request(VERBS_PAGE, uploads, "GET", "", "mode=inject&" + query)
            check.expect(status == "200 OK" and body.startswith(b"refused: ") and word.encode() in body and
                         headers["header"] == [], f"AddHeader {query}: {status} {headers} {body!r}")
        status, headers, body = server.request(VERBS_PAGE, uploads, "GET", "", "mode=answer&status=100%20Continue")
        check.expect(status.startswith("500") and b"not a final status" in body, f"a 1xx status: {status} {body!r}")
    except pagehost.PageHostError as e:
        check.expect(False, str(e))
    finally:
        server.close()
    return check


def main():
    build, dll, host, codepage = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    host = [pagehost.wine_loader(pages.wine_arch(build)), host]  # the page host, as a command
    env = pages.wine_env(build, codepage)
    out_root = os.path.join(build, "asp-pages", f"cp{codepage}")
    os.makedirs(out_root, exist_ok=True)
    hosts = pages.script_hosts(build, dll)
    failures = pages.register(hosts, env)
    if failures:
        print("\n".join(failures))
        return 1
    checks = []
    started = time.monotonic()

    def add(check):
        # Said as each check ends: a run cut short by its time limit shows
        # how far it came.
        checks.append(check)
        print(f"{'FAIL' if check.failures else 'ok'}: {check.label} ({time.monotonic() - started:.0f} s in)", flush=True)

    try:
        for fixture, _, codepages in SAMPLE_BODIES:
            if codepage in codepages:
                add(check_sample(host, fixture, codepage, env, out_root))
        for fixture in FORM_BODIES:
            add(check_jscript(host, fixture, codepage, env, out_root))
        add(check_host(host, codepage, env, out_root))
        for page in [UTF8_PAGE, LARGE_PAGE, JS_SAMPLE_PAGE]:
            add(check_utf8_sample(host, page, codepage, env, out_root))
        add(check_refusals(host, codepage, env, out_root))
        add(check_large_cut_short(host, codepage, env, out_root))
        for mode in ["load", "stream"]:
            add(check_upload_jscript(host, codepage, env, out_root, mode))
        add(check_serve(host, codepage, env, out_root))
        add(check_map_path(host, codepage, env, out_root))
        add(check_server_variables(host, codepage, env, out_root))
        add(check_recycling(host, codepage, env, out_root))
        add(check_body_reading(host, codepage, env, out_root))
        add(check_gallery(host, codepage, env, out_root))
        add(check_facts_js(host, codepage, env, out_root))
    finally:
        pages.register(hosts, env, unregister=True)
    return pages.report(checks, "asp pages")


if __name__ == "__main__":
    sys.exit(main())
