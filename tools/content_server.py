#!/usr/bin/env python3
"""Test and demo content server for the Kestrivon updater.

Serves a folder over HTTPS on a loopback address, with a certificate for the given host names
signed by a throw-away test CA (made with the openssl command on first use and kept in the
folder given by --ca-dir, which belongs under a build folder), and misbehaves on request so that clients can be tested against
slow, stalling, broken and oversized answers.

Fault modes come from the request's query string, or from the control file: a JSON object that
maps a path (without query) to an object of modes, optionally limited to the first N requests
of that path with "times": N. Modes in the query string win over the control file.

    status=N    answer with status N and a short text body
    nolength=1  send no Content-Length; the body ends when the connection closes
    rate=N      send the body at about N bytes per second
    stall=N     send N bytes of the body, then nothing (the connection stays open for
                hold=S seconds, 120 by default)
    drop=N      send N bytes of the body, then end the connection without a TLS close
    gzip=1      gzip-encode the body when the client accepts gzip (gzip=force: always)
    pad=N       append N bytes to the body (an oversized body)
    delay=MS    wait MS milliseconds before answering
    redirect=L  answer 302 with Location L (redirect_status=N for another status)
    etag=T      name the body by the ETag "T" instead of one made from its size and time
    range=M     misanswer a request for a range: ignore (the whole body with 200), badstart
                (206 whose Content-Range starts one byte late), 416 (refuse the range), always
                (206 also to a request without a Range header)

Bodies carry an ETag and a Last-Modified date; a request with "Range: bytes=N-" gets status
206 with the rest of the body, unless its If-Range names another validator (then 200 and the
whole body). Other range forms are ignored.

The path /generate/N (optionally followed by a name, /generate/N/name.zip) serves N bytes of a
fixed pattern, byte i being i mod 251, without any file.

Every request is appended to the request log as one JSON line with its method, path, user
agent, Accept-Encoding, TLS version, answered status and arrival time (seconds since the
epoch), before the answer is sent.

The server stops by itself after --time-limit seconds, on SIGTERM or SIGINT, or through
--stop. With --daemon the command returns once the server listens; its port, process id and
file locations are in the JSON state file (--state-file).
"""

import argparse
import contextlib
import fcntl
import gzip
import http.server
import ipaddress
import json
import os
import posixpath
import shutil
import signal
import socket
import socketserver
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

CHUNK = 1024 * 1024
PATTERN_PERIOD = 251
# Long enough to slice any chunk at any phase of the pattern.
PATTERN = bytes(i % PATTERN_PERIOD for i in range(PATTERN_PERIOD * (CHUNK // PATTERN_PERIOD + 2)))

stop_event = threading.Event()


def log(message):
    print(f"{time.strftime('%H:%M:%S')} {message}", flush=True)


# --- certificates ------------------------------------------------------------------------


def openssl(*args):
    result = subprocess.run(["openssl", *args], capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError(f"openssl {args[0]} failed: {result.stderr.strip()}")


def ensure_ca(ca_dir):
    """Creates the test CA once; later calls (also from parallel runs) reuse it."""
    os.makedirs(ca_dir, exist_ok=True)
    with open(os.path.join(ca_dir, ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        key, pem, der = (os.path.join(ca_dir, name) for name in ("ca.key", "ca.pem", "ca.der"))
        if not all(os.path.exists(path) for path in (key, pem, der)):
            openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", pem,
                    "-days", "3650", "-subj", "/CN=Kestrivon Test CA (throw-away)",
                    "-addext", "basicConstraints=critical,CA:TRUE",
                    "-addext", "keyUsage=critical,keyCertSign,cRLSign")
            openssl("x509", "-in", pem, "-outform", "DER", "-out", der)
    return key, pem, der


def alt_names(names):
    entries = []
    for name in names:
        try:
            ipaddress.ip_address(name)
            entries.append(f"IP:{name}")
        except ValueError:
            entries.append(f"DNS:{name}")
    return ",".join(entries)


def make_server_cert(work_dir, names, ca_key=None, ca_pem=None, stem="server"):
    """A leaf certificate for `names`, signed by the CA, or self-signed when no CA is given."""
    key = os.path.join(work_dir, f"{stem}.key")
    cert = os.path.join(work_dir, f"{stem}.pem")
    ext = os.path.join(work_dir, f"{stem}.ext")
    with open(ext, "w") as out:
        out.write("basicConstraints=critical,CA:FALSE\n"
                  "keyUsage=critical,digitalSignature,keyEncipherment\n"
                  "extendedKeyUsage=serverAuth\n"
                  f"subjectAltName={alt_names(names)}\n")
    subject = f"/CN={names[0]}"
    serial = "0x" + os.urandom(8).hex()
    if ca_key:
        csr = os.path.join(work_dir, f"{stem}.csr")
        openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr,
                "-subj", subject)
        openssl("x509", "-req", "-in", csr, "-CA", ca_pem, "-CAkey", ca_key, "-set_serial",
                serial, "-days", "30", "-sha256", "-extfile", ext, "-out", cert)
    else:
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                "-days", "30", "-subj", subject, "-set_serial", serial, "-extensions", "v3_leaf",
                "-config", write_self_signed_config(work_dir, ext))
    return key, cert


def write_self_signed_config(work_dir, ext):
    config = os.path.join(work_dir, "self-signed.cnf")
    with open(ext) as source, open(config, "w") as out:
        out.write("[req]\ndistinguished_name=dn\n[dn]\n[v3_leaf]\n")
        out.write(source.read())
    return config


def tls_context(key, cert):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(cert, key)
    return context


# --- fault modes -------------------------------------------------------------------------

MODE_NAMES = ("status", "nolength", "rate", "stall", "drop", "gzip", "pad", "delay", "hold",
              "redirect", "redirect_status", "etag", "range")


class Control:
    """The control file, re-read whenever it changes, and the per-path use counters."""

    def __init__(self, path):
        self.path = path
        self.lock = threading.Lock()
        self.stamp = None
        self.rules = {}
        self.used = {}

    def modes_for(self, path):
        if not self.path:
            return {}
        with self.lock:
            try:
                stat = os.stat(self.path)
                stamp = (stat.st_mtime_ns, stat.st_size)
            except OSError:
                stamp = None
            if stamp != self.stamp:
                self.stamp = stamp
                self.used = {}
                try:
                    with open(self.path) as source:
                        rules = json.load(source) if stamp else {}
                    self.rules = rules if isinstance(rules, dict) else {}
                except (OSError, ValueError) as error:
                    log(f"control file ignored: {error}")
                    self.rules = {}
            rule = self.rules.get(path)
            if not isinstance(rule, dict):
                return {}
            times = rule.get("times")
            if isinstance(times, int):
                if self.used.get(path, 0) >= times:
                    return {}
                self.used[path] = self.used.get(path, 0) + 1
            return {name: str(value) for name, value in rule.items() if name in MODE_NAMES}


def wants_gzip(mode, accept_encoding):
    if mode == "force":
        return True
    if mode in ("", "0"):
        return False
    offered = [part.split(";")[0].strip().lower() for part in accept_encoding.split(",")]
    return "gzip" in offered


def int_mode(modes, name, default=None):
    try:
        return int(modes[name])
    except (KeyError, ValueError):
        return default


# --- bodies ------------------------------------------------------------------------------


class Body:
    """A response body read in chunks: a file, the generated pattern, or bytes in memory."""

    def __init__(self, length, read, etag="", modified=0.0):
        self.length = length
        self.read = read  # read(offset, count) -> bytes
        self.etag = etag or f'"{length:x}"'
        self.modified = modified or 1.0e9

    def tail(self, start):
        inner = self
        return Body(self.length - start, lambda offset, count: inner.read(start + offset, count),
                    self.etag, self.modified)

    @staticmethod
    def of_bytes(data):
        return Body(len(data), lambda offset, count: data[offset:offset + count])

    @staticmethod
    def of_pattern(length):
        def read(offset, count):
            start = offset % PATTERN_PERIOD
            return PATTERN[start:start + min(count, CHUNK, length - offset)]
        return Body(length, read)

    @staticmethod
    def of_file(file, length):
        def read(offset, count):
            file.seek(offset)
            return file.read(min(count, length - offset))
        modified = os.fstat(file.fileno()).st_mtime
        # The ETag nginx gives a static file, so that a transfer begun here goes on there.
        return Body(length, read, f'"{int(modified):x}-{length:x}"', modified)

    def padded(self, extra):
        inner = self

        def read(offset, count):
            if offset < inner.length:
                return inner.read(offset, min(count, inner.length - offset))
            return Body.of_pattern(extra).read(offset - inner.length,
                                               min(count, inner.length + extra - offset))
        return Body(self.length + extra, read)

    def whole(self):
        parts, offset = [], 0
        while offset < self.length:
            part = self.read(offset, CHUNK)
            if not part:
                break
            parts.append(part)
            offset += len(part)
        return b"".join(parts)


# --- the handler -------------------------------------------------------------------------


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "KestrivonContentServer/1.0"

    def log_message(self, format, *args):  # noqa: A002 (the base class's name)
        log(f"{self.server.name} {self.address_string()} {format % args}")

    def do_HEAD(self):
        self.answer(send_body=False)

    def do_GET(self):
        self.answer(send_body=True)

    def answer(self, send_body):
        url = urllib.parse.urlsplit(self.path)
        path = urllib.parse.unquote(url.path)
        modes = self.server.control.modes_for(path)
        modes.update({key: values[-1] for key, values in
                      urllib.parse.parse_qs(url.query, keep_blank_values=True).items()
                      if key in MODE_NAMES})

        status = int_mode(modes, "status", 200)
        if "redirect" in modes:
            self.record(path if not url.query else f"{path}?{url.query}", 302, False)
            self.send_response(int_mode(modes, "redirect_status", 302))
            self.send_header("Location", modes["redirect"])
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        opened = None
        if status == 200:
            body, opened = self.resolve(path)
            if body is None:
                status = 404
        content_range = None
        if status == 200:
            if "etag" in modes:
                body.etag = f'"{modes["etag"]}"'
            status, body, content_range = self.ranged(body, modes.get("range", ""))
        if status not in (200, 206):
            body = Body.of_bytes(f"status {status}\n".encode())
        gzipped = status == 200 and wants_gzip(modes.get("gzip", ""),
                                                self.headers.get("Accept-Encoding", ""))
        try:
            self.record(path if not url.query else f"{path}?{url.query}", status, gzipped)
            delay = int_mode(modes, "delay", 0)
            if delay > 0 and stop_event.wait(delay / 1000):
                return
            if status in (200, 206):
                body = self.shape(body, modes, gzipped)
            self.send_answer(status, body, modes, send_body, gzipped, content_range)
        finally:
            if opened:
                opened.close()

    def ranged(self, body, fault):
        """(status, body, Content-Range) for the request's Range and If-Range headers."""
        asked = self.headers.get("Range", "")
        start = None
        if asked.startswith("bytes=") and asked.endswith("-") and asked[6:-1].isdigit():
            start = int(asked[6:-1])
        condition = self.headers.get("If-Range")
        modified = self.date_time_string(int(body.modified))
        if condition is not None and condition not in (body.etag, modified):
            start = None
        if fault == "always" and start is None:
            start = 0
        if start is None or fault == "ignore":
            return 200, body, None
        if fault == "416" or start >= body.length:
            return 416, body, f"bytes */{body.length}"
        if fault == "badstart":
            start = min(start + 1, body.length - 1)
        return 206, body.tail(start), f"bytes {start}-{body.length - 1}/{body.length}"

    def resolve(self, path):
        parts = [part for part in path.split("/") if part]
        if len(parts) >= 2 and parts[0] == "generate" and parts[1].isdigit():
            return Body.of_pattern(int(parts[1])), None
        if any(part in (".", "..") or "\\" in part or "\0" in part for part in parts):
            return None, None
        local = os.path.join(self.server.root, *parts)
        if not os.path.isfile(local):
            return None, None
        try:
            file = open(local, "rb")
        except OSError:
            return None, None
        return Body.of_file(file, os.fstat(file.fileno()).st_size), file

    def shape(self, body, modes, gzipped):
        pad = int_mode(modes, "pad", 0)
        if pad > 0:
            body = body.padded(pad)
        if gzipped:
            body = Body.of_bytes(gzip.compress(body.whole()))
        return body

    def record(self, path, status, gzipped):
        entry = {
            "time": time.time(),
            "method": self.command,
            "path": path,
            "userAgent": self.headers.get("User-Agent", ""),
            "acceptEncoding": self.headers.get("Accept-Encoding", ""),
            "tls": self.connection.version() if hasattr(self.connection, "version") else "",
            "cipher": (self.connection.cipher() or ("",))[0]
            if hasattr(self.connection, "cipher") else "",
            "status": status,
            "gzip": gzipped,
            "range": self.headers.get("Range", ""),
            "ifRange": self.headers.get("If-Range", ""),
        }
        line = json.dumps(entry) + "\n"
        with self.server.request_log_lock, open(self.server.request_log, "a") as out:
            out.write(line)

    def send_answer(self, status, body, modes, send_body, gzipped, content_range=None):
        no_length = modes.get("nolength") not in (None, "", "0")
        stall = int_mode(modes, "stall")
        drop = int_mode(modes, "drop")

        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        if status in (200, 206) and not gzipped:
            self.send_header("ETag", body.etag)
            self.send_header("Last-Modified", self.date_time_string(int(body.modified)))
            self.send_header("Accept-Ranges", "bytes")
        if content_range:
            self.send_header("Content-Range", content_range)
        if gzipped:
            self.send_header("Content-Encoding", "gzip")
        if no_length or stall is not None or drop is not None:
            self.close_connection = True
        if no_length:
            self.send_header("Connection", "close")
        elif status not in (204, 304) and not 100 <= status < 200:
            self.send_header("Content-Length", str(body.length))
        self.end_headers()
        if not send_body or status in (204, 304) or 100 <= status < 200:
            return

        limit = body.length
        for cut in (stall, drop):
            if cut is not None:
                limit = min(limit, max(cut, 0))
        self.send_body(body, limit, int_mode(modes, "rate", 0))

        if stall is not None and stall < body.length:
            stop_event.wait(int_mode(modes, "hold", 120))
        elif drop is not None and drop < body.length:
            # The TCP connection ends without a TLS close: a broken, not a complete, body.
            with contextlib.suppress(OSError):
                self.connection.shutdown(socket.SHUT_RDWR)

    def send_body(self, body, limit, rate):
        offset = 0
        started = time.monotonic()
        piece = CHUNK if rate <= 0 else max(1, min(CHUNK, rate // 10))
        while offset < limit and not stop_event.is_set():
            data = body.read(offset, min(piece, limit - offset))
            if not data:
                break
            if rate > 0:
                due = started + offset / rate
                pause = due - time.monotonic()
                if pause > 0 and stop_event.wait(pause):
                    break
            self.connection.sendall(data)
            offset += len(data)
        self.wfile.flush()


class TlsServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, name, address, context, root, control, request_log, lock):
        self.name = name
        self.context = context
        self.root = root
        self.control = control
        self.request_log = request_log
        self.request_log_lock = lock
        super().__init__(address, Handler)

    def finish_request(self, request, client_address):
        # The handshake runs on the connection's own thread, so a silent client blocks no one.
        request.settimeout(30)
        try:
            secure = self.context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError) as error:
            log(f"{self.name} {client_address[0]} handshake failed: {error}")
            return
        secure.settimeout(None)
        try:
            self.RequestHandlerClass(secure, client_address, self)
        except (ConnectionError, ssl.SSLError, TimeoutError):
            pass
        finally:
            # Send a TLS close, so that a body delimited by the end of the connection is
            # complete, without waiting for the client's answer to it.
            with contextlib.suppress(OSError, ValueError):
                secure.setblocking(False)
                secure.unwrap()
            with contextlib.suppress(OSError):
                secure.close()


# --- process control ---------------------------------------------------------------------


def write_state(path, state):
    temporary = f"{path}.{os.getpid()}.tmp"
    with open(temporary, "w") as out:
        json.dump(state, out, indent=2)
    os.replace(temporary, path)


def read_state(path):
    try:
        with open(path) as source:
            return json.load(source)
    except (OSError, ValueError):
        return None


def is_our_server(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as source:
            return b"content_server.py" in source.read()
    except OSError:
        return False


def stop_server(state_file, quiet=False):
    state = read_state(state_file)
    pid = state.get("pid") if state else None
    if not isinstance(pid, int) or not is_our_server(pid):
        if not quiet:
            log("no running content server named in the state file")
        return 0
    os.kill(pid, signal.SIGTERM)
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline and is_our_server(pid):
        time.sleep(0.05)
    if is_our_server(pid):
        os.kill(pid, signal.SIGKILL)
    if not quiet:
        log(f"stopped content server {pid}")
    return 0


def check_loopback(host):
    if host == "localhost":
        return
    if not ipaddress.ip_address(host).is_loopback:
        raise SystemExit(f"refusing to listen on {host}: loopback addresses only")


def serve(args, ready=None):
    check_loopback(args.host)
    names = [name for name in args.names.split(",") if name]
    ca_key, ca_pem, ca_der = ensure_ca(args.ca_dir)
    work = tempfile.mkdtemp(prefix="kestrivon-content-server-")
    try:
        key, cert = make_server_cert(work, names, ca_key, ca_pem)
        untrusted_key, untrusted_cert = make_server_cert(work, names, stem="untrusted")
        os.makedirs(args.root, exist_ok=True)
        request_log = os.path.abspath(args.request_log or os.path.join(
            os.path.dirname(os.path.abspath(args.state_file or "x")), "requests.log"))
        open(request_log, "w").close()
        control = Control(os.path.abspath(args.control) if args.control else None)
        lock = threading.Lock()
        root = os.path.abspath(args.root)
        servers = [
            TlsServer("trusted", (args.host, args.port), tls_context(key, cert), root, control,
                      request_log, lock),
            TlsServer("untrusted", (args.host, 0), tls_context(untrusted_key, untrusted_cert),
                      root, control, request_log, lock),
        ]
    finally:
        shutil.rmtree(work, ignore_errors=True)

    state = {
        "pid": os.getpid(),
        "host": args.host,
        "port": servers[0].server_address[1],
        "untrustedPort": servers[1].server_address[1],
        "root": root,
        "caPem": ca_pem,
        "caDer": ca_der,
        "requestLog": request_log,
        "control": control.path or "",
        "names": names,
    }
    for server in servers:
        threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2},
                         daemon=True).start()
    if args.state_file:
        write_state(args.state_file, state)
    log(f"serving {root} on https://{args.host}:{state['port']}/ (untrusted certificate on "
        f"port {state['untrustedPort']}) for {args.time_limit} s")
    if ready:
        ready()

    signal.signal(signal.SIGTERM, lambda *_: stop_event.set())
    signal.signal(signal.SIGINT, lambda *_: stop_event.set())
    if not stop_event.wait(args.time_limit):
        log("time limit reached")
    stop_event.set()
    for server in servers:
        server.shutdown()
        server.server_close()
    if args.state_file and (read_state(args.state_file) or {}).get("pid") == os.getpid():
        with contextlib.suppress(OSError):
            os.remove(args.state_file)
    log("stopped")


def daemonize(args):
    """Starts the server in the background and returns once it listens (or failed)."""
    if args.state_file:
        stop_server(args.state_file, quiet=True)  # a leftover of an interrupted earlier run
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid:
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            message = pipe.read()
        if message.startswith("ready"):
            print(json.dumps(read_state(args.state_file)) if args.state_file else message)
            return 0
        print(f"content server failed to start: {message or 'no reason given'}",
              file=sys.stderr)
        return 1

    os.close(read_end)
    os.setsid()
    # The caller (CTest) waits for its output pipes to close: keep none of them.
    server_log = args.server_log or os.devnull
    with open(os.devnull) as null_in, open(server_log, "a") as out:
        os.dup2(null_in.fileno(), 0)
        os.dup2(out.fileno(), 1)
        os.dup2(out.fileno(), 2)
    pipe = os.fdopen(write_end, "w")

    def ready():
        pipe.write("ready")
        pipe.close()

    try:
        serve(args, ready)
    except BaseException as error:  # report any start failure to the waiting parent
        if not pipe.closed:
            pipe.write(str(error))
            pipe.close()
        log(f"failed: {error}")
        os._exit(1)
    os._exit(0)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--root", default=".", help="folder to serve")
    parser.add_argument("--host", default="127.0.0.1", help="loopback address to listen on")
    parser.add_argument("--port", type=int, default=0, help="port; 0 picks a free one")
    parser.add_argument("--names", default="127.0.0.1,localhost",
                        help="comma-separated host names and addresses for the certificate")
    parser.add_argument("--ca-dir",
                        help="where the throw-away test CA is kept (under a build folder); "
                             "needed to serve")
    parser.add_argument("--control", help="control file with fault modes per path")
    parser.add_argument("--request-log", help="JSON-lines request log (default: beside the "
                        "state file)")
    parser.add_argument("--state-file", help="JSON file receiving port, pid and file paths")
    parser.add_argument("--server-log", help="where a daemon writes its own messages")
    parser.add_argument("--time-limit", type=float, default=600, help="seconds until it stops")
    parser.add_argument("--daemon", action="store_true", help="run in the background")
    parser.add_argument("--stop", action="store_true",
                        help="stop the server named in --state-file")
    args = parser.parse_args()

    if args.stop:
        if not args.state_file:
            parser.error("--stop needs --state-file")
        return stop_server(args.state_file)
    if not args.ca_dir:
        parser.error("--ca-dir is needed to serve (a folder under the build folder)")
    args.ca_dir = os.path.abspath(args.ca_dir)
    for path in (args.state_file, args.server_log, args.request_log):
        if path:
            os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    if args.daemon:
        if not args.state_file:
            parser.error("--daemon needs --state-file")
        return daemonize(args)
    serve(args)
    return 0


if __name__ == "__main__":
    sys.exit(main())
