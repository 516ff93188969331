#!/usr/bin/env python3
"""A fault injector for tests: a TCP proxy in front of a local HTTP server
(scripts/serve) that cuts chosen requests' bodies short, as a client whose
connection drops in the middle of an upload does.

It forwards every connection to the upstream server as it is, reading the
client's requests (head and Content-Length body) one after another. A
request it cuts (see --request, --every and --method) has its head and the
first N bytes of its body forwarded; then the upstream connection is ended
(the server sees its client go away, and the page reads only those N
bytes), and once the server has closed its side the client's connection is
reset, so the client sees a dropped connection and no answer. A request
whose body is not longer than N passes whole (it still counts). Everything
else passes untouched, answers included.

Its first line on stdout is "listening on 127.0.0.1:PORT"; after that one
line for each request it cuts: "cut K: METHOD TARGET after N of LENGTH body
bytes". It runs until it is ended (SIGTERM or Ctrl-C).

usage: cutting_proxy.py --upstream HOST:PORT --cut-after N
                        [--method METHOD] [--request K ...] [--every] [--port P]

  --upstream   the server to forward to
  --cut-after  how many body bytes of a cut request reach the server
  --method     count and cut only requests with this method (PATCH, POST...)
  --request K  cut the K-th counted request, from 1 (may be given again; the
               first one by default)
  --every      cut every counted request
  --port       the port to listen on (0, the default: a free one)
"""
import argparse
import signal
import socket
import socketserver
import struct
import sys
import threading

MAX_HEAD = 65536
# How long a cut request waits for the server to notice and close its side.
SERVER_CLOSE_WAIT = 10


class Counter:
    """The requests counted so far, and which of them are cut."""

    def __init__(self, args):
        self.args, self.count, self.lock = args, 0, threading.Lock()

    def take(self, method):
        """The request's number if it is one to cut, else None."""
        if self.args.method and method != self.args.method:
            return None
        with self.lock:
            self.count += 1
            number = self.count
        return number if self.args.every or number in self.args.request else None


def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


def pump(source, target, cutting=None):
    """Copies source to target until source ends; then ends target's
    writing side, unless cutting (an Event) is set by then: a cut
    connection is reset instead."""
    try:
        while True:
            data = source.recv(1 << 16)
            if not data:
                break
            target.sendall(data)
    except OSError:
        pass
    if cutting is not None and cutting.is_set():
        return
    try:
        target.shutdown(socket.SHUT_WR)
    except OSError:
        pass


def read_head(client, buffered):
    """(head bytes, the bytes after it) or (None, what came) when the client
    ended before a whole head."""
    data = bytearray(buffered)
    while b"\r\n\r\n" not in data:
        if len(data) > MAX_HEAD:
            return None, bytes(data)
        chunk = client.recv(1 << 16)
        if not chunk:
            return None, bytes(data)
        data += chunk
    end = data.index(b"\r\n\r\n") + 4
    return bytes(data[:end]), bytes(data[end:])


def head_facts(head):
    """(method, target, body length or None when it cannot be told)."""
    lines = head.decode("latin-1").split("\r\n")
    words = lines[0].split(" ")
    method, target = (words[0], words[1]) if len(words) == 3 else ("-", "-")
    length = 0
    for line in lines[1:]:
        name, _, value = line.partition(":")
        name, value = name.strip().lower(), value.strip()
        if name == "transfer-encoding":
            return method, target, None
        if name == "content-length":
            if not value.isdigit():
                return method, target, None
            length = int(value)
    return method, target, length


class Proxy(socketserver.BaseRequestHandler):
    def handle(self):
        client = self.request
        try:
            upstream = socket.create_connection(self.server.upstream)
        except OSError as e:
            say(f"error: cannot reach the upstream server: {e}")
            return
        self.cutting = threading.Event()
        answers = threading.Thread(target=pump, args=(upstream, client, self.cutting), daemon=True)
        answers.start()
        try:
            self.forward_requests(client, upstream, answers)
        except OSError:
            pass
        finally:
            answers.join(timeout=SERVER_CLOSE_WAIT)
            upstream.close()

    def forward_requests(self, client, upstream, answers):
        rest = b""
        while True:
            head, rest = read_head(client, rest)
            if head is None:
                # The client ended (or sent no head this proxy reads):
                # what came goes on as it is.
                if rest:
                    upstream.sendall(rest)
                pump(client, upstream)
                return
            method, target, length = head_facts(head)
            if length is None:
                # A body whose end is not told by a length: the rest of the
                # connection passes as it is.
                upstream.sendall(head + rest)
                pump(client, upstream)
                return
            number = self.server.counter.take(method)
            cut = self.server.cut_after
            if number is not None and length > cut:
                sent = self.cut(client, upstream, answers, head, rest, cut)
                # Told before the client sees its connection drop.
                say(f"cut {number}: {method} {target} after {sent} of {length} body bytes")
                # A reset, not an orderly end: the client sees its
                # connection drop.
                client.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                client.close()
                return
            upstream.sendall(head)
            left = length
            while left:
                if not rest:
                    rest = client.recv(min(left, 1 << 16))
                    if not rest:
                        upstream.shutdown(socket.SHUT_WR)
                        return
                piece, rest = rest[:left], rest[left:]
                upstream.sendall(piece)
                left -= len(piece)

    def cut(self, client, upstream, answers, head, rest, cut):
        """The head and cut body bytes to the server (fewer if the client
        ends first), which is then told its client is gone; returns, with
        how many body bytes went, once the server has closed its side."""
        upstream.sendall(head)
        sent = 0
        while sent < cut:
            if not rest:
                rest = client.recv(1 << 16)
                if not rest:
                    break
            piece, rest = rest[:cut - sent], rest[cut - sent:]
            upstream.sendall(piece)
            sent += len(piece)
        self.cutting.set()
        upstream.shutdown(socket.SHUT_WR)
        answers.join(timeout=SERVER_CLOSE_WAIT)
        return sent


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def address(text):
    host, colon, port = text.rpartition(":")
    if not colon or not port.isdigit():
        raise argparse.ArgumentTypeError(f"{text} is not HOST:PORT")
    return host or "127.0.0.1", int(port)


def main():
    parser = argparse.ArgumentParser(description="Cuts request bodies short on their way to a local server.")
    parser.add_argument("--upstream", type=address, required=True, metavar="HOST:PORT")
    parser.add_argument("--cut-after", type=int, required=True, metavar="N")
    parser.add_argument("--method")
    parser.add_argument("--request", type=int, action="append", metavar="K")
    parser.add_argument("--every", action="store_true")
    parser.add_argument("--port", type=int, default=0)
    args = parser.parse_args()
    if args.cut_after < 0:
        parser.error("--cut-after is a number of bytes, 0 or more")
    if args.request and any(k < 1 for k in args.request):
        parser.error("--request counts from 1")
    args.request = set(args.request or [1])
    server = Server(("127.0.0.1", args.port), Proxy)
    server.upstream, server.cut_after, server.counter = args.upstream, args.cut_after, Counter(args)

    def stop(signum, frame):
        raise KeyboardInterrupt
    signal.signal(signal.SIGTERM, stop)
    say(f"listening on 127.0.0.1:{server.server_address[1]}")
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
