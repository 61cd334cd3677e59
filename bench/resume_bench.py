#!/usr/bin/env python3
"""What a broken or cancelled runtime download costs in bytes: the shipped KestrivonUpdater.exe
under Wine updates a ~200 MB runtime package from the local nginx origin, and

- reset at 90 %: nginx is stopped once the package file holds 90 % of the package and started
  again at once; the updater's next attempt asks for the rest;
- cancel at 50 %: Cancel is pressed at 50 %; a new run finishes the update.

Prints the bytes each case cost per package byte (the kept bytes the updater logs when it
resumes, plus nginx's body bytes for the rest; bytes lost in flight at the reset are not
counted) against a transfer from zero (1 + the part done before the break). Target: <= 1.05.

Runs in the end-to-end namespace (root). Usage: bench/resume_bench.py [--filler-mb N]
(after scripts/build)
"""

import argparse
import os
import re
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import e2e  # noqa: E402
import sandbox  # noqa: E402


def wait_for_share(run, package, size, share):
    deadline = time.monotonic() + 300
    while not (os.path.exists(package) and os.path.getsize(package) >= size * share):
        if time.monotonic() > deadline or run.outcome() is not None:
            raise SystemExit(f"the download did not reach {share:.0%}\n{run.run_log()}")
        time.sleep(0.005)
    return os.path.getsize(package)


def resumed_at(log):
    match = re.search(r"Resuming jre-package\.zip at (\d+) of (\d+) bytes", log)
    if not match:
        raise SystemExit(f"the download was not resumed\n{log}")
    return int(match.group(1))


def nginx_bytes_since(work, offset, path):
    with open(os.path.join(work, "nginx", "access.log")) as log:
        log.seek(offset)
        return sum(int(match.group(2)) for line in log
                   if (match := re.search(r'"GET (\S+) HTTP/[\d.]+" \d+ (\d+)', line))
                   and match.group(1) == path)


def access_log_size(work):
    path = os.path.join(work, "nginx", "access.log")
    return os.path.getsize(path) if os.path.exists(path) else 0


def reset_case(world, install, release, size, path, package):
    with sandbox.Nginx(world.work, release, world.certificates):
        run = e2e.Run(world, install, set_path=False)
        run.answer("enter", 1)
        broken = wait_for_share(run, package, size, 0.9)
    offset = access_log_size(world.work)
    with sandbox.Nginx(world.work, release, world.certificates):
        if run.wait(600) != 0:
            raise SystemExit(f"the update failed after the reset\n{run.run_log()}")
    kept = resumed_at(run.run_log())
    return broken, kept, nginx_bytes_since(world.work, offset, path)


def cancel_case(world, install, release, size, path, package):
    with sandbox.Nginx(world.work, release, world.certificates):
        run = e2e.Run(world, install, set_path=False)
        run.answer("enter", 1)
        broken = wait_for_share(run, package, size, 0.5)
        run.drive(e2e.MAIN_CLASS, "click:459,184")
        run.wait(120)
    offset = access_log_size(world.work)
    with sandbox.Nginx(world.work, release, world.certificates):
        again = e2e.Run(world, install, set_path=False)
        again.answer("enter", 1)
        if again.wait(600) != 0:
            raise SystemExit(f"the run after the cancel failed\n{again.run_log()}")
    kept = resumed_at(again.run_log())
    return broken, kept, nginx_bytes_since(world.work, offset, path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--filler-mb", type=int, default=200)
    args = parser.parse_args()
    code = sandbox.enter_namespace("resume_bench", os.path.abspath(__file__))
    if code is not None:
        return code
    with e2e.bench_world("resume-bench", ROOT) as (world, work):
        first = world.publish("bench-0")
        install = os.path.join(work, "install")
        with sandbox.Nginx(work, first, world.certificates):
            run = e2e.Run(world, install)
            run.answer("enter", 2)  # a fresh install asks for the updater, then the rest
            if run.wait(600) != 0:
                raise SystemExit(f"the first install failed\n{run.run_log()}")
        package = os.path.join(install, "temp", "jre-package.zip")
        print("case          package MB  broken at  kept MB  sent after MB  cost  from zero")
        for name, case, version in (("reset at 90%", reset_case, "22.0.2"),
                                    ("cancel at 50%", cancel_case, "22.0.3")):
            world.make_runtime(version, args.filler_mb)
            release = world.publish(f"bench-{version}", jre_version=version)
            path = "/" + e2e.jre_file(release)
            size = os.path.getsize(os.path.join(release, e2e.jre_file(release)))
            broken, kept, sent = case(world, install, release, size, path, package)
            print(f"{name:13} {size / 1e6:10.1f}  {broken / size:8.1%}  {kept / 1e6:7.1f}"
                  f"  {sent / 1e6:13.1f}  {(kept + sent) / size:4.2f}"
                  f"  {1 + broken / size:9.2f}")
        print("target: cost <= 1.05")
        return 0


if __name__ == "__main__":
    sys.exit(main())
