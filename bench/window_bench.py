#!/usr/bin/env python3
"""What the update window costs while the player waits: the CPU share of KestrivonUpdater.exe
under Wine (its user and system time from /proc, over --seconds), at the update prompt and
while it shows a slow download (nginx sends the runtime package at --rate bytes per second).
With --compare OLD.exe, another build of the program takes turns with this one, round by round.
Also prints wineserver's share, which the program's window messages cost too. Goal: at most
3 % of a core in both states.

Runs in the end-to-end namespace (root). Usage: bench/window_bench.py [--rounds N]
[--seconds S] [--rate N] [--compare OLD.exe]   (after scripts/build)
"""

import argparse
import os
import shutil
import statistics
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import e2e  # noqa: E402
import sandbox  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")


def find_process(suffix, prefix):
    """The pid in Wine prefix `prefix` whose program name ends with `suffix` (Wine keeps the
    .exe as argv[0]); other developers' Wine processes share the machine."""
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as source:
                program = source.read().split(b"\0")[0]
            with open(f"/proc/{pid}/environ", "rb") as source:
                environment = source.read().split(b"\0")
        except OSError:
            continue
        if (program.lower().endswith(suffix.lower().encode()) and
                f"WINEPREFIX={prefix}".encode() in environment):
            return int(pid)
    return None


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as source:
        fields = source.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS  # utime, stime


def share(pids, seconds):
    """CPU share of each pid (a fraction of one core) over `seconds`."""
    before = [cpu_seconds(pid) for pid in pids]
    started = time.monotonic()
    time.sleep(seconds)
    after = [cpu_seconds(pid) for pid in pids]
    elapsed = time.monotonic() - started
    return [(b - a) / elapsed for a, b in zip(before, after)]


def window_round(world, install, exe, seconds, size):
    """(prompt shares, download shares), each (updater, wineserver)."""
    shutil.copy(exe, os.path.join(install, "KestrivonUpdater.exe"))
    # The last round's cancelled download stays for a resume: every round starts from zero.
    shutil.rmtree(os.path.join(install, "temp"), ignore_errors=True)
    run = e2e.Run(world, install, set_path=False)
    try:
        if not run.drive(e2e.PROMPT_CLASS, "find"):
            raise SystemExit(f"no update prompt\n{run.run_log()}")
        time.sleep(1)
        pids = [find_process(name, world.prefix.path)
                for name in ("KestrivonUpdater.exe", "wineserver64")]
        if None in pids:
            seen = []
            for pid in filter(str.isdigit, os.listdir("/proc")):
                try:
                    with open(f"/proc/{pid}/cmdline", "rb") as source:
                        seen.append(source.read().split(b"\0")[0])
                except OSError:
                    pass
            raise SystemExit(f"can't find the updater's or wineserver's process {pids}: "
                             f"{[p for p in seen if b'xe' in p or b'wine' in p]}")
        prompt = share(pids, seconds)
        if not run.drive(e2e.PROMPT_CLASS, "enter"):
            raise SystemExit("the prompt went away unanswered")
        package = os.path.join(install, "temp", "jre-package.zip")
        deadline = time.monotonic() + 30
        while not os.path.exists(package) or os.path.getsize(package) == 0:
            if time.monotonic() > deadline:
                raise SystemExit(f"the download did not start\n{run.run_log()}")
            time.sleep(0.05)
        time.sleep(1)
        download = share(pids, seconds)
        if os.path.getsize(package) >= size:
            raise SystemExit("the download ended while it was measured: lower --rate")
        return prompt, download
    finally:
        run.drive(e2e.MAIN_CLASS, "close", 10)
        run.wait(120)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--seconds", type=float, default=8)
    parser.add_argument("--rate", default="1m", help="nginx limit_rate for the package")
    parser.add_argument("--compare", help="another KestrivonUpdater.exe to measure in turn")
    args = parser.parse_args()
    code = sandbox.enter_namespace("window_bench", os.path.abspath(__file__))
    if code is not None:
        return code
    with e2e.bench_world("window-bench", ROOT) as (world, work):
        programs = {"this build": world.tools.updater}
        if args.compare:
            programs["compared"] = os.path.abspath(args.compare)
        first = world.publish("window-0")
        world.make_runtime("22.0.1", 64)
        release = world.publish("window-1", jre_version="22.0.1")
        size = e2e.manifest(release)["win"]["jre"]["size"]
        install = os.path.join(work, "install")
        with sandbox.Nginx(work, first, world.certificates):
            run = e2e.Run(world, install)
            run.answer("enter", 2)
            if run.wait(300) != 0:
                raise SystemExit(f"the first install failed\n{run.run_log()}")
        results = {name: [] for name in programs}
        with sandbox.Nginx(work, release, world.certificates, rate=args.rate):
            for number in range(args.rounds):
                names = list(programs)
                for name in names if number % 2 == 0 else reversed(names):
                    prompt, download = window_round(world, install, programs[name],
                                                    args.seconds, size)
                    results[name].append((prompt, download))
                    print(f"round {number + 1}, {name}: prompt {prompt[0]:.1%} "
                          f"(wineserver {prompt[1]:.1%}), download {download[0]:.1%} "
                          f"(wineserver {download[1]:.1%})", flush=True)
        for name, rows in results.items():
            def median(state, process):
                return statistics.median(row[state][process] for row in rows)
            print(f"{name}, medians of {len(rows)} rounds of {args.seconds:g} s: "
                  f"prompt {median(0, 0):.1%} of a core (wineserver {median(0, 1):.1%}), "
                  f"slow download {median(1, 0):.1%} (wineserver {median(1, 1):.1%}); "
                  "goal <= 3 %")
        return 0


if __name__ == "__main__":
    sys.exit(main())
