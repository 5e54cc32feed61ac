#!/usr/bin/env python3
"""The product's folders are its layers, from the ground up:

    base/     text helpers, system-call tables, the trace
    task/     what a worker thread and the window share: the task record,
              the worker messages, the launcher
    serial/   the COM port
    device/   the device's records, queries, tasks and state
    update/   manifest, signature, download, UF2, drive, the update's phases
    view/     the pure view: control ids, layout arithmetic, the control view
    ui/       palette and painters
    app/      the window and only the window

A file includes only headers of its own folder or of folders above it in this
list, and no two files of the product include each other, directly or round a
circle (a header and its source count as one file). The folder alone says
where a file stands: there is no list of exceptions.

Run by ctest; on its own: python3 tests/tools/include_layers_test.py
"""
import os
import re
import shutil
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
LAYERS = ["base", "task", "serial", "device", "update", "view", "ui", "app"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
SOURCE_SUFFIXES = (".h", ".cpp", ".h.in")


def product_files(root):
    for folder in LAYERS:
        directory = os.path.join(root, folder)
        if not os.path.isdir(directory):
            continue
        for name in sorted(os.listdir(directory)):
            if name.endswith(SOURCE_SUFFIXES):
                yield folder + "/" + name


def product_includes(root, path):
    """The product headers a file includes (generated headers and the like are not)."""
    with open(os.path.join(root, path), encoding="utf-8") as source:
        text = source.read()
    return [target for target in INCLUDE.findall(text) if target.split("/", 1)[0] in LAYERS]


def unit_of(path):
    """A header and its source are one file here: app/window.h and app/window.cpp are app/window."""
    for suffix in SOURCE_SUFFIXES:
        if path.endswith(suffix):
            return path[: -len(suffix)]
    return path


def upward_includes(root=ROOT):
    found = []
    for path in product_files(root):
        own = LAYERS.index(path.split("/", 1)[0])
        for target in product_includes(root, path):
            if LAYERS.index(target.split("/", 1)[0]) > own:
                found.append("%s includes %s" % (path, target))
    return found


def circles(root=ROOT):
    """Every group of files that reach each other through their includes, as
    sorted lists of units (Tarjan's strongly connected components)."""
    edges = {}
    for path in product_files(root):
        unit = unit_of(path)
        targets = edges.setdefault(unit, set())
        targets.update(unit_of(t) for t in product_includes(root, path) if unit_of(t) != unit)
    index, low, stack, on_stack, groups = {}, {}, [], set(), []

    def visit(unit):
        index[unit] = low[unit] = len(index)
        stack.append(unit)
        on_stack.add(unit)
        for target in sorted(edges.get(unit, ())):
            if target not in index:
                visit(target)
                low[unit] = min(low[unit], low[target])
            elif target in on_stack:
                low[unit] = min(low[unit], index[target])
        if low[unit] == index[unit]:
            group = []
            while True:
                member = stack.pop()
                on_stack.discard(member)
                group.append(member)
                if member == unit:
                    break
            if len(group) > 1:
                groups.append(sorted(group))

    for unit in sorted(edges):
        if unit not in index:
            visit(unit)
    return sorted(groups)


def make_tree(test, files):
    root = tempfile.mkdtemp(prefix="layers-")
    test.addCleanup(shutil.rmtree, root)
    for path, text in files.items():
        os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
        with open(os.path.join(root, path), "w", encoding="utf-8") as out:
            out.write(text)
    return root


class IncludeLayers(unittest.TestCase):
    def test_no_include_points_upward(self):
        self.assertEqual(upward_includes(), [])

    def test_no_two_files_include_each_other(self):
        self.assertEqual(circles(), [])

    def test_the_check_finds_upward_includes_in_a_tree(self):
        # A small tree with one include of each kind: the check names exactly the upward ones.
        root = make_tree(self, {
            "serial/link.h": '#include "base/trim.h"\n#include "task/messages.h"\n',
            "serial/link.cpp": '#include "serial/link.h"\n#include "view/layout.h"\n',
            "device/state.h": '#  include "app/window.h"\n#include <string>\n',
            "update/tasks.cpp": '#include "device/state.h"\n#include "norva/update_host.h"\n',
            "task/messages.h": '#include "serial/link.h"\n',
            "app/window.cpp": '#include "ui/painters.h"\n#include "view/control_view.h"\n',
            "ui/painters.h": '#include "view/layout.h"\n#include "app/app_state.h"\n',
        })
        self.assertEqual(sorted(upward_includes(root)), [
            "device/state.h includes app/window.h",
            "serial/link.cpp includes view/layout.h",
            "task/messages.h includes serial/link.h",
            "ui/painters.h includes app/app_state.h",
        ])

    def test_the_check_finds_circles_through_headers_and_sources(self):
        # window <-> watch through their sources, link -> lines -> link through a
        # header, and a chain that goes one way only.
        root = make_tree(self, {
            "app/window.h": "",
            "app/window.cpp": '#include "app/window.h"\n#include "app/watch.h"\n',
            "app/watch.h": "",
            "app/watch.cpp": '#include "app/watch.h"\n#include "app/window.h"\n',
            "serial/link.h": "",
            "serial/link.cpp": '#include "serial/link.h"\n#include "serial/lines.h"\n',
            "serial/lines.h": '#include "serial/link.h"\n',
            "device/a.h": '#include "device/b.h"\n',
            "device/b.h": '#include "device/c.h"\n',
            "device/c.h": "",
        })
        self.assertEqual(circles(root), [["app/watch", "app/window"], ["serial/lines", "serial/link"]])


if __name__ == "__main__":
    unittest.main()
