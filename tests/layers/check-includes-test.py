#!/usr/bin/env python3
"""The include check over tiny trees shaped like ours: it must name exactly the
wrong includes (file, line, both folders) and exit 1, accept every include the
layers allow, and refuse a tree it cannot check rather than pass it.

Usage: check-includes-test.py CHECKER
"""
import os
import subprocess
import sys
import tempfile

# One file per folder, each including only what its folder may use.
ALLOWED_TREE = {
    "res/ids.h": "",
    "platform/Seam.h": '#include "res/ids.h"\n',
    "platform/win32/Real.h": '#include "platform/Seam.h"\n',
    "platform/host/Fake.h": '#include "platform/Seam.h"\n',
    "text/Texts.h": "",
    "device/Drive.h": '#include "platform/Seam.h"\n#include "text/Texts.h"\n',
    "update/Check.h": '#include "device/Drive.h"\n#include "Check.inc"\n',
    "update/Check.inc": "",
    "ui/Dialog.h": '#include "update/Check.h"\n#include "Version.h"\n#include <res/ids.h>\n',
    "app/Start.h": '#include "ui/Dialog.h"\n#include "platform/Seam.h"\n',
    "sim/Drive.h": '#include "app/Start.h"\n#include "platform/host/Fake.h"\n',
    "winapp/programs/SimMain.cpp": '#include "sim/Drive.h"\n#include "platform/win32/Real.h"\n',
    "winapp/View.cpp": '#include <string>\n#include <app/Start.h>\n',
}

failures = []


def run(checker, tree, extra=None):
    """Writes TREE (plus EXTRA, path -> text appended) and runs the check on it."""
    files = dict(tree)
    for path, text in (extra or {}).items():
        files[path] = files.get(path, "") + text
    with tempfile.TemporaryDirectory() as root:
        for path, text in files.items():
            os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
            with open(os.path.join(root, path), "w", encoding="utf-8") as out:
                out.write(text)
        done = subprocess.run([sys.executable, checker, root], capture_output=True, text=True)
    return done.returncode, done.stdout.splitlines()


def expect(name, got, want):
    if got != want:
        failures.append(f"{name}:\n  got  {got!r}\n  want {want!r}")


def main(checker):
    code, lines = run(checker, ALLOWED_TREE)
    expect("a tree that keeps the layers passes", code, 0)

    # The fault this check was made for: the version check reaching up into ui/.
    code, lines = run(checker, ALLOWED_TREE, {"update/Check.h": '#include "ui/Dialog.h"\n'})
    expect("one include of a folder above: exit", code, 1)
    expect("one include of a folder above: report", lines, [
        'update/Check.h:3: update/ includes ui/ ("ui/Dialog.h"); '
        "update/ may include: res/ platform/ text/ device/"])

    # The angle form reaches the tree root as the quoted one does; only the simulated
    # program's main may see sim/, not the rest of winapp/; nothing sits below res/.
    code, lines = run(checker, ALLOWED_TREE, {
        "device/Drive.h": "#include <app/Start.h>\n",
        "winapp/View.cpp": '#include "sim/Drive.h"\n',
        "res/ids.h": "#include <platform/Seam.h>\n",
    })
    expect("angle includes and sim/ outside the simulated main: exit", code, 1)
    expect("angle includes and sim/ outside the simulated main: report", lines, [
        "device/Drive.h:3: device/ includes app/ (<app/Start.h>); "
        "device/ may include: res/ platform/ text/",
        "res/ids.h:1: res/ includes platform/ (<platform/Seam.h>); res/ may include: none",
        'winapp/View.cpp:3: winapp/ includes sim/ ("sim/Drive.h"); winapp/ may include: '
        "res/ platform/ text/ device/ update/ ui/ app/ platform/win32/",
    ])

    # Each other way a folder can reach where it may not, reported in file order.
    code, lines = run(checker, ALLOWED_TREE, {
        "text/Texts.h": '#include "platform/win32/Real.h"\n',
        "platform/host/Fake.h": '#include "platform/win32/Real.h"\n',
        "sim/Drive.h": '#include "winapp/programs/SimMain.cpp"\n',
        "device/Drive.h": '#include "../app/Start.h"\n',
        "ui/Dialog.h": '#include "tests/Rig.h"\n',
        "tests/Rig.h": "",
    })
    expect("several wrong includes: exit", code, 1)
    expect("several wrong includes: report", [line.split(";")[0] for line in lines], [
        'device/Drive.h:3: device/ includes app/ ("../app/Start.h")',
        'platform/host/Fake.h:2: platform/host/ includes platform/win32/ ("platform/win32/Real.h")',
        'sim/Drive.h:3: sim/ includes winapp/ ("winapp/programs/SimMain.cpp")',
        'text/Texts.h:1: text/ includes platform/win32/ ("platform/win32/Real.h")',
        'ui/Dialog.h:4: ui/ includes tests/ ("tests/Rig.h")',
    ])

    # A folder renamed or emptied must not leave its includes unchecked.
    without_app = {path: text for path, text in ALLOWED_TREE.items() if not path.startswith("app/")}
    code, lines = run(checker, without_app)
    expect("a missing folder: exit", code, 2)

    for failure in failures:
        print("FAILED: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        sys.exit(2)
    sys.exit(main(sys.argv[1]))
