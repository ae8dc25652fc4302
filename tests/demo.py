#!/usr/bin/env python3
"""The main job: runs vdInstaller.exe under Wine (a visible window when a display exists, Xvfb
and the install switch otherwise) and shows what happened and where its log is."""
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "e2e"))
import vdharness as h  # noqa: E402


def main():
    h.ensure_wineserver()
    h.clean_data()
    if os.environ.get("DISPLAY") and not os.environ.get("VD_DEMO_HIDDEN"):
        print("== starting vdInstaller.exe on display %s; close its window to finish" % os.environ["DISPLAY"])
        rc, _ = h.run(h.EXE, [], timeout=3600)
    else:
        with h.Xvfb() as x:
            print("== no display: starting vdInstaller.exe /i on a private Xvfb display %s" % x.display)
            proc = h.start(h.EXE, ["/i"], env=x.env())
            found = h.wait_for(lambda: h.wintool("state", "VdInstMainFrameWndClass")[1].get("found") == "1", 30)
            print("== main window %s" % ("created (hidden by /i)" if found else "NOT found"))
            time.sleep(1)
            h.wintool("close", "VdInstMainFrameWndClass")
            rc = h.exit_code(proc.wait(timeout=60))
    print("== exit code: %d" % rc)
    print("== daily log: %s" % h.log_path())
    print("   (Windows path %s)" % h.to_windows(h.log_path()))
    for m in h.log_messages():
        print("   " + m)
    return 0 if rc == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
