#!/usr/bin/env python3
"""The layers of src/ and the includes between them.

  scripts/layers.py            checks that no include runs from a layer up to a higher one
                               (exit 1, naming each one that does)
  scripts/layers.py --dot      prints the folders and their includes as a Graphviz graph

docs/layers.png is made with:  scripts/layers.py --dot | dot -Tpng -o docs/layers.png
"""
import os
import re
import sys

# From the ground up; folders of one layer do not include one another.
LAYERS = [["common"], ["bitmap"], ["library"], ["editing"], ["widgets"],
          ["viewer", "dialogs", "cli"], ["app"]]
RANK = {folder: rank for rank, folders in enumerate(LAYERS) for folder in folders}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z]+)/[^"]+"')


def includes(src):
    """(from folder, to folder) -> [file:line, ...] for every include between two folders."""
    edges = {}
    for folder in sorted(os.listdir(src)):
        for root, _, files in os.walk(os.path.join(src, folder)):
            for name in sorted(files):
                path = os.path.join(root, name)
                with open(path, encoding="utf-8") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if m and m.group(1) != folder:
                            where = "%s:%d" % (os.path.relpath(path, src), number)
                            edges.setdefault((folder, m.group(1)), []).append(where)
    return edges


def upward(edges):
    return {(a, b): w for (a, b), w in edges.items()
            if a not in RANK or b not in RANK or RANK[b] >= RANK[a]}


def dot(edges):
    lines = ["digraph layers {", "  rankdir=BT; node [shape=box, fontname=Helvetica];"]
    for folders in LAYERS:
        lines.append("  { rank=same; %s }" % " ".join('"%s"' % f for f in folders))
    bad = upward(edges)
    for (a, b), where in sorted(edges.items()):
        colour = ', color=red' if (a, b) in bad else ''
        lines.append('  "%s" -> "%s" [label="%d"%s];' % (a, b, len(where), colour))
    lines.append("}")
    return "\n".join(lines)


def main():
    src = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src")
    edges = includes(src)
    if "--dot" in sys.argv:
        print(dot(edges))
        return 0
    bad = upward(edges)
    for (a, b), where in sorted(bad.items()):
        print("%s includes %s, a layer not below it: %s" % (a, b, ", ".join(where)))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
