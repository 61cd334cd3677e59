#!/usr/bin/env python3
"""The demo: the shipped KestrivonUpdater.exe installs a freshly published sample release from
a real nginx origin under the product's real host names, then updates its Java runtime to a
newer one, in a private network namespace, its windows photographed on Xvfb.

Leaves screenshots, the updater's log and summary.txt in --out; prints the summary.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import time

import e2e
import sandbox

DISPLAY = ":71"


def start_display():
    """Xvfb for the run's windows."""
    display = subprocess.Popen(["Xvfb", DISPLAY, "-screen", "0", "1280x800x24", "-nolisten",
                                "tcp"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(200):
        if os.path.exists(f"/tmp/.X11-unix/X{DISPLAY[1:]}"):
            return display
        time.sleep(0.05)
    raise sandbox.SandboxError("Xvfb did not start")


def shoot(path):
    from PIL import ImageGrab  # Debian's python3-pil, with X support
    ImageGrab.grab(xdisplay=DISPLAY).save(path)


def folder_bytes(path):
    return sum(os.path.getsize(os.path.join(folder, name))
               for folder, _, files in os.walk(path) for name in files)


def demo_run(world, out, install, label, release, prompts):
    """One updater start: photographs and accepts `prompts` prompts (a fresh install asks for
    the updater's own package first, then, in the restarted updater, for the components), the
    download under way and the end. Returns the timings."""
    times = {}
    with sandbox.Nginx(world.work, release, world.certificates, rate="40m"):
        started = time.monotonic()
        run = e2e.Run(world, install)
        for number in range(1, prompts + 1):
            e2e.check(run.drive(e2e.PROMPT_CLASS, "find", timeout=120),
                      f"{label}: prompt {number} did not appear\n{run.run_log()}")
            times.setdefault("until the first prompt", time.monotonic() - started)
            time.sleep(0.5)  # let it paint
            shoot(os.path.join(out, f"{label}-prompt-{number}.png"))
            run.drive(e2e.PROMPT_CLASS, "enter")
            run.drive(e2e.PROMPT_CLASS, "gone", 15)
        accepted = time.monotonic()
        time.sleep(1.0)
        shoot(os.path.join(out, f"{label}-download.png"))
        run.finish(0, 300)
        times["download and install"] = time.monotonic() - accepted
        times["total"] = time.monotonic() - started
        # The end a player sees: the updater gone, the launcher's window up. It must be gone
        # again before the next run, which a running launcher would stop.
        e2e.check(run.drive(e2e.LAUNCHER_CLASS, "find", timeout=30),
                  f"{label}: the launcher's window did not appear")
        time.sleep(0.5)  # let it paint
        shoot(os.path.join(out, f"{label}-end.png"))
        run.drive(e2e.LAUNCHER_CLASS, "gone", timeout=30)
    return times


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--windows-build", required=True)
    parser.add_argument("--native-build", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--updater", required=True, help="the program, built with the demo key")
    parser.add_argument("--keys", required=True, help="the folder of the demo key pair")
    args = parser.parse_args()
    code = sandbox.enter_namespace("demo", os.path.abspath(__file__))
    if code is not None:
        return code

    out = os.path.abspath(args.out)
    work = os.path.join(out, "work")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(work)
    sandbox.prepare_namespace(work)
    display = start_display()
    os.environ.update(DISPLAY=DISPLAY, KESTRIVON_WINE_GRAPHICS="x11")
    world = None
    try:
        world = e2e.World(e2e.Tools(os.path.abspath(args.windows_build),
                                    os.path.abspath(args.native_build),
                                    os.path.abspath(args.updater), os.path.abspath(args.keys)),
                          work)
        # The updater passes its environment on: the sample launcher shows its window for 3 s.
        world.prefix.env["KESTRIVON_SAMPLE_WINDOW_MS"] = "3000"
        # Two runtimes that differ as minor updates do: the second run fetches a delta.
        e2e.make_runtime_series(world, ("21.0.6", "21.0.7"), 120)
        install = os.path.join(work, "Kestrivon Games", "Kestrivon")
        published = time.monotonic()
        first = world.publish("release-1", jre_version="21.0.6", keys=["manifest-signing"])
        publish_time = time.monotonic() - published
        one = demo_run(world, out, install, "1-install", first, 2)
        second = world.publish("release-2", jre_version="21.0.7", keys=["manifest-signing"],
                               previous=first)
        two = demo_run(world, out, install, "2-runtime-update", second, 1)
        shutil.copy(os.path.join(install, e2e.LOG_NAME), os.path.join(out, "Kestrivon_Updater.log"))
        record = e2e.versions(install)
        log = e2e.read(install, e2e.LOG_NAME)
        verified = re.findall(r"\[INFO\] (Manifest signature verified .*)", log)
        e2e.check(len(verified) >= 2 and "not checked" not in log, "manifest signatures unchecked")
        entries = e2e.manifest(second)["win"]
        delta = e2e.delta_entry(second)
        sent = sum(size for _, size in e2e.nginx_sent(world, "/" + delta["url"].split("/", 3)[3]))
        e2e.check(sent > 0 and "[INFO] Applied delta" in log, "run 2 did not use the delta")
        lines = [
            "Kestrivon Updater demo",
            f"install folder: {install}",
            f"publishing release 1: {publish_time:.1f} s",
            "",
            "run 1, fresh install (launcher and Java runtime):",
            *(f"  {name}: {seconds:.1f} s" for name, seconds in one.items()),
            "run 2, newer Java runtime through a delta:",
            *(f"  {name}: {seconds:.1f} s" for name, seconds in two.items()),
            f"  downloaded {sent:,} bytes instead of the {entries['jre']['size']:,}-byte package "
            f"({100 * sent / entries['jre']['size']:.1f} %; {entries['jre']['size'] - sent:,} "
            "bytes saved)",
            "",
            "manifest signatures (one line per updater start):",
            *(f"  {line}" for line in verified),
            f"  highest serial accepted: {e2e.read(install, 'config', 'manifest-serial').strip()}",
            "",
            "installed now:",
            f"  launcher {record['launcher']['version']} ({record['launcher']['sha256'][:8]}...)",
            f"  Java runtime {record['jre']['version']} ({record['jre']['sha256'][:8]}...)",
            f"  runtime package {entries['jre']['size']:,} bytes, runtime on disk "
            f"{folder_bytes(os.path.join(install, 'runtime')):,} bytes",
            f"  launcher started {len(e2e.launcher_starts(install))} times",
            "",
            f"screenshots and log: {out}",
        ]
        summary = "\n".join(lines) + "\n"
        with open(os.path.join(out, "summary.txt"), "w") as text:
            text.write(summary)
        print(summary, end="")
        return 0
    except (e2e.ScenarioFailed, sandbox.SandboxError, OSError) as error:
        print(f"demo failed: {error}", file=sys.stderr)
        return 1
    finally:
        if world:
            world.prefix.stop()
        sandbox.stop_process(display)
        shutil.rmtree(os.path.join(work, "releases"), ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
