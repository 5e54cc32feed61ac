#!/usr/bin/env python3
"""The product's folders are its layers, from the ground up:

    base/     text helpers, system-call tables, the trace, the clock and the
              one way to wait
    task/     what a worker thread and the window share: the task record,
              the worker messages, the launcher
    serial/   the COM port
    device/   every word said to the device: records, queries, tasks, state
    update/download/   one HTTP GET into memory, and the pace it must keep
    update/release/    the release's trust: manifest, signature, keys, digest,
                       versions, the release last read
    update/image/      the UF2 image the boot ROM takes, the boot loader's drive
    update/workflow/   the check and the update that string them together
    view/     the pure view: control ids, layout and drawing arithmetic, the
              control view
    ui/       palette and painters
    app/      the window and only the window

A file includes only headers of its own folder or of folders above it in this
list, and no two files of the product include each other, directly or round a
circle (a header and its source count as one file). A folder with several
ideas holds no file of its own, only a sub-folder for each idea. The folder
alone says where a file stands: there is no list of exceptions.

Run by ctest; on its own: python3 tests/tools/include_layers_test.py
"""
import os
import re
import shutil
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
LAYERS = ["base", "task", "serial", "device", "update/download", "update/release", "update/image", "update/workflow",
          "view", "ui", "app"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
SOURCE_SUFFIXES = (".h", ".cpp", ".h.in")


def product_files(root):
    """Every source below the layers' folders, where it stands (whether or not that is a layer)."""
    for top in sorted({layer.split("/", 1)[0] for layer in LAYERS}):
        for directory, folders, names in os.walk(os.path.join(root, top)):
            folders.sort()
            for name in sorted(names):
                if name.endswith(SOURCE_SUFFIXES):
                    yield os.path.relpath(os.path.join(directory, name), root).replace(os.sep, "/")


def layer_of(path):
    """The layer a file stands in: its folder, which must be one of LAYERS (else None)."""
    folder = path.rsplit("/", 1)[0]
    return LAYERS.index(folder) if folder in LAYERS else None


def product_includes(root, path):
    """The product headers a file includes (generated headers and the like are not)."""
    with open(os.path.join(root, path), encoding="utf-8") as source:
        text = source.read()
    tops = {layer.split("/", 1)[0] for layer in LAYERS}
    return [target for target in INCLUDE.findall(text) if target.split("/", 1)[0] in tops]


def misplaced_files(root=ROOT):
    """Sources that stand in no layer: in a folder of sub-folders, or in a sub-folder the list does not know."""
    return sorted(path for path in product_files(root) if layer_of(path) is None)


def unit_of(path):
    """A header and its source are one file here: app/window.h and app/window.cpp are app/window."""
    for suffix in SOURCE_SUFFIXES:
        if path.endswith(suffix):
            return path[: -len(suffix)]
    return path


def upward_includes(root=ROOT):
    found = []
    for path in product_files(root):
        own = layer_of(path)
        if own is None:
            continue
        for target in product_includes(root, path):
            theirs = layer_of(target)
            if theirs is None or theirs > own:
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

    def test_every_file_stands_in_a_layer(self):
        self.assertEqual(misplaced_files(), [])

    def test_the_check_finds_upward_includes_in_a_tree(self):
        # A small tree with one include of each kind: the check names exactly the upward ones.
        root = make_tree(self, {
            "serial/link.h": '#include "base/trim.h"\n#include "task/messages.h"\n',
            "serial/link.cpp": '#include "serial/link.h"\n#include "view/layout.h"\n',
            "device/state.h": '#  include "app/window.h"\n#include <string>\n',
            "update/workflow/tasks.cpp": '#include "device/state.h"\n#include "norva/update_host.h"\n'
                                         '#include "update/download/get.h"\n',
            "update/download/get.h": '#include "update/image/drive.h"\n',
            "update/image/drive.h": '#include "update/release/state.h"\n',
            "task/messages.h": '#include "serial/link.h"\n',
            "app/window.cpp": '#include "ui/painters.h"\n#include "view/control_view.h"\n',
            "ui/painters.h": '#include "view/layout.h"\n#include "app/app_state.h"\n',
        })
        self.assertEqual(sorted(upward_includes(root)), [
            "device/state.h includes app/window.h",
            "serial/link.cpp includes view/layout.h",
            "task/messages.h includes serial/link.h",
            "ui/painters.h includes app/app_state.h",
            "update/download/get.h includes update/image/drive.h",
        ])

    def test_the_check_finds_files_outside_the_layers_in_a_tree(self):
        # A file beside the sub-folders of update/, one in a sub-folder nobody
        # named, and one in a layer.
        root = make_tree(self, {
            "update/tasks.cpp": "",
            "update/misc/helper.h": "",
            "update/image/drive.h": "",
        })
        self.assertEqual(misplaced_files(root), ["update/misc/helper.h", "update/tasks.cpp"])

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
