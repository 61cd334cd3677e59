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
  bench/update_bench.py measures it, with its phases (sampled from the install folder), on
  loopback and with nginx limited to --link-mbit (a home connection).
- peak memory while patching: natively, the peak resident set size of a process that applies
  the same delta to the older runtime (bench/delta_apply_bench.cpp, its VmHWM); under Wine, the
  updater's resident set sampled from /proc every 5 ms while it builds the staging folder, and
  its whole run's peak (VmHWM), for the delta and, beside it, for the full package.

Runs in the end-to-end namespace (root). Usage: bench/delta_bench.py [--rounds N]
[--link-mbit N] [--generated [--modules-mb N]]   (after scripts/build)
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

    mutate(os.path.join(new_root, "lib", "modules"), 0.01)
    mutate(os.path.join(new_root, "bin", "server", "jvm.dll"), 0.03)
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


class Watch(update_bench.Watch):
    """update_bench's phases of one runtime update, and the updater's resident set."""

    def __init__(self, run, work, file, size):
        self.tag = os.path.basename(work)  # in the updater's command line, as a Windows path
        self.pid, self.building_kib, self.peak_kib, self.scans = None, 0, 0, 0
        super().__init__(run, size, file)

    def find_pid(self):
        """The updater's process: Wine names it after the program (the script that started it
        has the same command line) and gives it its Windows command line."""
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/comm") as name, open(f"/proc/{pid}/cmdline") as line:
                    if name.read().startswith("KestrivonUpdat") and self.tag in line.read():
                        return pid
            except OSError:
                continue
        return None

    def memory(self):
        """(VmRSS, VmHWM) in KiB, or None once the process is gone."""
        try:
            with open(f"/proc/{self.pid}/status") as source:
                fields = dict(line.split(":", 1) for line in source)
            return int(fields["VmRSS"].split()[0]), int(fields["VmHWM"].split()[0])
        except (OSError, KeyError, ValueError):
            return None

    def sample(self, building):
        self.scans += 1
        if not self.pid and self.scans % 20 == 1:  # a scan of /proc is slow
            self.pid = self.find_pid()
        if self.pid and (memory := self.memory()):
            self.peak_kib = max(self.peak_kib, memory[1])
            if building:
                self.building_kib = max(self.building_kib, memory[0])


def update_round(world, work, install, snapshot, release, file, size, rate):
    """One update of the restored older install while nginx serves `release` at `rate` bytes
    per second (None: as fast as it can): the update time, its phases, the resident sets
    (KiB), nginx's (path, body bytes) and the log."""
    shutil.rmtree(install)
    shutil.copytree(snapshot, install, symlinks=True)
    access = os.path.join(world.work, "nginx", "access.log")
    if os.path.exists(access):
        os.remove(access)
    with sandbox.Nginx(world.work, release, world.certificates, rate=rate):
        run = e2e.Run(world, install, set_path=False)
        watch = Watch(run, work, file, size)
        try:
            if not run.drive(e2e.PROMPT_CLASS, "enter") and "package" not in watch.marks:
                raise SystemExit(f"no update prompt\n{run.run_log()}")
            answered = min(time.monotonic(), watch.marks.get("package", float("inf")))
            code = run.wait(600)
        finally:
            watch.stop()
    if code != 0:
        raise SystemExit(f"update run failed with exit code {code}\n{run.run_log()}")
    marks = [answered] + [watch.marks.get(name, float("nan"))
                          for name in ("downloaded", "extracted", "finished")]
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


def publish(world, old, new):
    """The older release; the newer one with its delta; the newer one without its delta list,
    where the full package is the only way (the same files)."""
    first = world.publish("old", jre_version=old)
    with_delta = world.publish("new", jre_version=new, previous=first)
    full_only = os.path.join(world.work, "releases", "new-full")
    shutil.copytree(with_delta, full_only, copy_function=os.link)
    document = e2e.manifest(with_delta)
    del document["win"]["jre"]["deltas"]
    manifest = os.path.join(full_only, "launcher", "launcher-manifest.json")
    os.remove(manifest)  # a link to the other release's file
    with open(manifest, "w") as out:
        json.dump(document, out)
    return first, with_delta, full_only


def report(args, versions, kinds, links, results, natives, published, installed_old):
    """Prints the figures; `results` by (kind, link), one per round."""
    sizes = {kind: size for kind, (_, _, size, _) in kinds.items()}
    source = "generated" if args.generated else f"Debian's {PACKAGE}"
    print(f"runtime {versions[0]} -> {versions[1]} ({source}): {len(published)} files, "
          f"package {sizes['full'] / 1e6:.1f} MB, delta {sizes['delta'] / 1e6:.2f} MB; "
          f"{args.rounds} rounds")
    print("bytes on the wire (nginx's body bytes, the last round on loopback):")
    wire = {}
    for kind, (_, _, size, url) in kinds.items():
        sent = results[kind, links[0][0]][-1][3]
        path = "/" + url.split("/", 3)[3]
        wire[kind] = sum(size for requested, size in sent if requested == path)
        print(f"  {kind:5}  runtime file {wire[kind]:>11,} bytes (listed {size:,}); "
              f"whole run {sum(size for _, size in sent):,} bytes in {len(sent)} requests")
    print(f"  delta / full package: {100 * wire['delta'] / wire['full']:.1f} %  "
          "(target <= 12 %)")
    print("update time, answer to final log line, in seconds; the updater's resident set:")
    print("  round  link          kind " + "".join(f"{name:>17}" for name in PHASES) +
          "      total  RSS building    VmHWM")
    for number in range(args.rounds):
        for (kind, link), rows in results.items():
            total, phases, (building, peak), _, _ = rows[number]
            print(f"  {number + 1:5}  {link:12}  {kind:5}" +
                  "".join(f"{value:16.2f}s" for value in phases) +
                  f"  {total:8.2f}s  {building / 1024:8.0f} MiB  {peak / 1024:4.0f} MiB")
    for link, _ in links:
        full, delta = (statistics.median(row[0] for row in results[kind, link])
                       for kind in ("full", "delta"))
        print(f"  median on {link}: full {full:.2f} s, delta {delta:.2f} s "
              f"(delta / full {delta / full:.2f})")
    largest = max(os.path.getsize(os.path.join(installed_old, path))
                  for path in e2e.tree(installed_old))
    print("peak memory while patching:")
    print(f"  native: {statistics.median(n[2] for n in natives) / 1024:.0f} MiB, the peak "
          f"resident set (VmHWM) of {os.path.relpath(APPLY, ROOT)} applying the delta to the "
          f"older runtime ({natives[0][1] / 1024:.0f} MiB before it; "
          f"{statistics.median(n[0] for n in natives):.2f} s; the largest old file "
          f"{largest / 2**20:.0f} MiB)")
    for kind in kinds:
        rows = [row for (other, _), values in results.items() if other == kind
                for row in values]
        print(f"  under Wine, {kind:5}: {max(r[2][0] for r in rows) / 1024:.0f} MiB, the "
              "updater's VmRSS (/proc, every 5 ms) while staging-jre was built; its whole run's "
              f"VmHWM {max(r[2][1] for r in rows) / 1024:.0f} MiB")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rounds", type=int, default=2)
    parser.add_argument("--link-mbit", type=float, default=50,
                        help="also time the updates at this rate (0: loopback only)")
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
    with e2e.bench_world("delta-bench", ROOT) as (world, work):
        old, new = make_runtimes(world, args.generated, args.modules_mb)
        first, with_delta, full_only = publish(world, old, new)
        entry, delta = e2e.manifest(with_delta)["win"]["jre"], e2e.delta_entry(with_delta)
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
        links = [("loopback", None)]
        if args.link_mbit:
            links.append((f"{args.link_mbit:g} Mbit/s", int(args.link_mbit * 125_000)))
        results = {(kind, link): [] for link, _ in links for kind in kinds}
        for number in range(args.rounds):
            for link, rate in links:
                for kind in (("full", "delta") if number % 2 == 0 else ("delta", "full")):
                    release, file, size, _ = kinds[kind]
                    result = update_round(world, work, install, snapshot, release, file, size,
                                          rate)
                    log = result[-1]
                    if (("JRE: a delta from the installed package" in log) != (kind == "delta")
                            or "[WARN] JRE: the delta" in log):
                        raise SystemExit(f"the {kind} round did not go as planned\n{log}")
                    if e2e.tree(os.path.join(install, "runtime")) != published:
                        raise SystemExit(f"the {kind} round's runtime is not the published one")
                    results[kind, link].append(result)
        report(args, (old, new), kinds, links, results, natives, published, installed_old)
        print("the last delta round's log:")
        print("".join(f"  {line}\n" for line in results["delta", "loopback"][-1][-1]
                      .splitlines()))
        return 0


if __name__ == "__main__":
    sys.exit(main())
