#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Presses keys through mutter's own remote desktop D-Bus interface, which asks
nobody: the Wayland tests answer the portal's dialog with it (a test rig only).

usage: mutter-keys.py CODE:STATE...   (Linux input event codes; STATE 1 press, 0 release)
"""
import sys, time
import gi
gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib

bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
NAME = "org.gnome.Mutter.RemoteDesktop"
SESSION = "org.gnome.Mutter.RemoteDesktop.Session"


def call(path, iface, method, params=None):
    return bus.call_sync(NAME, path, iface, method, params, None, Gio.DBusCallFlags.NONE, 5000, None)


session = call("/org/gnome/Mutter/RemoteDesktop", "org.gnome.Mutter.RemoteDesktop", "CreateSession").unpack()[0]
call(session, SESSION, "Start")
# A new session drops its first key: a Shift press and release go first.
for state in (True, False):
    call(session, SESSION, "NotifyKeyboardKeycode", GLib.Variant("(ub)", (42, state)))
time.sleep(0.1)
for key in sys.argv[1:]:
    code, state = map(int, key.split(":"))
    call(session, SESSION, "NotifyKeyboardKeycode", GLib.Variant("(ub)", (code, bool(state))))
    time.sleep(0.02)
time.sleep(0.2)
call(session, SESSION, "Stop")
