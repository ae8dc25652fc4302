"""The progress, failure and success pages of the main window, reached by real clicks on a
distributor copy that carries the real NSIS product package, so no server is needed. Screenshots
of each page are kept in build/artifacts/."""
import os
import re
import shutil
import subprocess
import time

import pytest
from PIL import Image

import vdharness as h
from test_mainwnd import (CLOSE_BTN, INSTALL_NOW, MAIN_CLASS, NO_NETWORK, Window, is_blue_button, log_count,
                          restore_pointer, wait_exit)

PRODUCT = os.path.join(h.ROOT, "build", "product")
STAMP = os.path.join(h.BIN, "vdstamp.exe")
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vardo3"
INSTALL_DIR = os.path.join(h.PREFIX, "drive_c", "Program Files", "Vardo")

RETRY_BTN = (116, 353)             # failure page: "重试"
FAILURE_LABEL = (60, 353)          # failure page: "安装失败,请"
EXPERIENCE_BTN = (290, 314)        # success page: "立即体验(%ds)"
RED_MARK = (557, 330)              # failure page: the red disc beside the progress bar (off its white cross)


@pytest.fixture(scope="module")
def embedded(tmp_path_factory):
    """A copy of the installer with the product's setup package embedded."""
    if not os.path.exists(os.path.join(PRODUCT, "VardoSetup.exe")):
        subprocess.run([os.path.join(h.ROOT, "tests", "product", "build_product.sh")], check=True, timeout=600)
    work = str(tmp_path_factory.mktemp("pages"))
    out = os.path.join(work, "vdInstaller.exe")
    rc, text = h.run(STAMP, ["--vdpm", h.to_windows(os.path.join(PRODUCT, "VardoSetup.exe")), h.to_windows(h.EXE),
                             h.to_windows(out)], timeout=60)
    assert rc == 0, text
    return out


def forget_product():
    for view in ("/reg:32", "/reg:64"):
        h.reg("delete", UNINSTALL_KEY, "/f", view)
    shutil.rmtree(INSTALL_DIR, ignore_errors=True)


@pytest.fixture
def run(clean, display, embedded):
    forget_product()
    procs = []

    def start(test_ini=None):
        if test_ini:
            os.makedirs(h.data_folder(), exist_ok=True)
            with open(os.path.join(h.data_folder(), "test.ini"), "w") as f:
                f.write(test_ini)
        proc = h.start(embedded, [], env=dict(display.env(), **NO_NETWORK))
        procs.append(proc)
        return proc, Window(display).wait()

    yield start
    for p in procs:
        h.stop(p)
    h.kill_windows_processes("vdInstaller.exe", "Launcher.exe", "Vardo.exe", "Helper.exe")
    forget_product()
    restore_pointer(display)


def on_failure_page(win):
    # the failure line replaces the speed label; the page keeps the short height
    return log_count("simulate installing failure") >= 1 and win.height() == 380


def test_failure_page_and_its_retry_button(run):
    proc, win = run("[test]\r\ninstalling_failure=1\r\n")
    win.click(INSTALL_NOW)
    assert h.wait_for(lambda: on_failure_page(win), timeout=30), "no failure page"
    time.sleep(1.5)
    win.shot("page3_failure")
    assert log_count("WM_USER_EXEC_INST_FEEDBACK receive wParam:0") == 1
    # the failure controls are shown: the red mark beside the progress bar
    r, g, b = win.pixel(RED_MARK, "page3_probe")
    assert r > 180 and g < 120 and b < 120, "no red failure mark"
    # what a screen reader hears of the failure page: the mark, the line, the retry button, the bar
    rows = h.acc_dump(MAIN_CLASS, "main_failure")
    assert all(r["name"] and r["role"] in h.ACC_ROLES for r in rows[1:]), rows
    assert h.acc_child(rows, "下载失败", "graphic") and h.acc_child(rows, "重试", "pushbutton")
    bar = h.acc_child(rows, "安装进度", "progressbar")
    assert re.fullmatch(r"\d{1,3}%", bar["value"]), bar

    win.click(RETRY_BTN)
    assert h.wait_for(lambda: log_count("ShowManualDownUI true retry button...") == 1, timeout=10), \
        "the retry button did nothing"
    assert log_count("click download msg") == 2
    # the retried installation fails the same way, back on the failure page
    assert h.wait_for(lambda: log_count("WM_USER_EXEC_INST_FEEDBACK receive wParam:0") == 2, timeout=30)
    win.click(CLOSE_BTN)
    assert wait_exit(proc) == 0, "the close button on the failure page did not quit"


def test_success_page_and_its_experience_button(run):
    proc, win = run()
    win.click(INSTALL_NOW)
    win.shot("page2_installing_package")
    assert h.wait_for(lambda: log_count("WM_USER_EXEC_INST_FEEDBACK nFeedback == 1") == 1, timeout=90), \
        "the embedded package did not install"
    time.sleep(1.2)
    # one geometry and one picture: the countdown runs, and a loaded machine is slow to take them
    x, y, _, height = win.geometry()
    page = Image.open(win.shot("page4_success")).convert("RGB")
    # the success page's big button is enabled, and the header is the success banner
    assert is_blue_button(page.getpixel((x + EXPERIENCE_BTN[0], y + EXPERIENCE_BTN[1])))
    assert height == 380
    win.click(EXPERIENCE_BTN)
    assert wait_exit(proc, timeout=30) == 0, "the experience button did not quit"
    msgs = h.log_messages()
    assert "successui_experience_now_btn click,execute default actions" in msgs
    # clicked before the countdown ran out: the timer's own end never came
    assert "VD_TIMER_ID_EXIT timeout,execute default actions" not in msgs
    assert os.path.exists(os.path.join(INSTALL_DIR, "Vardo.exe"))
    runs = os.path.join(INSTALL_DIR, "vardo_runs.txt")
    assert h.wait_for(lambda: os.path.exists(runs) and any(
        l.startswith("Launcher.exe|") for l in open(runs, encoding="utf-8").read().splitlines()), timeout=20), \
        "the product was not started"


EVENT_OBJECT_REORDER, EVENT_OBJECT_FOCUS, EVENT_OBJECT_STATECHANGE = 0x8004, 0x8005, 0x800A
E_INVALIDARG = 0x80070057


def test_installation_through_the_accessibility_interface_alone(run):
    # a screen reader's user: no pointer and no keys, every step is accDoDefaultAction
    proc, win = run()
    rows = h.acc_dump(MAIN_CLASS, "main_welcome")
    assert all(r["name"] and r["role"] in h.ACC_ROLES for r in rows[1:]), rows
    agree, install, close = h.acc_child(rows, "我同意"), h.acc_child(rows, "立刻安装"), h.acc_child(rows, "关闭")
    assert "checked" in agree["states"] and "unavailable" not in install["states"]
    # unchecking gates the install button as a click does, and a screen reader hears both changes
    events = h.acc_do(MAIN_CLASS, "我同意", watch_ms=1500)
    assert {(EVENT_OBJECT_FOCUS, int(agree["id"])), (EVENT_OBJECT_STATECHANGE, int(agree["id"])),
            (EVENT_OBJECT_STATECHANGE, int(install["id"]))} <= set(events), events
    rows = h.acc_dump(MAIN_CLASS)
    assert "checked" not in h.acc_child(rows, "我同意")["states"]
    assert "unavailable" in h.acc_child(rows, "立刻安装")["states"]
    h.acc_do(MAIN_CLASS, "我同意")
    assert "checked" in h.acc_child(h.acc_dump(MAIN_CLASS), "我同意")["states"]
    # the page change is announced
    events = h.acc_do(MAIN_CLASS, "立刻安装", watch_ms=1500)
    assert (EVENT_OBJECT_REORDER, 0) in events, events

    def installing_or_done():
        r = h.acc_dump(MAIN_CLASS)
        return r if any(c["role"] == "progressbar" or c["name"].startswith("立即体验(") for c in r) else None
    rows = h.wait_for(installing_or_done, timeout=30)
    assert rows, "no page change after the install action"
    # a screen reader looks a control up after the event: an id kept from the welcome page still
    # names its control on the next page, and the agree box's, gone with its page, is refused
    assert [r["id"] for r in rows if r["name"] == "关闭"] == [close["id"]]
    assert h.acc_name(MAIN_CLASS, agree["id"])[0] == E_INVALIDARG
    bars = [r for r in rows if r["role"] == "progressbar"]
    if bars:
        h.acc_dump(MAIN_CLASS, "main_installing")
        assert bars[0]["name"] == "安装进度" and re.fullmatch(r"\d{1,3}%", bars[0]["value"]), bars
    assert h.wait_for(lambda: log_count("WM_USER_EXEC_INST_FEEDBACK nFeedback == 1") == 1, timeout=90), \
        "the embedded package did not install"
    rows = h.wait_for(lambda: (lambda r: r if any(c["name"].startswith("立即体验(") for c in r) else None)(
        h.acc_dump(MAIN_CLASS, "main_success")), timeout=10)
    assert rows and all(r["name"] and r["role"] in h.ACC_ROLES for r in rows[1:]), rows
    h.acc_do(MAIN_CLASS, "立即体验(*")
    assert wait_exit(proc, timeout=30) == 0, "the experience button did not quit"
    msgs = h.log_messages()
    assert "successui_experience_now_btn click,execute default actions" in msgs
    assert "VD_TIMER_ID_EXIT timeout,execute default actions" not in msgs
    runs = os.path.join(INSTALL_DIR, "vardo_runs.txt")
    assert h.wait_for(lambda: os.path.exists(runs) and any(
        l.startswith("Launcher.exe|") for l in open(runs, encoding="utf-8").read().splitlines()), timeout=20), \
        "the product was not started"
