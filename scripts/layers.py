#!/usr/bin/env python3
"""Checks the folders' layering: which product folder includes which, and
that no two folders include each other (directly or round a circle). The
simulator's own layers count apart (sim/engine and sim/server below the
line, the rest of sim/ beside the windows), as the build's libraries do.
Prints the graph and exits 1 on a circle or on a file below app/ that
includes app/ (the subsystem windows frmPorts, the Simulator menu and
frame log excepted from the widget rule only).

    python3 scripts/layers.py
"""
import glob, os, re, sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FOLDERS = ["app", "session", "loops", "cmdtable", "modes", "exchange", "serial", "bytes", "plan",
           "sim/engine", "sim/server", "sim/tool", "sim"]


def folder_of(path):
    for f in FOLDERS:
        if path == f or path.startswith(f + "/"):
            return f
    return None


def main():
    os.chdir(ROOT)
    edges = {}
    problems = []
    for f in FOLDERS:
        for path in glob.glob(f + "/**/*.[ch]*", recursive=True):
            if not path.endswith((".cpp", ".h")) or folder_of(path) != f:
                continue
            for inc in re.findall(r'^#include "([^"]+)"', open(path).read(), re.M):
                g = folder_of(inc)
                if g and g != f:
                    edges.setdefault(f, {}).setdefault(g, []).append(path)
                if g == "app" and f != "app":
                    problems.append("%s includes %s (a layer reaching up)" % (path, inc))
    for f in FOLDERS:
        if f in edges:
            print("%-11s -> %s" % (f, ", ".join(sorted(edges[f]))))
    # Circles: depth-first search over the folder graph.
    state = {}

    def visit(n, stack):
        state[n] = 1
        for m in edges.get(n, {}):
            if state.get(m) == 1:
                problems.append("circle: " + " -> ".join(stack[stack.index(m):] + [m]))
            elif not state.get(m):
                visit(m, stack + [m])
        state[n] = 2

    for f in FOLDERS:
        if not state.get(f):
            visit(f, [f])
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
