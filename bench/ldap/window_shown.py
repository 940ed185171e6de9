#!/usr/bin/env python3
"""Starts a program on the X display in $DISPLAY and prints the seconds from its start until it maps
its first top-level window (no pop-up), and its resident memory in KiB a second later; then ends it.
Waits on the X server's own MapNotify event, so the figure carries no polling delay.
    window_shown.py PROGRAM [ARGUMENT...]"""
import ctypes
import os
import signal
import subprocess
import sys
import time

MAP_NOTIFY = 19
SUBSTRUCTURE_NOTIFY_MASK = 1 << 19

x11 = ctypes.CDLL("libX11.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultRootWindow.restype = ctypes.c_ulong
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
x11.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
x11.XFlush.argtypes = [ctypes.c_void_p]

display = x11.XOpenDisplay(os.environ.get("DISPLAY", "").encode())
if not display:
    sys.exit("window_shown: cannot open the display")
x11.XSelectInput(display, x11.XDefaultRootWindow(display), SUBSTRUCTURE_NOTIFY_MASK)
x11.XFlush(display)
event = (ctypes.c_long * 24)()  # XEvent is 192 bytes
signal.alarm(120)  # a program that never shows a window

begin = time.monotonic()
child = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
while True:
    x11.XNextEvent(display, event)
    fields = ctypes.cast(event, ctypes.POINTER(ctypes.c_int))
    # XMapEvent: type at byte 0, override_redirect at byte 48.
    if fields[0] == MAP_NOTIFY and fields[12] == 0:
        break
shown = time.monotonic() - begin
time.sleep(1)
with open("/proc/%d/status" % child.pid) as status:
    rss = next(line.split()[1] for line in status if line.startswith("VmRSS:"))
child.terminate()
child.wait()
print("%.4f %s" % (shown, rss))
