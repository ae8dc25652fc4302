"""Start-up of the real vdInstaller.exe under Wine: the daily log, the single-instance guard and
the wake-up of a first window by a second start."""
import re
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
    order = ["last error=0...", "is 64 os:1...", "CoInitialize success...", "CMainFrameWnd malloc success...", "end CPaintManagerUI::MessageLoop...",
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
