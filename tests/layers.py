#!/usr/bin/env python3
"""The folders of src/ form layers: a file may include headers of its own folder and of the
layers below it, never of one above. The front ends (cli, shell, windows) sit on top.
Usage: layers.py SRC_DIR"""
import os
import re
import sys

# Lowest first. A folder not listed here is a front end and may include anything.
LAYERS = ["common", "script", "expr", "engine", "project", "store"]
include = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/')

src = sys.argv[1]
bad = []
for folder in LAYERS:
    root = os.path.join(src, folder)
    if not os.path.isdir(root):
        continue
    allowed = set(LAYERS[: LAYERS.index(folder) + 1])
    for dirpath, _, files in os.walk(root):
        for name in files:
            path = os.path.join(dirpath, name)
            with open(path, encoding="utf-8", errors="replace") as f:
                for number, line in enumerate(f, 1):
                    m = include.match(line)
                    if m and m.group(1) not in allowed:
                        bad.append("%s:%d includes %s/ from a higher layer"
                                   % (os.path.relpath(path, src), number, m.group(1)))
print("\n".join(bad) if bad else "layers: every include points down")
sys.exit(1 if bad else 0)
