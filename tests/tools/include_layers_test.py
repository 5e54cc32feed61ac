#!/usr/bin/env python3
"""The product's includes point one way: a file includes headers of its own
layer or of the layers below it, never of a layer above.

    base/                 text helpers, system-call tables, the trace
    app/ foundation       the program's state record and the worker messages
    serial/  device/  update/
    app/ view             what the window shows and where (the painters draw it)
    ui/
    app/ (the rest)       the window, its commands and controls, the entry point

So the serial link, the device and the update never see the window's view or
its layout.

Run by ctest; on its own: python3 tests/tools/include_layers_test.py
"""
import os
import re
import shutil
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
FOUNDATION = {"app_state", "messages"}
VIEW = {"control_view", "control_ids", "layout"}
LAYERS = ["base", "foundation", "serial", "device", "update", "view", "ui", "window"]
PRODUCT_FOLDERS = ["base", "app", "serial", "device", "update", "ui"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def layer_of(path):
    """path is relative to the root, such as app/window.cpp."""
    folder, name = path.split("/", 1)
    if folder == "app":
        stem = os.path.splitext(name)[0]
        if stem in FOUNDATION:
            return "foundation"
        return "view" if stem in VIEW else "window"
    return folder


def product_files(root):
    for folder in PRODUCT_FOLDERS:
        directory = os.path.join(root, folder)
        if not os.path.isdir(directory):
            continue
        for name in sorted(os.listdir(directory)):
            if name.endswith((".h", ".cpp", ".h.in")):
                yield folder + "/" + name


def upward_includes(root=ROOT):
    found = []
    for path in product_files(root):
        with open(os.path.join(root, path), encoding="utf-8") as source:
            text = source.read()
        own = LAYERS.index(layer_of(path))
        for target in INCLUDE.findall(text):
            if target.split("/", 1)[0] not in PRODUCT_FOLDERS:
                continue  # generated headers and the like
            if LAYERS.index(layer_of(target)) > own:
                found.append("%s (%s) includes %s (%s)" % (path, layer_of(path), target, layer_of(target)))
    return found


class IncludeLayers(unittest.TestCase):
    def test_no_include_points_upward(self):
        self.assertEqual(upward_includes(), [])

    def test_the_check_finds_upward_includes_in_a_tree(self):
        # A small tree with one include of each kind: the check names exactly the upward ones.
        root = tempfile.mkdtemp(prefix="layers-")
        self.addCleanup(shutil.rmtree, root)
        files = {
            "serial/link.h": '#include "base/trim.h"\n#include "app/messages.h"\n',
            "serial/link.cpp": '#include "serial/link.h"\n#include "app/layout.h"\n',
            "device/state.h": '#  include "app/window.h"\n#include <string>\n',
            "update/tasks.cpp": '#include "device/state.h"\n#include "update_host.h"\n',
            "app/messages.h": '#include "serial/link.h"\n',
            "app/window.cpp": '#include "ui/painters.h"\n#include "app/control_view.h"\n',
        }
        for path, text in files.items():
            os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
            with open(os.path.join(root, path), "w", encoding="utf-8") as out:
                out.write(text)
        self.assertEqual(sorted(upward_includes(root)), [
            "app/messages.h (foundation) includes serial/link.h (serial)",
            "device/state.h (device) includes app/window.h (window)",
            "serial/link.cpp (serial) includes app/layout.h (view)",
        ])


if __name__ == "__main__":
    unittest.main()
