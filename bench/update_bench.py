#!/usr/bin/env python3
"""A Java runtime update (~200 MB package) by the shipped KestrivonUpdater.exe under Wine from
the local nginx origin, against the same work done natively by curl, sha256sum and bsdtar, in
alternating rounds. Prints each round's phases (sampled from the install folder every 5 ms),
the medians, two ratios and the updater's log as it shows the phases (1-second stamps):

- update work: from the player's answer to the prompt until the updater's final log line
  (download, SHA-256 check, extraction, folder swap, record, launcher start), against the
  native chain, which does less (no swap, no launcher). Target: at most 1.5.
- whole run: from starting the program under Wine until it has ended, including Wine's
  process start, the manifest check, the prompt and the window driver's reaction time.

Runs in the end-to-end namespace (root). Usage: bench/update_bench.py [--filler-mb N]
[--rounds N]   (after scripts/build)
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import e2e  # noqa: E402
import sandbox  # noqa: E402

PHASES = ("start to answer", "download", "check", "extract", "swap and start", "exit")


class Watch:
    """Samples the install folder and marks when each phase of a runtime update began."""

    def __init__(self, run, size):
        self.run, self.install, self.size, self.marks = run, run.install, size, {}
        self.stopped = False
        self.thread = threading.Thread(target=self.loop)
        self.thread.start()

    def mark(self, name):
        self.marks.setdefault(name, time.monotonic())

    def loop(self):
        temp = os.path.join(self.install, "temp")
        package = os.path.join(temp, "jre-package.zip")
        while not self.stopped:
            try:
                done = os.path.getsize(package) >= self.size
                self.mark("package")
                if done:
                    self.mark("downloaded")
            except OSError:
                pass
            if os.path.isdir(os.path.join(temp, "staging-jre")):
                self.mark("extracting")
            if os.path.isdir(os.path.join(temp, "backup-jre")):
                self.mark("extracted")
            if "=== Kestrivon Updater finished" in self.run.run_log():
                self.mark("finished")
            time.sleep(0.005)

    def stop(self):
        self.stopped = True
        self.thread.join()


def updater_round(world, install, size):
    started = time.monotonic()
    run = e2e.Run(world, install, set_path=False)
    watch = Watch(run, size)
    if not run.drive(e2e.PROMPT_CLASS, "enter"):
        raise SystemExit(f"no update prompt\n{run.run_log()}")
    # The answer came no later than the driver's return and the package's first byte.
    answered = min(time.monotonic(), watch.marks.get("package", float("inf")))
    code = run.wait(600)
    watch.mark("ended")
    watch.stop()
    if code != 0:
        raise SystemExit(f"update run failed with exit code {code}\n{run.run_log()}")
    marks = [started, answered] + [watch.marks.get(name, float("nan")) for name in (
        "downloaded", "extracting", "extracted", "finished", "ended")]
    phases = [later - earlier for earlier, later in zip(marks, marks[1:])]
    return phases, watch.marks["finished"] - answered, marks[-1] - started, run.run_log()


def native_round(entry, certificates, scratch):
    """Seconds for curl, sha256sum and bsdtar, one after the other."""
    shutil.rmtree(scratch, ignore_errors=True)
    target = os.path.join(scratch, "runtime")
    os.makedirs(target)
    package = os.path.join(scratch, "jre.zip")
    marks = [time.monotonic()]
    subprocess.run(["curl", "-sS", "--fail", "--cacert", certificates.ca_pem, "-o", package,
                    entry["url"]], check=True)
    marks.append(time.monotonic())
    digest = subprocess.run(["sha256sum", package], check=True, capture_output=True,
                            text=True).stdout.split()[0]
    marks.append(time.monotonic())
    subprocess.run(["bsdtar", "-xf", package, "-C", target], check=True)
    marks.append(time.monotonic())
    if digest != entry["sha256"]:
        raise SystemExit("native chain: digest mismatch")
    return [later - earlier for earlier, later in zip(marks, marks[1:])]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--filler-mb", type=int, default=200)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    code = sandbox.enter_namespace("update_bench", os.path.abspath(__file__))
    if code is not None:
        return code
    work = tempfile.mkdtemp(prefix="kestrivon-update-bench-", dir=os.path.join(ROOT, "build"))
    os.chmod(work, 0o755)  # nginx's workers read the releases as another user
    sandbox.prepare_namespace(work)
    world = e2e.World(e2e.Tools(os.path.join(ROOT, "build", "windows"),
                                os.path.join(ROOT, "build", "native")), work)
    try:
        # Two large runtimes, so that every round replaces the one before it.
        releases = [world.publish("bench-0")]
        for version in ("22.0.2", "22.0.3"):
            world.make_runtime(version, args.filler_mb)
            releases.append(world.publish(f"bench-{version}", jre_version=version))
        install = os.path.join(work, "install")
        with sandbox.Nginx(work, releases[0], world.certificates):
            run = e2e.Run(world, install)
            run.answer("enter", 2)  # a fresh install asks for the updater, then the rest
            if run.wait(600) != 0:
                raise SystemExit(f"the first install failed\n{run.run_log()}")
        rows, updates, wholes, natives = [], [], [], []
        for number in range(args.rounds):
            release = releases[1 + number % 2]
            entry = e2e.manifest(release)["win"]["jre"]
            with sandbox.Nginx(work, release, world.certificates):
                phases, update, whole, log = updater_round(world, install, entry["size"])
                native = native_round(entry, world.certificates, os.path.join(work, "native"))
            rows.append(phases)
            updates.append(update)
            wholes.append(whole)
            natives.append(native)

        size = entry["size"]
        print(f"runtime package: {size / 1e6:.1f} MB, {args.rounds} rounds")
        print("round  " + "".join(f"{name:>17}" for name in PHASES) +
              "  curl  sha256sum  bsdtar")
        for number, (phases, native) in enumerate(zip(rows, natives), 1):
            print(f"{number:5}  " + "".join(f"{value:16.2f}s" for value in phases) +
                  "".join(f"{value:6.2f}s" for value in native))
        update, whole = statistics.median(updates), statistics.median(wholes)
        native = statistics.median(sum(values) for values in natives)
        print("medians, seconds      updater   native")
        for index, (name, tool) in enumerate((("download", "curl"), ("check", "sha256sum"),
                                              ("extract", "bsdtar"))):
            print(f"  {name:9} {tool:>9}  {statistics.median(r[index + 1] for r in rows):7.2f}"
                  f"  {statistics.median(n[index] for n in natives):7.2f}")
        print(f"  update work         {update:7.2f}  {native:7.2f}  (answer to final log line; "
              f"{size / 1e6 / update:.0f} vs {size / 1e6 / native:.0f} MB/s)")
        print(f"  whole run under Wine {whole:6.2f}")
        print(f"ratio, update work: {update / native:.2f} (target <= 1.5)")
        print(f"ratio, whole run:   {whole / native:.2f}")
        print("the last round's log:")
        print("".join(f"  {line}\n" for line in log.splitlines()))
        return 0
    finally:
        world.prefix.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
