"""One client connection of scripts/serve: request after request read
(request_head.py), each routed to a page host of the server's pool, a file
or a listing of the served folder, and answered; one log line each. A body
that is not read ends its connection, so nothing inside it is ever taken
for a request."""
import email.utils
import html
import http
import mimetypes
import os
import re
import socket
import socketserver
import time
import urllib.parse

from ..pagehost import pagehost
from .request_head import BodyPace, ClientClosed, ClientStream, HeadDeadline, Refusal, TooSlow, printable, read_head

# After an answer that ends the connection, what the client still sends is
# read and dropped for a moment, so that it reads the answer rather than a
# reset.
LINGER_SECONDS = 2
LINGER_BYTES = 64 << 20


# What a page may be asked, as a web server's page handler takes once its
# verbs allow them (a resumable upload's client sends them all); any other
# method is refused. Files and listings take the reading ones.
PAGE_METHODS = ("GET", "HEAD", "POST", "PATCH", "DELETE", "OPTIONS")
FILE_METHODS = ("GET", "HEAD", "OPTIONS")
# The methods whose body a page gets; a GET's or a HEAD's is left unread.
BODY_METHODS = ("POST", "PATCH", "DELETE", "OPTIONS")
# Answers that never carry a body (RFC 9110 6.4.1), nor a length for one.
BODILESS = (204, 304)
FINAL_STATUS = re.compile(r"[2-9][0-9][0-9]( [^\r\n]*)?")


class Reply:
    def __init__(self, status, content_type, body, headers=()):
        self.status, self.content_type, self.body, self.headers = status, content_type, body, list(headers)

    @property
    def code(self):
        return int(self.status.partition(" ")[0])


def plain(status, text, headers=()):
    return Reply(status, "text/plain; charset=UTF-8", (text + "\n").encode("utf-8"), headers)


class Exchange:
    """What one request did, for its log line."""

    def __init__(self):
        self.begun = time.monotonic()
        self.started = False  # a byte of it came
        self.method = self.target = "-"
        self.status = "-"
        self.sent = 0
        self.received = 0  # body bytes read
        self.length = 0  # body bytes declared
        self.answering = False
        self.note = ""


class Connection(socketserver.BaseRequestHandler):
    def setup(self):
        self.sock = self.request
        self.stream = ClientStream(self.sock, self.server.idle_timeout)
        self.client = f"{self.client_address[0]}:{self.client_address[1]}"

    def handle(self):
        while self.one_request():
            pass

    def one_request(self):
        """Reads and answers one request: whether the connection goes on."""
        state = Exchange()
        linger = True
        try:
            # A kept connection's wait for its next request is not that
            # request's time.
            self.stream.wait()
            state.begun = time.monotonic()
            self.stream.limit = HeadDeadline(self.server.idle_timeout)
            try:
                head = read_head(self.stream, state)
            finally:
                self.stream.limit = None
            reply, body_read = self.route(head, state)
            close = not head.keep_alive or not body_read
            if reply.code in BODILESS and reply.body:
                state.note = f"the page's {len(reply.body)} bytes are not sent: a {reply.code} has no body"
            self.send(state, reply, head.method == "HEAD", close)
            if not close:
                self.log(state)
                return True
        except Refusal as refusal:
            self.send_quietly(state, plain(refusal.status, refusal.text, refusal.headers))
        except (TimeoutError, ClientClosed, ConnectionError) as e:
            linger = False
            if not (state.started or self.stream.buffer):
                return False  # an idle connection that was not in a request
            if state.answering:
                state.note = "the client stopped taking the answer"
            elif isinstance(e, TimeoutError):
                state.note = e.text + self.body_progress(state) if isinstance(e, TooSlow) else self.stalled(state)
                self.send_quietly(state, plain("408 Request Timeout", state.note + ": send the request again"))
            else:
                state.note = "the client closed the connection" + self.body_progress(state)
        self.log(state)
        self.finish_connection(linger)
        return False

    def stalled(self, state):
        return f"nothing came for {self.server.idle_timeout:g} s in the middle of the request" + \
            self.body_progress(state)

    @staticmethod
    def body_progress(state):
        return f" ({state.received} of {state.length} body bytes came)" if state.length else ""

    def route(self, head, state):
        """(the reply, whether the body was read whole)."""
        if head.method not in PAGE_METHODS:
            raise Refusal("405 Method Not Allowed", f"{head.method} is not taken here: use GET, HEAD or POST "
                          "(a page also takes PATCH, DELETE and OPTIONS)", [("Allow", ", ".join(PAGE_METHODS))])
        if head.length > self.server.max_body:
            raise Refusal("413 Request Entity Too Large",
                          f"the request body ({head.length} bytes) is larger than this server takes "
                          f"({self.server.max_body} bytes, --max-body): send less, or start scripts/serve with "
                          "a larger --max-body")
        no_body = head.length == 0  # nothing left unread
        root = self.server.root
        path = os.path.realpath(os.path.join(root, head.path.lstrip("/")))
        if path != root and not path.startswith(root + os.sep):
            return plain("403 Forbidden", f"{head.path} is outside the served folder: ask for a file inside it"), \
                no_body
        if hidden(head.path) or hidden(os.path.relpath(path, root)):
            # As a web server hides its configuration's segments: .env,
            # .git/ and the like are never the site's content.
            return plain("404 Not Found", f"not found: {head.path} names a file or folder whose name begins with a "
                         "dot, which are never served"), no_body
        if not os.path.isfile(path) and not os.path.isdir(path):
            return plain("404 Not Found", f"not found: no file {head.path} in the served folder"), no_body
        if os.path.isfile(path) and path.lower().endswith(".asp"):
            return self.run_page(head, path, state)
        if head.method not in FILE_METHODS:
            return plain("405 Method Not Allowed", f"only pages (.asp) take a {head.method}: send it to a page",
                         [("Allow", ", ".join(FILE_METHODS))]), no_body
        if head.method == "OPTIONS":
            return Reply("200 OK", "text/plain; charset=UTF-8", b"", [("Allow", ", ".join(FILE_METHODS))]), no_body
        try:
            if os.path.isdir(path):
                return Reply("200 OK", "text/html; charset=UTF-8", listing(path, head.path)), no_body
            with open(path, "rb") as f:
                body = f.read()
        except OSError as e:
            return plain("403 Forbidden", f"{head.path} cannot be read ({e.strerror}): check its permissions"), no_body
        return Reply("200 OK", mimetypes.guess_type(path)[0] or "application/octet-stream", body), no_body

    def run_page(self, head, path, state):
        length = head.length if head.method in BODY_METHODS else 0
        state.length = length
        server = self.server
        where = pagehost.Where(server.server_address[1], False, head.version, self.client_address[0],
                               self.sock.getsockname()[0])
        try:
            with server.pool.host(server.host_wait) as host:
                if head.expect_continue and length:
                    self.sock.sendall(b"HTTP/1.1 100 Continue\r\n\r\n")
                status, headers, body = host.request(
                    path, server.uploads, head.method, head.field("content-type") or "", head.query,
                    self.body_chunks(length, state), length, root=server.root, headers=head.sent_fields,
                    url=head.path, where=where)
        except pagehost.PoolBusy:
            return plain("503 Service Unavailable",
                         f"all {len(server.pool.hosts)} page hosts are busy (waited {server.host_wait:g} s): "
                         "try again in a moment", [("Retry-After", "5")]), head.length == 0
        except pagehost.PageHostError as e:
            state.note = str(e)
            return plain("502 Bad Gateway", f"{e}: the next request gets a fresh page host"), False
        if not FINAL_STATUS.fullmatch(status):
            # The page host checks what a page sets; anything else would
            # break the answer's framing.
            state.note = f"the page host answered the status {status!r}"
            return plain("502 Bad Gateway", f"the page host answered the status {status!r}"), length == head.length
        if "error" in headers:
            state.note = f"page error: {headers['error']}"
        return Reply(status, headers.get("content-type", "text/html"), body, headers["header"]), \
            length == head.length

    def body_chunks(self, length, state):
        # --throttle: the body is taken no faster than that many bytes a
        # second, in tenths of a second, so that a page's progress can be
        # watched on a machine whose loopback is too fast to see it.
        rate = self.server.throttle
        piece = max(4096, rate // 10) if rate else 1 << 20
        started = time.monotonic()
        if self.server.min_rate:
            self.stream.limit = BodyPace(self.server.min_rate, self.server.min_rate_grace,
                                         min(len(self.stream.buffer), length))
        try:
            while state.received < length:
                chunk = self.stream.read_some(min(piece, length - state.received))
                state.received += len(chunk)
                if rate:
                    ahead = state.received / rate - (time.monotonic() - started)
                    if ahead > 0:
                        time.sleep(ahead)
                yield chunk
        finally:
            self.stream.limit = None

    def send(self, state, reply, head_only, close):
        body = b"" if head_only or reply.code in BODILESS else reply.body
        state.status, state.answering = reply.status.partition(" ")[0], True
        self.sock.settimeout(self.server.idle_timeout)
        self.sock.sendall(answer_head(reply, close) + body)
        state.sent = len(body)
        self.server.timings.append(time.monotonic() - state.begun)

    def send_quietly(self, state, reply):
        try:
            self.send(state, reply, False, True)
        except OSError:
            pass

    def finish_connection(self, linger):
        """Ends the connection; after a lingering answer, reads and drops
        what the client still sends for a moment."""
        try:
            self.sock.shutdown(socket.SHUT_WR)
            deadline, drained = time.monotonic() + LINGER_SECONDS, 0
            while linger and drained < LINGER_BYTES and time.monotonic() < deadline:
                self.sock.settimeout(max(0.01, deadline - time.monotonic()))
                data = self.sock.recv(1 << 16)
                if not data:
                    break
                drained += len(data)
        except OSError:
            pass

    def log(self, state):
        ms = (time.monotonic() - state.begun) * 1000
        line = (f"{self.client} {state.method} {printable(state.target.encode('latin-1'), 200)} {state.status} "
                f"{state.sent} B {ms:.0f} ms")
        self.server.log(line + (f": {state.note}" if state.note else ""))


def answer_head(reply, close):
    """The status line and header of an answer; a HEAD's tells the length of
    the body it leaves out, a 204 or 304 has neither body nor length. The
    page's own headers go out in UTF-8 (a page may write any text)."""
    code, _, reason = reply.status.partition(" ")
    if not reason:
        try:
            reason = http.HTTPStatus(int(code)).phrase
        except ValueError:
            pass
    lines = [f"HTTP/1.1 {code} {reason}", "Server: VaroServe/2.0", f"Date: {email.utils.formatdate(usegmt=True)}"]
    if reply.code not in BODILESS:
        lines += [f"Content-Type: {reply.content_type}", f"Content-Length: {len(reply.body)}"]
    lines += [f"{name}: {value}" for name, value in reply.headers]
    if close:
        lines.append("Connection: close")
    return ("\r\n".join(lines) + "\r\n\r\n").encode("utf-8")


def turn_away(sock, client, text, log):
    """Answers a connection the server has no room for with a 503 and ends
    it; what the client sends meanwhile is read and dropped for a moment,
    so that it reads the answer rather than a reset."""
    reply = plain("503 Service Unavailable", text, [("Retry-After", "5")])
    try:
        sock.settimeout(LINGER_SECONDS)
        sock.sendall(answer_head(reply, True) + reply.body)
        sock.shutdown(socket.SHUT_WR)
        deadline = time.monotonic() + LINGER_SECONDS
        while time.monotonic() < deadline:
            sock.settimeout(max(0.01, deadline - time.monotonic()))
            if not sock.recv(1 << 16):
                break
    except OSError:
        pass
    finally:
        sock.close()
    log(f"{client} - - 503 {len(reply.body)} B 0 ms: {text}")


def hidden(path):
    """Whether a path (relative, / or the system's separator) has a part
    whose name begins with a dot, other than . and .. themselves."""
    return any(part.startswith(".") and part not in (".", "..") for part in path.replace(os.sep, "/").split("/"))


def listing(path, shown):
    items = sorted(os.listdir(path))
    base = "/" + shown.strip("/") + ("/" if shown.strip("/") else "")
    links = "".join(f'<li><a href="{html.escape(urllib.parse.quote(base + n))}">{html.escape(n)}</a></li>'
                    for n in items if not n.startswith("."))
    return f"<!DOCTYPE html><title>{html.escape(base)}</title><ul>{links}</ul>\n".encode("utf-8")
