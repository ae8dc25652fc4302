"""Start-up of the real vdInstaller.exe under Wine: the daily log, the single-instance guard and
the wake-up of a first window by a second start."""
import os
import re
import shutil
import subprocess
import time

import pytest

import vdharness as h

CLASS = "VdInstMainFrameWndClass"
# The window starts its server requests and telemetry at once: a proxy port that refuses keeps
# every request on this machine.
NO_NETWORK = {"http_proxy": "http://127.0.0.1:9"}
SEPARATOR = re.compile(rb"^------------Time:\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}---------------$")


def window_state():
    rc, f = h.wintool("state", CLASS)
    return f


def start_first(display, args=()):
    proc = h.start(h.EXE, list(args), env=dict(display.env(), **NO_NETWORK))
    assert h.wait_for(lambda: window_state().get("found") == "1", timeout=30), "first window never appeared"
    return proc


def close_first(proc, display):
    h.wintool("close", CLASS)
    try:
        rc = proc.wait(timeout=30)
    finally:
        h.stop(proc)
    return h.exit_code(rc)


def test_windowed_run_logs_begin_to_end_in_cp936_with_crlf(clean, display):
    proc = start_first(display)
    assert close_first(proc, display) == 0
    raw = h.read_log_bytes()
    assert raw, "no daily log in the data folder"
    assert b"\n" not in raw.replace(b"\r\n", b""), "bare line feed in the log"
    lines = raw.split(b"\r\n")
    assert lines[-1] == b""
    records = lines[:-1]
    # separator and message alternate: every message here ends with its own "\n"
    assert all(SEPARATOR.match(l) for l in records[0::2]), records[0::2]
    msgs = [l.decode("gbk") for l in records[1::2]]
    assert msgs[0] == "Begin vdInstaller..."
    assert msgs[1] == "ParseCmdParameters:"
    # start-up and tear-down in their fixed order, whatever else is logged in between
    # COM starts once the window is shown
    order = ["last error=0...", "is 64 os:1...", "CMainFrameWnd malloc success...", "CoInitialize success...", "end CPaintManagerUI::MessageLoop...",
             "end free CMainFrameWnd memory...", "end CoUninitialize...", "End vdInstaller..."]
    positions = [msgs.index(m) for m in order]
    assert positions == sorted(positions)
    assert msgs[-1] == "End vdInstaller..."


def test_second_start_restores_and_raises_a_minimised_first_window(clean, display):
    proc = start_first(display)
    try:
        h.wintool("minimize", CLASS)
        assert h.wait_for(lambda: window_state().get("iconic") == "1", timeout=10)
        rc, _ = h.run(h.EXE, [], timeout=60, env=dict(display.env(), **NO_NETWORK))
        assert rc == 0
        st = h.wait_for(lambda: (lambda s: s if s.get("iconic") == "0" else None)(window_state()), timeout=10)
        assert st, "first window stayed minimised"
        assert st["visible"] == "1"
        rc, f = h.wintool("count", CLASS)
        assert f["count"] == "1", "the second start made a window of its own"
        msgs = h.log_messages()
        assert "receive WM_COPYDAT,set to foreground now..." in msgs
        assert "last error=183..." in msgs
        # the second process stopped right after the guard: one COM start in the log, the first's
        assert msgs.count("CoInitialize success...") == 1
    finally:
        assert close_first(proc, display) == 0


def test_mutex_held_elsewhere_and_no_window_exits_zero_without_window(clean, display):
    holder = h.start(h.os.path.join(h.BIN, "wintool.exe"), ["holdmutex", "vdpamo_singleton_mutex", "30"])
    try:
        time.sleep(1.5)
        rc, _ = h.run(h.EXE, [], timeout=60, env=dict(display.env(), **NO_NETWORK))
        assert rc == 0
        assert window_state().get("found") == "0"
        msgs = h.log_messages()
        assert "last error=183..." in msgs
        assert "CoInitialize success..." not in msgs
        assert "receive WM_COPYDAT,set to foreground now..." not in msgs
    finally:
        h.stop(holder)
        assert h.wait_processes_gone("wintool.exe", "vdInstaller.exe")


def test_install_switch_creates_the_window_hidden(clean, display):
    proc = start_first(display, ["/i"])
    try:
        st = window_state()
        assert st["found"] == "1" and st["visible"] == "0"
    finally:
        assert close_first(proc, display) == 0


def test_long_form_of_install_does_not_hide_the_window(clean, display):
    proc = start_first(display, ["--install"])
    try:
        assert h.wait_for(lambda: window_state().get("visible") == "1", timeout=10)
    finally:
        assert close_first(proc, display) == 0


# DLLs Windows always takes from System32 (KnownDLLs); nothing else may be a load-time import.
KNOWN_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "ole32.dll", "oleaut32.dll",
              "msvcrt.dll", "rpcrt4.dll", "comdlg32.dll", "ws2_32.dll", "imm32.dll", "sechost.dll", "combase.dll"}
# Wine's own user32 and shell32 import these at load time, before any code of ours runs (on
# Windows shlwapi is a KnownDLL and user32 does not import version): native-first for them would
# test Wine, not us. They are planted all the same.
WINE_PRELOADED = {"version.dll", "shlwapi.dll"}
WINE_IGNORES_DEFAULT_DIRS = {"propsys.dll"}
# loaded by the system on our behalf: theme engine, desktop composition, crypto providers, profile
# and security helpers
SYSTEM_LOADED = {"uxtheme.dll", "dwmapi.dll", "cryptsp.dll", "rsaenh.dll", "profapi.dll", "propsys.dll",
                 "ntmarta.dll", "sspicli.dll", "cryptbase.dll", "userenv.dll"}


def planted_dll():
    out = os.path.join(h.ROOT, "build", "e2e", "planted.dll")
    src = os.path.join(h.ROOT, "tests", "tools", "planted_dll.c")
    if not os.path.exists(out) or os.path.getmtime(src) > os.path.getmtime(out):
        os.makedirs(os.path.dirname(out), exist_ok=True)
        subprocess.run(["i686-w64-mingw32-gcc", "-shared", "-Os", "-s", "-o", out, src], check=True, timeout=120)
    return out


def exe_dll_names(exe):
    """(load-time imports, every DLL name the image mentions: delay-loaded ones among them)."""
    dump = subprocess.run(["i686-w64-mingw32-objdump", "-p", exe], capture_output=True, text=True, check=True,
                          timeout=60).stdout
    # terminal-server aware, subsystem 6.0: no per-user shims on a Remote Desktop host
    assert re.search(r"MajorSubsystemVersion\s+6\b", dump) and re.search(r"MinorSubsystemVersion\s+0\b", dump)
    assert "TERMINAL_SERVICE_AWARE" in dump
    imports = {m.lower() for m in re.findall(r"DLL Name: (\S+)", dump)}
    named = {m.decode().lower() for m in re.findall(rb"([A-Za-z0-9_\-]+\.[dD][lL][lL])\x00", open(exe, "rb").read())}
    return imports, named


# The second build behaves as on Windows 7 without KB2533623 (no SetDefaultDllDirectories): the
# application folder stays in the search order, and what the system loads by name later must
# already be loaded from System32.
@pytest.mark.parametrize("exe_name", ["vdInstaller.exe", "vdInstallerLegacyDlls.exe"])
def test_dlls_planted_beside_the_executable_never_load(clean, display, exe_name):
    exe = os.path.join(os.path.dirname(h.EXE), exe_name)
    imports, named = exe_dll_names(exe)
    assert imports <= KNOWN_DLLS, "load-time imports beyond the KnownDLLs: %s" % sorted(imports - KNOWN_DLLS)
    planted = (named - KNOWN_DLLS) | SYSTEM_LOADED
    if exe_name == "vdInstaller.exe":
        # Wine 8 loads these by name for its own modules without the directories
        # SetDefaultDllDirectories set (on Windows that load stays in System32); the fallback
        # build loads them from System32 up front, so it is planted with them
        planted -= WINE_IGNORES_DEFAULT_DIRS
    assert {"wininet.dll", "gdiplus.dll", "msimg32.dll", "version.dll", "iphlpapi.dll"} <= planted
    folder = os.path.join(h.user_dir(), "Downloads", "plant")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    dll = planted_dll()
    for name in planted:
        shutil.copy(dll, os.path.join(folder, name))
    shutil.copy(exe, os.path.join(folder, "vdInstaller.exe"))
    shutil.copy(os.path.join(h.PREFIX, "drive_c", "windows", "syswow64", "rundll32.exe"), folder)
    overrides = "mscoree,mshtml=;%s=n,b" % ",".join(sorted(n[:-4] for n in planted - WINE_PRELOADED))
    env = h.wine_env(dict(display.env(), WINEDLLOVERRIDES=overrides, **NO_NETWORK))
    ran = lambda: sorted(f for f in os.listdir(folder) if f.endswith(".ran"))

    # the trap works: a program that loads msimg32 without restricting the search gets ours
    subprocess.run(["wine", "rundll32.exe", "msimg32.dll,Nothing"], cwd=folder, env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    assert "msimg32.dll.ran" in ran()
    for f in ran():
        os.remove(os.path.join(folder, f))

    # started from that folder (also its current folder), every feature that needs those DLLs runs:
    # the skin (gdiplus, msimg32), the network (wininet), the host probes (iphlpapi, version)
    proc = subprocess.Popen(["wine", "vdInstaller.exe"], cwd=folder, env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        assert h.wait_for(lambda: window_state().get("visible") == "1", timeout=30), "the window never appeared"
        time.sleep(3)  # the server-info thread and the host probes run meanwhile
        display.screenshot("planted_dlls_window")
        assert close_first(proc, display) == 0
    finally:
        h.stop(proc)
    assert ran() == [], "planted DLLs ran inside the installer"
    msgs = h.log_messages()
    assert any(m.startswith("CVdHttpGetRequest_2_Inst_Server_Info request inst url:") for m in msgs)
    assert msgs[-1] == "End vdInstaller..."
    shutil.rmtree(folder, ignore_errors=True)


def test_a_system_dll_that_cannot_load_ends_the_run_with_its_own_code_and_a_log_line(clean, display):
    # wininet disabled: the hidden run's first request needs it
    env = h.wine_env(dict(display.env(), WINEDLLOVERRIDES="mscoree,mshtml=;wininet=", **NO_NETWORK))
    proc = subprocess.Popen(["wine", h.EXE, "/i"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        rc = proc.wait(timeout=60)
    finally:
        h.stop(proc)
    assert h.exit_code(rc) == -6
    assert any(m.startswith("delay load failed:wininet.dll") for m in h.log_messages()), h.log_messages()[-10:]
