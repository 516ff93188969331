"""A client of `pagehost.exe --serve`: one Wine process that runs page after
page, fed request descriptions through a pipe (see page_host.cpp)."""
import os
import subprocess
import threading

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


class PageHost:
    def __init__(self, command, env, stderr=None):
        self.command, self.env, self.stderr = command, env, stderr
        self.proc = None
        self.lock = threading.Lock()  # one request at a time

    def start(self):
        if self.proc is None or self.proc.poll() is not None:
            # A session of its own: Ctrl-C reaches the server, which then
            # ends the host by ending its input.
            self.proc = subprocess.Popen(self.command + ["--serve"], env=self.env, stdin=subprocess.PIPE,
                                         stdout=subprocess.PIPE, stderr=self.stderr, start_new_session=True)

    def close(self):
        """Ends the host by ending its input; its exit status."""
        if self.proc is None:
            return None
        proc, self.proc = self.proc, None
        try:
            proc.stdin.close()
        except OSError:
            pass
        try:
            return proc.wait(timeout=20)
        except subprocess.TimeoutExpired:
            proc.kill()
            return proc.wait()
        finally:
            proc.stdout.close()

    def request(self, page, uploads, method="GET", content_type="", query="", body=b"", length=None):
        """Runs the page: (status line, {header: value}, body bytes). body is
        bytes or an iterable of chunks with length their total; a failed
        host is restarted for the next request."""
        with self.lock:
            self.start()
            proc = self.proc
            if length is None:
                length = len(body)
            fields = [("Page", wine_path(page)), ("Uploads", wine_path(uploads)), ("Method", method),
                      ("Content-Type", content_type), ("Query", query), ("Content-Length", str(length))]
            for name, value in fields:
                if "\n" in value or "\r" in value:
                    raise ValueError(f"{name} holds a line end")
            head = "".join(f"{n}: {v}\n" for n, v in fields) + "\n"
            try:
                proc.stdin.write(head.encode("utf-8"))
                sent = 0
                for chunk in ([body] if isinstance(body, (bytes, bytearray)) else body):
                    proc.stdin.write(chunk)
                    sent += len(chunk)
                if sent != length:
                    raise PageHostError(f"the body had {sent} bytes, not {length}")
                proc.stdin.flush()
                return self._answer(proc)
            except (OSError, ValueError, PageHostError) as e:
                self.close()
                raise PageHostError(f"page host failed: {e}") from e

    @staticmethod
    def _answer(proc):
        headers = {}
        while True:
            line = proc.stdout.readline()
            if not line:
                raise PageHostError(f"the host stopped (exit status {proc.poll()})")
            line = line.rstrip(b"\r\n").decode("utf-8", "replace")
            if not line:
                break
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
        try:
            length = int(headers.get("content-length", ""))
        except ValueError:
            raise PageHostError(f"no length in the answer {headers}") from None
        body = proc.stdout.read(length)
        if len(body) != length:
            raise PageHostError("the answer ends early")
        return headers.get("status", ""), headers, body
