#!/usr/bin/env python3
"""A Java runtime minor update by the shipped KestrivonUpdater.exe under Wine from the local
nginx origin, through the full package and through a delta from the installed package, on two
real Java 17 runtimes: Debian's openjdk-17-jre-headless 17.0.19 and 17.0.21.1, fetched by apt
into build/bench-data/ (kept there, never committed) with their links into /etc resolved inside
the package or dropped, and a Windows bin/java.exe added. --generated uses a deterministic pair
instead (update_bench's runtime, then the changes of a minor update). Each round restores the
same install of the older runtime and updates it both ways, in alternating order. Prints:

- bytes on the wire: the body bytes nginx logged for the runtime's file, and for the whole run;
  the delta as a share of the full package (target at most 12 %).
- update time: from the player's answer to the prompt until the updater's final log line, as
  bench/update_bench.py measures it, with its phases (sampled from the install folder).
- peak memory while patching: natively, the peak resident set size of a process that applies
  the same delta to the older runtime (bench/delta_apply_bench.cpp, getrusage); under Wine, the
  updater's resident set sampled from /proc every 5 ms while it builds the staging folder, and
  its whole run's peak (VmHWM), for the delta and, beside it, for the full package.

Runs in the end-to-end namespace (root). Usage: bench/delta_bench.py [--rounds N]
[--generated [--modules-mb N]]   (after scripts/build)
"""

import argparse
import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
sys.path.insert(0, os.path.join(ROOT, "bench"))
import e2e  # noqa: E402
import sandbox  # noqa: E402
import update_bench  # noqa: E402

DATA = os.path.join(ROOT, "build", "bench-data")
PACKAGE = "openjdk-17-jre-headless"
DEBIAN = (("17.0.19", "17.0.19+10-1~deb12u2"), ("17.0.21.1", "17.0.21.1+2-1~deb12u1"))
JVM_FOLDER = os.path.join("usr", "lib", "jvm", "java-17-openjdk-amd64")
APPLY = os.path.join(ROOT, "build", "native", "bench", "kestrivon_delta_apply_bench")
PHASES = ("download", "check and build", "swap and start")


def debian_runtime(version, debian_version):
    """The JRE folder of one openjdk-17-jre-headless version under build/bench-data/, fetched
    and unpacked once. Links become the files they name inside the package; links out of it
    (the CA store) are dropped, as a runtime package holds no links."""
    tree = os.path.join(DATA, f"{PACKAGE}-{version}")
    if os.path.isfile(os.path.join(tree, "release")):
        return tree
    deb = os.path.join(DATA, f"{PACKAGE}_{debian_version}_amd64.deb")
    if not os.path.isfile(deb):
        os.makedirs(DATA, exist_ok=True)
        result = subprocess.run(["apt-get", "download", f"{PACKAGE}={debian_version}"],
                                cwd=DATA, capture_output=True, text=True)
        if result.returncode != 0 or not os.path.isfile(deb):
            raise SystemExit(f"can't fetch {PACKAGE} {debian_version} ({result.stderr.strip()}); "
                             "--generated runs on a generated pair instead")
    with tempfile.TemporaryDirectory(dir=DATA) as unpacked:
        subprocess.run(["dpkg-deb", "-x", deb, unpacked], check=True)
        links = [os.path.join(folder, name) for folder, names, files in os.walk(unpacked)
                 for name in names + files if os.path.islink(os.path.join(folder, name))]
        for link in links:
            if os.path.isabs(target := os.readlink(link)):  # /etc/... as unpacked here
                os.remove(link)
                os.symlink(os.path.relpath(unpacked + target, os.path.dirname(link)), link)
        for link in links:
            if not os.path.exists(link):
                os.remove(link)
        shutil.rmtree(tree + ".part", ignore_errors=True)
        shutil.copytree(os.path.join(unpacked, JVM_FOLDER), tree + ".part")
        os.rename(tree + ".part", tree)
    return tree


def minor_update(old_root, new_root, version):
    """The changes of a minor update on a copy of a generated runtime: the module image and the
    JVM changed in scattered places (some regions grow or shrink), a few libraries rebuilt,
    the CA store replaced, a file added and one removed."""
    rng = random.Random(f"update-{version}")
    shutil.copytree(old_root, new_root)

    def mutate(path, share):
        with open(path, "rb") as source:
            data = bytearray(source.read())
        for _ in range(int(len(data) * share) // 8192):
            start, size = rng.randrange(len(data)), rng.randint(64, 16384)
            data[start:start + size] = rng.randbytes(size + rng.choice((0, 0, 0, -48, 48)))
        with open(path, "wb") as out:
            out.write(data)

    mutate(os.path.join(new_root, "lib", "modules"), 0.04)
    mutate(os.path.join(new_root, "bin", "server", "jvm.dll"), 0.08)
    for number in rng.sample(range(40), 6):
        mutate(os.path.join(new_root, "bin", f"lib{number:02}.dll"), 0.05)
    with open(os.path.join(new_root, "lib", "security", "cacerts"), "wb") as out:
        out.write(rng.randbytes(160 << 10))
    with open(os.path.join(new_root, "conf", "setting30.properties"), "w") as out:
        out.write("jdk.update.added=true\n")
    os.remove(os.path.join(new_root, "conf", "setting00.properties"))
    with open(os.path.join(new_root, "release"), "w") as out:
        out.write(f'JAVA_VERSION="{version}"\n')


def make_runtimes(world, generated, modules_mb):
    """The older and the newer runtime as products; their versions."""
    if generated:
        versions = ("22.0.2", "22.0.3")
        update_bench.make_java_runtime(world, versions[0], modules_mb)
        roots = [os.path.join(world.products, f"jre-{v}", f"jdk-{v}-jre") for v in versions]
        shutil.rmtree(os.path.dirname(roots[1]), ignore_errors=True)
        minor_update(roots[0], roots[1], versions[1])
        return versions
    for version, debian_version in DEBIAN:
        root = os.path.join(world.products, f"jre-{version}", f"jdk-{version}-jre")
        shutil.copytree(debian_runtime(version, debian_version), root)
        shutil.copy(world.tools.launcher, os.path.join(root, "bin", "java.exe"))
    return tuple(version for version, _ in DEBIAN)


class Watch:
    """Marks the phases of one runtime update and samples the updater's resident set."""

    def __init__(self, run, work, file, size):
        self.run, self.file, self.size, self.marks = run, file, size, {}
        self.tag = os.path.basename(work)  # in the updater's command line, as a Windows path
        self.pid, self.building_kib, self.peak_kib = None, 0, 0
        self.stopped = False
        self.thread = threading.Thread(target=self.loop)
        self.thread.start()

    def mark(self, name):
        self.marks.setdefault(name, time.monotonic())

    def find_pid(self):
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as source:
                    line = source.read()
            except OSError:
                continue
            if b"KestrivonUpdater.exe" in line and self.tag.encode() in line:
                return pid
        return None

    def memory(self):
        """(VmRSS, VmHWM) in KiB, or None once the process is gone."""
        try:
            with open(f"/proc/{self.pid}/status") as source:
                fields = dict(line.split(":", 1) for line in source)
            return int(fields["VmRSS"].split()[0]), int(fields["VmHWM"].split()[0])
        except (OSError, KeyError, ValueError):
            return None

    def loop(self):
        temp = os.path.join(self.run.install, "temp")
        while not self.stopped:
            try:
                if os.path.getsize(os.path.join(temp, self.file)) >= self.size:
                    self.mark("downloaded")
                self.mark("first byte")
            except OSError:
                pass
            building = os.path.isdir(os.path.join(temp, "staging-jre"))
            if os.path.isdir(os.path.join(temp, "backup-jre")):
                self.mark("swapping")
                building = False
            self.pid = self.pid or self.find_pid()
            if self.pid and (memory := self.memory()):
                self.peak_kib = max(self.peak_kib, memory[1])
                if building:
                    self.building_kib = max(self.building_kib, memory[0])
            if "=== Kestrivon Updater finished" in self.run.run_log():
                self.mark("finished")
            time.sleep(0.005)

    def stop(self):
        self.stopped = True
        self.thread.join()


def update_round(world, work, install, snapshot, release, file, size):
    """One update of the restored older install while nginx serves `release`: the update time,
    its phases, the resident sets (KiB), nginx's (path, status, body bytes) and the log."""
    shutil.rmtree(install)
    shutil.copytree(snapshot, install, symlinks=True)
    access = os.path.join(world.work, "nginx", "access.log")
    if os.path.exists(access):
        os.remove(access)
    with world.nginx(release):
        run = e2e.Run(world, install, set_path=False)
        watch = Watch(run, work, file, size)
        try:
            if not run.drive(e2e.PROMPT_CLASS, "enter") and "first byte" not in watch.marks:
                raise SystemExit(f"no update prompt\n{run.run_log()}")
            answered = min(time.monotonic(), watch.marks.get("first byte", float("inf")))
            code = run.wait(600)
        finally:
            watch.stop()
    if code != 0:
        raise SystemExit(f"update run failed with exit code {code}\n{run.run_log()}")
    marks = [answered] + [watch.marks.get(name, float("nan"))
                          for name in ("downloaded", "swapping", "finished")]
    phases = [later - earlier for earlier, later in zip(marks, marks[1:])]
    sent = [(path, int(size)) for path, size in nginx_bodies(access)]
    return (marks[-1] - answered, phases, (watch.building_kib, watch.peak_kib), sent,
            run.run_log())


def nginx_bodies(access):
    """(path, body bytes) of each GET in nginx's access log."""
    with open(access) as source:
        for line in source:
            words = line.split('"')
            if len(words) > 2 and words[1].startswith("GET "):
                yield words[1].split()[1], words[2].split()[1]


def native_apply(installed, delta, scratch):
    """(seconds, peak RSS KiB before the delta, peak RSS KiB) of applying `delta` natively."""
    staging = os.path.join(scratch, "native-staging")
    shutil.rmtree(staging, ignore_errors=True)
    result = subprocess.run([APPLY, installed, delta, staging], capture_output=True, text=True)
    if result.returncode != 0:
        raise SystemExit(f"the native apply failed: {result.stderr.strip()}")
    shutil.rmtree(staging)
    fields = result.stdout.split()
    return float(fields[4]), int(fields[5]), int(fields[6])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rounds", type=int, default=2)
    parser.add_argument("--generated", action="store_true")
    parser.add_argument("--modules-mb", type=int, default=130)
    args = parser.parse_args()
    if not os.path.isfile(APPLY):
        raise SystemExit(f"{APPLY} not found: build the native preset first")
    if not args.generated:  # the network is outside the namespace
        for version, debian_version in DEBIAN:
            debian_runtime(version, debian_version)
    code = sandbox.enter_namespace("delta_bench", os.path.abspath(__file__))
    if code is not None:
        return code
    world, work = e2e.bench_world("delta-bench", ROOT)
    try:
        old, new = make_runtimes(world, args.generated, args.modules_mb)
        first = world.publish("old", jre_version=old)
        with_delta = world.publish("new", jre_version=new, previous=first)
        # The same release without its delta list: the full package is the only way.
        full_only = os.path.join(world.work, "releases", "new-full")
        shutil.copytree(with_delta, full_only, copy_function=os.link)
        document = e2e.manifest(with_delta)
        entry = document["win"]["jre"]
        delta = e2e.delta_entry(with_delta)
        del document["win"]["jre"]["deltas"]
        manifest = os.path.join(full_only, "launcher", "launcher-manifest.json")
        os.remove(manifest)  # a link to the other release's file
        with open(manifest, "w") as out:
            json.dump(document, out)

        install = os.path.join(work, "install")
        with world.nginx(first):
            run = e2e.Run(world, install)
            run.answer("enter", 2)  # a fresh install asks for the updater, then the rest
            if run.wait(600) != 0:
                raise SystemExit(f"the first install failed\n{run.run_log()}")
        snapshot = os.path.join(work, "install-old")
        shutil.copytree(install, snapshot, symlinks=True)
        installed_old = os.path.join(world.products, f"jre-{old}", f"jdk-{old}-jre")
        delta_file = os.path.join(with_delta, delta["url"].split("/", 3)[3])
        natives = [native_apply(installed_old, delta_file, work) for _ in range(args.rounds)]

        published = e2e.tree(os.path.join(world.products, f"jre-{new}", f"jdk-{new}-jre"))
        kinds = {"full": (full_only, "jre-package.zip", entry["size"], entry["url"]),
                 "delta": (with_delta, "jre-delta.zip", delta["size"], delta["url"])}
        results = {kind: [] for kind in kinds}
        for number in range(args.rounds):
            for kind in (("full", "delta") if number % 2 == 0 else ("delta", "full")):
                release, file, size, url = kinds[kind]
                result = update_round(world, work, install, snapshot, release, file, size)
                log = result[-1]
                if ("JRE: a delta from the installed package" in log) != (kind == "delta") or \
                        "[WARN] JRE: the delta" in log:
                    raise SystemExit(f"the {kind} round did not go as planned\n{log}")
                if e2e.tree(os.path.join(install, "runtime")) != published:
                    raise SystemExit(f"the {kind} round's runtime is not the published one")
                results[kind].append(result)

        source = "generated" if args.generated else f"Debian's {PACKAGE}"
        print(f"runtime {old} -> {new} ({source}): {len(published)} files, package "
              f"{entry['size'] / 1e6:.1f} MB, delta {delta['size'] / 1e6:.2f} MB; "
              f"{args.rounds} rounds")
        print("bytes on the wire (nginx's body bytes, last round):")
        wire = {}
        for kind, (_, _, size, url) in kinds.items():
            sent = results[kind][-1][3]
            path = "/" + url.split("/", 3)[3]
            wire[kind] = sum(size for requested, size in sent if requested == path)
            print(f"  {kind:5}  runtime file {wire[kind]:>11,} bytes (listed {size:,}); "
                  f"whole run {sum(size for _, size in sent):,} bytes in {len(sent)} requests")
        print(f"  delta / full package: {100 * wire['delta'] / wire['full']:.1f} %  "
              "(target <= 12 %)")
        print("update time, answer to final log line (seconds):")
        print("  round  kind   " + "".join(f"{name:>17}" for name in PHASES) + "      total"
              "   RSS building  VmHWM")
        for number in range(args.rounds):
            for kind in kinds:
                total, phases, (building, peak), _, _ = results[kind][number]
                print(f"  {number + 1:5}  {kind:5}  " + "".join(f"{v:16.2f}s" for v in phases) +
                      f"  {total:8.2f}s  {building / 1024:9.0f} MiB  {peak / 1024:4.0f} MiB")
        medians = {kind: statistics.median(r[0] for r in results[kind]) for kind in kinds}
        print(f"  medians: full {medians['full']:.2f} s, delta {medians['delta']:.2f} s "
              f"(delta / full {medians['delta'] / medians['full']:.2f})")
        largest = max(os.path.getsize(os.path.join(installed_old, p)) for p in e2e.tree(
            installed_old))
        print("peak memory while patching:")
        print(f"  native (getrusage, {APPLY.split(ROOT + '/')[1]} on the older runtime): "
              f"{statistics.median(n[2] for n in natives) / 1024:.0f} MiB "
              f"(before the delta {natives[0][1] / 1024:.0f} MiB; apply "
              f"{statistics.median(n[0] for n in natives):.2f} s; largest old file "
              f"{largest / 2**20:.0f} MiB)")
        print("  under Wine (the updater's VmRSS from /proc every 5 ms while staging-jre is "
              "built; VmHWM of the whole run): delta "
              f"{max(r[2][0] for r in results['delta']) / 1024:.0f} MiB / "
              f"{max(r[2][1] for r in results['delta']) / 1024:.0f} MiB, full package "
              f"{max(r[2][0] for r in results['full']) / 1024:.0f} MiB / "
              f"{max(r[2][1] for r in results['full']) / 1024:.0f} MiB")
        print("the last delta round's log:")
        print("".join(f"  {line}\n" for line in results["delta"][-1][-1].splitlines()))
        return 0
    finally:
        world.prefix.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
