#!/usr/bin/env python3
"""zyl-script(5) and the program agree on the keys of the project script: every key the
sources read is documented under its section, and every documented key is read somewhere.
Usage: script_keys.py SRC_DIR MAN_PAGE"""
import os
import re
import sys

src, page = sys.argv[1], sys.argv[2]
# Sections whose keys are names the user chooses; the page describes their entries in general.
USER_KEYS = {"EQUATIONS", "VARIABLES", "PLOTS", "EXPORT"}
read = re.compile(r'(?:Read(?:String|Integer|Bool|Float)|HasKey)\(\s*"([A-Za-z_]+)"\s*,\s*"([A-Za-z_0-9]+)"')

in_code = set()
for dirpath, _, files in os.walk(src):
    for name in files:
        if name.endswith((".cpp", ".h")):
            with open(os.path.join(dirpath, name), encoding="utf-8", errors="replace") as f:
                for section, key in read.findall(f.read()):
                    if section.upper() not in USER_KEYS:
                        in_code.add((section.upper(), key.lower()))

documented = set()
section = None
lines = open(page, encoding="utf-8").read().splitlines()
for i, line in enumerate(lines):
    m = re.match(r'^\.SS \[([A-Z_]+)\]$', line)
    if m:
        section = m.group(1)
    elif line.startswith(".SH"):
        section = None
    elif line == ".TP" and section and i + 1 < len(lines):
        m = re.match(r'^\.B ([a-z_0-9]+)$', lines[i + 1])
        if m:
            documented.add((section, m.group(1)))

# The table of known names behind zyl-batch's notices about unknown sections and keys.
known = set()
table = open(os.path.join(src, "script", "KnownNames.cpp"), encoding="utf-8").read()
for section, keys in re.findall(r'\{"([A-Z_]+)",\s*\{([^}]*)\}\}', table):
    known.update((section, k) for k in re.findall(r'"([a-z_0-9]+)"', keys))

problems = ["[%s] %s is read by the program but not documented in %s" % (s, k, page)
            for s, k in sorted(in_code - documented)]
problems += ["[%s] %s is documented but read nowhere" % (s, k) for s, k in sorted(documented - in_code)]
problems += ["[%s] %s is documented but missing from script/KnownNames.cpp" % (s, k)
             for s, k in sorted(documented - known)]
problems += ["[%s] %s is in script/KnownNames.cpp but not documented" % (s, k)
             for s, k in sorted(known - documented)]
print("\n".join(problems) if problems else "script keys: %d documented, all read" % len(documented))
sys.exit(1 if problems or not documented else 0)
