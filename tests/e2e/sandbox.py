"""The world an end-to-end run lives in: a private mount and network namespace (no interface
but loopback) in which the product's host names lead to a TLS origin on 127.0.0.1:443 (nginx,
or the fault-injecting content server), and a Wine prefix that trusts the run's throw-away CA.
"""

import json
import os
import signal
import socket
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import content_server  # noqa: E402  (certificates and the fault-injecting server)

CDN_HOST = "cdn.kestrivon.net"
VENDOR_HOSTS = ("github.com", "cdn.azul.com")
HOST_NAMES = (CDN_HOST, *VENDOR_HOSTS)
NAMESPACE_FLAG = "KESTRIVON_E2E_NAMESPACE"
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run")


class SandboxError(RuntimeError):
    pass


def enter_namespace(name, program):
    """Runs `program` again inside a new mount and network namespace; its exit code, or 1 with a
    message under `name` without root. None inside (the flag set)."""
    if os.environ.get(NAMESPACE_FLAG) == "1":
        return None
    if os.geteuid() != 0:
        print(f"{name}: end-to-end runs need root: they make a private network namespace "
              "(unshare -m -n) so that the real host names reach 127.0.0.1 only", file=sys.stderr)
        return 1
    env = dict(os.environ, **{NAMESPACE_FLAG: "1"})
    return subprocess.run(["unshare", "--mount", "--net", "--", sys.executable, program,
                           *sys.argv[1:]], env=env).returncode


def prepare_namespace(work_dir):
    """Inside the namespace: loopback up, and a private /etc/hosts mapping the hosts to it."""
    def must(*command):
        result = subprocess.run(command, capture_output=True, text=True)
        if result.returncode != 0:
            raise SandboxError(f"{' '.join(command)} failed: {result.stderr.strip()}")
    must("ip", "link", "set", "lo", "up")
    hosts = os.path.join(work_dir, "hosts")
    with open(hosts, "w") as out:
        out.write("127.0.0.1 localhost\n")
        out.write("".join(f"127.0.0.1 {name}\n" for name in HOST_NAMES))
    must("mount", "--bind", hosts, "/etc/hosts")
    links = subprocess.run(["ip", "-o", "link"], capture_output=True, text=True).stdout
    if any(not line.split(":")[1].strip().startswith("lo") for line in links.splitlines()):
        raise SandboxError("the namespace has an interface other than loopback")


class Certificates:
    """The run's throw-away CA and one leaf certificate for every product host name."""

    def __init__(self, work_dir):
        self.dir = os.path.join(work_dir, "tls")
        os.makedirs(self.dir, exist_ok=True)
        self.ca_key, self.ca_pem, self.ca_der = content_server.ensure_ca(
            os.path.join(self.dir, "ca"))
        self.key, self.cert = content_server.make_server_cert(
            self.dir, list(HOST_NAMES), self.ca_key, self.ca_pem)


class Server:
    def __enter__(self):
        return self

    def __exit__(self, *error):
        self.stop()


class Nginx(Server):
    """nginx serving a folder as a real origin would: HTTP/2, gzip for JSON, ranges. Like the
    fault server, it ends by itself after `time_limit` seconds if nobody stops it."""

    def __init__(self, work_dir, root, certificates, rate=None, time_limit=600):
        self.dir = os.path.join(work_dir, "nginx")
        os.makedirs(os.path.join(self.dir, "temp"), exist_ok=True)
        self.conf = os.path.join(self.dir, "nginx.conf")
        with open(self.conf, "w") as out:
            out.write(f"""daemon off;
pid {self.dir}/nginx.pid;
error_log {self.dir}/error.log warn;
events {{ worker_connections 64; }}
http {{
  types {{ application/json json; application/zip zip; }}
  default_type application/octet-stream;
  client_body_temp_path {self.dir}/temp;
  proxy_temp_path {self.dir}/temp;
  fastcgi_temp_path {self.dir}/temp;
  uwsgi_temp_path {self.dir}/temp;
  scgi_temp_path {self.dir}/temp;
  access_log {self.dir}/access.log;
  sendfile on;
  gzip on;
  gzip_types application/json;
  gzip_min_length 64;
  server {{
    listen 127.0.0.1:443 ssl http2;
    server_name {' '.join(HOST_NAMES)};
    ssl_certificate {certificates.cert};
    ssl_certificate_key {certificates.key};
    ssl_protocols TLSv1.2 TLSv1.3;
    root {root};
    {f"location ~ [.]zip$ {{ limit_rate {rate}; }}" if rate else ""}
  }}
}}
""")
        self.process = subprocess.Popen(["timeout", str(time_limit), "nginx", "-c", self.conf,
                                         "-p", self.dir],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 10
        while self.process.poll() is None:
            with socket.socket() as probe:
                if probe.connect_ex(("127.0.0.1", 443)) == 0:
                    return
            if time.monotonic() > deadline:
                self.stop()
                raise SandboxError("nginx does not listen on port 443")
            time.sleep(0.05)
        raise SandboxError(f"nginx ended at start: {self.process.stderr.read().decode().strip()}")

    def stop(self):
        stop_process(self.process)


class FaultServer(Server):
    """The content server of the tests on 127.0.0.1:443, with its fault modes."""

    def __init__(self, work_dir, root, certificates, faults=None):
        self.dir = os.path.join(work_dir, "content-server")
        os.makedirs(self.dir, exist_ok=True)
        self.state = os.path.join(self.dir, "state.json")
        self.control = os.path.join(self.dir, "control.json")
        with open(self.control, "w") as out:
            json.dump(faults or {}, out)
        self.request_log = os.path.join(self.dir, "requests.jsonl")
        command = [sys.executable, os.path.join(ROOT, "tools", "content_server.py"), "--daemon",
                   "--root", root, "--port", "443", "--names", ",".join(HOST_NAMES),
                   "--ca-dir", os.path.dirname(certificates.ca_key),
                   "--control", self.control, "--request-log", self.request_log,
                   "--state-file", self.state, "--server-log",
                   os.path.join(self.dir, "server.log"), "--time-limit", "600"]
        result = subprocess.run(command, capture_output=True, text=True)
        if result.returncode != 0:
            raise SandboxError(f"content server did not start: {result.stderr.strip()}")

    def requests(self):
        with open(self.request_log) as log:
            return [json.loads(line) for line in log]

    def stop(self):
        subprocess.run([sys.executable, os.path.join(ROOT, "tools", "content_server.py"),
                        "--stop", "--state-file", self.state], capture_output=True)


def stop_process(process, seconds=5):
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(seconds)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class WinePrefix:
    """The run's own Wine prefix, with the run's CA in the machine's ROOT store."""

    def __init__(self, work_dir, ca_tool, certificates):
        self.path = os.path.join(work_dir, "wineprefix")
        self.env = dict(os.environ, WINEPREFIX=self.path)
        code = self.run([ca_tool, self.windows_path(certificates.ca_der)], timeout=120).returncode
        if code != 0:
            raise SandboxError(f"can't add the test CA to the Wine prefix (exit {code})")

    def run(self, argv, timeout, **kwargs):
        return subprocess.run([WINE_RUN, "--prefix", self.path, *argv], timeout=timeout,
                              env=self.env, **kwargs)

    def start(self, argv, **kwargs):
        kwargs.setdefault("env", self.env)
        return subprocess.Popen([WINE_RUN, "--prefix", self.path, *argv], **kwargs)

    def set_install_path(self, path):
        self.set_install_value(self.windows_path(path))

    def set_install_value(self, value):
        # Wine's reg.exe now and then fails once right after a killed program's exit, while the
        # server tears the process down; the write is idempotent, so it is tried again.
        for attempt in range(3):
            result = self.run(["reg", "add", r"HKCU\Software\Kestrivon", "/v", "InstallPath",
                               "/d", value, "/f"], timeout=60,
                              capture_output=True, text=True)
            if result.returncode == 0:
                return
            time.sleep(1)
        raise SandboxError(f"can't set the install path (exit {result.returncode}): "
                           f"{result.stdout.strip()} {result.stderr.strip()}")

    @staticmethod
    def windows_path(path):
        return "Z:" + os.path.abspath(path).replace("/", "\\")

    def stop(self):
        subprocess.run(["/usr/lib/wine/wineserver", "-k"], env=self.env, capture_output=True)
