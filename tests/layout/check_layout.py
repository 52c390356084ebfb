#!/usr/bin/env python3
"""Keeps the source tree's shape: folder-level includes point only down the layers, the scanner
core uses no library beyond the C++ standard library and the OS file API, and no product file
grows past 450 lines. Run from anywhere: check_layout.py REPO_ROOT."""
import pathlib
import re
import sys

# Each product folder and the folders it may include from (lowest layer first).
LAYERS = {
    "io": set(),
    "catalog": {"io"},
    "decode": {"catalog", "io"},
    "scan": {"decode", "catalog", "io"},
    "frontend": {"scan", "decode", "catalog", "io"},
    "export": {"scan", "decode", "catalog", "io"},
    "cli": {"frontend", "export", "scan", "decode", "catalog", "io"},
    "widgets": {"platform"},
    "platform": set(),
    "app": {"widgets", "platform", "frontend", "export", "scan", "decode", "catalog", "io"},
}
CORE = ("io", "catalog", "decode", "scan")
# The core and the front ends' shared words and widths: the standard library only.
STANDARD_ONLY = CORE + ("frontend",)
# Outside libraries the core must never reach for.
FOREIGN = re.compile(r"#\s*include\s*<(Q\w*|gmime|glib|curl|nlohmann|CLI|gtest)")
LOCAL = re.compile(r'#\s*include\s*"([a-z_]+)/[^"]+"')
MAX_LINES = 450


def main() -> int:
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    faults = []
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
    for f in faults:
        print(f)
    print(f"layout: {len(faults)} fault(s)")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
