#!/usr/bin/env python3
"""A Java runtime update by the shipped KestrivonUpdater.exe under Wine from the local nginx
origin, against the environment's ceiling for its download (a minimal WinHTTP program fetching
the same package in the same Wine prefix, bench/winhttp_get.cpp) and against the same work done
natively by curl, sha256sum and bsdtar. The updater and the raw download take turns going first
in alternating rounds. The runtime has a real one's shape, generated deterministically: a
compressible lib/modules of --modules-mb, native libraries, jars, and a few hundred small text
files. Prints each round's phases (sampled from the install folder every 5 ms), the medians,
the ratios with their min and median over the rounds, and the updater's log (1-second stamps):

- update work: from the player's answer to the prompt until the updater's final log line
  (download, SHA-256 check, extraction, folder swap, record, launcher start).
- update work / raw WinHTTP download: target at most 1.15.
- update work / native chain (which does less: no swap, no launcher).
- whole run: from starting the program under Wine until it has ended, including Wine's
  process start, the manifest check, the prompt and the window driver's reaction time.

Runs in the end-to-end namespace (root). Usage: bench/update_bench.py [--modules-mb N]
[--rounds N]   (after scripts/build)
"""

import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import e2e  # noqa: E402
import sandbox  # noqa: E402

PHASES = ("start to answer", "download", "check", "extract", "swap and start", "exit")
RAW_GET = os.path.join(ROOT, "build", "windows", "bench", "kestrivon_winhttp_get.exe")


def make_java_runtime(world, version, modules_mb):
    """A runtime shaped like a real Java runtime image, the same bytes for the same version:
    lib/modules (text-like pages mixed with random ones, deflating to about 60 %), the JVM and
    about 40 native libraries (half compressible), a few jars (already compressed), and about
    260 small text files (configuration, legal notices)."""
    rng = random.Random(f"runtime-{version}")
    root = os.path.join(world.products, f"jre-{version}", f"jdk-{version}-jre")
    shutil.rmtree(os.path.dirname(root), ignore_errors=True)
    words = [bytes(rng.choices(b"abcdefghijklmnopqrstuvwxyz", k=rng.randint(2, 12)))
             for _ in range(5000)]
    pool = b" ".join(rng.choices(words, k=600_000))  # about 4 MB of text to take pages from

    def text(size):
        start = rng.randrange(len(pool) - size) if size < len(pool) else 0
        return pool[start:start + size]

    def write(path, content):
        path = os.path.join(root, path)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(content)

    page = 64 << 10
    with_modules = os.path.join(root, "lib", "modules")
    os.makedirs(os.path.dirname(with_modules), exist_ok=True)
    with open(with_modules, "wb") as out:
        for _ in range((modules_mb << 20) // page):
            out.write(rng.randbytes(page) if rng.random() < 0.5 else text(page))
    os.makedirs(os.path.join(root, "bin"), exist_ok=True)
    shutil.copy(world.tools.launcher, os.path.join(root, "bin", "java.exe"))
    shutil.copy(world.tools.launcher, os.path.join(root, "bin", "javaw.exe"))
    write("bin/server/jvm.dll", text(6 << 20) + rng.randbytes(6 << 20))
    for number in range(40):
        size = rng.randint(20 << 10, 2 << 20)
        write(f"bin/lib{number:02}.dll", text(size // 2) + rng.randbytes(size - size // 2))
    for name in ("jrt-fs", "charsets", "sunec", "localedata", "nashorn"):
        write(f"lib/{name}.jar", rng.randbytes(rng.randint(100 << 10, 4 << 20)))
    for number in range(30):
        write(f"conf/setting{number:02}.properties", text(rng.randint(200, 8 << 10)))
    for number in range(76):
        for name in ("LICENSE", "ASSEMBLY_EXCEPTION", "ADDITIONAL_LICENSE_INFO"):
            write(f"legal/java.module{number:02}/{name}", text(rng.randint(300, 12 << 10)))
    write("lib/security/cacerts", rng.randbytes(160 << 10))
    write("lib/tzdb.dat", text(100 << 10))
    write("release", f'JAVA_VERSION="{version}"\n'.encode())


class Watch:
    """Samples the install folder and marks when each phase of a runtime update began: the
    first bytes of `file` in temp, all `size` of them, the staging folder, the backup (the
    swap), the final log line."""

    def __init__(self, run, size, file="jre-package.zip"):
        self.run, self.install, self.size, self.file, self.marks = run, run.install, size, file, {}
        self.stopped = False
        self.thread = threading.Thread(target=self.loop)
        self.thread.start()

    def mark(self, name):
        self.marks.setdefault(name, time.monotonic())

    def sample(self, building):
        """Called on every scan; `building` while the staging folder is filled."""

    def loop(self):
        temp = os.path.join(self.install, "temp")
        package = os.path.join(temp, self.file)
        while not self.stopped:
            try:
                done = os.path.getsize(package) >= self.size
                self.mark("package")
                if done:
                    self.mark("downloaded")
            except OSError:
                pass
            building = os.path.isdir(os.path.join(temp, "staging-jre"))
            if building:
                self.mark("extracting")
            elif "extracting" in self.marks:
                self.mark("extracted")  # the swap came and went between two scans
            if os.path.isdir(os.path.join(temp, "backup-jre")):
                self.mark("extracted")
                building = False
            self.sample(building)
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
    try:
        # Under load the driver may find the prompt already gone when it sends the key's
        # release; the download's start shows that the answer arrived.
        if not run.drive(e2e.PROMPT_CLASS, "enter") and "package" not in watch.marks:
            raise SystemExit(f"no update prompt\n{run.run_log()}")
        # The answer came no later than the driver's return and the package's first byte.
        answered = min(time.monotonic(), watch.marks.get("package", float("inf")))
        code = run.wait(600)
        watch.mark("ended")
    finally:
        watch.stop()
    if code != 0:
        raise SystemExit(f"update run failed with exit code {code}\n{run.run_log()}")
    marks = [started, answered] + [watch.marks.get(name, float("nan")) for name in (
        "downloaded", "extracting", "extracted", "finished", "ended")]
    phases = [later - earlier for earlier, later in zip(marks, marks[1:])]
    return phases, watch.marks["finished"] - answered, marks[-1] - started, run.run_log()


def raw_round(world, url, scratch):
    """Seconds of the raw WinHTTP download, timed inside its process."""
    os.makedirs(scratch, exist_ok=True)
    target = os.path.join(scratch, "raw.zip")
    result = world.prefix.run([RAW_GET, url, world.prefix.windows_path(target)], timeout=600,
                              capture_output=True, text=True)
    if result.returncode != 0:
        raise SystemExit(f"the raw WinHTTP download failed: {result.stderr.strip()}")
    size, seconds = result.stdout.split()
    if int(size) != os.path.getsize(target):
        raise SystemExit("the raw WinHTTP download wrote a different size")
    os.remove(target)
    return float(seconds)


def native_round(entry, certificates, scratch):
    """Seconds for curl, sha256sum and bsdtar, one after the other, into a fresh `scratch`.
    Trees are kept until the end: on ext4 without a journal, deleting files just before a run
    makes every file it creates scan past them."""
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
    parser.add_argument("--modules-mb", type=int, default=130)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--in-memory", action="store_true",
                        help="everything on tmpfs (/dev/shm): the program's own speed, without "
                        "the disk's")
    args = parser.parse_args()
    if not os.path.isfile(RAW_GET):
        raise SystemExit(f"{RAW_GET} not found: build the windows preset first")
    code = sandbox.enter_namespace("update_bench", os.path.abspath(__file__))
    if code is not None:
        return code
    under = "/dev/shm" if args.in_memory else None
    with e2e.bench_world("update-bench", ROOT, under) as (world, work):
        # Two large runtimes, so that every round replaces the one before it.
        releases = [world.publish("bench-0")]
        for version in ("22.0.2", "22.0.3"):
            make_java_runtime(world, version, args.modules_mb)
            releases.append(world.publish(f"bench-{version}", jre_version=version))
        install = os.path.join(work, "install")
        with sandbox.Nginx(work, releases[0], world.certificates):
            run = e2e.Run(world, install)
            run.answer("enter", 2)  # a fresh install asks for the updater, then the rest
            if run.wait(600) != 0:
                raise SystemExit(f"the first install failed\n{run.run_log()}")
        rows, updates, wholes, natives, raws = [], [], [], [], []
        for number in range(args.rounds):
            release = releases[1 + number % 2]
            entry = e2e.manifest(release)["win"]["jre"]
            scratch = os.path.join(work, f"native-{number}")
            with sandbox.Nginx(work, release, world.certificates):
                if number % 2:
                    raws.append(raw_round(world, entry["url"], scratch))
                phases, update, whole, log = updater_round(world, install, entry["size"])
                if not number % 2:
                    raws.append(raw_round(world, entry["url"], scratch))
                native = native_round(entry, world.certificates, scratch)
            rows.append(phases)
            updates.append(update)
            wholes.append(whole)
            natives.append(native)

        size = entry["size"]
        print(f"runtime package: {size / 1e6:.1f} MB, {args.rounds} rounds")
        print("round  " + "".join(f"{name:>17}" for name in PHASES) +
              "  raw WinHTTP  curl  sha256sum  bsdtar")
        for number, (phases, raw, native) in enumerate(zip(rows, raws, natives), 1):
            print(f"{number:5}  " + "".join(f"{value:16.2f}s" for value in phases) +
                  f"{raw:12.2f}s" + "".join(f"{value:6.2f}s" for value in native))
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
        print(f"  raw WinHTTP download {statistics.median(raws):6.2f}  (min {min(raws):.2f}; "
              f"the updater's download phase {statistics.median(r[1] for r in rows):.2f})")

        def ratios(name, values, target=""):
            print(f"{name}: min {min(values):.2f}, median {statistics.median(values):.2f}{target}")

        ratios("update work / raw WinHTTP download", [u / r for u, r in zip(updates, raws)],
               " (target <= 1.15)")
        ratios("update work / native chain        ",
               [u / sum(n) for u, n in zip(updates, natives)])
        ratios("whole run / native chain          ",
               [w / sum(n) for w, n in zip(wholes, natives)])
        print("the last round's log:")
        print("".join(f"  {line}\n" for line in log.splitlines()))
        return 0


if __name__ == "__main__":
    sys.exit(main())
