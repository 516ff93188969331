#!/usr/bin/env python3
"""scripts/serve under odd and slow clients, over raw loopback sockets: two
page hosts, a 2 s idle timeout, a 1 s wait for a free host, a 100,000 byte
body limit, bodies at 240 bytes a second after 2 s and 12 connections at
once, serving a copy of the samples with dotfiles beside them. Past the
connection cap a newcomer gets 503; malformed requests (a stray CR among
them) get one line of plain text with their status and the connection
closed; a body the answer does not read is never taken for a next request;
dotfiles and dot folders are not served; a page is answered while uploads
stall in both other hosts... until they run out, then 503; a stalled,
dripping or vanished upload frees its host, and a dripping head is cut
without ever holding one; scripts/main runs beside the server without
ending its hosts; and the terminal shows one line per request and no
traceback. A page (host_verbs.asp) takes HEAD, PATCH, DELETE and OPTIONS
with their headers (as HTTP_* variables, a repeated one joined) and
bodies, and answers any status with its own headers (a HEAD's and a 204's
without a body, a header with a line break refused); a PATCH cut short by
the fault injector (tests/tools/cutting_proxy.py) leaves the page exactly
the bytes that came.

usage: run_serve_requests.py BUILD_DIR DLL_PATH
"""
import hashlib
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
sys.path.insert(0, os.path.join(HERE, "..", "scripts"))
import run_page_scripts as pages  # noqa: E402

SERVE = os.path.join(pages.SOURCE, "scripts", "serve")
VERBS_PAGE = os.path.join(HERE, "..", "asphost", "host_verbs.asp")
CUTTING_PROXY = os.path.join(pages.SOURCE, "tests", "tools", "cutting_proxy.py")
IDLE = 2
HOST_WAIT = 1
HOSTS = 2  # the pool's size
MAX_BODY = 100_000
MIN_RATE_GRACE = 2
MAX_CONNECTIONS = 12
# A dripping client sends a byte this often: well inside the idle timeout,
# far below 240 bytes a second; and gives up after this many.
DRIP_EVERY = 0.5
DRIPS = 24
# How long a client waits for an answer: a page host started afresh takes
# 15 s and more where the machine is emulated.
SOCKET_TIMEOUT = 60
LOG_LINE = re.compile(r"^\d\d:\d\d:\d\d 127\.0\.0\.1:\d+ (\S+) (\S+) (\d{3}|-) \d+ B \d+ ms(: .*)?$")
PAGE = "/upload-utf8.asp"
BOUNDARY = "b0undary"


def form(value):
    return (f'--{BOUNDARY}\r\nContent-Disposition: form-data; name="name"\r\n\r\n{value}\r\n'
            f'--{BOUNDARY}--\r\n').encode("utf-8")


def post_head(path, length, extra=""):
    return (f"POST {path} HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data; boundary={BOUNDARY}\r\n"
            f"Content-Length: {length}\r\n{extra}\r\n").encode("ascii")


def get(path, extra=""):
    return f"GET {path} HTTP/1.1\r\nHost: x\r\n{extra}\r\n".encode("ascii")


def responses(data):
    """The answers in what a connection gave: [(status code, {field: value},
    body)], and what was left that is not a whole answer."""
    answers = []
    while data:
        head, sep, rest = data.partition(b"\r\n\r\n")
        if not sep:
            break
        lines = head.decode("latin-1").split("\r\n")
        fields = {n.strip().lower(): v.strip() for n, _, v in (line.partition(":") for line in lines[1:])}
        length = int(fields.get("content-length", "0"))
        if len(rest) < length:
            break
        answers.append((int(lines[0].split(" ")[1]), fields, rest[:length]))
        data = rest[length:]
    return answers, data


def connect(port):
    return socket.create_connection(("127.0.0.1", port), timeout=SOCKET_TIMEOUT)


def read_to_end(sock):
    """Everything until the server closes; and whether it did."""
    got = b""
    try:
        while True:
            chunk = sock.recv(1 << 16)
            if not chunk:
                return got, True
            got += chunk
    except socket.timeout:
        return got, False
    except ConnectionResetError:
        return got, True


def exchange(port, data):
    with connect(port) as sock:
        try:
            sock.sendall(data)
        except (BrokenPipeError, ConnectionResetError):
            pass
        return read_to_end(sock)


def read_answer(sock):
    """The first answer on a connection that stays open: (status code,
    {field: value}, body), or None if none came whole."""
    got = b""
    try:
        while True:
            answers, _ = responses(got)
            if answers:
                return answers[0]
            chunk = sock.recv(1 << 16)
            if not chunk:
                return None
            got += chunk
    except (socket.timeout, ConnectionResetError):
        return None


def drip(sockets, data):
    """Sends data to each socket a byte at a time, DRIP_EVERY seconds apart,
    until the server answers it or DRIPS bytes have gone; then what each got
    until the server closed it (b"" where nothing came)."""
    got = {}
    for i in range(min(DRIPS, len(data))):
        for sock in sockets:
            if sock in got:
                continue
            if answered(sock):
                got[sock] = read_to_end(sock)[0]
                continue
            try:
                sock.sendall(data[i:i + 1])
            except OSError:
                got[sock] = read_to_end(sock)[0]
        if len(got) == len(sockets):
            break
        time.sleep(DRIP_EVERY)
    return [got.get(sock, b"") for sock in sockets]


class Serve:
    """scripts/serve on a free port, its log in a file."""

    def __init__(self, build, work, args):
        self.log_path = os.path.join(work, "serve.log")
        command = [SERVE, "--port", "0", "--no-build", "--uploads", os.path.join(work, "uploads")] + args
        if pages.wine_arch(build) == "win64":
            command.append("--64")
        self.proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=open(self.log_path, "wb"), text=True)
        line = self.proc.stdout.readline()
        if line.startswith("this machine cannot run 32-bit programs"):
            line = self.proc.stdout.readline()
        match = re.search(r"http://127\.0\.0\.1:(\d+)/", line)
        if not match:
            self.proc.kill()
            raise RuntimeError(f"serve did not start: {line!r}\n{self.log()}")
        self.port = int(match.group(1))
        self.logged = 0  # request lines made by the checks that count their own

    def log(self):
        with open(self.log_path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def host_pids(self):
        """The page hosts running now: the server's children that are
        neither gone nor zombies yet to be reaped."""
        pids = []
        for name in os.listdir("/proc"):
            try:
                with open(f"/proc/{name}/stat") as f:
                    fields = f.read().rpartition(")")[2].split()
            except OSError:
                continue
            if fields[1] == str(self.proc.pid) and fields[0] != "Z":
                pids.append(int(name))
        return sorted(pids)

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            out, _ = self.proc.communicate(timeout=60)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            out, _ = self.proc.communicate()
        return self.proc.returncode, out


# Requests that are refused at once: the request, its status, and a word of
# the line of text that says why.
LONG_URL = "/" + "a" * 70_000
REFUSED = [
    ("%00 in the path", get("/upload-utf8.asp%00.txt"), 400, "%00"),
    ("%00 alone", get("/%00"), 400, "%00"),
    ("a broken %-escape", get("/a%zz"), 400, "%25"),
    ("a 70,000-character URL", get(LONG_URL), 414, "shorten"),
    ("not a request line", b"HELLO\r\n\r\n", 400, "HTTP/1.1"),
    ("HTTP/2.0", b"GET / HTTP/2.0\r\nHost: x\r\n\r\n", 505, "HTTP/1.1"),
    ("no Host", b"GET / HTTP/1.1\r\n\r\n", 400, "Host"),
    ("a folded header line", b"GET / HTTP/1.1\r\nHost: x\r\nX-A: 1\r\n 2\r\n\r\n", 400, "one line"),
    ("a space before the colon", b"GET / HTTP/1.1\r\nHost : x\r\n\r\n", 400, "colon"),
    ("101 header lines", b"GET / HTTP/1.1\r\nHost: x\r\n" + b"X-A: 1\r\n" * 100 + b"\r\n", 431, "fewer"),
    ("Content-Length 1_0", post_head(PAGE, "1_0") + b"x" * 10, 400, "digits"),
    ("Content-Length +10", post_head(PAGE, "+10") + b"x" * 10, 400, "digits"),
    ("Content-Length 0x10", post_head(PAGE, "0x10") + b"x" * 16, 400, "digits"),
    ("two different Content-Lengths", post_head(PAGE, 10, "Content-Length: 12\r\n") + b"x" * 12, 400, "disagree"),
    ("chunked", post_head(PAGE, 5, "Transfer-Encoding: chunked\r\n") + b"5\r\nhello\r\n0\r\n\r\n", 411,
     "Content-Length"),
    ("gzip", post_head(PAGE, 5, "Transfer-Encoding: gzip\r\n") + b"hello", 501, "Content-Length"),
    ("a 100 GB body declared", post_head(PAGE, 100 << 30), 413, "--max-body"),
    ("a body just over --max-body, 100-continue", post_head(PAGE, MAX_BODY + 1, "Expect: 100-continue\r\n"), 413,
     "--max-body"),
    ("an Expect it does not know", get("/", "Expect: magic\r\n"), 417, "Expect"),
    ("PUT", b"PUT /upload-utf8.asp HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n", 405, "POST"),
    ("PROPFIND to a page", b"PROPFIND /host_verbs.asp HTTP/1.1\r\nHost: x\r\n\r\n", 405, "PATCH"),
    ("a PATCH just over --max-body, 100-continue",
     f"PATCH /host_verbs.asp HTTP/1.1\r\nHost: x\r\nContent-Length: {MAX_BODY + 1}\r\n"
     "Expect: 100-continue\r\n\r\n".encode("ascii"), 413, "--max-body"),
    # A CR that ends no line: another reader of the same bytes may split
    # the head there.
    ("a CR before the CR LF of Content-Length", b"GET /upload.vbs HTTP/1.1\r\nHost: x\r\nContent-Length: 4\r\r\n\r\n"
     b"abcd", 400, "CR LF"),
    ("a CR before the CR LF of the request line", b"GET /upload.vbs HTTP/1.1\r\r\nHost: x\r\n\r\n", 400, "CR LF"),
    ("a CR as the head's closing line", b"GET /upload.vbs HTTP/1.1\r\nHost: x\r\n\r\r\n", 400, "CR LF"),
    ("a CR line before the request line", b"\r\r\nGET /upload.vbs HTTP/1.1\r\nHost: x\r\n\r\n", 400, "CR LF"),
]


def one_line(answer, status, word):
    """Whether an answer is status with one line of plain text holding word,
    and closes its connection."""
    code, fields, body = answer
    text = body.decode("utf-8", "replace")
    return (code == status and fields.get("content-type", "").startswith("text/plain") and text.endswith("\n") and
            text.count("\n") == 1 and word in text and fields.get("connection") == "close")


def check_connection_cap(serve):
    """As many connections as the cap are taken (the last of them is
    answered); the next one gets 503 with one line of text and is closed;
    once they have closed, a new connection is served again."""
    check = pages.Checker(f"serve: past {MAX_CONNECTIONS} connections at once, a newcomer gets 503 and is closed")
    held = [connect(serve.port) for _ in range(MAX_CONNECTIONS)]
    try:
        # Connections are taken in the order they came: once the last is
        # answered, every one before it holds its place.
        held[-1].sendall(get("/upload.vbs"))
        answer = read_answer(held[-1])
        check.expect(answer is not None and answer[0] == 200, f"connection {MAX_CONNECTIONS}: {answer!r}")
        data, closed = exchange(serve.port, get("/upload.vbs"))
        answers, rest = responses(data)
        check.expect(len(answers) == 1 and not rest and closed and one_line(answers[0], 503, "--max-connections")
                     and answers[0][1].get("retry-after") == "5",
                     f"connection {MAX_CONNECTIONS + 1}: {data[:400]!r}")
    finally:
        for sock in held:
            sock.close()
    # Each place is given back as its connection's end is seen: asked
    # again until then.
    deadline, tries = time.monotonic() + 10, 0
    while True:
        tries += 1
        data, _ = exchange(serve.port, get("/upload.vbs", "Connection: close\r\n"))
        codes = [a[0] for a in responses(data)[0]]
        if codes == [200] or time.monotonic() > deadline:
            break
        time.sleep(0.1)
    check.expect(codes == [200], f"after the connections closed, {tries} tries: {data[:300]!r}")
    serve.logged += 2 + tries
    return check


def check_refused(serve):
    """Each gets its status and one line of plain text, as the only answer,
    and the connection ends (the bodies declared too large are never sent:
    a server that waited for them would answer 408)."""
    check = pages.Checker("serve: malformed and refused requests, one line each, connection closed")
    for label, request, status, word in REFUSED:
        data, closed = exchange(serve.port, request)
        answers, rest = responses(data)
        what = f"{label}: {data[:300]!r}"
        check.expect(len(answers) == 1 and not rest and closed, f"{what}: not one answer and the end")
        if answers:
            check.expect(one_line(answers[0], status, word), f"{what}: expected {status} with {word!r}")
    return check


# Requests that carry a body the answer does not read, the body being a
# second request: one answer, then the connection ends.
HIDDEN = get("/upload.vbs")
UNREAD = [
    ("POST to a file: 405", post_head("/upload.vbs", len(HIDDEN)) + HIDDEN, 405),
    ("POST to no file: 404", post_head("/missing.asp", len(HIDDEN)) + HIDDEN, 404),
    ("POST outside the folder: 403", post_head("/../README.md", len(HIDDEN)) + HIDDEN, 403),
    ("GET of a file with a body", get("/upload.vbs", f"Content-Length: {len(HIDDEN)}\r\n") + HIDDEN, 200),
    ("GET of a page with a body", get(PAGE, f"Content-Length: {len(HIDDEN)}\r\n") + HIDDEN, 200),
]


def check_unread_bodies(serve):
    check = pages.Checker("serve: a body the answer does not read ends the connection, never read as a request")
    # Without a body, the same connection goes on: two requests sent at
    # once get two answers, so one hidden in a body would be seen.
    data, _ = exchange(serve.port, get("/upload.vbs") + get("/upload.vbs", "Connection: close\r\n"))
    answers, _ = responses(data)
    check.expect([a[0] for a in answers] == [200, 200], f"two requests in a row: {data[:300]!r}")
    for label, request, status in UNREAD:
        data, closed = exchange(serve.port, request)
        answers, rest = responses(data)
        check.expect([a[0] for a in answers] == [status] and not rest and closed and
                     answers[0][1].get("connection") == "close", f"{label}: {data[:400]!r}")
    return check


# Files beside the samples in the served folder: whether each may be served.
SECRET = b"VARO_SECRET=never-served"
DOT_FILES = {
    ".env": SECRET,
    "sub/.git/config": SECRET,
    ".hidden/page.asp": b'<%@ Language="VBScript" %><% Response.Write "' + SECRET + b'" %>',
    "sub/visible.txt": b"visible\n",
}
HIDDEN = [
    ("a dotfile", get("/.env", "Connection: close\r\n")),
    ("a dotfile, its dot %-escaped", get("/%2eenv", "Connection: close\r\n")),
    ("a file in a dot folder", get("/sub/.git/config", "Connection: close\r\n")),
    ("a page in a dot folder", get("/.hidden/page.asp", "Connection: close\r\n")),
    ("a POST to a page in a dot folder", post_head("/.hidden/page.asp", len(form("v"))) + form("v")),
]


def check_hidden(serve):
    """Dotfiles and whatever is in a dot folder are 404, pages too; the
    files beside them are served, and a listing leaves them out."""
    check = pages.Checker("serve: names that begin with a dot are never served")
    for label, request in HIDDEN:
        data, closed = exchange(serve.port, request)
        answers, rest = responses(data)
        check.expect(len(answers) == 1 and not rest and closed and one_line(answers[0], 404, "dot") and
                     SECRET not in data, f"{label}: {data[:400]!r}")
    data, _ = exchange(serve.port, get("/sub/visible.txt", "Connection: close\r\n"))
    answers, _ = responses(data)
    check.expect([(a[0], a[2]) for a in answers] == [(200, b"visible\n")], f"a file beside them: {data[:300]!r}")
    data, _ = exchange(serve.port, get("/sub/", "Connection: close\r\n"))
    answers, _ = responses(data)
    check.expect([a[0] for a in answers] == [200] and b"visible.txt" in answers[0][2] and
                 b".git" not in answers[0][2], f"the listing of /sub/: {data[:400]!r}")
    serve.logged += len(HIDDEN) + 2
    return check


def stall(port, head, part):
    """A request that sends its head and part of its body, then nothing."""
    sock = connect(port)
    sock.sendall(head + part)
    return sock


def answered(sock):
    """Whether anything came back yet."""
    sock.setblocking(False)
    try:
        return sock.recv(1, socket.MSG_PEEK) != b""
    except BlockingIOError:
        return False
    finally:
        sock.settimeout(SOCKET_TIMEOUT)


def check_slow_clients(serve):
    """Two uploads that stall hold both page hosts: a page is answered
    beside the first, the next page request waits for a host and gets 503,
    and after the idle timeout both stalled uploads get 408, their hosts
    ended and replaced, and pages answer again. A client that stalls in its
    head gets 408 too; one idle between requests is closed without a word;
    one that leaves in the middle of its body frees its host."""
    check = pages.Checker("serve: a page answers beside a stalled upload; idle clients get 408 and free their hosts")
    ended_before = serve.log().count("page host ended in the middle of a page")
    body = form("x" * 4000)
    first = stall(serve.port, post_head(PAGE, len(body)), body[:100])
    time.sleep(0.3)
    data, _ = exchange(serve.port, get(PAGE, "Connection: close\r\n"))
    answers, _ = responses(data)
    check.expect([a[0] for a in answers] == [200] and not answered(first),
                 f"a page beside a stalled upload: {data[:200]!r}")
    second = stall(serve.port, post_head(PAGE, len(body)), body[:100])
    in_head = stall(serve.port, b"GET / HTTP/1.1\r\nHost: x\r\n", b"")
    idle = connect(serve.port)
    idle.sendall(get("/upload.vbs"))
    time.sleep(0.3)
    started = time.monotonic()
    data, _ = exchange(serve.port, get(PAGE, "Connection: close\r\n"))
    waited = time.monotonic() - started
    answers, _ = responses(data)
    check.expect([a[0] for a in answers] == [503] and b"busy" in answers[0][2] and waited >= HOST_WAIT * 0.9,
                 f"every host busy: after {waited:.1f} s {data[:300]!r}")
    for label, sock, want in [("first upload", first, b"100 of 4"), ("second upload", second, b"100 of 4"),
                              ("a stalled head", in_head, b"send the request again")]:
        data, closed = read_to_end(sock)
        sock.close()
        answers, _ = responses(data)
        check.expect([a[0] for a in answers] == [408] and want in answers[0][2] and closed, f"{label}: {data!r}")
    data, closed = read_to_end(idle)
    idle.close()
    answers, rest = responses(data)
    check.expect([a[0] for a in answers] == [200] and not rest and closed,
                 f"an idle kept connection: closed with no more than its answer: {data[-200:]!r}")
    gone = stall(serve.port, post_head(PAGE, len(body)), body[:100])
    time.sleep(0.3)
    gone.close()
    for i in range(3):  # more than there are hosts: none is left holding a half-read body
        data, _ = exchange(serve.port, post_head(PAGE, len(form(f"v{i}")), "Connection: close\r\n") + form(f"v{i}"))
        answers, _ = responses(data)
        check.expect([a[0] for a in answers] == [200] and f"<li>name = v{i}</li>".encode() in answers[0][2],
                     f"after the stalls, upload {i}: {data[:300]!r}")
    log = serve.log()
    ended = log.count("page host ended in the middle of a page") - ended_before
    check.expect(ended == 3, f"{ended} hosts ended for given-up requests, expected 3:\n{log[-3000:]}")
    check.expect("the client closed the connection (100 of" in log, "the vanished client is not in the log")
    return check


def check_dripping_heads(serve):
    """More clients than hosts drip a request's head a byte at a time, never
    idle: a page is answered beside them (a head takes no host), and each
    gets 408 once its head has taken longer than the idle timeout."""
    check = pages.Checker("serve: a head dripped a byte at a time is cut, and holds no page host meanwhile")
    socks = [stall(serve.port, f"POST {PAGE} HTTP/1.1\r\nHost: x\r\nX-Pad: ".encode("ascii"), b"")
             for _ in range(HOSTS + 1)]
    try:
        data, _ = exchange(serve.port, get(PAGE, "Connection: close\r\n"))
        answers, _ = responses(data)
        check.expect([a[0] for a in answers] == [200], f"a page beside the dripping heads: {data[:300]!r}")
        for i, got in enumerate(drip(socks, b"a" * DRIPS)):
            answers, _ = responses(got)
            check.expect(len(answers) == 1 and answers[0][0] == 408 and b"head" in answers[0][2],
                         f"dripping head {i + 1}, after up to {DRIPS} bytes: {got[:300]!r}")
    finally:
        for sock in socks:
            sock.close()
    serve.logged += HOSTS + 2
    return check


def check_dripping_bodies(serve):
    """As many uploads as there are hosts drip their bodies a byte at a
    time, never idle: each gets 408 once it falls behind the least rate, its
    host ended and replaced, and a page is answered again."""
    check = pages.Checker("serve: uploads dripped a byte at a time are cut and their hosts freed")
    ended_before = serve.log().count("page host ended in the middle of a page")
    body = form("x" * 4000)
    socks = [stall(serve.port, post_head(PAGE, len(body)), b"") for _ in range(HOSTS)]
    try:
        for i, got in enumerate(drip(socks, body)):
            answers, _ = responses(got)
            check.expect(len(answers) == 1 and answers[0][0] == 408 and
                         b"--min-bytes-per-second" in answers[0][2],
                         f"dripping upload {i + 1}, after up to {DRIPS} bytes: {got[:300]!r}")
        data, _ = exchange(serve.port, get(PAGE, "Connection: close\r\n"))
        answers, _ = responses(data)
        check.expect([a[0] for a in answers] == [200], f"a page after the dripping uploads: {data[:300]!r}")
    finally:
        for sock in socks:
            sock.close()
    ended = serve.log().count("page host ended in the middle of a page") - ended_before
    check.expect(ended == HOSTS, f"{ended} hosts ended for dripping uploads, expected {HOSTS}")
    serve.logged += HOSTS + 1
    return check


def request(method, target, headers=(), body=b""):
    """A request with a Host, the given header lines and a body (with its
    length when there is one)."""
    lines = [f"{method} {target} HTTP/1.1", "Host: x"] + [f"{n}: {v}" for n, v in headers]
    if body:
        lines.append(f"Content-Length: {len(body)}")
    return ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1") + body


def final_answers(data):
    """The answers on a connection other than 100 Continue."""
    answers, rest = responses(data)
    return [a for a in answers if a[0] != 100], rest


TUS = [("Tus-Resumable", "1.0.0"), ("Upload-Offset", "0"), ("Content-Type", "application/offset+octet-stream")]
VARS = "HTTP_TUS_RESUMABLE,HTTP_UPLOAD_OFFSET,HTTP_X_HTTP_METHOD_OVERRIDE,HTTP_UPLOAD_METADATA,HTTP_NONE,CONTENT_TYPE"
# Each verb to the echo page: method, header lines, body, and the
# variables the page must have seen (those of VARS not named are "").
VERB_BODY = random.Random(7).randbytes(5000)
VERB_CASES = [
    ("PATCH with a chunk", "PATCH", TUS, VERB_BODY,
     {"HTTP_TUS_RESUMABLE": "1.0.0", "HTTP_UPLOAD_OFFSET": "0", "CONTENT_TYPE": "application/offset+octet-stream"}),
    ("PATCH, 100-continue", "PATCH", TUS + [("Expect", "100-continue")], VERB_BODY[:1500],
     {"HTTP_TUS_RESUMABLE": "1.0.0", "HTTP_UPLOAD_OFFSET": "0", "CONTENT_TYPE": "application/offset+octet-stream"}),
    ("PATCH with an empty chunk", "PATCH", TUS + [("Content-Length", "0")], b"",
     {"HTTP_TUS_RESUMABLE": "1.0.0", "HTTP_UPLOAD_OFFSET": "0", "CONTENT_TYPE": "application/offset+octet-stream"}),
    ("POST overriding its method", "POST", [("x-http-method-override", "PATCH"), ("Upload-Offset", "7")],
     VERB_BODY[:777], {"HTTP_X_HTTP_METHOD_OVERRIDE": "PATCH", "HTTP_UPLOAD_OFFSET": "7"}),
    ("POST creating an upload", "POST", [("Upload-Length", "5000"), ("Upload-Metadata", "filename d29ybGQ="),
                                         ("Upload-Metadata", "filetype dGV4dA==")], b"",
     {"HTTP_UPLOAD_METADATA": "filename d29ybGQ=, filetype dGV4dA=="}),
    ("DELETE", "DELETE", [("Tus-Resumable", "1.0.0")], b"", {"HTTP_TUS_RESUMABLE": "1.0.0"}),
    ("DELETE with a body", "DELETE", [], VERB_BODY[:10], {}),
    ("OPTIONS", "OPTIONS", [("Origin", "http://a.test")], b"", {}),
]


def check_verbs(serve):
    """Each verb reaches the page with its headers and its body, read in
    pieces, and the page's answer comes back with the headers it added."""
    check = pages.Checker("serve: HEAD, PATCH, DELETE and OPTIONS reach a page with their headers and bodies")
    for label, method, headers, body, seen in VERB_CASES:
        data, _ = exchange(serve.port, request(method, f"/host_verbs.asp?names={VARS}",
                                               headers + [("Connection", "close")], body))
        answers, rest = final_answers(data)
        what = f"{label}: {data[:600]!r}"
        check.expect(len(answers) == 1 and not rest and answers[0][0] == 200, what)
        if not answers:
            continue
        _, fields, echoed = answers[0]
        check.expect(fields.get("x-method") == method and fields.get("x-total-bytes") == str(len(body)) and
                     fields.get("x-body-read") == str(len(body)), f"{what}: method and length")
        check.expect(hashlib.sha256(echoed).digest() == hashlib.sha256(body).digest(), f"{what}: body echoed")
        for name in VARS.split(","):
            check.expect(fields.get("x-var-" + name.lower()) == seen.get(name, ""), f"{what}: {name}")
        if ("Expect", "100-continue") in headers:
            check.expect(data.startswith(b"HTTP/1.1 100 Continue\r\n\r\n"), f"{what}: no go-ahead first")
    # Where the page is: what it needs to name its own address.
    names = "URL,SCRIPT_NAME,PATH_INFO,SERVER_NAME,SERVER_PORT,HTTPS,HTTP_HOST,REQUEST_METHOD"
    data, _ = exchange(serve.port, f"GET /host_verbs.asp?names={names} HTTP/1.1\r\nHost: example.test:1234\r\n"
                       "Connection: close\r\n\r\n".encode("ascii"))
    answers, _ = final_answers(data)
    want = {"url": "/host_verbs.asp", "script_name": "/host_verbs.asp", "path_info": "/host_verbs.asp",
            "server_name": "example.test", "server_port": str(serve.port), "https": "off",
            "http_host": "example.test:1234", "request_method": "GET"}
    check.expect(len(answers) == 1 and all(answers[0][1].get("x-var-" + n) == v for n, v in want.items()),
                 f"the page's own address: {data[:600]!r}")
    # A HEAD is answered with the page's status and headers, the length of
    # what it wrote, and no body: the next answer on the connection follows
    # at once.
    target = "/host_verbs.asp?mode=answer&status=200%20OK&write=hello"
    data, _ = exchange(serve.port, request("HEAD", target) + request("GET", target, [("Connection", "close")]))
    head, _, after = data.partition(b"\r\n\r\n")
    answers, rest = responses(after)
    check.expect(head.startswith(b"HTTP/1.1 200 OK\r\n") and b"\r\nContent-Length: 5\r\n" in head and
                 b"\r\nTus-Resumable: 1.0.0" in head and
                 [(a[0], a[1].get("content-length"), a[2]) for a in answers] == [(200, "5", b"hello")] and not rest,
                 f"HEAD, then GET on one connection: {data[:600]!r}")
    # The limits hold for the new verbs as for a POST: a PATCH that stalls
    # gets 408.
    body = VERB_BODY
    sock = stall(serve.port, request("PATCH", "/host_verbs.asp", TUS, body)[:-len(body) + 100], b"")
    data, closed = read_to_end(sock)
    sock.close()
    answers, _ = final_answers(data)
    check.expect([a[0] for a in answers] == [408] and f"100 of {len(body)}".encode() in answers[0][2] and closed,
                 f"a stalled PATCH: {data[:300]!r}")
    serve.logged += len(VERB_CASES) + 4
    return check


# Answers a page may give: the query to host_verbs.asp's answer mode, the
# status line and headers that must go out, and whether a body and its
# length go with it.
ANSWER_CASES = [
    ("201 with a Location", "status=201%20Created&location=/up.asp%3Fid%3Dab_c", "201 Created",
     {"location": "/up.asp?id=ab_c", "tus-resumable": "1.0.0", "cache-control": "no-store"}, b""),
    ("204 that wrote text", "status=204%20No%20Content&offset=5&write=dropped", "204 No Content",
     {"upload-offset": "5", "tus-resumable": "1.0.0"}, None),
    ("204 without its reason", "status=204", "204 No Content", {"tus-resumable": "1.0.0"}, None),
    ("a status of the upload protocol's own", "status=460%20Checksum%20Mismatch&write=x", "460 Checksum Mismatch",
     {"tus-resumable": "1.0.0"}, b"x"),
    ("412", "status=412%20Precondition%20Failed", "412 Precondition Failed", {"tus-resumable": "1.0.0"}, b""),
]


def check_answers(serve):
    """The page's status goes out as its status line, with its headers; a
    204 has neither body nor Content-Length, and the next answer on the
    connection follows it at once."""
    check = pages.Checker("serve: a page answers any status with its own headers; a 204 without a body")
    for label, query, status, headers, body in ANSWER_CASES:
        target = f"/host_verbs.asp?mode=answer&{query}"
        data, _ = exchange(serve.port, request("PATCH", target, TUS, b"abc") +
                           request("GET", "/upload.vbs", [("Connection", "close")]))
        first, _, after = data.partition(b"\r\n\r\n")
        lines = first.decode("latin-1").split("\r\n")
        fields = {n.strip().lower(): v.strip() for n, _, v in (line.partition(":") for line in lines[1:])}
        what = f"{label}: {data[:500]!r}"
        check.expect(lines[0] == f"HTTP/1.1 {status}" and all(fields.get(n) == v for n, v in headers.items()), what)
        if body is None:
            check.expect("content-length" not in fields and "content-type" not in fields and
                         after.startswith(b"HTTP/1.1 200 OK\r\n"), f"{what}: a body or its length")
        else:
            check.expect(fields.get("content-length") == str(len(body)) and after.startswith(body + b"HTTP/1.1 200"),
                         f"{what}: its body")
    # A header name or value with a line break is the page's error, and
    # nothing of it goes out.
    for name, value, word in [("X-A%0D%0AX-Evil", "1", "line break"), ("X-A", "1%0D%0AX-Evil:%201", "line break"),
                              ("X-A", "1%0AX-Evil:%201", "line break"), ("X-A", "1%00", "control character"),
                              ("Content-Length", "0", "server's to set"), ("X%20A", "1", "not a header name")]:
        data, _ = exchange(serve.port, request("GET", f"/host_verbs.asp?mode=inject&name={name}&value={value}",
                                               [("Connection", "close")]))
        answers, rest = final_answers(data)
        check.expect(len(answers) == 1 and not rest and "x-evil" not in answers[0][1] and
                     answers[0][2].startswith(b"refused: ") and word.encode() in answers[0][2],
                     f"AddHeader({name!r}, {value!r}): {data[:500]!r}")
    data, _ = exchange(serve.port, request("GET", "/host_verbs.asp?mode=inject&name=Upload-Expires&value="
                                           "Wed,%2025%20Jun%202025%2016:00:00%20GMT", [("Connection", "close")]))
    answers, _ = final_answers(data)
    check.expect(len(answers) == 1 and answers[0][2] == b"added" and
                 answers[0][1].get("upload-expires") == "Wed, 25 Jun 2025 16:00:00 GMT", f"a date: {data[:500]!r}")
    # Files take the reading methods only.
    for method, status, allow in [("OPTIONS", 200, "GET, HEAD, OPTIONS"), ("PATCH", 405, "GET, HEAD, OPTIONS"),
                                  ("DELETE", 405, "GET, HEAD, OPTIONS")]:
        data, _ = exchange(serve.port, request(method, "/upload.vbs", [("Connection", "close")]))
        answers, _ = final_answers(data)
        check.expect([(a[0], a[1].get("allow")) for a in answers] == [(status, allow)], f"{method} of a file: {data!r}")
    serve.logged += 2 * len(ANSWER_CASES) + 6 + 1 + 3
    return check


class CuttingProxy:
    """tests/tools/cutting_proxy.py in front of the server."""

    def __init__(self, port, args):
        self.proc = subprocess.Popen([sys.executable, CUTTING_PROXY, "--upstream", f"127.0.0.1:{port}"] + args,
                                     stdout=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        match = re.fullmatch(r"listening on 127\.0\.0\.1:(\d+)\n", line)
        if not match:
            self.stop()
            raise RuntimeError(f"the cutting proxy did not start: {line!r}")
        self.port = int(match.group(1))

    def stop(self):
        self.proc.terminate()
        return self.proc.communicate(timeout=30)[0]


KEEP_TARGET = "/host_verbs.asp?mode=keep&tag=cut&piece=1000"


def check_cut_body(serve, work):
    """Through the fault injector, the second PATCH cut after N body bytes
    reaches the page as a body that ends early: it reads exactly those N
    bytes (its pieces kept in files) and then nothing, as from a client that
    dropped; the client sees its connection end without an answer. A GET
    and the PATCHes before and after it pass whole."""
    check = pages.Checker("serve: a PATCH cut short by the fault injector leaves the page the bytes that came")
    cut, body = 2500, random.Random(11).randbytes(10_000)
    uploads = os.path.join(work, "uploads")
    proxy = CuttingProxy(serve.port, ["--method", "PATCH", "--request", "2", "--cut-after", str(cut)])
    try:
        data, closed = exchange(proxy.port, request("GET", "/host_verbs.asp", [("Connection", "close")]))
        check.expect([a[0] for a in final_answers(data)[0]] == [200] and closed,
                     f"a GET through the proxy: {data[:300]!r}")
        data, closed = exchange(proxy.port, request("PATCH", "/host_verbs.asp", TUS + [("Connection", "close")], body))
        answers, _ = final_answers(data)
        check.expect(len(answers) == 1 and answers[0][2] == body, f"the first PATCH: {data[:300]!r}")
        data, closed = exchange(proxy.port, request("PATCH", KEEP_TARGET, TUS, body))
        check.expect(data == b"" and closed, f"the cut PATCH was answered: {data[:300]!r}")
        end = os.path.join(uploads, f"cut-end-{cut}-of-{len(body)}.txt")
        deadline = time.monotonic() + SOCKET_TIMEOUT
        while not os.path.exists(end) and time.monotonic() < deadline:
            time.sleep(0.1)
        kept = sorted(n for n in os.listdir(uploads) if n.startswith("cut-"))
        check.expect(kept == ["cut-0001.bin", "cut-0002.bin", "cut-0003.bin", os.path.basename(end)],
                     f"the page kept {kept}")
        got = b"".join(pages.read(os.path.join(uploads, n)) for n in kept if n.endswith(".bin"))
        check.expect(got == body[:cut], f"the page read {len(got)} bytes, expected the first {cut} sent")
        data, closed = exchange(proxy.port, request("PATCH", "/host_verbs.asp", TUS + [("Connection", "close")], body))
        answers, _ = final_answers(data)
        check.expect(len(answers) == 1 and answers[0][1].get("x-body-read") == str(len(body)) and
                     answers[0][2] == body, f"the PATCH after it: {data[:300]!r}")
    finally:
        said = proxy.stop()
    check.expect(said == f"cut 2: PATCH {KEEP_TARGET} after {cut} of {len(body)} body bytes\n",
                 f"the proxy said {said!r}")
    check.expect(f"PATCH {KEEP_TARGET} - 0 B" in serve.log() and
                 f"the client closed the connection ({cut} of {len(body)} body bytes came)" in serve.log(),
                 "the cut PATCH is not in the log")
    serve.logged += 4
    return check


def check_beside_main(serve, build):
    """scripts/main uses the same Wine prefix: the server's hosts live on."""
    check = pages.Checker("serve: scripts/main runs beside it without ending its page hosts")
    # A host retired for a given-up request may still be on its way out.
    deadline = time.monotonic() + 30
    while len(serve.host_pids()) > HOSTS and time.monotonic() < deadline:
        time.sleep(0.1)
    pids = serve.host_pids()
    command = [os.path.join(pages.SOURCE, "scripts", "main"), "--no-build"]
    if pages.wine_arch(build) == "win64":
        command.append("--64")
    proc = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300,
                          stdin=subprocess.DEVNULL)
    check.expect(proc.returncode == 0, f"scripts/main: {proc.returncode} {proc.stdout[-1500:]!r}")
    # Given a moment, Wine would have ended them by now.
    time.sleep(0.5)
    after = serve.host_pids()
    check.expect(len(pids) == HOSTS and after == pids, f"page hosts {pids} before, {after} after")
    data, _ = exchange(serve.port, post_head(PAGE, len(form("after")), "Connection: close\r\n") + form("after"))
    check.expect(b"<li>name = after</li>" in data, f"a page after scripts/main: {data[:300]!r}")
    check.expect("had ended by itself" not in serve.log(), "a host ended under scripts/main")
    return check


def check_log(serve, status, out):
    check = pages.Checker("serve: one log line per request, no traceback, stops cleanly")
    log = serve.log()
    lines = [m for m in map(LOG_LINE.match, log.splitlines()) if m]
    check.expect("Traceback" not in log and "internal error" not in log, f"the terminal shows:\n{log[-3000:]}")
    # Every request above, the stalled head and the vanished upload among
    # them, and the connection turned away; not the kept connection that
    # went idle between requests.
    slow = 1 + 2 + 1 + 1 + 1 + 1 + 3  # beside, the uploads, the head, the kept one, 503, the vanished one, after
    expected = len(REFUSED) + 2 + len(UNREAD) + slow + 1 + serve.logged
    check.expect(len(lines) == expected, f"{len(lines)} request lines, expected {expected}:\n{log[-3000:]}")
    for method, path, code in [("GET", "/%00", "400"), ("-", "-", "400"), ("GET", "/aaaaaaaa", "414"),
                               ("POST", PAGE, "408"), ("GET", "/", "408"), ("POST", PAGE, "-"),
                               ("GET", PAGE, "503"), ("PUT", PAGE, "405"), ("-", "-", "503"),
                               ("GET", "/.env", "404"), ("PATCH", "/host_verbs.asp", "200"),
                               ("HEAD", "/host_verbs.asp", "200"), ("PATCH", "/host_verbs.asp", "204"),
                               ("PATCH", "/host_verbs.asp", "408"), ("PATCH", "/host_verbs.asp", "-")]:
        check.expect(any(m.group(1) == method and m.group(2).startswith(path) and m.group(3) == code
                         for m in lines), f"no line for {method} {path} {code}")
    check.expect(status == 0 and "stopped (page host exit status 0)" in out, f"stop: {status} {out!r}")
    return check


def main():
    build, dll = sys.argv[1], sys.argv[2]
    env = pages.wine_env(build, 932)
    work = os.path.join(build, "serve-requests")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(os.path.join(work, "uploads"))
    root = os.path.join(work, "root")
    shutil.copytree(os.path.join(pages.SOURCE, "samples"), root)
    shutil.copy(VERBS_PAGE, root)
    for name, content in DOT_FILES.items():
        os.makedirs(os.path.dirname(os.path.join(root, name)), exist_ok=True)
        with open(os.path.join(root, name), "wb") as f:
            f.write(content)
    hosts = pages.script_hosts(build, dll)
    failures = pages.register(hosts, env)
    if failures:
        print("\n".join(failures))
        return 1
    checks = []
    serve = None
    try:
        serve = Serve(build, work, ["--root", root, "--hosts", str(HOSTS), "--idle-timeout", str(IDLE),
                                    "--host-wait", str(HOST_WAIT), "--max-body", str(MAX_BODY),
                                    "--min-rate-grace", str(MIN_RATE_GRACE),
                                    "--max-connections", str(MAX_CONNECTIONS)])
        for step in (check_connection_cap, check_refused, check_unread_bodies, check_hidden, check_slow_clients,
                     check_dripping_heads, check_dripping_bodies, check_verbs, check_answers):
            checks.append(step(serve))
        checks.append(check_cut_body(serve, work))
        checks.append(check_beside_main(serve, build))
        status, out = serve.stop()
        checks.append(check_log(serve, status, out))
    except (RuntimeError, OSError, subprocess.SubprocessError) as e:
        check = pages.Checker("serve runs")
        check.expect(False, f"{type(e).__name__}: {e}")
        checks.append(check)
    finally:
        if serve and serve.proc.poll() is None:
            serve.stop()
        pages.register(hosts, env, unregister=True)
    return pages.report(checks, "serve requests")


if __name__ == "__main__":
    sys.exit(main())
