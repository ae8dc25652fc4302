#!/usr/bin/env python3
"""The main job: a real installation of the stand-in product through the whole workflow.

Starts the local servers (configuration server describing the NSIS product package with its real
digest, size and version; package server; statistics and behaviour collectors; IP lookup; all on
127.0.0.1 behind one proxy), runs vdInstaller.exe under Wine (a visible window when the user has a
display, otherwise the install switch on a private Xvfb display), then shows what was installed,
where, and the log's key lines. Web pages the installer opens are recorded, never sent anywhere.
"""
import os
import subprocess
import sys
import time

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


def main():
    h.ensure_wineserver()
    h.kill_windows_processes("vdInstaller.exe")
    h.clean_data()
    wf.clean_temp()
    wf.forget_product()
    version = wf.product_version()
    visible = bool(os.environ.get("DISPLAY")) and not os.environ.get("VD_DEMO_HIDDEN")
    with wf.Browser() as browser, ServerSet(build_dir=os.path.join(h.ROOT, "build", "cmake"), timeout=4000) as srv:
        browser.clear()
        desc = serve_package(srv, wf.SETUP32, version)
        print("== local servers on 127.0.0.1 (proxy port %d): configuration, package, collectors, IP lookup"
              % srv.proxy.port)
        print("   package %s: %d bytes, version %s, MD5 (base64) %s" % (desc["Url"], desc["Size"], version,
                                                                    desc["HashValue"]))
        t0 = time.time()
        if visible:
            print("== vdInstaller.exe on display %s: click 立刻安装; the window closes itself after the "
                  "success countdown" % os.environ["DISPLAY"])
            run = wf.Installer(srv)
            rc = run.wait_exit(3600)
        else:
            with h.Xvfb() as x:
                print("== no display of your own: vdInstaller.exe /i, hidden, on a private Xvfb display %s" % x.display)
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
    return 0 if rc == 0 and ok else 1


if __name__ == "__main__":
    sys.exit(main())
