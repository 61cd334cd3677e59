#!/usr/bin/env python3
"""A full Java runtime update (~200 MB package) by the shipped KestrivonUpdater.exe under Wine
from the local nginx origin, against the same work done natively by curl, sha256sum and
bsdtar, in one run. Prints both times, their ratio (target: at most 1.5) and the updater's
phases as its log shows them. Runs in the end-to-end namespace (root).

Usage: bench/update_bench.py [--filler-mb N]   (after scripts/build)
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import e2e  # noqa: E402
import sandbox  # noqa: E402


def native_update(release, entry, certificates, scratch):
    package = os.path.join(scratch, "jre.zip")
    target = os.path.join(scratch, "runtime")
    os.makedirs(target)
    started = time.monotonic()
    subprocess.run(["curl", "-sS", "--fail", "--cacert", certificates.ca_pem, "-o", package,
                    entry["url"]], check=True)
    digest = subprocess.run(["sha256sum", package], check=True, capture_output=True,
                            text=True).stdout.split()[0]
    subprocess.run(["bsdtar", "-xf", package, "-C", target], check=True)
    elapsed = time.monotonic() - started
    if digest != entry["sha256"]:
        raise SystemExit("native chain: digest mismatch")
    return elapsed


def phases(log):
    """Seconds between the log's stage lines of the last run (1-second resolution)."""
    lines = log.split("=== Kestrivon Updater v")[-1].splitlines()
    stamps = []
    for line in lines:
        match = re.match(r"\[(\d+)-(\d+)-(\d+) (\d+):(\d+):(\d+)\] (.*)", line)
        if match:
            h, m, s = (int(match.group(i)) for i in (4, 5, 6))
            stamps.append((h * 3600 + m * 60 + s, match.group(7)))
    marks = [(t, text) for t, text in stamps
             if any(k in text for k in ("Downloading", "Download", "verified", "Installing",
                                         "Extract", "Starting", "finished"))]
    return [(text[:90], t - stamps[0][0]) for t, text in marks]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--filler-mb", type=int, default=200)
    args = parser.parse_args()
    code = sandbox.run_in_namespace([os.path.abspath(__file__), *sys.argv[1:]])
    if code is not None:
        return code
    work = tempfile.mkdtemp(prefix="kestrivon-update-bench-", dir=os.path.join(ROOT, "build"))
    os.chmod(work, 0o755)  # nginx's workers read the releases as another user
    sandbox.prepare_namespace(work)
    world = e2e.World(e2e.Tools(os.path.join(ROOT, "build", "windows"),
                                os.path.join(ROOT, "build", "native")), work)
    try:
        world.make_runtime("22.0.2", args.filler_mb)
        first = world.publish("bench-1")
        second = world.publish("bench-2", jre_version="22.0.2")
        install = os.path.join(work, "install")
        # A fresh install asks twice (the updater's own package, then the components).
        for release, label, prompts in ((first, "install", 2), (second, "update", 1)):
            server = sandbox.Nginx(work, release, world.certificates)
            try:
                started = time.monotonic()
                run = e2e.Run(world, install)
                run.answer("enter", prompts)
                code = run.wait(600)
                elapsed = time.monotonic() - started
                if label == "update":
                    entry = e2e.manifest(release)["win"]["jre"]
                    native = native_update(release, entry, world.certificates,
                                           os.path.join(work, "native"))
            finally:
                server.stop()
            if code != 0:
                raise SystemExit(f"{label} run failed with exit code {code}")
        size = entry["size"]
        print(f"runtime package: {size / 1e6:.1f} MB")
        print(f"KestrivonUpdater.exe under Wine, whole run: {elapsed:.2f} s "
              f"({size / 1e6 / elapsed:.0f} MB/s)")
        print(f"curl + sha256sum + bsdtar, native:        {native:.2f} s "
              f"({size / 1e6 / native:.0f} MB/s)")
        print(f"ratio: {elapsed / native:.2f} (target <= 1.5)")
        print("updater phases from its log (seconds since the run's first line):")
        for text, seconds in phases(run.log()):
            print(f"  +{seconds:3d} s  {text}")
        return 0
    finally:
        world.prefix.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
