#!/usr/bin/env python3
"""Holds every #include "folder/..." of the program's folders and sim/ against the
folders that folder may use, so the layers stay one way.

Usage: check-includes.py ROOT

Prints each wrong include as FILE:LINE with the two folders and exits 1; exits 0
with a count of what it checked; exits 2 when a folder is missing or empty, since a
check over nothing would prove nothing.
"""
import os
import re
import sys

# The portable core, lowest first: each folder may include the ones before it.
CORE = ["platform", "text", "device", "update", "ui", "app"]
MAY_INCLUDE = {folder: CORE[:i] for i, folder in enumerate(CORE)}
# The seams' two implementations stand beside the core, which sees the seams only.
MAY_INCLUDE["platform/win32"] = ["platform"]
MAY_INCLUDE["platform/host"] = ["platform"]
# The simulations may use anything but the Windows program.
MAY_INCLUDE["sim"] = CORE + ["platform/win32", "platform/host"]
# The Windows program assembles the core, the real platform and, for its simulated
# variant, sim/.
MAY_INCLUDE["winapp"] = CORE + ["platform/win32", "sim"]

SOURCE_SUFFIXES = (".h", ".hpp", ".c", ".cpp", ".inc")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def folder_of(path):
    """The deepest folder of the table holding PATH (relative, '/'-separated)."""
    best = None
    for folder in MAY_INCLUDE:
        if path.startswith(folder + "/") and (best is None or len(folder) > len(best)):
            best = folder
    return best


def sources(root):
    """Every source file under the table's folders, relative to ROOT, sorted."""
    found = set()
    for folder in MAY_INCLUDE:
        for base, _, names in os.walk(os.path.join(root, folder)):
            for name in names:
                if name.endswith(SOURCE_SUFFIXES):
                    found.add(os.path.relpath(os.path.join(base, name), root).replace(os.sep, "/"))
    return sorted(found)


def included_path(root, source, name):
    """The included file as a path from ROOT, searched as the compiler does: beside
    the including file first, then from the top of the tree."""
    beside = os.path.normpath(os.path.join(os.path.dirname(source), name)).replace(os.sep, "/")
    if os.path.isfile(os.path.join(root, beside)) and not beside.startswith("../"):
        return beside
    return os.path.normpath(name).replace(os.sep, "/")


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    root = argv[1]
    files = sources(root)
    for folder in MAY_INCLUDE:
        if not any(folder_of(path) == folder for path in files):
            print(f"{folder}/: no such folder or no sources in it under {root}", file=sys.stderr)
            return 2

    top_folders = {entry for entry in os.listdir(root) if os.path.isdir(os.path.join(root, entry))}
    checked = 0
    wrong = 0
    for source in files:
        folder = folder_of(source)
        with open(os.path.join(root, source), encoding="utf-8", errors="replace") as text:
            for number, line in enumerate(text, 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                target = included_path(root, source, match.group(1))
                if "/" not in target or target.split("/")[0] not in top_folders:
                    continue  # a generated header or one from outside the tree
                checked += 1
                used = folder_of(target)
                if used == folder or used in MAY_INCLUDE[folder]:
                    continue
                wrong += 1
                allowed = " ".join(f + "/" for f in MAY_INCLUDE[folder]) or "none"
                used_name = (used or target.split("/")[0]) + "/"
                print(f'{source}:{number}: {folder}/ includes {used_name} ("{match.group(1)}"); '
                      f"{folder}/ may include: {allowed}")
    if wrong:
        sys.stdout.flush()  # the count after the lines it counts
        print(f"{wrong} include(s) against the layers", file=sys.stderr)
        return 1
    print(f"{checked} includes in {len(files)} files follow the layers")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
