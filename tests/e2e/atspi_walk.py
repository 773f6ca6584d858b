#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# What a screen reader finds in the running Sonabel window over AT-SPI (the bus AT_SPI_BUS_ADDRESS
# names): a line "role|name|value (text)" per object below the window, the value for objects that
# have one. Exit status 1 while there is no window.
import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def children(node):
    return [c for c in (node.get_child_at_index(i) for i in range(node.get_child_count())) if c]


# AT-SPI 2.50 and later name the push-button role "button" (Debian 13); older ones "push button"
# (Debian 12). The same role either way: one name for it here.
def role_name(node):
    return "push button" if node.get_role() == Atspi.Role.PUSH_BUTTON else node.get_role_name()


def walk(node):
    for child in children(node):
        value = ""
        if "Value" in child.get_interfaces():
            value = "%g (%s)" % (Atspi.Value.get_current_value(child), Atspi.Value.get_text(child))
        print("%s|%s|%s" % (role_name(child), child.get_name(), value))
        walk(child)


windows = [w for app in children(Atspi.get_desktop(0)) for w in children(app) if w.get_name() == "Sonabel with FFT"]
for window in windows[:1]:
    walk(window)
exit(0 if windows else 1)
