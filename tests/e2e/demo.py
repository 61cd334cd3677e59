#!/usr/bin/env python3
"""The demo: the shipped KestrivonUpdater.exe installs a freshly published sample release from
a real nginx origin under the product's real host names, then updates its Java runtime to a
newer one. Everything runs in a private network namespace; windows are shown on a virtual
display (Xvfb) and photographed.

Usage: demo.py --windows-build DIR --native-build DIR --out DIR
Leaves in --out: screenshots (prompt, download, end state of each run), the updater's log,
summary.txt; prints the summary.
"""

import argparse
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e  # noqa: E402
import sandbox  # noqa: E402

DISPLAY = ":71"


class Display:
    """Xvfb for the run's windows, and screenshots of it."""

    def __init__(self):
        self.process = subprocess.Popen(["Xvfb", DISPLAY, "-screen", "0", "1280x800x24",
                                         "-nolisten", "tcp"],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        socket = f"/tmp/.X11-unix/X{DISPLAY[1:]}"
        deadline = time.monotonic() + 10
        while not os.path.exists(socket) and time.monotonic() < deadline:
            time.sleep(0.05)
        if not os.path.exists(socket):
            raise sandbox.SandboxError("Xvfb did not start")

    def shoot(self, path):
        from PIL import ImageGrab  # Debian's python3-pil, with X support
        ImageGrab.grab(xdisplay=DISPLAY).save(path)

    def stop(self):
        sandbox.stop_process(self.process)


def folder_bytes(path):
    return sum(os.path.getsize(os.path.join(folder, name))
               for folder, _, files in os.walk(path) for name in files)


def demo_run(world, display, out, install, label, release, steps):
    """One updater start; `steps` photographs and answers the windows. Returns the timings."""
    times = {}
    with sandbox.Nginx(world.work, release, world.certificates, rate="40m"):
        started = time.monotonic()
        run = e2e.Run(world, install)
        steps(run, times, started)
        code = run.wait(300)
        times["total"] = time.monotonic() - started
        display.shoot(os.path.join(out, f"{label}-end.png"))
    e2e.check(code == 0, f"{label}: the updater ended with exit code {code}\n{run.log()}")
    return times


def accept_prompts(display, out, label, count):
    """Photographs and accepts `count` prompts (a fresh install asks for the updater's own
    package first, then, in the restarted updater, for the components), then photographs the
    download under way."""
    def steps(run, times, started):
        for number in range(1, count + 1):
            e2e.check(run.drive(e2e.PROMPT_CLASS, "find", timeout=120),
                      f"{label}: prompt {number} did not appear\n{run.run_log()}")
            times.setdefault("until the first prompt", time.monotonic() - started)
            time.sleep(0.5)  # let it paint
            display.shoot(os.path.join(out, f"{label}-prompt-{number}.png"))
            run.drive(e2e.PROMPT_CLASS, "enter")
            run.drive(e2e.PROMPT_CLASS, "gone", 15)
        accepted = time.monotonic()
        time.sleep(1.0)
        display.shoot(os.path.join(out, f"{label}-download.png"))
        while run.outcome() is None and time.monotonic() - accepted < 300:
            time.sleep(0.1)
        times["download and install"] = time.monotonic() - accepted
    return steps


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--windows-build", required=True)
    parser.add_argument("--native-build", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    code = sandbox.enter_namespace("demo", os.path.abspath(__file__))
    if code is not None:
        return code

    out = os.path.abspath(args.out)
    work = os.path.join(out, "work")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(work)
    sandbox.prepare_namespace(work)
    display = Display()
    os.environ.update(DISPLAY=DISPLAY, KESTRIVON_WINE_GRAPHICS="x11")
    world = None
    try:
        world = e2e.World(e2e.Tools(os.path.abspath(args.windows_build),
                                    os.path.abspath(args.native_build)), work)
        world.make_runtime("21.0.7", 120)
        install = os.path.join(work, "Kestrivon Games", "Kestrivon")
        published = time.monotonic()
        first = world.publish("release-1", launcher_version="2.0.0", jre_version="21.0.5")
        publish_time = time.monotonic() - published
        one = demo_run(world, display, out, install, "1-install", first,
                       accept_prompts(display, out, "1-install", 2))
        second = world.publish("release-2", launcher_version="2.0.0", jre_version="21.0.7")
        two = demo_run(world, display, out, install, "2-runtime-update", second,
                       accept_prompts(display, out, "2-runtime-update", 1))
        shutil.copy(os.path.join(install, e2e.LOG_NAME), os.path.join(out, "Kestrivon_Updater.log"))
        record = e2e.versions(install)
        entries = e2e.manifest(second)["win"]
        lines = [
            "Kestrivon Updater demo",
            f"install folder: {install}",
            f"publishing release 1: {publish_time:.1f} s",
            "",
            "run 1, fresh install (launcher and Java runtime):",
            *(f"  {name}: {seconds:.1f} s" for name, seconds in one.items()),
            "run 2, newer Java runtime:",
            *(f"  {name}: {seconds:.1f} s" for name, seconds in two.items()),
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
        display.stop()
        shutil.rmtree(os.path.join(work, "releases"), ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
