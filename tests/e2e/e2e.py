#!/usr/bin/env python3
"""End-to-end runs of the shipped KestrivonUpdater.exe under Wine against a real TLS origin
that answers to the product's real host names, inside a private network namespace.

Usage: e2e.py --windows-build DIR --native-build DIR --work DIR [--list] [SCENARIO ...]

Each scenario gets a fresh install folder and a time limit; windows are driven by the tests'
window driver (keys and clicks sent to the program's windows by class), so no X server is
needed. Prints one line per scenario and "N passed, N failed" at the end; exit code 0 only
when every scenario passed.
"""

import argparse
import hashlib
import json
import os
import random
import re
import shutil
import subprocess
import sys
import time
import traceback
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sandbox  # noqa: E402

MAIN_CLASS = "Kestrivon_Main_Frame"
PROMPT_CLASS = "Kestrivon_Update_Dialog"
LOG_NAME = os.path.join("logs", "Kestrivon_Updater.log")
RUN_RECORD = "launcher-run.jsonl"


class ScenarioFailed(AssertionError):
    pass


def check(condition, message):
    if not condition:
        raise ScenarioFailed(message)


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as source:
        for block in iter(lambda: source.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def tree(path):
    """Relative file paths and their SHA-256 under `path` (empty when it does not exist)."""
    found = {}
    for folder, _, files in os.walk(path):
        for name in files:
            full = os.path.join(folder, name)
            found[os.path.relpath(full, path)] = sha256(full)
    return found


class Tools:
    def __init__(self, windows_build, native_build):
        def find(root, name):
            for folder, _, files in os.walk(root):
                if name in files and "wineprefix" not in folder:
                    return os.path.join(folder, name)
            raise sandbox.SandboxError(f"{name} not found under {root}: build it first")
        self.updater = os.path.join(windows_build, "KestrivonUpdater.exe")
        if not os.path.isfile(self.updater):
            raise sandbox.SandboxError(f"{self.updater} is missing: build the windows preset")
        self.launcher = find(windows_build, "KestrivonLauncher.exe")
        self.driver = find(windows_build, "window_driver.exe")
        self.ca_tool = find(windows_build, "kestrivon_install_test_ca.exe")
        self.publish = find(native_build, "kestrivon-publish")


class World:
    """One run's namespace-wide state: certificates, Wine prefix, products to publish."""

    def __init__(self, tools, work):
        self.tools = tools
        self.work = work
        self.certificates = sandbox.Certificates(work)
        self.prefix = sandbox.WinePrefix(work, tools.ca_tool, self.certificates)
        self.products = os.path.join(work, "products")
        self.make_products()

    def make_products(self):
        launcher = os.path.join(self.products, "launcher")
        os.makedirs(os.path.join(launcher, "app"), exist_ok=True)
        shutil.copy(self.tools.launcher, os.path.join(launcher, "KestrivonLauncher.exe"))
        with open(os.path.join(launcher, "app", "launcher.jar"), "wb") as out:
            out.write(b"PK-sample-launcher-application" * 100)
        for version, filler in (("21.0.5", 3), ("21.0.6", 3)):
            self.make_runtime(version, filler)

    def make_runtime(self, version, filler_mb):
        runtime = os.path.join(self.products, f"jre-{version}", f"jdk-{version}-jre")
        os.makedirs(os.path.join(runtime, "bin"), exist_ok=True)
        os.makedirs(os.path.join(runtime, "lib"), exist_ok=True)
        shutil.copy(self.tools.launcher, os.path.join(runtime, "bin", "java.exe"))
        with open(os.path.join(runtime, "release"), "w") as out:
            out.write(f'JAVA_VERSION="{version}"\n')
        rng = random.Random(version)
        with open(os.path.join(runtime, "lib", "modules"), "wb") as out:
            out.write(rng.randbytes(filler_mb << 20))
        return os.path.dirname(runtime)

    def release_and_install(self, name, **publish):
        """Publishes release `name`; returns it with a new install folder of the same name."""
        return self.publish(name, **publish), os.path.join(self.work, "installs", name)

    def publish(self, name, launcher_version="2.0.0", jre_version="21.0.5", updater=None,
                updater_version="1.0.0", vendor=False, extra=()):
        """Publishes a release into its own folder; returns the folder."""
        out = os.path.join(self.work, "releases", name)
        shutil.rmtree(out, ignore_errors=True)
        command = [self.tools.publish, "build", "--output", out,
                   "--cdn-base", f"https://{sandbox.CDN_HOST}",
                   "--launcher", os.path.join(self.products, "launcher"),
                   "--launcher-version", launcher_version,
                   "--runtime", os.path.join(self.products, f"jre-{jre_version}"),
                   "--runtime-version", jre_version,
                   "--updater", updater or self.tools.updater,
                   "--updater-version", updater_version, *extra]
        if vendor:
            command += ["--runtime-vendor-url",
                        f"https://{sandbox.VENDOR_HOSTS[0]}/mirror/{{file}}"]
        result = subprocess.run(command, capture_output=True, text=True)
        check(result.returncode == 0, f"publishing failed: {result.stderr[-2000:]}")
        if vendor:
            # The mirror serves the same bytes under its own path (one origin answers for
            # every host name here).
            entry = manifest(out)["win"]["jre"]
            mirror = os.path.join(out, url_path(entry["vendorUrl"]))
            os.makedirs(os.path.dirname(mirror), exist_ok=True)
            shutil.copy(os.path.join(out, url_path(entry["url"])), mirror)
        return out


class Run:
    """One start of the updater installed in an install folder (copied there on first use, as
    an installation would have it: the self-replacement replaces the file that runs). A run
    lasts until the last updater it started has finished, so a self-update's new process is
    part of it; wait() gives that process's exit code, read from its final log line."""

    def __init__(self, world, install, args=(), env=None, updater=None, set_path=True):
        self.world = world
        self.install = install
        os.makedirs(install, exist_ok=True)
        self.exe = os.path.join(install, "KestrivonUpdater.exe")
        if updater or not os.path.exists(self.exe):
            shutil.copy(updater or world.tools.updater, self.exe)
        if set_path:
            world.prefix.set_install_path(install)
        self.log_start = len(self.log())
        self.process = world.prefix.start([self.exe, *args],
                                          stdout=subprocess.DEVNULL,
                                          stderr=subprocess.DEVNULL,
                                          env=dict(world.prefix.env, **(env or {})))

    def drive(self, window_class, action, timeout=60):
        """Waits for a window of `window_class`, then sends it `action` (find, enter, escape,
        close, gone, click:X,Y in DIPs). True when the window was found."""
        words = action.replace("click:", "click ").replace(",", " ").split()
        result = self.world.prefix.run([self.world.tools.driver, window_class,
                                        str(timeout * 1000), *words], timeout=timeout + 30,
                                       capture_output=True)
        return result.returncode == 0

    def answer(self, action, count, timeout=60):
        """Answers `count` update prompts one after the other (a fresh install asks twice: the
        updater's own package first, then the components in the restarted updater)."""
        for number in range(1, count + 1):
            check(self.drive(PROMPT_CLASS, action, timeout),
                  f"update prompt {number} of {count} did not appear\n{self.run_log()}")
            self.drive(PROMPT_CLASS, "gone", 15)

    def close_error_view(self, message, action="click:459,184", timeout=90):
        """Waits until the error view shows `message` (ShowError logs it), then closes it by
        `action` (the Close button by default)."""
        deadline = time.monotonic() + timeout
        while f"[ERROR] {message}" not in self.run_log():
            check(time.monotonic() < deadline and self.outcome() is None,
                  f"no error view with {message!r}\n{self.run_log()}")
            time.sleep(0.1)
        check(self.drive(MAIN_CLASS, action), "the main window is gone")

    def answer_if_asked(self, action, timeout=60):
        """Answers a prompt if one comes before the run ends; whether one came."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and self.outcome() is None:
            if self.drive(PROMPT_CLASS, action, 2):
                self.drive(PROMPT_CLASS, "gone", 15)
                return True
        return False

    def outcome(self):
        """The exit code once the run (with any restarted updater) has ended, else None."""
        first = self.process.poll()
        if first is None:
            return None
        text = self.run_log()
        starts = text.count("=== Kestrivon Updater v")
        if starts == 0:
            return first  # a second instance: nothing logged
        ends = list(re.finditer(r"=== Kestrivon Updater finished \(exit code (-?\d+)\) ===|"
                                r"=== Kestrivon Updater finished \(handed over|"
                                r"didn't stop within 2 s", text))
        # A self-update's new process may not have written its first line yet.
        if starts < 1 + text.count("New updater started; exiting.") or len(ends) < starts:
            return None
        last = ends[-1]
        if last.group(1) is not None:
            return int(last.group(1))
        return 0 if "handed over" in last.group(0) else 1

    def wait(self, timeout=120):
        deadline = time.monotonic() + timeout
        while (code := self.outcome()) is None:
            if time.monotonic() > deadline:
                self.world.prefix.stop()
                raise ScenarioFailed(f"the updater did not end within {timeout} s\n"
                                     f"{self.run_log()}")
            time.sleep(0.1)
        return code

    def log(self):
        try:
            with open(os.path.join(self.install, LOG_NAME), encoding="utf-8") as log:
                return log.read()
        except FileNotFoundError:
            return ""

    def run_log(self):
        """The log lines written since this run started."""
        return self.log()[self.log_start:]


def launcher_starts(install):
    try:
        with open(os.path.join(install, RUN_RECORD), encoding="utf-8") as record:
            return [json.loads(line) for line in record if line.strip()]
    except FileNotFoundError:
        return []


def wait_for_starts(install, count, timeout=20):
    """The launcher's start records once `count` are there (it runs on its own after the
    updater has ended), or what there is after `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while len(starts := launcher_starts(install)) < count and time.monotonic() < deadline:
        time.sleep(0.1)
    return starts


def versions(install):
    with open(os.path.join(install, "config", "versions.json"), encoding="utf-8") as record:
        return json.load(record)


def manifest(release):
    with open(os.path.join(release, "launcher", "launcher-manifest.json")) as text:
        return json.load(text)


def url_path(url):
    """The path of an https URL, without its leading slash."""
    return url.split("/", 3)[3]


def temp_is_empty(install):
    temp = os.path.join(install, "temp")
    return not os.path.isdir(temp) or not os.listdir(temp)


# --- scenarios --------------------------------------------------------------------------

SCENARIOS = {}


def scenario(function):
    SCENARIOS[function.__name__] = function
    return function


def serve_nginx(world, release):
    return sandbox.Nginx(world.work, release, world.certificates)


def serve_faults(world, release, faults=None):
    server = sandbox.FaultServer(world.work, release, world.certificates)
    server.set_faults(faults or {})
    return server


def fresh_install(world, name, server_kind="nginx", **publish):
    """Publishes, serves and installs a release into a new folder, accepting the prompt."""
    release, install = world.release_and_install(name, **publish)
    with serve_nginx(world, release) if server_kind == "nginx" else serve_faults(world, release):
        run = Run(world, install, args=["--profile", "e2e test", "kestrivon://open/a b"])
        run.answer("enter", 2)
        code = run.wait()
    return release, install, run, code


@scenario
def fresh_install_then_nothing_new(world):
    release, install, run, code = fresh_install(world, "fresh")
    log = run.log()
    check(code == 0, f"exit code {code}\n{log}")
    check(os.path.isfile(os.path.join(install, "KestrivonLauncher.exe")), "launcher missing")
    check(os.path.isfile(os.path.join(install, "runtime", "bin", "java.exe")), "runtime missing")
    entries = manifest(release)["win"]
    record = versions(install)
    check(record["launcher"]["sha256"] == entries["launcher"]["sha256"], f"record {record}")
    check(record["jre"]["version"] == "21.0.5", f"record {record}")
    check(temp_is_empty(install), "temp not emptied")
    starts = wait_for_starts(install, 1)
    check(len(starts) == 1, f"launcher started {len(starts)} times")
    start = starts[0]
    windows_install = sandbox.WinePrefix.windows_path(install)
    check(start["environment"] == {"SKIKO_RENDER_API": "OPENGL",
                                   "KESTRIVON_LAUNCHER_MODE": "normal",
                                   "KESTRIVON_HOME": windows_install},
          f"environment {start['environment']}")
    check(start["workingDirectory"].rstrip("\\").lower() == windows_install.lower(),
          f"working directory {start['workingDirectory']}")
    check(start["arguments"] == ["--profile", "e2e test", "kestrivon://open/a b"],
          f"arguments {start['arguments']}")
    for line in ("[INFO] === Kestrivon Updater v1.0.0 (Windows) ===",
                 f"[INFO] Install dir: {windows_install}",
                 '[INFO] Arguments: --profile "e2e test" "kestrivon://open/a b"',
                 "[INFO] === Kestrivon Updater finished (exit code 0) ==="):
        check(line in log, f"log lacks {line!r}\n{log}")

    # The same release again: nothing to ask, the launcher starts.
    with serve_nginx(world, release):
        again = Run(world, install)
        code = again.wait()
    check(code == 0, f"second run exit code {code}")
    check(len(wait_for_starts(install, 2)) == 2, "second run did not start the launcher")
    check("Arguments:" not in again.run_log(), "an arguments line without arguments")


@scenario
def new_runtime_replaces_the_old_one(world):
    release, install, _, code = fresh_install(world, "runtime-update")
    check(code == 0, f"first install exit code {code}")
    old = tree(os.path.join(install, "runtime"))
    newer = world.publish("runtime-update-2", jre_version="21.0.6")
    with serve_nginx(world, newer):
        run = Run(world, install)
        run.answer("enter", 1)
        code = run.wait()
    check(code == 0, f"exit code {code}\n{run.log()}")
    check(versions(install)["jre"]["version"] == "21.0.6", "record not updated")
    now = tree(os.path.join(install, "runtime"))
    check(now != old and now.get("release") != old.get("release"), "runtime files unchanged")
    check(temp_is_empty(install), "temp not emptied")


@scenario
def declined_prompt_changes_nothing(world):
    release, install = world.release_and_install("declined")
    with serve_faults(world, release):
        run = Run(world, install)
        run.answer("escape", 1)
        code = run.wait()
    check(code == 1, f"exit code {code}")
    check(not os.path.exists(os.path.join(install, "KestrivonLauncher.exe")), "installed anyway")
    check(not launcher_starts(install), "launcher started")


def corrupt_every_source(world, name):
    release = world.publish(name, jre_version="21.0.6", vendor=True)
    entry = manifest(release)["win"]["jre"]
    paths = [url_path(entry["url"]), url_path(entry["vendorUrl"])]
    with open(os.path.join(release, paths[0]), "rb") as source:
        data = bytearray(source.read())
    data[len(data) // 2] ^= 0xFF  # same size, another digest
    for path in paths:
        with open(os.path.join(release, path), "wb") as out:
            out.write(data)
    return release


@scenario
def corrupted_package_keeps_the_installed_copy(world):
    _, install, _, code = fresh_install(world, "corrupt")
    check(code == 0, "first install failed")
    before = tree(os.path.join(install, "runtime"))
    release = corrupt_every_source(world, "corrupt-2")
    with serve_faults(world, release):
        run = Run(world, install)
        run.answer("enter", 1)
        run.close_error_view("Failed to verify file integrity.")
        code = run.wait()
    check(code == 1, f"exit code {code}")
    check(tree(os.path.join(install, "runtime")) == before, "installed runtime changed")
    check(temp_is_empty(install), "temp not emptied")
    check("[ERROR] Failed to verify file integrity." in run.log(), run.log())


@scenario
def cdn_busy_twice_then_serving(world):
    release, install = world.release_and_install("busy")
    jre = url_path(manifest(release)["win"]["jre"]["url"])
    with serve_faults(world, release, {"/" + jre: {"status": 503, "times": 2}}) as server:
        run = Run(world, install)
        run.answer("enter", 2)
        code = run.wait()
        requests = [r for r in server.requests() if r.get("path", "").endswith(jre)]
    check(code == 0, f"exit code {code}\n{run.log()}")
    check([r.get("status") for r in requests] == [503, 503, 200], f"requests {requests}")
    gaps = [b["time"] - a["time"] for a, b in zip(requests, requests[1:])]
    check(0.9 <= gaps[0] and 2.9 <= gaps[1], f"retry spacing {gaps}")


@scenario
def vendor_mirror_fails_then_cdn_serves(world):
    release, install = world.release_and_install("vendor", vendor=True)
    vendor = url_path(manifest(release)["win"]["jre"]["vendorUrl"])
    with serve_faults(world, release, {"/" + vendor: {"status": 500}}):
        run = Run(world, install)
        run.answer("enter", 2)
        code = run.wait()
    check(code == 0, f"exit code {code}\n{run.log()}")
    check(os.path.isfile(os.path.join(install, "runtime", "bin", "java.exe")), "no runtime")


@scenario
def manifest_unavailable(world):
    # Without an installed launcher: the error view, exit 1 once the user closes it.
    release, install = world.release_and_install("no-manifest")
    with serve_faults(world, release, {"/launcher/launcher-manifest.json": {"status": 404}}):
        run = Run(world, install)
        run.close_error_view("Failed to check for updates", "enter")
        code = run.wait()
    check(code == 1, f"exit code {code}")
    check("Failed to check for updates" in run.log(), run.log())
    # With an installed launcher: it is started unchanged.
    _, installed, _, first = fresh_install(world, "no-manifest-installed")
    check(first == 0, "first install failed")
    with serve_faults(world, release, {"/launcher/launcher-manifest.json": {"status": 404}}):
        code = Run(world, installed).wait(timeout=90)
    check(code == 0, f"exit code {code}")
    check(len(wait_for_starts(installed, 2)) == 2, "installed launcher not started")


@scenario
def untrusted_certificate_is_refused(world):
    release, install = world.release_and_install("untrusted")
    stranger = sandbox.Certificates(os.path.join(world.work, "stranger"))
    with sandbox.Nginx(world.work, release, stranger):
        run = Run(world, install)
        run.close_error_view("Failed to check for updates", "escape")
        code = run.wait()
    check(code == 1, f"exit code {code}")
    check(not os.path.exists(os.path.join(install, "KestrivonLauncher.exe")), "installed")


@scenario
def self_update_replaces_the_running_updater(world):
    _, install, _, code = fresh_install(world, "self-update")
    check(code == 0, "first install failed")
    changed = os.path.join(world.work, "KestrivonUpdater-1.0.1.exe")
    shutil.copy(world.tools.updater, changed)
    with open(changed, "ab") as out:
        out.write(b"\0another build 1.0.1")  # bytes past the image: still the same program
    release = world.publish("self-update-2", updater=changed, updater_version="1.0.1")
    starts = len(launcher_starts(install))
    with serve_nginx(world, release):
        run = Run(world, install)
        run.answer("enter", 1)
        code = run.wait()
        check(code == 0, f"exit code {code}\n{run.run_log()}")
        log = run.run_log()
        check("New updater started; exiting." in log and log.count("Kestrivon Updater v1.0.0") == 2,
              f"the new updater did not run the rest\n{log}")
        check(sha256(os.path.join(install, "KestrivonUpdater.exe")) == sha256(changed),
              "the updater file was not replaced")
        check(len(wait_for_starts(install, starts + 1)) == starts + 1, "launcher not started")
        again = Run(world, install)
        check(again.wait() == 0, f"next start failed\n{again.run_log()}")
    check(not os.path.exists(os.path.join(install, "KestrivonUpdater.exe.backup")),
          "the backup outlived the next start")


def package_requests(server):
    return [r for r in server.requests() if "/packages/" in r.get("path", "")]


@scenario
def running_launcher_blocks_the_run(world):
    release, install = world.release_and_install("launcher-running")
    os.makedirs(install)
    # A launcher window is up (no app-link endpoint, so the handoff is not taken).
    window = world.prefix.start([world.tools.launcher], cwd=install,
                                env=dict(world.prefix.env, KESTRIVON_SAMPLE_WINDOW_MS="60000"))
    with serve_faults(world, release) as server:
        found = world.prefix.run([world.tools.driver, "Kestrivon_Sample_Launcher", "60000",
                                  "find"], timeout=90, capture_output=True)
        check(found.returncode == 0, "no launcher window")
        run = Run(world, install)
        run.close_error_view("Kestrivon Launcher is already running.", "enter")
        code = run.wait()
        requests = server.requests()
        world.prefix.stop()
        window.wait()
    check(code == 1, f"exit code {code}\n{run.run_log()}")
    check(not requests, f"the blocked run used the network: {requests}")


@scenario
def install_path_outside_the_code_page(world):
    release = world.publish("code-page")
    install = os.path.join(world.work, "installs", "\u6e38\u620f Kestrivon")
    world.prefix.run(["reg", "add", r"HKLM\SYSTEM\CurrentControlSet\Control\Nls\CodePage",
                      "/v", "ACP", "/d", "1252", "/f"], timeout=60, capture_output=True,
                     check=True)
    with serve_faults(world, release) as server:
        run = Run(world, install)
        run.close_error_view("The install path contains characters Java can't handle")
        code = run.wait()
        requests = server.requests()
    check(code == 1, f"exit code {code}")
    check("[ERROR] Install dir is not representable in the system ANSI code page 1252"
          in run.run_log(), run.run_log())
    check(not requests, f"requests before the refusal: {requests}")


@scenario
def second_instance_while_prompting(world):
    release, install = world.release_and_install("second")
    with serve_faults(world, release):
        first = Run(world, install)
        check(first.drive(PROMPT_CLASS, "find"), "no prompt")
        size = os.path.getsize(os.path.join(install, LOG_NAME))
        second = Run(world, install)
        check(second.wait(60) == 0, "second instance did not exit 0")
        check(os.path.getsize(os.path.join(install, LOG_NAME)) == size, "second instance logged")
        check(first.drive(PROMPT_CLASS, "escape"), "prompt gone")
        check(first.wait() == 1, "first instance exit code")


@scenario
def zip_slip_runtime_is_refused(world):
    release, install = world.release_and_install("slip")
    document = manifest(release)
    entry = document["win"]["jre"]
    package = os.path.join(release, url_path(entry["url"]))
    with zipfile.ZipFile(package, "w") as archive:
        archive.writestr("jdk/bin/java.exe", b"MZ")
        archive.writestr("../../escaped.txt", b"outside")
        archive.writestr("jdk/../../../escaped-too.txt", b"outside")
    entry["size"] = os.path.getsize(package)
    entry["sha256"] = sha256(package)
    with open(os.path.join(release, "launcher", "launcher-manifest.json"), "w") as out:
        json.dump(document, out)
    before = set(os.listdir(world.work))
    with serve_faults(world, release):
        run = Run(world, install)
        run.answer("enter", 2)
        run.close_error_view("Failed to extract files.", "close")
        code = run.wait()
    check(code == 1, f"exit code {code}")
    check(set(os.listdir(world.work)) == before, "something was written beside the install")
    escaped = [p for p in tree(os.path.dirname(install)) if "escaped" in p]
    check(not escaped, f"written outside: {escaped}")


@scenario
def cancel_during_a_slow_download(world):
    _, install, _, code = fresh_install(world, "cancel")
    check(code == 0, "first install failed")
    before = tree(os.path.join(install, "runtime"))
    release = world.publish("cancel-2", jre_version="21.0.6")
    jre = url_path(manifest(release)["win"]["jre"]["url"])
    with serve_faults(world, release, {"/" + jre: {"rate": 200_000}}):
        run = Run(world, install)
        run.answer("enter", 1)
        time.sleep(3)
        check(run.drive(MAIN_CLASS, "click:459,184"), "no main window")
        code = run.wait(60)
    check(code == 1, f"exit code {code}")
    check("[INFO] User cancelled the update" in run.log(), run.log())
    check(tree(os.path.join(install, "runtime")) == before, "runtime touched")


@scenario
def killed_mid_update_always_recovers(world):
    _, install, _, code = fresh_install(world, "kill")
    check(code == 0, "first install failed")
    big = world.make_runtime("22.0.1", 60)
    release = world.publish("kill-2", jre_version="22.0.1")
    rng = random.Random(7)
    for point in range(10):
        with serve_nginx(world, release):
            run = Run(world, install)
            run.answer_if_asked("enter")
            time.sleep(rng.uniform(0.2, 6.0))
            world.prefix.stop()  # kills every process of the run's prefix at once
            run.process.wait()
            # The next run ends with a runnable launcher and runtime.
            again = Run(world, install)
            again.answer_if_asked("enter")
            code = again.wait()
        check(code == 0, f"kill point {point}: recovery run exit code {code}\n{again.log()}")
        check(os.path.isfile(os.path.join(install, "runtime", "bin", "java.exe")),
              f"kill point {point}: no runtime")
        check(os.path.isfile(os.path.join(install, "KestrivonLauncher.exe")),
              f"kill point {point}: no launcher")
    del big


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--windows-build", required=True)
    parser.add_argument("--native-build", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--list", action="store_true")
    parser.add_argument("scenarios", nargs="*")
    args = parser.parse_args()
    if args.list:
        print("\n".join(SCENARIOS))
        return 0
    wanted = args.scenarios or list(SCENARIOS)
    unknown = [name for name in wanted if name not in SCENARIOS]
    if unknown:
        parser.error(f"unknown scenarios: {', '.join(unknown)}")
    code = sandbox.enter_namespace("e2e", os.path.abspath(__file__))
    if code is not None:
        return code

    work = os.path.abspath(args.work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    passed = failed = 0
    try:
        sandbox.prepare_namespace(work)
        world = World(Tools(os.path.abspath(args.windows_build),
                            os.path.abspath(args.native_build)), work)
    except (sandbox.SandboxError, ScenarioFailed, OSError, subprocess.SubprocessError) as error:
        print(f"e2e: can't set up the run: {error}", file=sys.stderr)
        return 1
    for name in wanted:
        started = time.monotonic()
        try:
            SCENARIOS[name](world)
            passed += 1
            print(f"PASS {name} ({time.monotonic() - started:.1f} s)", flush=True)
        except Exception as error:  # one scenario's failure must not hide the others
            failed += 1
            print(f"FAIL {name} ({time.monotonic() - started:.1f} s): {error}", flush=True)
            if not isinstance(error, ScenarioFailed):
                traceback.print_exc()
        finally:
            world.prefix.stop()
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
