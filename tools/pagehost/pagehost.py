"""A client of `pagehost.exe --serve`: one Wine process that runs page after
page, fed request descriptions through a pipe (see page_host.cpp), replaced
by a fresh one now and then as a web server recycles its worker; and a pool
of such hosts, so that one slow request holds up only its own."""
import contextlib
import os
import queue
import subprocess
import threading
from collections import namedtuple

MACHINE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "machine")


def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine_loader(arch):
    """The Wine loader for a win32 or win64 prefix (scripts/machine): a 64-bit
    prefix names the 64-bit loader, which needs no 32-bit code."""
    return subprocess.run([MACHINE, "wine", arch], stdout=subprocess.PIPE, check=True,
                          text=True).stdout.strip()


def runs_32bit():
    return subprocess.run([MACHINE, "runs-32bit"]).returncode == 0


def machine_description():
    return subprocess.run([MACHINE, "describe"], stdout=subprocess.PIPE, text=True).stdout.strip()


class PageHostError(Exception):
    """The host process stopped or answered something unreadable."""


# Under Wine the script engine keeps whatever a page's For Each loop went
# over (an upload object with its body or its temporary files) until the
# process ends, so a long run needs fresh processes. 200 requests: a fresh
# process costs one Wine start, made while the host is idle, and the old one
# then takes at most 200 requests' leftovers with it. 512 MB: a page that
# loads whole bodies keeps each one, so a run of large uploads reaches this
# long before the count; a fresh host takes a few MB, and a 32-bit one
# still has room under its 2 GB for a large body held twice by Load.
DEFAULT_RECYCLE_REQUESTS = 200
DEFAULT_RECYCLE_MB = 512

# Why a host was replaced ("requests", "memory", "abandoned": its request
# was given up part way, or "ended": it had ended by itself between
# requests), after how many requests, its private bytes after
# the last one (None if it did not tell), and the process ids of the old
# host and of the new one.
Recycle = namedtuple("Recycle", "reason requests private_bytes old_pid new_pid")


def _discard(stream):
    try:
        while stream.read(1 << 16):
            pass
    except (OSError, ValueError):
        pass


def _end(proc):
    """Waits for a host whose input was closed to end; its exit status. An
    answer it still writes is read and dropped, so that it never waits on a
    full pipe."""
    reader = threading.Thread(target=_discard, args=(proc.stdout,), daemon=True)
    reader.start()
    try:
        return proc.wait(timeout=20)
    except subprocess.TimeoutExpired:
        proc.kill()
        return proc.wait()
    finally:
        reader.join(timeout=5)
        proc.stdout.close()


class Where(namedtuple("Where", "server_port https protocol remote_addr local_addr")):
    """Where a request came in, for the page's server variables: the
    server's port, whether over TLS, the request line's protocol, the
    client's address and the server's."""
    __slots__ = ()

    def __new__(cls, server_port=80, https=False, protocol="HTTP/1.1", remote_addr="127.0.0.1",
                local_addr="127.0.0.1"):
        return super().__new__(cls, server_port, https, protocol, remote_addr, local_addr)


class _BodyFailed(Exception):
    """The caller's body chunks raised (the client went away or stalled)."""


class PageHost:
    """recycle_requests: a fresh process after this many requests;
    recycle_mb: after a request that leaves the process with more private
    bytes than this many MiB (0: never, for either). on_recycle(Recycle) is
    called after each recycle. on_report(pid, line), when given, takes each
    line the host writes on stderr (stderr is then a pipe), except those of
    a host whose request was given up, which only say so."""

    def __init__(self, command, env, stderr=None, recycle_requests=DEFAULT_RECYCLE_REQUESTS,
                 recycle_mb=DEFAULT_RECYCLE_MB, on_recycle=None, on_report=None):
        if recycle_requests < 0 or recycle_mb < 0:
            raise ValueError("a recycle limit below 0")
        self.command, self.env, self.stderr = command, env, subprocess.PIPE if on_report else stderr
        self.recycle_requests, self.recycle_mb, self.on_recycle = recycle_requests, recycle_mb, on_recycle
        self.on_report = on_report
        self.abandoned = set()  # process ids of hosts whose request was given up
        self.proc = None
        self.served = 0  # requests the current process answered
        self.retired = []  # (process, thread ending it) of recycled hosts
        self.lock = threading.Lock()  # one request at a time

    @property
    def pid(self):
        return self.proc.pid if self.proc is not None else None

    def start(self):
        """Starts the process unless it runs; one that ended by itself (a
        crash, or Wine stopped under it) is replaced, and told as a
        recycle."""
        ended = self.proc if self.proc is not None and self.proc.poll() is not None else None
        if self.proc is not None and not ended:
            return
        requests = self.served
        # A session of its own: Ctrl-C reaches the server, which then ends
        # the host by ending its input.
        self.proc = subprocess.Popen(self.command + ["--serve"], env=self.env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=self.stderr, start_new_session=True)
        self.served = 0
        if self.on_report:
            threading.Thread(target=self._report, args=(self.proc,), daemon=True).start()
        if ended:
            for pipe in (ended.stdin, ended.stdout):
                try:
                    pipe.close()
                except OSError:
                    pass
            if self.on_recycle:
                self.on_recycle(Recycle("ended", requests, None, ended.pid, self.proc.pid))

    def _report(self, proc):
        with proc.stderr:
            for line in proc.stderr:
                if proc.pid not in self.abandoned:
                    self.on_report(proc.pid, line.decode("utf-8", "replace").rstrip())

    def close(self):
        """Ends the host by ending its input, and waits for recycled ones to
        end too; the host's exit status."""
        status = None
        if self.proc is not None:
            proc, self.proc = self.proc, None
            try:
                proc.stdin.close()
            except OSError:
                pass
            status = _end(proc)
        self.wait_retired()
        return status

    def wait_retired(self):
        """Waits until every recycled host has ended; their exit statuses,
        oldest first."""
        for _, thread in self.retired:
            thread.join()
        return [proc.returncode for proc, _ in self.retired]

    def _recycle_reason(self, headers):
        try:
            private = int(headers.get("private-bytes", ""))
        except ValueError:
            private = None
        if self.recycle_mb and private is not None and private > self.recycle_mb * (1 << 20):
            return "memory", private
        if self.recycle_requests and self.served >= self.recycle_requests:
            return "requests", private
        return None, private

    def _recycle(self, reason, private):
        """Ends the host in the background by closing its input, so that it
        runs its clean-up (its temporary files go), and starts the next one
        at once, so that Wine starts while nobody waits. A host in the middle
        of a page ("abandoned") sees its body end there: the page fails as on
        a client that went away and the host ends after answering."""
        old, requests = self.proc, self.served
        self.proc = None
        if reason == "abandoned":
            self.abandoned.add(old.pid)
        try:
            old.stdin.close()
        except OSError:
            pass
        thread = threading.Thread(target=_end, args=(old,), daemon=True)
        thread.start()
        self.retired.append((old, thread))
        self.start()
        if self.on_recycle:
            self.on_recycle(Recycle(reason, requests, private, old.pid, self.proc.pid))

    def request(self, page, uploads, method="GET", content_type="", query="", body=b"", length=None, root=None,
                headers=(), url=None, where=None):
        """Runs the page: (status line, {field: value}, body bytes), the
        headers the page added as [(name, value)] under "header". body is
        bytes or an iterable of chunks with length their total; root is the
        served folder (the page's own when None). headers are the client's
        [(name, value)], each value bytes or text of single bytes (as an HTTP
        server reads a head); url is the page's virtual path (its path below
        root when None); where is a Where (Where() when None). An error
        that the chunks raise (a client that went away or stalled) ends this
        host, whose page would wait for the rest, and starts a fresh one; the
        error then goes on to the caller. A failed host is restarted for the next request,
        and one due for recycling is replaced once it has answered."""
        with self.lock:
            self.start()
            proc = self.proc
            if length is None:
                length = len(body)
            if url is None:
                url = "/" + os.path.relpath(page, root or os.path.dirname(page)).replace(os.sep, "/")
            where = where or Where()
            fields = [("Page", wine_path(page)), ("Root", wine_path(root) if root else ""),
                      ("Uploads", wine_path(uploads)), ("Method", method), ("Content-Type", content_type),
                      ("Query", query), ("Url", url), ("Server-Port", str(where.server_port)),
                      ("Https", "on" if where.https else "off"), ("Protocol", where.protocol),
                      ("Remote-Addr", where.remote_addr), ("Local-Addr", where.local_addr),
                      ("Content-Length", str(length))]
            lines = [f"{n}: {v}".encode("utf-8") for n, v in fields]
            for name, value in headers:
                raw = value if isinstance(value, (bytes, bytearray)) else value.encode("latin-1")
                lines.append(b"Header: " + name.encode("ascii") + b": " + bytes(raw))
            for line in lines:
                if b"\n" in line or b"\r" in line:
                    raise ValueError(f"{line.partition(b':')[0].decode()} holds a line end")
            head = b"".join(line + b"\n" for line in lines) + b"\n"
            chunks = iter([body] if isinstance(body, (bytes, bytearray)) else body)
            try:
                proc.stdin.write(head)
                sent = 0
                while True:
                    try:
                        chunk = next(chunks, None)
                    except Exception as e:
                        raise _BodyFailed() from e
                    if chunk is None:
                        break
                    proc.stdin.write(chunk)
                    sent += len(chunk)
                if sent != length:
                    raise PageHostError(f"the body had {sent} bytes, not {length}")
                proc.stdin.flush()
                answer = self._answer(proc)
            except _BodyFailed as e:
                self._recycle("abandoned", None)
                raise e.__cause__ from None
            except (OSError, ValueError, PageHostError) as e:
                self.close()
                raise PageHostError(f"page host failed: {e}") from e
            self.served += 1
            reason, private = self._recycle_reason(answer[1])
            if reason:
                self._recycle(reason, private)
            return answer

    @staticmethod
    def _answer(proc):
        headers = {"header": []}
        while True:
            line = proc.stdout.readline()
            if not line:
                raise PageHostError(f"the host stopped (exit status {proc.poll()})")
            line = line.rstrip(b"\r\n").decode("utf-8", "replace")
            if not line:
                break
            name, _, value = line.partition(":")
            if name.strip().lower() == "header":
                header, _, header_value = value.partition(":")
                headers["header"].append((header.strip(), header_value.strip()))
            else:
                headers[name.strip().lower()] = value.strip()
        try:
            length = int(headers.get("content-length", ""))
        except ValueError:
            raise PageHostError(f"no length in the answer {headers}") from None
        body = proc.stdout.read(length)
        if len(body) != length:
            raise PageHostError("the answer ends early")
        return headers.get("status", ""), headers, body


class PoolBusy(Exception):
    """No page host came free in time."""


class PageHostPool:
    """count page hosts (PageHost's options each), each running one request
    at a time: a slow upload holds up only the host it runs in."""

    def __init__(self, count, command, env, **options):
        if count < 1:
            raise ValueError("a pool needs a host")
        self.hosts = [PageHost(command, env, **options) for _ in range(count)]
        # Last in, first out: the host that just answered, warm, takes the
        # next request, and the others only take the overflow.
        self.free = queue.LifoQueue()
        for host in self.hosts:
            self.free.put(host)

    def start(self):
        for host in self.hosts:
            host.start()

    @property
    def pids(self):
        return [host.pid for host in self.hosts]

    @contextlib.contextmanager
    def host(self, wait):
        """A free host for one request, waiting up to wait seconds for one
        (PoolBusy after that)."""
        try:
            host = self.free.get(timeout=wait)
        except queue.Empty:
            raise PoolBusy() from None
        try:
            yield host
        finally:
            self.free.put(host)

    def close(self):
        """Ends every host; their exit statuses."""
        return [host.close() for host in self.hosts]
