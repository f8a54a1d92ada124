#!/usr/bin/env python3
"""Checks that no source file includes a header from a folder whose library it does not link.

Each library is one folder (docs/architecture.md). This script reads the link graph CMake
itself writes (`cmake --graphviz`), maps every library and program to the folder whose
CMakeLists.txt defines it, and then reads every #include "..." in those folders: the header's
folder must belong to a library the including folder's targets link, directly or through
others. The build enforces the same for headers through per-library include folders; this
check also names the offending line, and catches a header that happens to compile because
an unrelated target put it on the path.

Usage: scripts/check-includes.py [build-folder]   (configures a scratch folder when omitted)
"""
import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFINES = re.compile(r'^\s*(?:tamberlin_add_library|add_executable)\(\s*([\w-]+)', re.M)
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
LIBRARY_TOPS = ("app", "cache", "cli", "platform", "preview", "save")


def link_graph(build):
    dot = os.path.join(build, "graph", "tamberlin.dot")
    os.makedirs(os.path.dirname(dot), exist_ok=True)
    subprocess.run(["cmake", "-S", ROOT, "-B", build, "-DTAMBERLIN_GUI=ON",
                    f"--graphviz={dot}"], check=True, stdout=subprocess.DEVNULL)
    names, edges = {}, {}
    for line in open(dot, encoding="utf-8"):
        node = re.match(r'\s*"?(node\d+)"?\s*\[\s*label\s*=\s*"([^"]+)"', line)
        if node:
            names[node.group(1)] = node.group(2)
        edge = re.match(r'\s*"?(node\d+)"?\s*->\s*"?(node\d+)"?', line)
        if edge:
            edges.setdefault(edge.group(1), set()).add(edge.group(2))
    graph = {}
    for source, targets in edges.items():
        graph.setdefault(names[source], set()).update(names[t] for t in targets)
    return graph


def closure(graph, start):
    seen, todo = set(), list(start)
    while todo:
        target = todo.pop()
        if target not in seen:
            seen.add(target)
            todo.extend(graph.get(target, ()))
    return seen


def folders():
    """Folder (relative to the top) -> the targets its CMakeLists.txt defines."""
    found = {}
    for top in LIBRARY_TOPS:
        for folder, _, files in os.walk(os.path.join(ROOT, top)):
            if "CMakeLists.txt" in files:
                text = open(os.path.join(folder, "CMakeLists.txt"), encoding="utf-8").read()
                targets = DEFINES.findall(text)
                if targets:
                    found[os.path.relpath(folder, ROOT)] = targets
    return found


def owner(path, library_folders):
    best = None
    for folder in library_folders:
        if path.startswith(folder + "/") and (best is None or len(folder) > len(best)):
            best = folder
    return best


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else tempfile.mkdtemp(prefix="tamberlin-layers-")
    graph = link_graph(build)
    library_folders = folders()
    library_of = {folder: targets[0] for folder, targets in library_folders.items()}
    problems = 0
    for folder, targets in sorted(library_folders.items()):
        allowed = closure(graph, targets)
        for name in sorted(os.listdir(os.path.join(ROOT, folder))):
            if not name.endswith((".cpp", ".h")):
                continue
            path = os.path.join(folder, name)
            text = open(os.path.join(ROOT, path), encoding="utf-8").read()
            for number, line in enumerate(text.splitlines(), 1):
                include = INCLUDE.match(line)
                if not include or "/" not in include.group(1):
                    continue
                target_folder = owner(include.group(1), library_folders)
                if target_folder is None:
                    continue  # a generated or system header
                if library_of[target_folder] not in allowed:
                    print(f"{path}:{number}: includes {include.group(1)} of "
                          f"{library_of[target_folder]}, which {targets[0]} does not link")
                    problems += 1
    # A subsystem folder that holds several libraries holds no code of its own.
    for top in LIBRARY_TOPS:
        if top in library_folders:
            continue
        stray = [n for n in os.listdir(os.path.join(ROOT, top)) if n.endswith((".cpp", ".h"))]
        for name in stray:
            print(f"{top}/{name}: code outside a library folder")
            problems += 1
    # The stack in docs/architecture.md: every dependency points down it.
    doc = open(os.path.join(ROOT, "docs", "architecture.md"), encoding="utf-8").read()
    order = re.findall(r"^[ a-z]{12}(tamberlin[\w-]*)\s", doc, re.M)
    rank = {name: i for i, name in enumerate(order)}
    for folder, targets in library_folders.items():
        for target in targets:
            if target not in rank:
                print(f"docs/architecture.md: {target} ({folder}) is missing from the stack")
                problems += 1
                continue
            for used in sorted(graph.get(target, ())):
                if used in rank and rank[used] <= rank[target]:
                    print(f"docs/architecture.md: {target} uses {used}, drawn above it")
                    problems += 1
    print(f"{len(library_folders)} library folders checked, {problems} problem(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
