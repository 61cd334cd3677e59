#!/usr/bin/python3
"""The embedded fonts, built into the build folder.

  make_fonts.py fetch --lock-dir DIR --dest DIR --stamp FILE
      installs the pinned @fontsource packages of DIR/package-lock.json into DEST with npm
      (network only when npm's own cache does not hold them yet).
  make_fonts.py build --output FILE --family NAME --style Regular|Bold [--require U+XXXX]
                      INPUT...
      merges one weight's subsets (woff2, woff or ttf) into one TrueType file and checks the
      names and style that GDI and GDI+ will see, and that every character the windows draw
      is there.

Any failure exits non-zero with a message that says what is wrong: the program must never
ship without its fonts.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

# Every text the windows draw: ASCII, the Russian alphabet and the ellipsis of trimmed lines.
BASE_CHARACTERS = ([chr(c) for c in range(0x20, 0x7F)] + [chr(c) for c in range(0x410, 0x450)] +
                   ["\u0401", "\u0451", "\u2026"])

WINDOWS_PLATFORM = 3  # the records GDI reads, in every language and encoding
LEGACY_FAMILY, STYLE, TYPOGRAPHIC_FAMILY = 1, 2, 16
FS_SELECTION_BOLD = 1 << 5
FS_SELECTION_REGULAR = 1 << 6
MAC_STYLE_BOLD = 1 << 0


def fail(message):
    sys.exit(f"make_fonts.py: error: {message}")


def fetch(args):
    npm = shutil.which("npm")
    if npm is None:
        fail("npm is not installed; run scripts/deps")
    os.makedirs(args.dest, exist_ok=True)
    for name in ("package.json", "package-lock.json"):
        shutil.copyfile(os.path.join(args.lock_dir, name), os.path.join(args.dest, name))
    command = [npm, "ci", "--ignore-scripts", "--no-audit", "--no-fund", "--prefer-offline",
               "--loglevel=error"]
    result = subprocess.run(command, cwd=args.dest, check=False)
    if result.returncode != 0:
        fail("npm could not install the pinned font packages (@fontsource/onest, "
             "@fontsource/unbounded) into " + args.dest +
             "; the first build needs the npm registry or npm's cache")
    with open(args.stamp, "w", encoding="utf-8") as stamp:
        stamp.write("fetched\n")


def windows_names(font, name_id):
    return {record.toUnicode() for record in font["name"].names
            if record.nameID == name_id and record.platformID == WINDOWS_PLATFORM}


def keep_legacy_family_only(font):
    """A weight outside regular and bold (Onest SemiBold) names its weight's own family in the
    legacy records and the family of all weights in the typographic ones. GDI and GDI+ read
    the legacy records; without the typographic ones every other reader sees the same single
    family, and no reader can group the semibold face with the regular one."""
    for name_id in (16, 17, 21, 22):
        font["name"].removeNames(nameID=name_id)


def check(font, family, style, required):
    problems = []
    legacy = windows_names(font, LEGACY_FAMILY)
    typographic = windows_names(font, TYPOGRAPHIC_FAMILY)
    if legacy != {family} or typographic - {family}:
        problems.append(f"family names read {sorted(legacy | typographic)}, expected only "
                        f"'{family}'")
    if windows_names(font, STYLE) != {style}:
        problems.append(f"style names read {sorted(windows_names(font, STYLE))}, expected only "
                        f"'{style}'")
    selection = font["OS/2"].fsSelection
    bold = style == "Bold"
    if bool(selection & FS_SELECTION_BOLD) != bold or bool(font["head"].macStyle &
                                                            MAC_STYLE_BOLD) != bold:
        problems.append(f"the bold flags do not say {style}")
    if not bold and not selection & FS_SELECTION_REGULAR:
        problems.append("the regular flag is not set")
    if "glyf" not in font:
        problems.append("not a TrueType-outline font")
    cmap = font.getBestCmap() or {}
    missing = [f"U+{ord(c):04X}" for c in required if ord(c) not in cmap]
    if missing:
        problems.append("characters missing: " + ", ".join(missing))
    return problems


def build(args):
    # Imported here so that `fetch` runs without fontTools.
    from fontTools.merge import Merger
    from fontTools.ttLib import TTFont

    for path in args.inputs:
        if not os.path.isfile(path):
            fail(f"font subset {path} is missing (did the npm fetch run?)")
    try:
        font = Merger().merge(args.inputs)
    except Exception as error:  # fontTools raises many kinds; all mean "cannot merge"
        fail(f"merging {', '.join(args.inputs)} failed: {error}")
    font.flavor = None
    keep_legacy_family_only(font)
    required = BASE_CHARACTERS + [chr(int(code.removeprefix("U+"), 16)) for code in args.require]
    problems = check(font, args.family, args.style, required)
    if problems:
        fail(f"{args.output}: " + "; ".join(problems))

    # Written under a temporary name and checked once more as read back, so that a failed
    # run never leaves a file that the build would take as done.
    directory = os.path.dirname(os.path.abspath(args.output))
    os.makedirs(directory, exist_ok=True)
    handle, temporary = tempfile.mkstemp(dir=directory, suffix=".ttf")
    os.close(handle)
    try:
        font.save(temporary)
        os.chmod(temporary, 0o644)
        problems = check(TTFont(temporary), args.family, args.style, required)
        if problems:
            fail(f"{args.output} as written: " + "; ".join(problems))
        os.replace(temporary, args.output)
    finally:
        if os.path.exists(temporary):
            os.remove(temporary)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    fetch_parser = commands.add_parser("fetch")
    fetch_parser.add_argument("--lock-dir", required=True)
    fetch_parser.add_argument("--dest", required=True)
    fetch_parser.add_argument("--stamp", required=True)
    build_parser = commands.add_parser("build")
    build_parser.add_argument("--output", required=True)
    build_parser.add_argument("--family", required=True)
    build_parser.add_argument("--style", required=True, choices=("Regular", "Bold"))
    build_parser.add_argument("--require", action="append", default=[])
    build_parser.add_argument("inputs", nargs="+")
    args = parser.parse_args()
    fetch(args) if args.command == "fetch" else build(args)


if __name__ == "__main__":
    main()
