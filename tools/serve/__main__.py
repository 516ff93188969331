"""Serves a folder of classic pages at http://127.0.0.1:PORT/ through page
hosts under Wine, with VARO.DLL built and registered in the build's prefix:
GET shows a page, POST runs it over the request as the browser sent it,
other files are served as they are. A page also takes HEAD, PATCH, DELETE
and OPTIONS (what a resumable upload's client sends), with the client's
headers as HTTP_* server variables and the body (but a GET's or a HEAD's)
as Request.BinaryRead reads it; its answer goes out with the status and
headers it set (a HEAD's and a 204's without a body); any other method is
405. A small pool of page host processes
(--hosts) runs the pages, so a page answers quickly once the hosts have
started and one slow upload holds up only its own host; a page request
waits up to --host-wait seconds for a free one. Each host is replaced by a
fresh one between requests after --recycle-requests requests or once its
private bytes pass --recycle-mb MiB (0: never), as a web server recycles its
worker.

A client that sends nothing for --idle-timeout seconds in the middle of a
request, whose request head has not come whole within that time, or whose
body comes slower than --min-bytes-per-second once its first
--min-rate-grace seconds have passed, gets 408 (its page host, if it had
one, is ended and replaced); a page host is taken only once a request's head
is read. A body declared larger than --max-body bytes is refused with 413
before any of it is read. Past --max-connections connections at once, a new
one gets 503 and is closed. A path with a part whose name begins with a dot
(/.env, /sub/.git/config) is 404, and a CR in a request's head that does not
end a line is 400. --throttle slows every request body to that many bytes a second
as the page host reads it, so that an upload's progress (samples/
upload-progress.asp) can be watched locally. Every request is one line on stderr: time, client, method, path,
status, bytes sent, milliseconds.

usage: scripts/serve [--port N] [--root DIR] [--uploads DIR] [--32|--64]
                     [--hosts N] [--host-wait S] [--idle-timeout S]
                     [--min-bytes-per-second N] [--min-rate-grace S]
                     [--max-connections N]
                     [--max-body BYTES] [--throttle BYTES_PER_SECOND]
                     [--recycle-requests N] [--recycle-mb M]
                     [--no-build]

The i686 build serves by default; on a machine that cannot run 32-bit
programs (scripts/machine) the x64 build does, and --32 stops at once.

The pages' "uploads" folder (Server.MapPath("uploads")) is DIR of --uploads,
build/<preset>/serve-uploads by default. Port 0 takes a free port. Ctrl-C or
SIGTERM stops it."""
import argparse
import os
import signal
import socketserver
import subprocess
import sys
import threading
import time

from ..pagehost import pagehost
from .connection import Connection, turn_away

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# Above every sample's own limit (upload-large.asp takes 2 GiB and 1 MiB), so
# that the pages refuse with their own messages up to there.
DEFAULT_MAX_BODY = (2 << 30) + (2 << 20)
# As a web server's least transfer rate: a modem's pace still passes.
DEFAULT_MIN_RATE = 240
# The time a body is given before its rate counts: a client's first bytes
# may wait on its own disk or on a slow start.
DEFAULT_MIN_RATE_GRACE = 10
# A thread each: far more than a browser or two open, few enough for the
# threads to stay cheap.
DEFAULT_MAX_CONNECTIONS = 64


def build(preset, arch, wine, compile_it, own_prefix=None):
    """Builds VARO.DLL and the page host when needed and registers the DLL
    in the build's prefix, or in own_prefix (compile_it False: as they are,
    the build's prefix already holding the DLL); the environment and host
    command to use."""
    build_dir = os.path.join(SOURCE, "build", preset)
    quiet = dict(stdout=subprocess.DEVNULL)
    prefix = own_prefix or os.path.join(build_dir, "wine-prefix")
    env = dict(os.environ, WINEARCH=arch, WINEDEBUG="-all", WINEPREFIX=prefix,
               LC_ALL=os.environ.get("VARO_SERVE_LOCALE", "ja_JP.UTF-8"))
    command = [wine, os.path.join(build_dir, "tools", "pagehost", "pagehost.exe")]
    if not compile_it and not own_prefix:
        return env, command, build_dir
    if compile_it:
        if not os.path.exists(os.path.join(build_dir, "build.ninja")):
            subprocess.run(["cmake", "--preset", preset], cwd=SOURCE, check=True, **quiet)
        subprocess.run(["cmake", "--build", "--preset", preset, "-j2", "--target", "VARO", "pagehost"], cwd=SOURCE,
                       check=True, **quiet)
    # Progress goes to stderr: stdout's first line is the address. The
    # prefix's server is left to end by itself, never stopped, as other
    # programs may be using the prefix.
    subprocess.run([os.path.join(SOURCE, "scripts", "wine-prefix"), build_dir, "ensure"], check=True,
                   stdout=sys.stderr, env=dict(os.environ, VARO_WINE_PREFIX=prefix))
    folder = "C:\\windows\\system32\\" if arch == "win64" else ""
    dll = pagehost.wine_path(os.path.join(build_dir, "VARO.DLL"))
    subprocess.run([wine, folder + "regsvr32.exe", "/s", dll], env=env, check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    return env, command, build_dir


def log(text):
    sys.stderr.write("%s %s\n" % (time.strftime("%H:%M:%S"), text))
    sys.stderr.flush()


def tell_recycle(recycle):
    if recycle.reason == "abandoned":
        log(f"page host ended in the middle of a page, its request given up "
            f"(process {recycle.old_pid} ends, {recycle.new_pid} takes the next request)")
        return
    if recycle.reason == "ended":
        log(f"page host process {recycle.old_pid} had ended by itself after {recycle.requests} requests; "
            f"{recycle.new_pid} takes the next request")
        return
    if recycle.reason == "memory":
        why = f"its private bytes reached {recycle.private_bytes / (1 << 20):.0f} MiB"
    else:
        why = "its request count was reached"
    log(f"page host recycled after {recycle.requests} requests: {why} "
        f"(process {recycle.old_pid} ends, {recycle.new_pid} takes the next request)")


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, address, handler, max_connections):
        super().__init__(address, handler)
        self.max_connections = max_connections
        self.counts = threading.Lock()
        self.open = 0  # connections being served
        self.turning_away = 0  # connections being answered 503

    def process_request(self, request, client_address):
        # Each connection is a thread of its own: past the cap a newcomer is
        # answered 503 instead, in a short thread while there are not as
        # many of those again, and closed at once beyond that.
        with self.counts:
            admitted = self.open < self.max_connections
            answered = not admitted and self.turning_away < self.max_connections
            self.open += admitted
            self.turning_away += answered
        if admitted:
            try:
                super().process_request(request, client_address)
            except BaseException:
                self.release()
                raise
        elif answered:
            client = f"{client_address[0]}:{client_address[1]}"
            try:
                threading.Thread(target=self.turn_away, args=(request, client), daemon=True).start()
            except RuntimeError:
                with self.counts:
                    self.turning_away -= 1
                self.shutdown_request(request)
        else:
            self.shutdown_request(request)

    def turn_away(self, request, client):
        try:
            turn_away(request, client, f"the server has {self.max_connections} connections open, as many as it "
                      "takes (--max-connections): try again in a moment", self.log)
        finally:
            with self.counts:
                self.turning_away -= 1

    def process_request_thread(self, request, client_address):
        try:
            super().process_request_thread(request, client_address)
        finally:
            self.release()

    def release(self):
        with self.counts:
            self.open -= 1

    def handle_error(self, request, client_address):
        # A fault of the server's own, on one connection: one line, and the
        # server goes on.
        error = sys.exc_info()[1]
        where, tb = "", error.__traceback__
        while tb is not None:
            where = f" ({os.path.basename(tb.tb_frame.f_code.co_filename)}, line {tb.tb_lineno})"
            tb = tb.tb_next
        log(f"{client_address[0]}:{client_address[1]} internal error {type(error).__name__}: {error}{where}")


def positive(kind):
    def parse(text):
        value = kind(text)
        if value <= 0:
            raise argparse.ArgumentTypeError(f"{text} is not above 0")
        return value
    return parse


def main():
    parser = argparse.ArgumentParser(prog="scripts/serve", description="Serves classic pages through page hosts with VARO.")
    parser.add_argument("--port", type=int, default=8080)
    parser.add_argument("--root", default=os.path.join(SOURCE, "samples"))
    parser.add_argument("--uploads")
    bits = parser.add_mutually_exclusive_group()
    bits.add_argument("--64", dest="bits", action="store_const", const=64, help="the x64 DLL and page host")
    bits.add_argument("--32", dest="bits", action="store_const", const=32, help="the i686 DLL and page host")
    parser.add_argument("--hosts", type=positive(int), default=3, metavar="N",
                        help="page host processes running pages side by side (default %(default)s)")
    parser.add_argument("--host-wait", type=positive(float), default=30, metavar="S",
                        help="how long a page request waits for a free page host before 503 (default %(default)s)")
    parser.add_argument("--idle-timeout", type=positive(float), default=30, metavar="S",
                        help="408 for a client that sends nothing for S seconds in a request (default %(default)s)")
    parser.add_argument("--min-bytes-per-second", dest="min_rate", type=int, default=DEFAULT_MIN_RATE, metavar="N",
                        help="408 for a body that comes slower, once its first --min-rate-grace seconds have "
                        "passed; 0 no least rate (default %(default)s)")
    parser.add_argument("--min-rate-grace", type=positive(float), default=DEFAULT_MIN_RATE_GRACE, metavar="S",
                        help="the seconds a body is given before --min-bytes-per-second counts (default %(default)s)")
    parser.add_argument("--max-connections", type=positive(int), default=DEFAULT_MAX_CONNECTIONS, metavar="N",
                        help="connections served at once; past them 503 (default %(default)s)")
    parser.add_argument("--max-body", type=positive(int), default=DEFAULT_MAX_BODY, metavar="BYTES",
                        help="413, before reading it, for a body declared larger (default %(default)s)")
    parser.add_argument("--throttle", type=int, default=0, metavar="BYTES_PER_SECOND",
                        help="take request bodies no faster than this, 0 as fast as they come (default %(default)s)")
    parser.add_argument("--recycle-requests", type=int, default=pagehost.DEFAULT_RECYCLE_REQUESTS, metavar="N",
                        help="a fresh page host after N requests, 0 never (default %(default)s)")
    parser.add_argument("--recycle-mb", type=int, default=pagehost.DEFAULT_RECYCLE_MB, metavar="M",
                        help="a fresh page host once its private bytes pass M MiB, 0 never (default %(default)s)")
    parser.add_argument("--no-build", dest="compile", action="store_false",
                        help="serve the build as it is, VARO already registered (for tests run by the build)")
    parser.add_argument("--wine-prefix", metavar="DIR",
                        help="run the page hosts in this Wine prefix, made and VARO registered in it when needed, "
                        "instead of the build's: a second server on one machine, as another server of a farm")
    args = parser.parse_args()
    if args.throttle < 0:
        parser.error("--throttle is 0 (none) or a number of bytes a second")
    if args.min_rate < 0:
        parser.error("--min-bytes-per-second is 0 (none) or a number of bytes a second")
    if args.recycle_requests < 0 or args.recycle_mb < 0:
        parser.error("a recycle limit is 0 (never) or more")
    if args.bits is None:
        args.bits = 32 if pagehost.runs_32bit() else 64
        if args.bits == 64:
            print("this machine cannot run 32-bit programs: using the x64 build", flush=True)
    elif args.bits == 32 and not pagehost.runs_32bit():
        print(f"serve: --32 needs 32-bit Wine, and this machine "
              f"{pagehost.machine_description().removeprefix('machine: ')}.\n"
              "  Run scripts/serve without --32 (or with --64) for the x64 build.", file=sys.stderr)
        return 2
    preset, arch = ("windows64", "win64") if args.bits == 64 else ("windows", "win32")
    wine = pagehost.wine_loader(arch)
    root = os.path.realpath(args.root)
    if not os.path.isdir(root):
        parser.error(f"no folder {args.root}")
    try:
        env, command, build_dir = build(preset, arch, wine, args.compile,
                                        args.wine_prefix and os.path.abspath(args.wine_prefix))
    except subprocess.CalledProcessError as e:
        print(f"serve: {' '.join(e.cmd)} failed ({e.returncode})", file=sys.stderr)
        said = (e.stdout or b"").decode(errors="replace").strip()
        if said:
            print("\n".join("  " + line for line in said.splitlines()[-15:]), file=sys.stderr)
        return 1
    uploads = os.path.realpath(args.uploads or os.path.join(build_dir, "serve-uploads"))
    os.makedirs(uploads, exist_ok=True)

    def stop(signum, frame):
        raise KeyboardInterrupt
    signal.signal(signal.SIGTERM, stop)
    # Also when started with SIGINT ignored (as a background job of a script).
    signal.signal(signal.SIGINT, signal.default_int_handler)
    try:
        server = Server(("127.0.0.1", args.port), Connection, args.max_connections)
    except OSError as e:
        print(f"serve: cannot listen on 127.0.0.1:{args.port}: {e}", file=sys.stderr)
        return 1
    server.root, server.uploads, server.timings, server.log = root, uploads, [], log
    server.idle_timeout, server.max_body, server.host_wait = args.idle_timeout, args.max_body, args.host_wait
    server.throttle, server.min_rate, server.min_rate_grace = args.throttle, args.min_rate, args.min_rate_grace
    server.pool = pagehost.PageHostPool(
        args.hosts, command, env, recycle_requests=args.recycle_requests, recycle_mb=args.recycle_mb,
        on_recycle=tell_recycle, on_report=lambda pid, line: log(f"page host {pid}: {line}"))
    server.pool.start()  # Wine starts while nobody waits for it
    print(f"Serving {root} at http://127.0.0.1:{server.server_address[1]}/ (uploads in {uploads}); "
          "Ctrl-C stops", flush=True)
    log(f"{args.hosts} page hosts (processes {', '.join(map(str, server.pool.pids))}); idle timeout "
        f"{args.idle_timeout:g} s, "
        + (f"bodies at least {args.min_rate} bytes a second after {args.min_rate_grace:g} s, " if args.min_rate else "")
        + f"at most {args.max_connections} connections, largest body {args.max_body} bytes"
        + (f", bodies taken at {args.throttle} bytes a second" if args.throttle else ""))
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        # A second Ctrl-C or SIGTERM does not cut the hosts' ending short.
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        server.server_close()
        statuses = sorted({str(status) for status in server.pool.close()})
        times = sorted(server.timings)
        if times:
            print(f"serve: {len(times)} requests, median {times[len(times) // 2] * 1000:.0f} ms, "
                  f"slowest {times[-1] * 1000:.0f} ms", flush=True)
        print(f"serve: stopped (page host exit status {', '.join(statuses)})", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
