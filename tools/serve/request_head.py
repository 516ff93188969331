"""A request's head as scripts/serve reads it from a client: the request
line and header fields, strictly, and how long its body is. What does not
read plainly is a Refusal, answered and the connection closed, never a
guess: a body whose length is in doubt could hide a second request."""
import re
import time
import urllib.parse

# A query string reaches the page host on one line of at most 64 KiB.
MAX_REQUEST_LINE = 16384
MAX_HEADER_LINE = 8192
MAX_HEADERS = 100
TOKEN = re.compile(rb"[!#$%&'*+.^_`|~0-9A-Za-z-]+")
DIGITS = re.compile(r"[0-9]+")
VERSION = re.compile(rb"HTTP/([0-9])\.([0-9])")


class Refusal(Exception):
    """An answer instead of the request: status line, one line of text that
    says what was wrong and what to do, extra headers."""

    def __init__(self, status, text, headers=()):
        super().__init__(text)
        self.status, self.text, self.headers = status, text, list(headers)


class ClientClosed(Exception):
    """The client closed its side of the connection."""


class TooSlow(TimeoutError):
    """The client fell behind a pace the server keeps it to (a whole head in
    time, a body's least rate); text says which."""

    def __init__(self, text):
        super().__init__(text)
        self.text = text


class HeadDeadline:
    """A head must come whole within seconds of its first byte: a client
    that drips it a byte at a time is never idle, yet holds a connection."""

    def __init__(self, seconds):
        self.seconds, self.end = seconds, time.monotonic() + seconds

    def left(self):
        return self.end - time.monotonic()

    def waited(self, seconds, size):
        pass

    def expired(self):
        return TooSlow(f"the request's head did not come whole within {self.seconds:g} s (--idle-timeout)")


class BodyPace:
    """A body must keep up with rate bytes a second once grace seconds have
    passed, as a web server's least transfer rate does: a client that sends a
    byte now and then is never idle, yet holds a page host. Only the time
    spent waiting for the client counts, not the time a page takes before it
    reads on; bytes already there when the body began count as come."""

    def __init__(self, rate, grace, already):
        self.rate, self.grace = rate, grace
        self.spent, self.came = 0.0, already

    def left(self):
        return self.grace + self.came / self.rate - self.spent

    def waited(self, seconds, size):
        self.spent += seconds
        self.came += size

    def expired(self):
        return TooSlow(f"the body came slower than {self.rate} bytes a second after its first {self.grace:g} s "
                       "(--min-bytes-per-second)")


class ClientStream:
    """Buffered reading from the client's socket. Every wait for bytes
    raises TimeoutError after the idle timeout, and TooSlow once the pace
    set in limit (a HeadDeadline, a BodyPace or None) is not kept."""

    def __init__(self, sock, idle_timeout):
        self.sock, self.buffer, self.idle_timeout = sock, bytearray(), idle_timeout
        self.limit = None

    def _recv(self, size):
        limit = self.limit
        timeout, paced = self.idle_timeout, False
        if limit is not None:
            left = limit.left()
            if left <= 0:
                raise limit.expired()
            timeout, paced = min(timeout, left), left < timeout
        self.sock.settimeout(timeout)
        started, data = time.monotonic(), b""
        try:
            data = self.sock.recv(size)
        except TimeoutError:
            if paced:
                raise limit.expired() from None
            raise
        finally:
            if limit is not None:
                limit.waited(time.monotonic() - started, len(data))
        if not data:
            raise ClientClosed()
        return data

    def _fill(self, size=1 << 16):
        self.buffer += self._recv(size)

    def wait(self):
        """Until a byte is there to read."""
        if not self.buffer:
            self._fill()

    def read_line(self, limit, too_long):
        """One line with its LF; too_long (a Refusal) once limit bytes came
        without one."""
        while True:
            end = self.buffer.find(b"\n", 0, limit)
            if end >= 0:
                line = bytes(self.buffer[:end + 1])
                del self.buffer[:end + 1]
                return line
            if len(self.buffer) >= limit:
                raise too_long
            self._fill()

    def read_some(self, size):
        """Between 1 and size bytes, as they arrive."""
        if not self.buffer:
            if size >= 1 << 16:
                return self._recv(min(size, 1 << 20))
            self._fill(size)
        data = bytes(self.buffer[:size])
        del self.buffer[:size]
        return data


class RequestHead:
    """method, target (as sent), version (1.0 or 1.1), path (decoded),
    query (as sent), fields ([(lower-case name, value)]), sent_fields (the
    same with the names as sent), length (of the body), keep_alive,
    expect_continue."""

    def field(self, name):
        values = [v for n, v in self.fields if n == name]
        return values[0] if values else None


def read_head(stream, state):
    """The next request's head; None when the client closed the connection
    (or had sent nothing when its idle time ran out) before one began.
    state.started is set once its first byte came, state.method and
    state.target once its request line is read."""
    # A client may send an empty line before a request.
    too_long = Refusal("414 URI Too Long", f"the address is longer than {MAX_REQUEST_LINE} bytes: shorten it "
                       "(send long values in a POST body instead)")
    for _ in range(3):
        try:
            line = stream.read_line(MAX_REQUEST_LINE, too_long)
        except Refusal:
            # The log names what the address began with.
            words = bytes(stream.buffer[:200]).split(b" ")
            if len(words) > 1 and TOKEN.fullmatch(words[0]):
                state.method, state.target = words[0].decode("ascii"), words[1].decode("latin-1") + "..."
            raise
        state.started = True
        line = line_content(line)
        if line:
            break
    else:
        raise Refusal("400 Bad Request", "empty lines where the request line should be: send METHOD /path HTTP/1.1")
    head = RequestHead()
    parts = line.split(b" ")
    if len(parts) == 3 and TOKEN.fullmatch(parts[0]):
        state.method, state.target = parts[0].decode("ascii"), parts[1].decode("latin-1")
    if len(parts) != 3 or not TOKEN.fullmatch(parts[0]) or not re.fullmatch(rb"[\x21-\x7e]+", parts[1]):
        raise Refusal("400 Bad Request", "not a request line: send METHOD /path HTTP/1.1, the path %-escaped")
    version = VERSION.fullmatch(parts[2])
    if not version:
        raise Refusal("400 Bad Request", "not a request line: it must end in HTTP/1.1 (or HTTP/1.0)")
    if version.group(1, 2) not in [(b"1", b"0"), (b"1", b"1")]:
        raise Refusal("505 HTTP Version Not Supported",
                      f"{parts[2].decode('ascii')} is not spoken here: send HTTP/1.1 (or HTTP/1.0)")
    head.method, head.target, head.version = state.method, state.target, version.group(0).decode("ascii")
    head.sent_fields = read_fields(stream)
    head.fields = [(name.lower(), value) for name, value in head.sent_fields]
    head.path, head.query = split_target(head.target)
    check_host(head)
    head.length = body_length(head)
    head.keep_alive = keeps_alive(head)
    expect = head.field("expect")
    if expect is not None and expect.lower() != "100-continue":
        raise Refusal("417 Expectation Failed", f"Expect: {expect} is not understood: leave it out")
    head.expect_continue = expect is not None and head.version == "HTTP/1.1"
    return head


def read_fields(stream):
    too_large = Refusal("431 Request Header Fields Too Large",
                        f"the request's header is too large (at most {MAX_HEADERS} lines of {MAX_HEADER_LINE} "
                        "bytes): send fewer or shorter fields")
    fields = []
    while True:
        line = line_content(stream.read_line(MAX_HEADER_LINE, too_large))
        if not line:
            return fields
        if len(fields) == MAX_HEADERS:
            raise too_large
        if line[:1] in (b" ", b"\t"):
            raise Refusal("400 Bad Request", "a header line continues the one before it (obsolete folding): "
                          "send each field on one line")
        name, colon, value = line.partition(b":")
        if not colon or not TOKEN.fullmatch(name):
            raise Refusal("400 Bad Request", f"not a header field: {printable(line, 60)}; "
                          "send Name: value, no space before the colon")
        if re.search(rb"[\x00-\x08\x0a-\x1f\x7f]", value):
            raise Refusal("400 Bad Request",
                          f"the {name.decode('ascii')} field holds a control character: remove it")
        fields.append((name.decode("ascii"), value.strip(b" \t").decode("latin-1")))


def line_content(line):
    """A line without its end: LF, or CR LF. A CR anywhere else is refused,
    as a CR the server dropped could end a line for another reader of the
    same bytes."""
    line = line[:-1]
    if line.endswith(b"\r"):
        line = line[:-1]
    if b"\r" in line:
        raise Refusal("400 Bad Request", "a line of the request's head holds a CR that is not part of its CR LF end: "
                      "end each line with CR LF only")
    return line


def split_target(target):
    """(the path, decoded, and the query string as sent) of an origin-form
    or absolute-form target."""
    if target.lower().startswith(("http://", "https://")):
        target = urllib.parse.urlsplit(target)._replace(scheme="", netloc="").geturl() or "/"
    if not target.startswith("/"):
        raise Refusal("400 Bad Request", "the address must be a path that begins with /")
    raw, _, query = target.partition("?")
    raw = raw.partition("#")[0]
    if re.search(r"%(?![0-9A-Fa-f]{2})", raw):
        raise Refusal("400 Bad Request", "a % in the path is not followed by two hex digits: write % as %25")
    try:
        path = urllib.parse.unquote_to_bytes(raw).decode("utf-8")
    except UnicodeDecodeError:
        raise Refusal("400 Bad Request", "the path's %-escapes are not UTF-8: escape the name's UTF-8 bytes") from None
    if re.search("[\x00-\x1f\x7f]", path):
        raise Refusal("400 Bad Request", "the path holds %00 or another control character: remove it from the address")
    if "\\" in path:
        raise Refusal("400 Bad Request", "the path holds a backslash: separate folders with /")
    return path, query


def check_host(head):
    hosts = [v for n, v in head.fields if n == "host"]
    if len(hosts) > 1 or (head.version == "HTTP/1.1" and not hosts):
        raise Refusal("400 Bad Request", "an HTTP/1.1 request names its server in exactly one Host field")


def body_length(head):
    """Content-Length as plain ASCII digits; every field saying the same."""
    encodings = [v for n, v in head.fields if n == "transfer-encoding"]
    if encodings:
        if any("chunked" in v.lower() for v in encodings):
            raise Refusal("411 Length Required", "chunked request bodies are not taken here: "
                          "send the body with a Content-Length")
        raise Refusal("501 Not Implemented", f"Transfer-Encoding {', '.join(encodings)} is not taken here: "
                      "send the body as it is, with a Content-Length")
    lengths = [v for n, v in head.fields if n == "content-length"]
    for value in lengths:
        if not DIGITS.fullmatch(value):
            raise Refusal("400 Bad Request", f"Content-Length {printable(value.encode('latin-1'), 40)} is not a "
                          "number of bytes: send plain digits")
    # Python refuses to read thousands of digits; any such length is too large.
    values = {int(v) if len(v.lstrip("0")) <= 30 else 10 ** 30 for v in lengths}
    if len(values) > 1:
        said = printable(", ".join(lengths).encode("latin-1"), 60)
        raise Refusal("400 Bad Request", f"the Content-Length fields disagree ({said}): send one")
    return values.pop() if values else 0


def keeps_alive(head):
    tokens = {t.strip().lower() for n, v in head.fields if n == "connection" for t in v.split(",")}
    return head.version == "HTTP/1.1" and "close" not in tokens


def printable(data, limit):
    """Bytes from a client as a short text fit for a terminal line."""
    text = "".join(chr(b) if 0x20 <= b < 0x7f else f"\\x{b:02x}" for b in data[:limit])
    return text + (f"...({len(data)} bytes)" if len(data) > limit else "")
