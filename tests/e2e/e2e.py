#!/usr/bin/env python3
"""End-to-end runs of the shipped KestrivonUpdater.exe under Wine against a real TLS origin
that answers to the product's real host names, inside a private network namespace.

Windows are driven by class through the tests' window driver: no X server is needed.
"""

import argparse
import contextlib
import hashlib
import json
import os
import pathlib
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time
import traceback
import zipfile

import sandbox

MAIN_CLASS = "Kestrivon_Main_Frame"
PROMPT_CLASS = "Kestrivon_Update_Dialog"
LAUNCHER_CLASS = "Kestrivon_Sample_Launcher"
LOG_NAME = os.path.join("logs", "Kestrivon_Updater.log")
LAUNCH_ARGS = ["--profile", "e2e test", "kestrivon://open/a b"]
MANIFEST_MISSING = {"/launcher/launcher-manifest.json": {"status": 404}}
KILL_VARIABLE = "KESTRIVON_TEST_KILL_AT_STEP"
KILLED_EXIT_CODE = 75


class ScenarioFailed(AssertionError):
    pass


def check(condition, message):
    if not condition:
        raise ScenarioFailed(message)


def read(*path):
    path = os.path.join(*path)
    return pathlib.Path(path).read_text(encoding="utf-8") if os.path.exists(path) else ""


def sha256(path):
    with open(path, "rb") as source:
        return hashlib.file_digest(source, "sha256").hexdigest()


def tree(path):
    """Relative file paths and their SHA-256 under `path` (empty when it does not exist)."""
    files = (file for file in pathlib.Path(path).rglob("*") if file.is_file())
    return {str(file.relative_to(path)): sha256(file) for file in files}


class Tools:
    """The build's outputs, where the build puts them: a search of the build folder could find
    a stale copy in an earlier run's install folders first."""

    def __init__(self, windows_build, native_build, updater=None, keys=None):
        def built(root, *parts):
            path = os.path.join(root, *parts)
            if not os.path.isfile(path):
                raise sandbox.SandboxError(f"{path} not found: build it first")
            return path
        self.updater = updater or built(windows_build, "KestrivonUpdater.exe")
        # The same program with the test key new.pub built in (old.key signs but is unknown).
        self.signed_updater = os.path.join(windows_build, "signed", "KestrivonUpdater.exe")
        self.keys = keys or os.path.join(windows_build, "test-keys")
        self.launcher = built(windows_build, "tools", "sample_launcher", "KestrivonLauncher.exe")
        self.driver = built(windows_build, "tests", "win", "window_driver.exe")
        self.ca_tool = built(windows_build, "tests", "e2e", "kestrivon_install_test_ca.exe")
        self.publish = built(native_build, "tools", "publish", "kestrivon-publish")


class World:
    """One run's namespace-wide state: certificates, Wine prefix, products to publish."""

    def __init__(self, tools, work):
        self.tools = tools
        self.work = work
        self.certificates = sandbox.Certificates(work)
        self.prefix = sandbox.WinePrefix(work, tools.ca_tool, self.certificates)
        self.products = os.path.join(work, "products")
        launcher = os.path.join(self.products, "launcher")
        os.makedirs(os.path.join(launcher, "app"), exist_ok=True)
        shutil.copy(tools.launcher, os.path.join(launcher, "KestrivonLauncher.exe"))
        with open(os.path.join(launcher, "app", "launcher.jar"), "wb") as out:
            out.write(b"PK-sample-launcher-application" * 100)
        for version in ("21.0.5", "21.0.6"):
            self.make_runtime(version, 3)
        newer = os.path.join(self.products, "launcher-2.1.0")
        shutil.copytree(launcher, newer)
        with open(os.path.join(newer, "app", "launcher.jar"), "ab") as out:
            out.write(b"-2.1.0")
        os.makedirs(os.path.join(newer, "app", "lib"))
        with open(os.path.join(newer, "app", "lib", "extra.jar"), "wb") as out:
            out.write(b"PK-extra" * 50)

    def make_runtime(self, version, filler_mb, modules=None):
        """A runtime product: a java.exe, a release file and lib/modules (`modules`, or
        `filler_mb` of random bytes). Returns its folder."""
        runtime = os.path.join(self.products, f"jre-{version}", f"jdk-{version}-jre")
        os.makedirs(os.path.join(runtime, "bin"), exist_ok=True)
        os.makedirs(os.path.join(runtime, "lib"), exist_ok=True)
        shutil.copy(self.tools.launcher, os.path.join(runtime, "bin", "java.exe"))
        with open(os.path.join(runtime, "release"), "w") as out:
            out.write(f'JAVA_VERSION="{version}"\n')
        with open(os.path.join(runtime, "lib", "modules"), "wb") as out:
            out.write(modules if modules is not None
                      else random.Random(version).randbytes(filler_mb << 20))
        return runtime

    def release_and_install(self, name, **publish):
        return self.publish(name, **publish), os.path.join(self.work, "installs", name)

    def publish(self, name, jre_version="21.0.5", updater=None, updater_version="1.0.0",
                vendor=False, keys=(), serial=None, previous=None, launcher="launcher",
                launcher_version="2.0.0"):
        out = os.path.join(self.work, "releases", name)
        shutil.rmtree(out, ignore_errors=True)
        command = [self.tools.publish, "build", "--output", out,
                   "--cdn-base", f"https://{sandbox.CDN_HOST}",
                   "--launcher", os.path.join(self.products, launcher),
                   "--launcher-version", launcher_version,
                   "--runtime", os.path.join(self.products, f"jre-{jre_version}"),
                   "--runtime-version", jre_version,
                   "--updater", updater or self.tools.updater,
                   "--updater-version", updater_version]
        for key in keys:
            command += ["--signing-key", os.path.join(self.tools.keys, f"{key}.key")]
        if serial is not None:
            command += ["--serial", str(serial)]
        if previous:
            command += ["--previous", previous]
        if vendor:
            command += ["--runtime-vendor-url",
                        f"https://{sandbox.VENDOR_HOSTS[0]}/mirror/{{file}}"]
        result = subprocess.run(command, capture_output=True, text=True)
        check(result.returncode == 0, f"publishing failed: {result.stderr[-2000:]}")
        if vendor:
            # One origin answers for every host name here: the mirror's path gets the same bytes.
            mirror = os.path.join(out, jre_file(out, "vendorUrl"))
            os.makedirs(os.path.dirname(mirror), exist_ok=True)
            shutil.copy(os.path.join(out, jre_file(out)), mirror)
        return out

    def nginx(self, release):
        return sandbox.Nginx(self.work, release, self.certificates)

    def faults(self, release, faults=None):
        return sandbox.FaultServer(self.work, release, self.certificates, faults)


class Run:
    """One start of the updater installed in `install` (copied there first: a self-update
    replaces the file that runs). It lasts until the last updater it started has finished, so
    wait() gives a self-update's new process's exit code, read from its final log line."""

    def __init__(self, world, install, args=(), set_path=True, program=None, kill_at_step=None):
        self.world = world
        self.install = install
        os.makedirs(install, exist_ok=True)
        self.exe = os.path.join(install, "KestrivonUpdater.exe")
        if not os.path.exists(self.exe):
            shutil.copy(program or world.tools.updater, self.exe)
        if set_path:
            world.prefix.set_install_path(install)
        self.log_start = len(self.log())
        env = dict(world.prefix.env)
        if kill_at_step is not None:
            env[KILL_VARIABLE] = str(kill_at_step)  # the program's test seam for kill runs
        self.process = world.prefix.start([self.exe, *args], stdout=subprocess.DEVNULL,
                                          stderr=subprocess.DEVNULL, env=env)

    def drive(self, window_class, action, timeout=60):
        """Waits for a window of `window_class`, then sends it `action` (find, enter, escape,
        close, gone, click:X,Y in DIPs). True when the window was found."""
        words = action.replace("click:", "click ").replace(",", " ").split()
        result = self.world.prefix.run([self.world.tools.driver, window_class,
                                        str(timeout * 1000), *words], timeout=timeout + 30,
                                       capture_output=True)
        return result.returncode == 0

    def answer(self, action, count):
        """Answers `count` prompts (a fresh install asks twice: for the updater, then the rest)."""
        for number in range(1, count + 1):
            check(self.drive(PROMPT_CLASS, action),
                  f"update prompt {number} of {count} did not appear\n{self.run_log()}")
            self.drive(PROMPT_CLASS, "gone", 15)

    def close_error_view(self, message, action="click:459,184"):
        """Waits until the error view shows `message` (ShowError logs it), then closes it by
        `action` (the Close button by default)."""
        deadline = time.monotonic() + 90
        while f"[ERROR] {message}" not in self.run_log():
            check(time.monotonic() < deadline and self.outcome() is None,
                  f"no error view with {message!r}\n{self.run_log()}")
            time.sleep(0.1)
        check(self.drive(MAIN_CLASS, action), "the main window is gone")

    def answer_if_asked(self, action):
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and self.process.poll() is None:
            if self.drive(PROMPT_CLASS, action, 2):
                self.drive(PROMPT_CLASS, "gone", 15)
                return

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
        # The process's own status, not only what its log says: a self-update's first process
        # ends 0, and its successor's code is known only from the log.
        own = self.process.returncode
        restarted = "New updater started; exiting." in self.run_log()
        check(own == (0 if restarted else code),
              f"the process ended with {own}, its log says {code}\n{self.run_log()}")
        return code

    def killed(self, timeout=120):
        """True when the run ended at its kill step, False when it finished without reaching
        it (its log's exit code then must be 0)."""
        try:
            own = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.world.prefix.stop()
            raise ScenarioFailed(f"the kill run did not end\n{self.run_log()}")
        if own == KILLED_EXIT_CODE:
            return True
        check(self.wait() == 0, f"a kill run failed\n{self.run_log()}")
        return False

    def finish(self, expected, timeout=120):
        code = self.wait(timeout)
        check(code == expected, f"exit code {code}, not {expected}\n{self.run_log()}")

    def log(self):
        return read(self.install, LOG_NAME)

    def run_log(self):
        """The log lines written since this run started."""
        return self.log()[self.log_start:]


def update(world, install, server, answers=0, answer="enter", error=None,
           close="click:459,184", expect=0, args=(), program=None):
    """One run of the updater in `install` while `server` serves: answers `answers` prompts,
    closes the error view that shows `error`, checks the exit code. Returns the run."""
    with server:
        run = Run(world, install, args, program=program)
        run.answer(answer, answers)
        if error:
            run.close_error_view(error, close)
        run.finish(expect)
    return run


def launcher_starts(install):
    return [json.loads(line) for line in read(install, "launcher-run.jsonl").splitlines()]


def wait_for_starts(install, count, timeout=20):
    """The launcher's start records once `count` are there (it starts after the updater ends)."""
    deadline = time.monotonic() + timeout
    while len(starts := launcher_starts(install)) < count and time.monotonic() < deadline:
        time.sleep(0.1)
    return starts


def check_runnable(install, context=""):
    for path in ("KestrivonLauncher.exe", os.path.join("runtime", "bin", "java.exe")):
        check(os.path.isfile(os.path.join(install, path)), f"{context}{path} missing")


def versions(install):
    return json.loads(read(install, "config", "versions.json"))


def manifest(release):
    return json.loads(read(release, "launcher", "launcher-manifest.json"))


def jre_file(release, key="url"):
    """The runtime package's path in `release` (the path of its https URL)."""
    return manifest(release)["win"]["jre"][key].split("/", 3)[3]


def temp_is_empty(install):
    return not any(pathlib.Path(install, "temp").glob("*"))


# What the next start finds of each component: the files in place, or the previous copy that a
# swap cut short left in temp (the start puts it back before it empties temp).

def runtime_view(install):
    folder = os.path.join(install, "runtime")
    if not os.path.isdir(folder):
        folder = os.path.join(install, "temp", "backup-jre")
    return tree(folder)


def launcher_view(install):
    exe, app = install, install
    backup = os.path.join(install, "temp", "backup-launcher")
    if (not os.path.isfile(os.path.join(install, "KestrivonLauncher.exe"))
            and os.path.isfile(os.path.join(backup, "KestrivonLauncher.exe"))):
        exe = backup
        app = backup if os.path.isdir(os.path.join(backup, "app")) else install
    view = {os.path.join("app", name): digest
            for name, digest in tree(os.path.join(app, "app")).items()}
    if os.path.isfile(os.path.join(exe, "KestrivonLauncher.exe")):
        view["KestrivonLauncher.exe"] = sha256(os.path.join(exe, "KestrivonLauncher.exe"))
    return view


def updater_view(install):
    exe = os.path.join(install, "KestrivonUpdater.exe")
    return {"KestrivonUpdater.exe": sha256(exe)} if os.path.isfile(exe) else {}


def kill_matrix(world, install, release, key, view, old, new, record):
    """Kills runs that install the component `key` of `release` at each of its install steps
    in turn (the program's kill seam), every time from the same old install. After each kill
    the component is the old or the new one, file by file; the next start then has the new
    one in place, its record names it, and the launcher starts; the player's own files and the
    other components are never touched. Returns the steps killed at."""
    snapshot = install + "-before-kills"
    shutil.rmtree(snapshot, ignore_errors=True)
    shutil.copytree(install, snapshot, symlinks=True)
    for name in (os.path.join("config", "settings.json"), os.path.join("screenshots", "a.png")):
        os.makedirs(os.path.dirname(os.path.join(snapshot, name)), exist_ok=True)
        with open(os.path.join(snapshot, name), "w") as out:
            out.write("the player's")
    others = bystanders(snapshot, key)
    digest = manifest(release)["win"][key]["sha256"]
    step = 0
    with world.nginx(release):
        while True:
            step += 1
            check(step <= 40, "the install steps never end")
            shutil.rmtree(install)
            shutil.copytree(snapshot, install, symlinks=True)
            started = time.monotonic()
            starts_before = len(launcher_starts(install))
            run = Run(world, install, kill_at_step=step)
            check(run.drive(PROMPT_CLASS, "enter"), f"{key}, kill step {step}: no prompt")
            if not run.killed():
                break
            # Killed after the new updater started: that one finishes the run and starts the
            # launcher, whose record of it may come after the updater's last line.
            if "New updater started; exiting." in run.run_log():
                while "Updater finished" not in run.run_log():
                    check(time.monotonic() - started < 120, "the new updater did not finish")
                    time.sleep(0.1)
                wait_for_starts(install, starts_before + 1)
            state = view(install)
            check(state in (old, new), f"{key}, kill step {step}: neither the old nor the new "
                  f"component: {sorted(state)}\n{run.run_log()}")
            starts = len(launcher_starts(install))
            again = Run(world, install)
            # The record names the new component only once it is in place (a marker takes
            # back a record that got ahead of the updater's file).
            pending = os.path.join(install, "temp", "updater-swap-pending")
            if record(versions(install)) != digest or os.path.exists(pending):
                check(again.drive(PROMPT_CLASS, "enter"), f"{key}, kill step {step}: no prompt")
            code = again.wait()
            check(code == 0, f"{key}, kill step {step}: recovery exit code {code}\n"
                  f"{again.run_log()}")
            check(view(install) == new, f"{key}, kill step {step}: not the new component")
            check(record(versions(install)) == digest,
                  f"{key}, kill step {step}: record {versions(install)}")
            check(bystanders(install, key) == others,
                  f"{key}, kill step {step}: files beside the component changed")
            check(len(wait_for_starts(install, starts + 1)) == starts + 1,
                  f"{key}, kill step {step}: the launcher did not start")
    shutil.rmtree(snapshot)
    return step - 1



def bystanders(install, key):
    """What an install of component `key` must leave as it was: every file but the component's,
    the record, the logs, temp and what the launcher writes when it starts."""
    own = {"jre": ("runtime",), "launcher": ("app", "KestrivonLauncher.exe"),
           "updater": ("KestrivonUpdater.exe",)}[key]
    skipped = own + ("temp", "logs", os.path.join("config", "versions.json"),
                     "launcher-run.jsonl")
    return {name: digest for name, digest in tree(install).items()
            if not any(name == top or name.startswith(top + os.sep) for top in skipped)}


@contextlib.contextmanager
def bench_world(name, root, under=None):
    """A World in a fresh folder under `under` (default `root`/build) for one benchmark run,
    inside the namespace (which the caller has entered), with the build's programs; yields
    (world, its folder), and stops the prefix and removes the folder at the end."""
    work = tempfile.mkdtemp(prefix=f"kestrivon-{name}-", dir=under or os.path.join(root, "build"))
    os.chmod(work, 0o755)  # nginx's workers read the releases as another user
    try:
        sandbox.prepare_namespace(work)
        world = World(Tools(os.path.join(root, "build", "windows"),
                            os.path.join(root, "build", "native")), work)
        try:
            yield world, work
        finally:
            world.prefix.stop()
    finally:
        shutil.rmtree(work, ignore_errors=True)


# --- scenarios --------------------------------------------------------------------------

SCENARIOS = {}


def scenario(function):
    SCENARIOS[function.__name__] = function
    return function


def fresh_install(world, name):
    release, install = world.release_and_install(name)
    run = update(world, install, world.nginx(release), answers=2, args=LAUNCH_ARGS)
    return release, install, run


@scenario
def fresh_install_nothing_new_self_update(world):
    release, install, run = fresh_install(world, "fresh")
    check_runnable(install)
    record = versions(install)
    check(record["launcher"]["sha256"] == manifest(release)["win"]["launcher"]["sha256"]
          and record["jre"]["version"] == "21.0.5", f"record {record}")
    check(temp_is_empty(install), "temp not emptied")
    windows_install = sandbox.WinePrefix.windows_path(install)
    starts = [(start["environment"], start["workingDirectory"].rstrip("\\").lower(),
               start["arguments"]) for start in wait_for_starts(install, 1)]
    environment = {"SKIKO_RENDER_API": "OPENGL", "KESTRIVON_LAUNCHER_MODE": "normal",
                   "KESTRIVON_HOME": windows_install}
    check(starts == [(environment, windows_install.lower(), LAUNCH_ARGS)],
          f"launcher starts {starts}")
    for line in ("[INFO] === Kestrivon Updater v1.0.0 (Windows) ===",
                 "[WARN] Manifest signatures are not checked by this build",
                 f"[INFO] Install dir: {windows_install}",
                 '[INFO] Arguments: --profile "e2e test" "kestrivon://open/a b"',
                 "[INFO] === Kestrivon Updater finished (exit code 0) ==="):
        check(line in run.log(), f"log lacks {line!r}\n{run.log()}")

    # The same release again: nothing to ask, the launcher starts.
    again = update(world, install, world.nginx(release))
    check(len(wait_for_starts(install, 2)) == 2, "second run did not start the launcher")
    check("Arguments:" not in again.run_log(), "an arguments line without arguments")
    # The manifest unavailable: the installed launcher is started unchanged.
    update(world, install, world.faults(release, MANIFEST_MISSING))
    check(len(wait_for_starts(install, 3)) == 3, "installed launcher not started")

    # A new build of the updater: the file is replaced and the new process runs the rest.
    changed = os.path.join(world.work, "KestrivonUpdater-1.0.1.exe")
    shutil.copy(world.tools.updater, changed)
    with open(changed, "ab") as out:
        out.write(b"\0another build 1.0.1")  # bytes past the image: still the same program
    newer = world.publish("fresh-updater", updater=changed, updater_version="1.0.1")
    log = update(world, install, world.nginx(newer), answers=1).run_log()
    check("New updater started; exiting." in log and log.count("Kestrivon Updater v1.0.0") == 2,
          f"the new updater did not run the rest\n{log}")
    check(sha256(os.path.join(install, "KestrivonUpdater.exe")) == sha256(changed),
          "the updater file was not replaced")
    check(len(wait_for_starts(install, 4)) == 4, "launcher not started")
    # The previous file waits as the backup until a start removes it: the new process's own
    # start when the old one has ended by then, else the next one.
    backup = os.path.join(install, "KestrivonUpdater.exe.backup")
    removed = "[INFO] Removed the previous updater's backup" in log
    check(removed or sha256(backup) == sha256(world.tools.updater),
          f"no backup of the previous updater\n{log}")
    again = update(world, install, world.nginx(newer)).run_log()
    check(not os.path.exists(backup), "the backup outlived the next start")
    check(removed != ("[INFO] Removed the previous updater's backup" in again),
          f"the backup was not removed once\n{again}")


@scenario
def runtime_updates_failed_cancelled_good(world):
    _, install, _ = fresh_install(world, "runtime")
    old = tree(os.path.join(install, "runtime"))
    # A package corrupted on every source: the error view, nothing installed, nothing left.
    corrupt = world.publish("runtime-corrupt", jre_version="21.0.6", vendor=True)
    with open(os.path.join(corrupt, jre_file(corrupt)), "rb") as source:
        data = bytearray(source.read())
    data[len(data) // 2] ^= 0xFF  # same size, another digest
    for key in ("url", "vendorUrl"):
        with open(os.path.join(corrupt, jre_file(corrupt, key)), "wb") as out:
            out.write(data)
    update(world, install, world.faults(corrupt), answers=1,
           error="Failed to verify file integrity.", expect=1)
    check(tree(os.path.join(install, "runtime")) == old, "runtime changed by a corrupt package")
    check(temp_is_empty(install), "temp not emptied after a corrupt package")
    # Cancel during a slowed download.
    newer = world.publish("runtime-newer", jre_version="21.0.6")
    with world.faults(newer, {"/" + jre_file(newer): {"rate": 200_000}}):
        run = Run(world, install)
        run.answer("enter", 1)
        time.sleep(3)
        check(run.drive(MAIN_CLASS, "click:459,184"), "no main window")
        run.finish(1, 60)
    check("[INFO] User cancelled the update" in run.run_log(), run.run_log())
    check(tree(os.path.join(install, "runtime")) == old, "runtime changed by a cancelled update")
    # The newer runtime from nginx replaces the old one.
    update(world, install, world.nginx(newer), answers=1)
    check(versions(install)["jre"]["version"] == "21.0.6", "record not updated")
    now = tree(os.path.join(install, "runtime"))
    check(now.get("release") not in (None, old["release"]), "runtime files unchanged")
    check(temp_is_empty(install), "temp not emptied")


@scenario
def kill_matrix_runtime_launcher_updater(world):
    """Each install and swap killed between any two of its steps: the next start always finds
    the old or the new component whole, then installs the new one and starts the launcher."""
    _, install, _ = fresh_install(world, "kills")
    published = os.path.join(world.products, "jre-{0}", "jdk-{0}-jre")
    steps = kill_matrix(world, install, world.publish("kills-runtime", jre_version="21.0.6"),
                        "jre", runtime_view, tree(published.format("21.0.5")),
                        tree(published.format("21.0.6")), lambda record: record["jre"]["sha256"])
    check(steps >= 10, f"only {steps} runtime kill steps")

    old, new = (launcher_view(os.path.join(world.products, name))
                for name in ("launcher", "launcher-2.1.0"))
    launcher = world.publish("kills-launcher", jre_version="21.0.6", launcher="launcher-2.1.0",
                             launcher_version="2.1.0")
    steps = kill_matrix(world, install, launcher, "launcher", launcher_view, old, new,
                        lambda record: record["launcher"]["sha256"])
    check(steps >= 10, f"only {steps} launcher kill steps")

    changed = os.path.join(world.work, "KestrivonUpdater-1.0.2.exe")
    shutil.copy(world.tools.updater, changed)
    with open(changed, "ab") as out:
        out.write(b"\0another build 1.0.2")
    updater = world.publish("kills-updater", jre_version="21.0.6", launcher="launcher-2.1.0",
                            launcher_version="2.1.0", updater=changed, updater_version="1.0.2")
    steps = kill_matrix(world, install, updater, "updater", updater_view,
                        updater_view(install), {"KestrivonUpdater.exe": sha256(changed)},
                        lambda record: record["updater_archive_sha256"])
    check(steps >= 10, f"only {steps} updater kill steps")


def nginx_requests(world):
    """(path, status) of every GET in nginx's access log."""
    pattern = re.compile(r'"GET (\S+) HTTP/[\d.]+" (\d+)')
    return [(match.group(1), int(match.group(2)))
            for line in read(world.work, "nginx", "access.log").splitlines()
            if (match := pattern.search(line))]


def nginx_sent(world, path):
    """(status, body bytes) of each request for `path` in nginx's access log."""
    pattern = re.compile(r'"GET (\S+) HTTP/[\d.]+" (\d+) (\d+)')
    found = []
    for line in read(world.work, "nginx", "access.log").splitlines():
        match = pattern.search(line)
        if match and match.group(1) == path:
            found.append((int(match.group(2)), int(match.group(3))))
    return found


@scenario
def download_resumed_across_runs(world):
    """A runtime download cancelled half-way keeps its bytes and their record in temp; the next
    run asks only for the rest (nginx answers the range) and installs the runtime."""
    _, install, _ = fresh_install(world, "resume")
    world.make_runtime("22.0.2", 16)
    release = world.publish("resume-newer", jre_version="22.0.2")
    path = "/" + jre_file(release)
    size = os.path.getsize(os.path.join(release, jre_file(release)))
    package = os.path.join(install, "temp", "jre-package.zip")
    with world.faults(release, {path: {"rate": 3_000_000}}):
        run = Run(world, install)
        run.answer("enter", 1)
        deadline = time.monotonic() + 30
        while not (os.path.exists(package) and os.path.getsize(package) > size // 3):
            check(time.monotonic() < deadline, f"the download did not start\n{run.run_log()}")
            time.sleep(0.05)
        check(run.drive(MAIN_CLASS, "click:459,184"), "no main window")
        run.finish(1, 60)
    kept = os.path.getsize(package)
    check(0 < kept < size and os.path.exists(package + ".resume"),
          f"no partial download kept: {os.listdir(os.path.join(install, 'temp'))}")
    log = update(world, install, world.nginx(release), answers=1).run_log()
    check(f"[INFO] Resuming jre-package.zip at {kept} of {size} bytes" in log, log)
    sent = nginx_sent(world, path)
    check(sent == [(206, size - kept)], f"nginx sent {sent} for {size - kept} bytes")
    check(versions(install)["jre"]["version"] == "22.0.2", "runtime not recorded")
    check(temp_is_empty(install), "temp not emptied")


def make_runtime_series(world, versions, size_mb=8):
    """Runtimes that differ the way real minor updates do: a few changed regions of lib/modules,
    a changed release file, and a file only the later ones have."""
    modules = bytearray(random.Random("series").randbytes(size_mb << 20))
    for number, version in enumerate(versions):
        rng = random.Random(version)
        for _ in range(4):
            start = rng.randrange(len(modules) - 4096)
            modules[start:start + 4096] = rng.randbytes(4096)
        runtime = world.make_runtime(version, 0, modules)
        if number > 0:
            with open(os.path.join(runtime, "lib", "tzdb.dat"), "wb") as out:
                out.write(rng.randbytes(64 << 10))


def delta_entry(release):
    deltas = manifest(release)["win"]["jre"].get("deltas", [])
    check(len(deltas) == 1, f"the runtime has {len(deltas)} deltas")
    return deltas[0]


@scenario
def runtime_delta_then_poisoned_delta(world):
    """A runtime update through a delta from the installed package: only the delta is fetched,
    and the runtime is the published one file by file. Then a delta that passes its download
    checks but builds the wrong bytes: the full package is fetched in the same run."""
    make_runtime_series(world, ("23.0.1", "23.0.2", "23.0.3"))
    first, install = world.release_and_install("delta", jre_version="23.0.1")
    update(world, install, world.nginx(first), answers=2)
    published = os.path.join(world.products, "jre-{0}", "jdk-{0}-jre")

    second = world.publish("delta-2", jre_version="23.0.2", previous=first)
    delta = delta_entry(second)
    check(delta["fromSha256"] == versions(install)["jre"]["sha256"], f"delta from {delta}")
    document = manifest(second)["win"]["jre"]
    check(delta["size"] * 8 < document["size"], f"delta of {delta['size']} bytes, package "
          f"{document['size']}")
    log = update(world, install, world.nginx(second), answers=1).run_log()
    check("[INFO] JRE: a delta from the installed package" in log, log)
    requested = [path for path, _ in nginx_requests(world)]
    check("/" + jre_file(second) not in requested, f"the full package was fetched: {requested}")
    check(tree(os.path.join(install, "runtime")) == tree(published.format("23.0.2")),
          "the runtime built from the delta is not the published one")
    check(versions(install)["jre"]["sha256"] == document["sha256"], "record")
    check(temp_is_empty(install), "temp not emptied")

    third = world.publish("delta-3", jre_version="23.0.3", previous=second)
    delta = delta_entry(third)
    poisoned = os.path.join(third, delta["url"].split("/", 3)[3])
    with zipfile.ZipFile(poisoned) as source:
        entries = [(info, source.read(info)) for info in source.infolist()]
    with zipfile.ZipFile(poisoned, "w", zipfile.ZIP_DEFLATED) as out:
        for info, data in entries:
            if info.filename == "delta.json":
                listing = json.loads(data)
                for file in listing["files"]:
                    if file["source"] == "patch":
                        file["sha256"] = "0" * 64
                data = json.dumps(listing).encode()
            out.writestr(info, data)
    document = manifest(third)
    document["win"]["jre"]["deltas"][0].update(size=os.path.getsize(poisoned),
                                                sha256=sha256(poisoned))
    with open(os.path.join(third, "launcher", "launcher-manifest.json"), "w") as out:
        json.dump(document, out)
    log = update(world, install, world.nginx(third), answers=1).run_log()
    check("[WARN] JRE: the delta did not apply (" in log and "downloading the full package" in log,
          log)
    check(tree(os.path.join(install, "runtime")) == tree(published.format("23.0.3")),
          "the runtime after the fallback is not the published one")
    check(versions(install)["jre"]["sha256"] == document["win"]["jre"]["sha256"], "record")
    check(temp_is_empty(install), "temp not emptied")


@scenario
def vendor_fails_then_cdn_busy_twice_then_serving(world):
    release, install = world.release_and_install("busy", vendor=True)
    vendor, cdn = "/" + jre_file(release, "vendorUrl"), "/" + jre_file(release)
    server = world.faults(release, {vendor: {"status": 500}, cdn: {"status": 503, "times": 2}})
    update(world, install, server, answers=2)
    requests = [r for r in server.requests() if r.get("path") in (vendor, cdn)]
    statuses = [(r["path"], r.get("status")) for r in requests]
    check(statuses == [(vendor, 500), (cdn, 503), (cdn, 503), (cdn, 200)], f"requests {requests}")
    gaps = [b["time"] - a["time"] for a, b in zip(requests[1:], requests[2:])]
    check(0.9 <= gaps[0] and 2.9 <= gaps[1], f"retry spacing {gaps}")


@scenario
def refused_runs(world):
    """The manifest missing or under a certificate nobody trusts, a zip-slip runtime package, a
    disk too full: the error view, exit 1 once it is closed, nothing written outside the install
    folder."""
    release, install = world.release_and_install("refused")
    package = os.path.join(release, jre_file(release))
    with zipfile.ZipFile(package, "w") as archive:
        archive.writestr("jdk/bin/java.exe", b"MZ")
        archive.writestr("../../escaped.txt", b"outside")
        archive.writestr("jdk/../../../escaped-too.txt", b"outside")
    document = manifest(release)
    document["win"]["jre"].update(size=os.path.getsize(package), sha256=sha256(package))
    with open(os.path.join(release, "launcher", "launcher-manifest.json"), "w") as out:
        json.dump(document, out)
    stranger = sandbox.Certificates(os.path.join(world.work, "stranger"))
    unreachable = "Failed to check for updates"
    for serve, answers, error, close in (
            (lambda: world.faults(release, MANIFEST_MISSING), 0, unreachable, "enter"),
            (lambda: sandbox.Nginx(world.work, release, stranger), 0, unreachable, "escape"),
            (lambda: world.faults(release), 2, "Failed to extract files.", "close")):
        update(world, install, serve(), answers=answers, error=error, close=close, expect=1)
    escaped = [os.path.join(folder, name) for folder, _, files in os.walk(world.work)
               for name in files if name.startswith("escaped")]
    check(not escaped, f"written outside: {escaped}")

    # A disk too small for the launcher package and its extraction (a tmpfs that holds the
    # updater and little more): the error view says so before a byte of it is fetched.
    small = os.path.join(world.work, "installs", "small-disk")
    os.makedirs(small)
    room = 128 << 10
    launcher_size = manifest(release)["win"]["launcher"]["size"]
    check(launcher_size * 4 > room, f"the launcher package ({launcher_size} bytes) fits anyway")
    size = os.path.getsize(world.tools.updater) + room
    subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs", small], check=True)
    try:
        run = update(world, small, world.faults(release), answers=2,
                     error="There is not enough free disk space for the update.", expect=1)
        check("Not enough free disk space for launcher-package.zip" in run.run_log(), run.run_log())
        check(temp_is_empty(small) and not os.path.exists(os.path.join(small, "app")),
              f"written to a full disk: {sorted(tree(small))}")
    finally:
        subprocess.run(["umount", "--lazy", small])


@scenario
def signed_manifests(world):
    """A build with a key installs only what that key signed, across a key rotation; every
    refused manifest leaves the install as it was and starts the installed launcher."""
    signed = world.tools.signed_updater
    check(os.path.isfile(signed), f"{signed} not found: build it first")
    first = world.publish("signed-5", updater=signed, keys=["new"], serial=5)
    install = os.path.join(world.work, "installs", "signed")
    log = update(world, install, world.nginx(first), answers=2, program=signed).run_log()
    check(re.search(r"\[INFO\] Manifest signature verified \(key [0-9a-f]{16}\), serial 5", log)
          and "not checked" not in log, log)
    newer = world.publish("signed-6", updater=signed, jre_version="21.0.6", keys=["new"],
                          serial=6)
    manifest_file = os.path.join("launcher", "launcher-manifest.json")

    def variant(name, change=None, **publish):
        release = world.publish(name, updater=signed, jre_version="21.0.6", **publish)
        if change:
            change(release)
        return release

    def flip_byte(release):
        data = bytearray(pathlib.Path(release, manifest_file).read_bytes())
        data[data.index(b"21.0.6") + 5] ^= 0x01  # "21.0.7": still a valid manifest
        pathlib.Path(release, manifest_file).write_bytes(data)

    refused = "[WARN] Manifest signature refused (attempt 4/4): "
    # The manifest sent on to another host (whose copy would be signed as well): refused.
    elsewhere = {"/" + manifest_file: {"redirect": f"https://{sandbox.VENDOR_HOSTS[0]}/"
                                                   f"{manifest_file}"}}
    rows = (
        (newer, None),  # accepted first (its start also removes the self-update's backup)
        (variant("no-sig", lambda r: os.remove(os.path.join(r, manifest_file + ".sig")),
                 keys=["new"], serial=6),
         "[WARN] Manifest signature download failed (attempt 4/4): HTTP 404"),
        (variant("unknown-key", keys=["old"], serial=6),
         refused + "no signature by a key built into this program"),
        (variant("flipped", flip_byte, keys=["new"], serial=6),
         refused + "the signature by key "),
        ((newer, elsewhere),
         "[WARN] Manifest download failed (attempt 4/4): redirect to another host refused: "
         + sandbox.VENDOR_HOSTS[0]),
        (variant("rotation", keys=["old", "new"], serial=6), None),
        (first, "[WARN] Manifest refused (attempt 4/4): manifest serial 5 is older than 6"),
    )
    for number, (release, refusal) in enumerate(rows, start=2):
        before = tree(install)
        server = world.faults(*release) if isinstance(release, tuple) else world.nginx(release)
        log = update(world, install, server, answers=1 if release == newer else 0).run_log()
        check(len(wait_for_starts(install, number)) == number, f"launcher not started\n{log}")
        if refusal:
            check(refusal in log and "Manifest unavailable after 4 attempts" in log, log)
            now = tree(install)
            changed = {path for path in before.keys() | now.keys()
                       if before.get(path) != now.get(path)}
            check(changed <= {LOG_NAME, "launcher-run.jsonl"}, f"changed: {changed}\n{log}")
        else:
            check("Manifest signature verified" in log and "serial 6" in log, log)
    check(versions(install)["jre"]["version"] == "21.0.6", f"record {versions(install)}")
    check(read(install, "config", "manifest-serial") == "6\n", "serial not remembered")


@scenario
def install_path_outside_the_code_page(world):
    release = world.publish("code-page")
    install = os.path.join(world.work, "installs", "\u6e38\u620f Kestrivon")
    world.prefix.run(["reg", "add", r"HKLM\SYSTEM\CurrentControlSet\Control\Nls\CodePage",
                      "/v", "ACP", "/d", "1252", "/f"], timeout=60, capture_output=True,
                     check=True)
    server = world.faults(release)
    log = update(world, install, server, expect=1,
                 error="The install path contains characters Java can't handle").run_log()
    check("[ERROR] Install dir is not representable in the system ANSI code page 1252" in log,
          log)
    check(not server.requests(), f"requests before the refusal: {server.requests()}")


@scenario
def second_instance_declined_prompt_running_launcher(world):
    release, install = world.release_and_install("second")
    # A window titled as the launcher's, of a program outside the install folder: ignored.
    world.prefix.start([world.tools.launcher], cwd=world.work,
                       env=dict(world.prefix.env, KESTRIVON_SAMPLE_WINDOW_MS="60000"))
    found = world.prefix.run([world.tools.driver, LAUNCHER_CLASS, "60000", "find"],
                             timeout=90, capture_output=True)
    check(found.returncode == 0, "no stranger window")
    with world.faults(release):
        first = Run(world, install)
        check(first.drive(PROMPT_CLASS, "find"), "no prompt")
        # The main window in front, then a second start: it brings the prompt forward.
        check(first.drive(MAIN_CLASS, "activate"), "no main window")
        size = os.path.getsize(os.path.join(install, LOG_NAME))
        Run(world, install).finish(0, 60)
        check(first.drive(PROMPT_CLASS, "foreground", 10), "the prompt is not in front")
        check(os.path.getsize(os.path.join(install, LOG_NAME)) == size, "second instance logged")
        first.answer("escape", 1)
        first.finish(1)
    check(first.run_log().count("[WARN] Ignoring a window titled \"Kestrivon Launcher\" of "
                                "another program: ") == 1, first.run_log())
    check(not os.path.exists(os.path.join(install, "KestrivonLauncher.exe")), "installed anyway")
    # The install folder's own launcher is up (no app-link endpoint, so no handoff).
    shutil.copy(world.tools.launcher, os.path.join(install, "KestrivonLauncher.exe"))
    world.prefix.start([os.path.join(install, "KestrivonLauncher.exe")], cwd=install,
                       env=dict(world.prefix.env, KESTRIVON_SAMPLE_WINDOW_MS="60000"))
    deadline = time.monotonic() + 60
    while not launcher_starts(install) and time.monotonic() < deadline:
        time.sleep(0.1)
    server = world.faults(release)
    update(world, install, server, error="Kestrivon Launcher is already running.",
           close="enter", expect=1)
    check(not server.requests(), f"the blocked run used the network: {server.requests()}")


@scenario
def install_folder_refused(world):
    """A drive root or a system folder as the install folder: the error view, exit 1, and
    nothing written there; the log goes to the default folder."""
    release = world.publish("refused-folder")
    default = os.path.join(world.prefix.path, "drive_c", "users", os.environ.get("USER", "root"),
                           "AppData", "Local", "Kestrivon")
    for value, problem in (("Z:\\", "a drive root"), ("C:\\windows", "a system folder")):
        world.prefix.set_install_value(value)
        server = world.faults(release)
        with server:
            run = Run(world, default, set_path=False)
            run.close_error_view("Kestrivon can't be installed here")
            run.finish(1)
        check(f"[ERROR] The install folder is {problem}: {value}" in run.run_log(),
              run.run_log())
        check(not server.requests(), f"requests before the refusal: {server.requests()}")
    check(not any(os.path.exists(os.path.join("/", name)) for name in ("app", "config", "logs")),
          "written into the drive root")


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
    if unknown := set(args.scenarios) - set(SCENARIOS):
        parser.error(f"unknown scenarios: {', '.join(unknown)}")
    code = sandbox.enter_namespace("e2e", os.path.abspath(__file__))
    if code is not None:
        return code

    work = os.path.abspath(args.work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    try:
        sandbox.prepare_namespace(work)
        world = World(Tools(os.path.abspath(args.windows_build),
                            os.path.abspath(args.native_build)), work)
    except (sandbox.SandboxError, ScenarioFailed, OSError, subprocess.SubprocessError) as error:
        print(f"e2e: can't set up the run: {error}", file=sys.stderr)
        return 1
    failed = 0
    for name in args.scenarios or SCENARIOS:
        started = time.monotonic()
        try:
            SCENARIOS[name](world)
            print(f"PASS {name} ({time.monotonic() - started:.1f} s)", flush=True)
        except Exception as error:  # one scenario's failure must not hide the others
            failed += 1
            print(f"FAIL {name} ({time.monotonic() - started:.1f} s): {error}", flush=True)
            if not isinstance(error, ScenarioFailed):
                traceback.print_exc()
        finally:
            world.prefix.stop()
    print(f"{len(args.scenarios or SCENARIOS) - failed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
