#!/usr/bin/env python3
"""Start-to-visible-window benchmark, warm Wine server.

Times, in alternating rounds, from the start of the process to the moment its first window of at
least 200x100 pixels is mapped on the X display (an X MapNotify, watched through libX11):
- vdInstaller.exe with no arguments (the welcome page; its requests go to a port that refuses);
- barewindow.exe, a plain Win32 window of the same size, the peer.
Prints every round, the medians and their ratio. Run by bench/window_bench.sh.
"""
import argparse
import ctypes
import ctypes.util
import os
import select
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import vdharness as h  # noqa: E402

MAP_NOTIFY = 19
SUBSTRUCTURE_NOTIFY_MASK = 1 << 19


class MapWatcher:
    """Reports top-level windows as the X server maps them."""

    def __init__(self, display):
        self.x = ctypes.CDLL(ctypes.util.find_library("X11"))
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
        self.x.XConnectionNumber.argtypes = [ctypes.c_void_p]
        self.x.XPending.argtypes = [ctypes.c_void_p]
        self.x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        self.x.XFlush.argtypes = [ctypes.c_void_p]
        self.x.XGetGeometry.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_void_p] * 7
        self.dpy = self.x.XOpenDisplay(display.encode())
        if not self.dpy:
            raise RuntimeError("cannot open display %s" % display)
        self.x.XSelectInput(self.dpy, self.x.XDefaultRootWindow(self.dpy), SUBSTRUCTURE_NOTIFY_MASK)
        self.x.XFlush(self.dpy)
        self.fd = self.x.XConnectionNumber(self.dpy)
        self.event = ctypes.create_string_buffer(256)

    def _size(self, win):
        root, x, y, w, hgt, bw, depth = (ctypes.c_ulong(), ctypes.c_int(), ctypes.c_int(), ctypes.c_uint(),
                                         ctypes.c_uint(), ctypes.c_uint(), ctypes.c_uint())
        ok = self.x.XGetGeometry(self.dpy, win, ctypes.byref(root), ctypes.byref(x), ctypes.byref(y), ctypes.byref(w),
                                 ctypes.byref(hgt), ctypes.byref(bw), ctypes.byref(depth))
        return (w.value, hgt.value) if ok else (0, 0)

    def drain(self):
        while self.x.XPending(self.dpy):
            self.x.XNextEvent(self.dpy, self.event)

    def wait_big_window(self, deadline):
        """Time (perf_counter) of the first mapping of a window of at least 200x100; None at the deadline."""
        while True:
            while self.x.XPending(self.dpy):
                self.x.XNextEvent(self.dpy, self.event)
                now = time.perf_counter()
                etype = ctypes.c_int.from_buffer(self.event, 0).value
                if etype != MAP_NOTIFY:
                    continue
                # XMapEvent: type, serial, send_event, display, event, window (LP64 layout)
                win = ctypes.c_ulong.from_buffer(self.event, 40).value
                w, hgt = self._size(win)
                if w >= 200 and hgt >= 100:
                    return now
            left = deadline - time.perf_counter()
            if left <= 0:
                return None
            select.select([self.fd], [], [], min(left, 0.5))


def one_run(watcher, cmd, env, timeout, settle):
    # the previous start's teardown (its process, Wine's server, the window manager) is over first
    time.sleep(settle)
    watcher.drain()
    t0 = time.perf_counter()
    proc = subprocess.Popen(cmd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    try:
        shown = watcher.wait_big_window(t0 + timeout)
    finally:
        proc.kill()
        proc.wait(timeout=30)
    return None if shown is None else (shown - t0) * 1000.0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--rounds", type=int, default=21)
    ap.add_argument("--timeout", type=float, default=30)
    ap.add_argument("--settle", type=float, default=0.5, help="seconds of quiet before each start")
    args = ap.parse_args()
    build = os.environ.get("VD_BUILD") or os.path.join(ROOT, "build", "cmake")
    display = os.environ.get("DISPLAY")
    if not display:
        sys.exit("no DISPLAY: run bench/window_bench.sh")
    env = h.wine_env({"DISPLAY": display})
    ours = ["wine", os.path.join(build, "bin", "vdInstaller.exe")]
    bare = ["wine", os.path.join(build, "bin", "barewindow.exe")]
    watcher = MapWatcher(display)
    h.clean_data()
    # one unmeasured start of each: the first run after a build maps the files into the cache
    for cmd in (ours, bare):
        one_run(watcher, cmd, env, args.timeout, args.settle)
        h.kill_windows_processes("vdInstaller.exe")
    times = {"ours": [], "bare": []}
    for r in range(args.rounds):
        for name, cmd in (("ours", ours), ("bare", bare)):
            ms = one_run(watcher, cmd, env, args.timeout, args.settle)
            if name == "ours":
                # a killed first instance leaves nothing behind, but make sure before the next round
                h.kill_windows_processes("vdInstaller.exe")
            if ms is None:
                print("round %d: %s showed no window within %.0f s" % (r + 1, name, args.timeout))
                continue
            times[name].append(ms)
        print("round %d: vdInstaller %s ms, bare window %s ms" % (
            r + 1, "%.0f" % times["ours"][-1] if len(times["ours"]) > r else "-",
            "%.0f" % times["bare"][-1] if len(times["bare"]) > r else "-"))
    if not times["ours"] or not times["bare"]:
        sys.exit("no figures")
    mo, mb = statistics.median(times["ours"]), statistics.median(times["bare"])
    print("start -> visible window, median of %d: vdInstaller %.0f ms, bare Win32 window %.0f ms, ratio %.2f "
          "(goal <= 1.2)" % (args.rounds, mo, mb, mo / mb))


if __name__ == "__main__":
    main()
