#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The window as a screen reader and a keyboard user meet it, through AT-SPI.

Starts the program (argument 1) on the X display of the environment, with the
accessibility bridge on, and for each of its tabs:
  - every interactive control that is shown has a non-empty name, and neither
    its name nor its description holds markup;
  - the Tab key visits every enabled control of the tab, in reading order
    (rows from top to bottom, each row from left to right).
Run it inside dbus-run-session under an X server (scripts/lib/with-display).
Exit status 0 when all holds, 1 with the faults listed, 2 when the tools or
the bus are missing (the test then fails and says why).
"""
import os
import re
import subprocess
import sys
import tempfile
import time

try:
    import gi
    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi, GLib
except (ImportError, ValueError) as error:
    print("walk_tree: AT-SPI for Python is missing (python3-pyatspi, gir1.2-atspi-2.0): %s" % error)
    sys.exit(2)

TITLE = "Brindlecote Omvara"
# Tags of the markup the program's texts use; "<CR>" and the like are how the
# program writes control characters, not markup.
MARKUP = re.compile(r"<\s*/?\s*(html|body|qt|p|br|b|i|u|em|strong|span|a|font|div|ul|ol|li|table|tr|td|h[1-6])\b[^>]*>",
                    re.IGNORECASE)
INTERACTIVE = {
    Atspi.Role.PUSH_BUTTON, Atspi.Role.CHECK_BOX, Atspi.Role.RADIO_BUTTON, Atspi.Role.COMBO_BOX,
    Atspi.Role.TEXT, Atspi.Role.ENTRY, Atspi.Role.PASSWORD_TEXT, Atspi.Role.SPIN_BUTTON,
    Atspi.Role.TOGGLE_BUTTON, Atspi.Role.PAGE_TAB, Atspi.Role.SLIDER,
}
faults = []


def wait_for(condition, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        result = condition()
        if result:
            return result
        pump(0.05)
    return None


def pump(seconds):
    context = GLib.MainContext.default()
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        while context.pending():
            context.iteration(False)
        time.sleep(0.01)


def children(node):
    try:
        return [node.get_child_at_index(i) for i in range(node.get_child_count())]
    except GLib.Error:
        return []


def walk(node, depth=0):
    if node is None or depth > 40:
        return
    yield node
    for child in children(node):
        yield from walk(child, depth + 1)


def states(node):
    return node.get_state_set()


def showing(node):
    s = states(node)
    return s.contains(Atspi.StateType.SHOWING) and s.contains(Atspi.StateType.VISIBLE)


def extents(node):
    r = node.get_extents(Atspi.CoordType.SCREEN)
    return r.x, r.y, r.width, r.height


def label(node):
    return "%s '%s'" % (node.get_role_name(), node.get_name())


def find_frame():
    desktop = Atspi.get_desktop(0)
    for app in children(desktop):
        for window in children(app):
            if window and window.get_role() == Atspi.Role.FRAME and window.get_name() == TITLE:
                return window
    return None


focused = []


def on_focus(event):
    if event.detail1 == 1:
        focused.append(event.source)


def interactive(node):
    role = node.get_role()
    if role not in INTERACTIVE:
        return False
    if role == Atspi.Role.TEXT and not states(node).contains(Atspi.StateType.EDITABLE) \
            and not states(node).contains(Atspi.StateType.FOCUSABLE):
        return False
    return True


def check_names(page_name, root):
    for node in walk(root):
        if not showing(node) or not interactive(node):
            continue
        name = node.get_name() or ""
        description = node.get_description() or ""
        if not name.strip():
            faults.append("%s: %s at %s has no name" % (page_name, node.get_role_name(), extents(node)))
        for kind, value in (("name", name), ("description", description)):
            if MARKUP.search(value):
                faults.append("%s: the %s of %s holds markup: %r" % (page_name, kind, label(node), value[:80]))


def before(a, b):
    """True when b comes after a in reading order."""
    ax, ay, aw, ah = a
    bx, by, bw, bh = b
    if by >= ay + ah / 2:  # a row further down
        return True
    same_row = ay - 2 <= by + bh / 2 <= ay + ah + 2
    return same_row and bx >= ax + aw / 2


def key(node):
    return (node.get_role_name(), node.get_name(), extents(node))


def check_tab_order(page_name, page, tab_list):
    page_box = extents(page)

    def inside(node):
        x, y, w, h = extents(node)
        px, py, pw, ph = page_box
        return px <= x + w / 2 <= px + pw and py <= y + h / 2 <= py + ph

    def reachable(n):
        s = states(n)
        if not (showing(n) and interactive(n) and s.contains(Atspi.StateType.FOCUSABLE)
                and s.contains(Atspi.StateType.ENABLED) and n.get_role() != Atspi.Role.PAGE_TAB and inside(n)):
            return False
        # The entry field of an editable list box: the box takes the focus.
        parent = n.get_parent()
        if n.get_role() == Atspi.Role.TEXT and parent is not None and parent.get_role() == Atspi.Role.COMBO_BOX:
            return False
        # Of a group of radio buttons Tab reaches the chosen one; the arrows the others.
        if n.get_role() == Atspi.Role.RADIO_BUTTON and not s.contains(Atspi.StateType.CHECKED):
            return False
        return True

    expected_nodes = [n for n in walk(page) if reachable(n)]
    # From the tab bar into the page and through it.
    visited = []
    visited_nodes = []
    focused.clear()
    tab_list.grab_focus()
    pump(0.2)
    for _ in range(len(expected_nodes) + 3):
        focused.clear()
        # A pane with links steps through them first (the about text): a few
        # more presses leave it; more than that would be a keyboard trap.
        node = None
        for _ in range(6):
            subprocess.run(["xdotool", "key", "Tab"], check=False)
            node = wait_for(lambda: focused[-1] if focused else None, 1.0)
            if node is not None:
                break
        if node is None:
            faults.append("%s: Tab does not leave %s" % (page_name, visited[-1] if visited else "the tab bar"))
            break
        if node.get_role() == Atspi.Role.PAGE_TAB_LIST or node.get_role() == Atspi.Role.PAGE_TAB:
            break  # round the window and back at the tab bar
        parent = node.get_parent()
        if node.get_role() == Atspi.Role.TEXT and parent is not None and parent.get_role() == Atspi.Role.COMBO_BOX:
            node = parent
        if not inside(node):
            continue
        k = key(node)
        if os.environ.get("WALK_TREE_VERBOSE"):
            print("  focus: %s '%s' %s" % k)
        if k in visited:
            break
        visited.append(k)
        visited_nodes.append(node)
    # A page that scrolls moves its controls as the focus goes down: compare
    # places all read at one moment, with the page scrolled as it is now.
    visited = [key(n) for n in visited_nodes]
    expected = [key(n) for n in expected_nodes]
    for a, b in zip(visited, visited[1:]):
        if not before(a[2], b[2]):
            faults.append("%s: Tab goes from %s '%s' %s back to %s '%s' %s" % (page_name, a[0], a[1], a[2], b[0], b[1], b[2]))
    missing = [k for k in expected if k not in visited]
    for k in missing:
        faults.append("%s: Tab never reaches %s '%s'" % (page_name, k[0], k[1]))
    return len(visited)


def select(tab):
    """Shows the tab's page, as a click on the tab does."""
    try:
        if tab.get_n_actions() > 0:
            tab.do_action(0)
            pump(0.3)
            return
    except GLib.Error:
        pass
    x, y, w, h = extents(tab)
    subprocess.run(["xdotool", "mousemove", str(x + w // 2), str(y + h // 2), "click", "1"], check=False)
    pump(0.3)


def main():
    program = sys.argv[1]
    home = tempfile.mkdtemp(prefix="omvara-a11y-")
    prefs = os.path.join(home, "prefs.txt")
    with open(prefs, "w") as f:
        f.write("#FilePreferences\ncom.brindlecote.Omvara.checkForUpdates=false\n")
    env = dict(os.environ, QT_ACCESSIBILITY="1", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb",
               HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"), OMVARA_KEYBOARD="x11")
    if not env.get("DBUS_SESSION_BUS_ADDRESS"):
        print("walk_tree: no session bus: run inside dbus-run-session")
        return 2
    # The accessibility bus and its registry first, so that the program finds them at its start.
    Atspi.init()
    listener = Atspi.EventListener.new(on_focus)
    listener.register("object:state-changed:focused")
    Atspi.get_desktop(0).get_child_count()
    pump(0.5)
    proc = subprocess.Popen([program, "--prefs-file", prefs, os.path.join(home, "no-such-port")], env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    try:
        frame = wait_for(find_frame, 45)
        if frame is None:
            print("walk_tree: the window did not appear on the accessibility bus")
            return 2
        window = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", TITLE],
                                capture_output=True, text=True, timeout=20).stdout.split()
        if window:
            subprocess.run(["xdotool", "windowfocus", "--sync", window[0]], check=False, timeout=10)
        tab_list = next((n for n in walk(frame) if n.get_role() == Atspi.Role.PAGE_TAB_LIST), None)
        if tab_list is None:
            print("walk_tree: no tab list in the window")
            return 2
        tabs = [t for t in children(tab_list) if t.get_role() == Atspi.Role.PAGE_TAB]
        pages = 0
        for index, tab in enumerate(tabs):
            name = tab.get_name()
            select(tab)
            # The controls shown are those of this tab (the others' are hidden).
            check_names(name, frame)
            count = check_tab_order(name, frame, tab_list)
            print("%s: %d controls in Tab order" % (name, count))
            pages += 1
        if pages < 7:
            faults.append("only %d tabs found" % pages)
    finally:
        proc.terminate()
        try:
            proc.wait(10)
        except subprocess.TimeoutExpired:
            proc.kill()
    for fault in faults:
        print("FAULT " + fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
