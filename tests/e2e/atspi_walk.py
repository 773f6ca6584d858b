#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# What a screen reader finds in the running Sonabel window over AT-SPI (the bus that
# AT_SPI_BUS_ADDRESS names): one line per object below the window, "role|name|value", the value
# (with its text) for objects that have one, and "focused|NAME" for the one with the focus.
# Usage: atspi_walk.py            Exit status 1 when no Sonabel window is found.
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def walk(node, out):
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is None:
            continue
        shown = ""
        if "Value" in child.get_interfaces():
            shown = "%g" % Atspi.Value.get_current_value(child)
            if hasattr(Atspi.Value, "get_text"):   # AT-SPI 2.46 and later
                shown += " (%s)" % Atspi.Value.get_text(child)
        out.append("%s|%s|%s" % (child.get_role_name(), child.get_name(), shown))
        if child.get_state_set().contains(Atspi.StateType.FOCUSED):
            out.append("focused|%s" % child.get_name())
        walk(child, out)


desktop = Atspi.get_desktop(0)
for a in range(desktop.get_child_count()):
    app = desktop.get_child_at_index(a)
    for w in range(app.get_child_count() if app else 0):
        window = app.get_child_at_index(w)
        if window is not None and window.get_name() == "Sonabel with FFT":
            lines = []
            walk(window, lines)
            print("\n".join(lines))
            sys.exit(0)
sys.exit(1)
