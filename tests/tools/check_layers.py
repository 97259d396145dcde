#!/usr/bin/env python3
"""Checks that no source folder includes a header of a folder above it.

Layers from the ground up: base; demography; genealogy; dna and msat; output; run; the front ends
(app, cli). A folder may include its own headers and those of lower layers only.
"""
import pathlib
import re
import sys

LAYER = {
    "base": 0, "demography": 1, "genealogy": 2, "dna": 3, "msat": 3, "output": 4, "run": 5,
    "app": 6, "cli": 6,
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/[^"]+"', re.M)


def main(src):
    bad = []
    for path in sorted(pathlib.Path(src).rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        folder = path.relative_to(src).parts[0]
        if folder not in LAYER:
            bad.append(f"{path}: folder not in the layer table")
            continue
        for target in INCLUDE.findall(path.read_text()):
            if target not in LAYER:
                bad.append(f"{path}: includes unknown folder {target}")
            elif target != folder and LAYER[target] >= LAYER[folder]:
                bad.append(f"{path}: {folder} includes {target}, which is not below it")
    for line in bad:
        print(line)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "src"))
