#!/usr/bin/python3
"""Waits for the program's window on the X display, checks what a desktop sees of it, and closes
it the way a window manager does when the person clicks the close box (WM_DELETE_WINDOW).

Usage: close_window.py PID TITLE
Prints one line per check; exits 1 when a check fails or the window does not appear in time.
"""

import sys
import time

from Xlib import X, Xatom, display, error, protocol


def windows(root):
    for child in root.query_tree().children:
        yield child
        yield from windows(child)


def property_value(d, window, name, kind):
    prop = window.get_full_property(d.intern_atom(name), kind)
    return prop.value if prop else None


def find(d, pid, title):
    for window in windows(d.screen().root):
        try:
            if window.get_wm_name() != title:
                continue
            value = property_value(d, window, "_NET_WM_PID", Xatom.CARDINAL)
            if value is not None and int(value[0]) == pid:
                if window.get_attributes().map_state == X.IsViewable:
                    return window
        except error.BadWindow:
            continue
    return None


def main():
    pid, title = int(sys.argv[1]), sys.argv[2]
    d = display.Display()
    window = None
    deadline = time.monotonic() + 30
    while window is None and time.monotonic() < deadline:
        window = find(d, pid, title)
        if window is None:
            time.sleep(0.2)
    if window is None:
        print(f"FAIL no visible window titled {title!r} from process {pid}")
        return 1

    failures = 0

    def check(what, ok, detail=""):
        nonlocal failures
        print(("ok   " if ok else "FAIL ") + what + (f": {detail}" if detail else ""))
        failures += 0 if ok else 1

    wm_class = window.get_wm_class() or ()
    check("class names the program", "quillmarsh" in wm_class, repr(wm_class))
    hints = window.get_wm_normal_hints()
    fixed = hints and hints.min_width == hints.max_width > 0 and hints.min_height == hints.max_height > 0
    check("fixed size", bool(fixed), hints and f"{hints.min_width}x{hints.min_height}..{hints.max_width}x{hints.max_height}")
    protocols = window.get_wm_protocols() or []
    check("takes WM_DELETE_WINDOW", d.intern_atom("WM_DELETE_WINDOW") in protocols)
    icon = property_value(d, window, "_NET_WM_ICON", Xatom.CARDINAL)
    check("carries its icon", icon is not None and len(icon) > 2)

    message = protocol.event.ClientMessage(
        window=window,
        client_type=d.intern_atom("WM_PROTOCOLS"),
        data=(32, [d.intern_atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0]),
    )
    window.send_event(message, event_mask=X.NoEventMask)
    d.flush()
    print("sent WM_DELETE_WINDOW")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
