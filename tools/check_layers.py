#!/usr/bin/env python3
"""Fails when an #include goes against the layers written in HACKING.md (a
library including one on its own line or above) or when libraries include
each other in a cycle. Usage: check_layers.py [repository root]"""
import os
import re
import sys

root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
with open(os.path.join(root, "HACKING.md")) as f:
    block = re.search(r"```layers\n(.*?)```", f.read(), re.S)
if not block:
    sys.exit("HACKING.md has no layers block")
rank = {folder: line_no for line_no, line in enumerate(block.group(1).splitlines())
        for folder in line.split()}
folders = sorted(rank, key=len, reverse=True)  # render/core before render


def library(path):
    return next((f for f in folders if path == f or path.startswith(f + "/")), None)


errors, edges = [], {}
for top, dirs, files in os.walk(root):
    dirs[:] = [d for d in dirs if not d.startswith((".", "build"))]
    for name in files:
        if not name.endswith((".cpp", ".h")):
            continue
        path = os.path.join(top, name)
        rel = os.path.relpath(path, root)
        lib = library(rel)
        with open(path, errors="replace") as f:
            includes = re.findall(r'^\s*#\s*include\s+"([^"]+)"', f.read(), re.M)
        for inc in includes:
            # A header beside the including file is the library's own.
            if lib is None or os.path.exists(os.path.join(top, inc)):
                continue
            target = library(inc)
            if target is None or target == lib:
                continue
            edges.setdefault(lib, set()).add(target)
            if rank[target] <= rank[lib]:
                errors.append(f"{rel}: includes {inc}: {lib} may not depend on {target}")

# A cycle needs an upward include, already reported; say which libraries form it.
def cycle_from(start, node, seen):
    for nxt in sorted(edges.get(node, ())):
        if nxt == start:
            return [node]
        if nxt not in seen:
            seen.add(nxt)
            path = cycle_from(start, nxt, seen)
            if path:
                return [node] + path
    return None


for lib in sorted(edges):
    path = cycle_from(lib, lib, {lib})
    if path and lib == min(path):
        errors.append("cycle: " + " -> ".join(path + [lib]))
for line in errors:
    print(line)
sys.exit(1 if errors else 0)
