#!/usr/bin/env python3
"""The product's includes point one way: a file includes headers of its own
layer or of the layers below it, never of a layer above.

    base/                 text helpers, system-call tables, the trace
    app/ foundation       the shared state, the worker messages, the view
    serial/  device/  update/  ui/
    app/ (the rest)       the window, its commands and controls, the entry point

Run by ctest; on its own: python3 tests/tools/include_layers_test.py
"""
import os
import re
import sys
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
FOUNDATION = {"app_state", "messages", "control_view", "control_ids", "layout", "device_status"}
LAYERS = ["base", "foundation", "serial", "device", "update", "ui", "window"]
PRODUCT_FOLDERS = ["base", "app", "serial", "device", "update", "ui"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def layer_of(path):
    """path is relative to the root, such as app/window.cpp."""
    folder, name = path.split("/", 1)
    if folder == "app":
        return "foundation" if os.path.splitext(name)[0] in FOUNDATION else "window"
    return folder


def product_files():
    for folder in PRODUCT_FOLDERS:
        for name in sorted(os.listdir(os.path.join(ROOT, folder))):
            if name.endswith((".h", ".cpp", ".h.in")):
                yield folder + "/" + name


def upward_includes():
    found = []
    for path in product_files():
        with open(os.path.join(ROOT, path), encoding="utf-8") as source:
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

    def test_the_check_sees_an_upward_include(self):
        # The rule as the check applies it, on names alone.
        self.assertGreater(LAYERS.index(layer_of("app/window.h")), LAYERS.index(layer_of("serial/serial_link.cpp")))
        self.assertLess(LAYERS.index(layer_of("app/app_state.h")), LAYERS.index(layer_of("serial/serial_link.cpp")))
        self.assertGreater(LAYERS.index(layer_of("update/version.h")), LAYERS.index(layer_of("app/control_view.cpp")))


if __name__ == "__main__":
    unittest.main()
