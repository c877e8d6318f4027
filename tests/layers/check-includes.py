#!/usr/bin/env python3
"""Holds every #include "folder/..." and #include <folder/...> of the program's
folders and sim/ against the folders that folder may use, so the layers stay one
way. The tree root is on the include path, so the angle form reaches our folders
as well as the quoted one does.

Usage: check-includes.py ROOT

Prints each wrong include as FILE:LINE with the two folders and exits 1; exits 0
with a count of what it checked; exits 2 when a folder is missing or empty, since a
check over nothing would prove nothing.
"""
import os
import re
import sys

# The portable core, lowest first: each folder may include the ones before it. res/
# is the lowest: its ids are plain #define lines the resource script and the dialog
# logic both read.
CORE = ["res", "platform", "text", "device", "update", "ui", "app"]
MAY_INCLUDE = {folder: CORE[:i] for i, folder in enumerate(CORE)}
# The seams' two implementations stand beside the core, which sees the seams only.
MAY_INCLUDE["platform/win32"] = ["res", "platform"]
MAY_INCLUDE["platform/host"] = ["res", "platform"]
# The simulations may use anything but the Windows program.
MAY_INCLUDE["sim"] = CORE + ["platform/win32", "platform/host"]
# The Windows program assembles the core and the real platform.
MAY_INCLUDE["winapp"] = CORE + ["platform/win32"]
# Single files with more than their folder: only the simulated program's main sees
# sim/, so nothing of the product can come to depend on the simulation.
FILE_MAY_INCLUDE = {"winapp/programs/SimMain.cpp": MAY_INCLUDE["winapp"] + ["sim"]}

SOURCE_SUFFIXES = (".h", ".hpp", ".c", ".cpp", ".inc", ".rc")
# Group 1 is the opening mark, group 2 the name between the marks.
INCLUDE = re.compile(r'^\s*#\s*include\s*(["<])([^">]+)[">]')


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


def included_path(root, source, mark, name):
    """The included file as a path from ROOT, searched as the compiler does: a quoted
    name beside the including file first, then (both forms) from the top of the tree."""
    beside = os.path.normpath(os.path.join(os.path.dirname(source), name)).replace(os.sep, "/")
    if mark == '"' and os.path.isfile(os.path.join(root, beside)) and not beside.startswith("../"):
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
        may_include = FILE_MAY_INCLUDE.get(source, MAY_INCLUDE[folder])
        with open(os.path.join(root, source), encoding="utf-8", errors="replace") as text:
            for number, line in enumerate(text, 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                mark, name = match.group(1), match.group(2)
                target = included_path(root, source, mark, name)
                if "/" not in target or target.split("/")[0] not in top_folders:
                    continue  # a generated header or one from outside the tree
                checked += 1
                used = folder_of(target)
                if used == folder or used in may_include:
                    continue
                wrong += 1
                allowed = " ".join(f + "/" for f in may_include) or "none"
                used_name = (used or target.split("/")[0]) + "/"
                written = f'"{name}"' if mark == '"' else f"<{name}>"
                print(f"{source}:{number}: {folder}/ includes {used_name} ({written}); "
                      f"{folder}/ may include: {allowed}")
    if wrong:
        sys.stdout.flush()  # the count after the lines it counts
        print(f"{wrong} include(s) against the layers", file=sys.stderr)
        return 1
    print(f"{checked} includes in {len(files)} files follow the layers")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
