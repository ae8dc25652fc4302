#!/usr/bin/env python3
"""The main job: a real installation of the stand-in product through the whole workflow.

Starts the local servers (configuration server describing the NSIS product package with its real
digest, size and version; package server; statistics and behaviour collectors; IP lookup; all on
127.0.0.1 behind one proxy), runs vdInstaller.exe under Wine, then shows what was installed, where,
and the log's key lines. Web pages the installer opens are recorded, never sent anywhere.

How the window runs:
  on the user's own display      visible there; the user clicks 立刻安装
  on demo.sh's private display   visible, clicked by this script, which saves a picture of each page
                                 (welcome, progress, success) and a contact sheet to build/demo/
  --hidden                       the install switch (/i): no window is shown, nothing is started
"""
import argparse
import os
import shutil
import subprocess
import sys
import time

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "e2e"))
sys.path.insert(0, HERE)
import vdharness as h  # noqa: E402
import test_workflow as wf  # noqa: E402
from servers import ServerSet  # noqa: E402
from servers.product import serve_package  # noqa: E402

KEY_LINES = ("Begin vdInstaller", "Parse json,Inst download url:", "Parse json,Inst MD5 value:", "receive download msg",
             "begin multi download", "not need download,use local inst.exe:", "IsVdpmInside,use tmp inst.exe:",
             "download total seconds:", "md5 value is", "PrepareExecvdInstExe Install:", "PrepareExecvdInstExe InstExe:",
             "vd_execute_process", "pe bit:", "Vardo.exe version:", "WM_USER_EXEC_INST_FEEDBACK", "check cache exe to:",
             "show failure page:", "VD_TIMER_ID_EXIT timeout", "End vdInstaller")


def folder_listing(folder):
    base = h.from_windows(folder)
    out = []
    for name in sorted(os.listdir(base)) if os.path.isdir(base) else []:
        p = os.path.join(base, name)
        out.append("%-16s %9d bytes" % (name, os.path.getsize(p)))
    return out


DEMO = os.path.join(h.ROOT, "build", "demo")
# the progress bar's track in window coordinates (installing page, from the markup)
BAR_LEFT, BAR_WIDTH, BAR_ROW = 35, 512, 330


def window_shot(display, path):
    """The main window as it is on the screen, cropped from the root window; None without one."""
    rc, f = h.wintool("rect", wf.CLS)
    if f.get("found") != "1":
        return None
    env = dict(os.environ, DISPLAY=display)
    xwd = subprocess.run(["xwd", "-root", "-silent"], env=env, stdout=subprocess.PIPE, timeout=30).stdout
    crop = subprocess.run(["convert", "xwd:-", "-crop", "%sx%s+%s+%s" % (f["w"], f["h"], f["x"], f["y"]), "+repage",
                           path], input=xwd, stderr=subprocess.DEVNULL, timeout=60)
    return path if crop.returncode == 0 and os.path.exists(path) else None


def bar_fill(path):
    """Share of the progress track painted with the blue fill, 0.0 to 1.0."""
    img = Image.open(path).convert("RGB")
    if img.width < BAR_LEFT + BAR_WIDTH or img.height <= BAR_ROW:
        return 0.0
    blue = 0
    for x in range(BAR_LEFT, BAR_LEFT + BAR_WIDTH):
        r, g, b = img.getpixel((x, BAR_ROW))
        blue += b > 170 and r < 120 and b > r + 60
    return blue / BAR_WIDTH


def drive_with_pictures(run, display):
    """Clicks through the installation as a person would, saving a picture of each page. Returns
    the pictures (name, path, note) and the exit code."""
    shutil.rmtree(DEMO, ignore_errors=True)
    os.makedirs(DEMO)
    pics = []
    if not run.wait_window(60):
        return pics, None
    time.sleep(1.5)  # the first paint lands a little after mapping
    run.focus()
    pics.append(("welcome", window_shot(display, os.path.join(DEMO, "1_welcome.png")), ""))
    run.click("easyui_install_now_btn")
    # while the package arrives, keep the picture whose bar is nearest half full; the bar starts
    # with a sliver drawn, so only a twentieth or more counts as bytes having arrived
    best, best_fill = None, 0.0
    probe = os.path.join(DEMO, "probe.png")
    end = time.time() + 180
    while time.time() < end and run.proc.poll() is None:
        log = h.read_log()
        if "download total seconds:" in log or "show failure page:" in log or wf.FEEDBACK_OK in log:
            break
        if window_shot(display, probe):
            fill = bar_fill(probe)
            if 0.05 <= fill < 1.0 and abs(fill - 0.5) < abs(best_fill - 0.5):
                best, best_fill = os.path.join(DEMO, "2_progress.png"), fill
                os.replace(probe, best)
        time.sleep(0.2)
    if os.path.exists(probe):
        os.remove(probe)
    if best:
        pics.append(("progress", best, "bar %d%% filled" % round(best_fill * 100)))
    else:
        print("!! no picture of the progress page caught the bar part-filled")
    ended = h.wait_for(lambda: wf.FEEDBACK_OK in h.read_log() or "show failure page:" in h.read_log(), 180, 0.25)
    time.sleep(1.0)
    if ended and wf.FEEDBACK_OK in h.read_log():
        pics.append(("success", window_shot(display, os.path.join(DEMO, "3_success.png")), ""))
    else:
        # the failure page waits for a person: keep its picture, then close the window
        pics.append(("failure", window_shot(display, os.path.join(DEMO, "3_failure.png")), ""))
        run.close()
    try:
        rc = run.wait_exit(60)  # the success countdown starts the product and closes the window
    except subprocess.TimeoutExpired:
        rc = None
    pics = [p for p in pics if p[1]]
    if pics:
        sheet = os.path.join(DEMO, "contact_sheet.png")
        cmd = ["montage"]
        # ImageMagick's default label face is often missing; any font fontconfig knows will do
        try:
            font = subprocess.run(["fc-match", "-f", "%{file}", "sans"], stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL, timeout=30).stdout.decode().strip()
        except OSError:
            font = ""
        if font and os.path.exists(font):
            cmd += ["-font", font]
        for name, path, _ in pics:
            cmd += ["-label", name, path]
        cmd += ["-tile", "%dx1" % len(pics), "-geometry", "+12+12", "-pointsize", "18", "-background", "#d8d8d8",
                sheet]
        if subprocess.run(cmd, stdout=subprocess.DEVNULL, timeout=120).returncode == 0:
            pics.append(("contact sheet", sheet, ""))
    return pics, rc


def main():
    ap = argparse.ArgumentParser(description="a real installation of the stand-in product under Wine")
    ap.add_argument("--hidden", action="store_true", help="install switch (/i): no window, nothing started")
    args = ap.parse_args()
    h.ensure_wineserver()
    h.kill_windows_processes("vdInstaller.exe")
    h.clean_data()
    wf.clean_temp()
    wf.forget_product()
    version = wf.product_version()
    private = os.environ.get("VD_DEMO_PRIVATE_DISPLAY") == "1"
    mode = "hidden" if args.hidden or not os.environ.get("DISPLAY") else "pictures" if private else "own"
    pics = []
    with wf.Browser() as browser, ServerSet(build_dir=os.path.join(h.ROOT, "build", "cmake"), timeout=4000) as srv:
        browser.clear()
        desc = serve_package(srv, wf.SETUP32, version)
        print("== local servers on 127.0.0.1 (proxy port %d): configuration, package, collectors, IP lookup"
              % srv.proxy.port)
        print("   package %s: %d bytes, version %s, MD5 (base64) %s" % (desc["Url"], desc["Size"], version,
                                                                    desc["HashValue"]))
        t0 = time.time()
        if mode == "pictures":
            # about six seconds of download over six connections: time enough, even on a busy
            # machine, for a picture of the bar part-way
            per_connection = max(4096, desc["Size"] // 36)
            wf.set_rate(srv, per_connection)
            print("== vdInstaller.exe visible on the private display %s, clicked by this script; package "
                  "served at %.1f KB/s per connection" % (os.environ["DISPLAY"], per_connection / 1024.0))
            run = wf.Installer(srv)
            pics, rc = drive_with_pictures(run, os.environ["DISPLAY"])
            if rc is None:
                run.stop()
                rc = -999
        elif mode == "own":
            print("== vdInstaller.exe on display %s: click 立刻安装; the window closes itself after the "
                  "success countdown" % os.environ["DISPLAY"])
            run = wf.Installer(srv)
            rc = run.wait_exit(3600)
        else:
            with h.Xvfb() as x:
                print("== the install switch: vdInstaller.exe /i, hidden, on the display %s" % x.display)
                run = wf.Installer(srv, ["/i"], display=x)
                try:
                    rc = run.wait_exit(300)
                except subprocess.TimeoutExpired:
                    rc = -999
        took = time.time() - t0
        gets = wf.package_gets(srv)
        records = wf.behaviour(srv)
        stats = srv.stats.posts() if hasattr(srv, "stats") else []
        pages = browser.pages()

    log = h.log_messages()
    folder = next((m.split("Install:", 1)[1] for m in log if m.startswith("PrepareExecvdInstExe Install:")), None)
    ok = any("WM_USER_EXEC_INST_FEEDBACK nFeedback == 1" in m for m in log)
    print("== exit code %d after %.1f s; installation %s" % (rc, took, "SUCCEEDED" if ok else "FAILED"))
    if folder:
        print("== installed into %s  (%s)" % (folder, wf.h.from_windows(folder)))
        for line in folder_listing(folder):
            print("   " + line)
        starts = [r for r in wf.runs_of(folder) if r.startswith("Launcher.exe|")]
        print("   Launcher.exe started: %s" % ("yes" if starts else "no (install switch: nothing is started)"))
    reg = h.reg("query", wf.UNINSTALL_KEY)
    print("== uninstall key %s: %s" % (wf.UNINSTALL_KEY, "present" if reg == 0 else "absent"))
    cache = [f for f in os.listdir(h.data_folder())] if os.path.isdir(h.data_folder()) else []
    print("== data folder %s:" % h.data_folder())
    for name in sorted(cache):
        print("   " + name)
    print("== package server: %d GET requests, %d body bytes" % (len(gets), srv.package.body_bytes))
    print("== behaviour records received: %s" % ", ".join("%s/%s" % (m, s) for m, s, _ in records))
    print("== statistics events received: %d" % len(stats))
    print("== web pages the installer opened (recorded): %s" % (", ".join(pages) if pages else "none"))
    print("== daily log: %s" % h.log_path())
    for m in log:
        if any(k in m for k in KEY_LINES):
            print("   " + m)
    if mode == "pictures":
        print("== pictures of the pages it passed:")
        for name, path, note in pics:
            print("   %-14s %s%s" % (name, path, ("  (" + note + ")") if note else ""))
        ok = ok and {"welcome", "progress", "success"} <= {p[0] for p in pics}
    return 0 if rc == 0 and ok else 1


if __name__ == "__main__":
    sys.exit(main())
