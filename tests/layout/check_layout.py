#!/usr/bin/env python3
"""Keeps the source tree's shape: folder-level includes point only down the layers (the layer
table itself holds no circle), the scanner core uses no library beyond the C++ standard library
and the OS file API, no two units of one folder include each other in a circle, and no product
file grows past 450 lines.
Run from anywhere: check_layout.py REPO_ROOT."""
import pathlib
import re
import sys

# Each product folder and the folders it may include from (lowest layer first). Convert's
# folders stack: charset below rtf and mime, content on both, deliver on content and imap,
# convert on top.
_CORE_ALL = {"scan", "decode", "catalog", "io"}
_CONVERT_ALL = {"convert", "deliver", "imap", "pst", "content", "mime", "rtf", "charset"}
LAYERS = {
    "io": set(),
    "catalog": {"io"},
    "decode": {"catalog", "io"},
    "scan": {"decode", "catalog", "io"},
    "frontend": _CORE_ALL,
    "session": _CORE_ALL,
    # What every front end shows: above the run's state and the shared words, below the shells.
    "views": {"frontend", "session"} | _CORE_ALL,
    "charset": {"io"},
    "rtf": {"charset", "io"},
    "mime": {"charset", "catalog", "io"},
    "content": {"rtf", "mime", "charset", "frontend"} | _CORE_ALL,
    # The PST writer stands alone: its layers (ndb, ltp, messaging) need nothing of ours.
    "pst": set(),
    "imap": set(),
    "deliver": {"content", "imap", "pst", "rtf", "mime", "charset", "frontend"} | _CORE_ALL,
    "convert": {"deliver", "content", "imap", "rtf", "mime", "charset", "frontend"} | _CORE_ALL,
    "cli": {"views", "frontend", "session"} | _CONVERT_ALL | _CORE_ALL,
    "widgets": {"platform"},
    "platform": set(),
    "app": {"widgets", "platform", "views", "frontend", "session"} | _CONVERT_ALL | _CORE_ALL,
    # The window on Windows: beside app/, on the same layers, never on Qt's.
    "win32": {"views", "frontend", "session"} | _CONVERT_ALL | _CORE_ALL,
}
CORE = ("io", "catalog", "decode", "scan")
# The core and the front ends' shared words and widths: the standard library only.
STANDARD_ONLY = CORE + ("frontend", "session", "views")
# Outside libraries the core must never reach for.
FOREIGN = re.compile(r"#\s*include\s*<(Q\w*|gmime|glib|curl|nlohmann|CLI|gtest)")
LOCAL = re.compile(r'#\s*include\s*"([a-z0-9_]+)/[^"]+"')
MAX_LINES = 450


def include_cycles(root: pathlib.Path, folder: str) -> list:
    """Units inside one folder (a header with its .cpp, by file stem) that include each other in
    a circle: each needs the other, so neither can be read, tested or moved alone."""
    edges = {}
    for path in (root / folder).rglob("*"):
        if path.suffix not in (".h", ".cpp"):
            continue
        unit = path.stem
        edges.setdefault(unit, set())
        for line in path.read_text(encoding="utf-8", errors="replace").splitlines():
            m = re.match(r'#\s*include\s*"' + re.escape(folder) + r'/([A-Za-z0-9_]+)\.h"', line.strip())
            if m and m.group(1) != unit:
                edges[unit].add(m.group(1))
    # Strongly connected components (Tarjan); any with more than one unit is a circle.
    index, low, stack, on, out = {}, {}, [], set(), []
    def visit(v):
        index[v] = low[v] = len(index)
        stack.append(v)
        on.add(v)
        for w in sorted(edges.get(v, ())):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            comp = []
            while True:
                w = stack.pop()
                on.discard(w)
                comp.append(w)
                if w == v:
                    break
            if len(comp) > 1:
                out.append(f"{folder}/: include circle among {', '.join(sorted(comp))}")
    for v in sorted(edges):
        if v not in index:
            visit(v)
    return out


def layer_circles() -> list:
    """Folders that the table lets include each other, directly or round a circle: the layers
    must point only down."""
    out, done = [], set()
    def walk(folder, path):
        if folder in path:
            circle = path[path.index(folder):] + [folder]
            out.append("layer table: include circle between folders " + " -> ".join(circle))
            return
        if folder in done:
            return
        for lower in sorted(LAYERS.get(folder, ())):
            walk(lower, path + [folder])
        done.add(folder)
    for folder in LAYERS:
        walk(folder, [])
    return out


def main() -> int:
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    faults = layer_circles()
    for folder, allowed in LAYERS.items():
        for path in sorted((root / folder).rglob("*")):
            if path.suffix not in (".h", ".cpp"):
                continue
            rel = path.relative_to(root)
            text = path.read_text(encoding="utf-8", errors="replace")
            lines = text.count("\n")
            if lines > MAX_LINES:
                faults.append(f"{rel}: {lines} lines (at most {MAX_LINES})")
            for n, line in enumerate(text.splitlines(), 1):
                m = LOCAL.match(line.strip())
                if m and m.group(1) != folder and m.group(1) in LAYERS and m.group(1) not in allowed:
                    faults.append(f"{rel}:{n}: {folder}/ may not include {m.group(1)}/ ({line.strip()})")
                if folder in STANDARD_ONLY and FOREIGN.match(line.strip()):
                    faults.append(f"{rel}:{n}: the scanner core uses the standard library only ({line.strip()})")
        faults.extend(include_cycles(root, folder))
    for f in faults:
        print(f)
    print(f"layout: {len(faults)} fault(s)")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
