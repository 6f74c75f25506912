#!/usr/bin/env python3
"""The folders of src/ form layers: a file may include headers of its own folder and of the
layers below it, never of one above. The core is a chain; the result windows sit on the core,
the desktop shell on the windows, and the command-line programs beside the shell (they draw
plots with the windows' code but know nothing of the shell, nor the shell of them).
A folder of src/ that is missing from the table is an error too, so that a new one is placed.
A source file longer than MOST_LINES is an error as well: past that a file holds more than one
thing, and its name no longer says what it holds.
Usage: layers.py SRC_DIR"""
import os
import re
import sys

# Lowest first.
CORE = ["common", "script", "expr", "engine", "project", "store", "session"]
ALLOWED = {folder: set(CORE[: i + 1]) for i, folder in enumerate(CORE)}
ALLOWED["windows"] = set(CORE) | {"windows"}
ALLOWED["shell"] = set(CORE) | {"windows", "shell"}
ALLOWED["cli"] = set(CORE) | {"windows", "cli"}

MOST_LINES = 800

# A header of the build (ZylVersion.h) has no folder and is open to every layer.
include = re.compile(r'^\s*#\s*include\s+"([A-Za-z0-9_]+)/')


def check(src):
    bad = []
    for entry in sorted(os.listdir(src)):
        root = os.path.join(src, entry)
        if not os.path.isdir(root):
            continue
        if entry not in ALLOWED:
            bad.append("%s/ is in no layer: add it to tests/layers.py" % entry)
            continue
        allowed = ALLOWED[entry]
        for dirpath, _, files in os.walk(root):
            for name in sorted(files):
                path = os.path.join(dirpath, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    lines = f.readlines()
                    if len(lines) > MOST_LINES:
                        bad.append("%s has %d lines, more than %d: split it along a seam"
                                   % (os.path.relpath(path, src), len(lines), MOST_LINES))
                    for number, line in enumerate(lines, 1):
                        m = include.match(line)
                        if m and m.group(1) not in allowed:
                            bad.append("%s:%d includes %s/ from a layer it may not see"
                                       % (os.path.relpath(path, src), number, m.group(1)))
    return bad


if __name__ == "__main__":
    problems = check(sys.argv[1])
    print("\n".join(problems) if problems else
          "layers: every include points down, and no file is over %d lines" % MOST_LINES)
    sys.exit(1 if problems else 0)
