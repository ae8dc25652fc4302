"""The main window driven as a person would: real clicks and keys on the real vdInstaller.exe under
Wine on the run's X display. Control states are read back from what the window does (page
changes, window height, log lines, windows it opens) and from the pixels it paints. Screenshots of
every page are kept in build/artifacts/."""
import datetime
import os
import re
import subprocess
import time
import zipfile

import pytest
from PIL import Image

import vdharness as h

TITLE = "Vardo在线安装"
MAIN_CLASS = "VdInstMainFrameWndClass"
BOX_CLASS = "CMessageBoxWnd"
MENU_CLASS = "DuiLibMenuWnd"

# Control centres in window coordinates, from the markup: layouts at (1,1) and (1,254) or (1,300).
SETTING_BTN = (509, 14)
CLOSE_BTN = (565, 14)
TITLE_EMPTY = (150, 14)             # title band over the header picture
HEADER_LABEL_AREA = (300, 150)      # header picture (a layout: no control takes clicks)
INSTALL_NOW = (290, 298)
AGREE_BOX = (31, 349)
AGREE_TEXT = (60, 349)              # the check box's own text: still the check box
CUSTOM_INSTALL = (514, 349)
CUSTOM_ARROW = (560, 349)
DIR_EDIT = (268, 398)
PROGRESS_LABEL = (60, 352)          # installing page: the speed label
BOX_QUIT = (216, 148)               # message box: "确定" (body layout below a 32-pixel strip)
BOX_CANCEL = (293, 148)             # message box: "取消"
BOX_CLOSE = (334, 16)               # message box: its title strip's close button


def rect(cls=MAIN_CLASS):
    """(x, y, width, height) of the first visible window of a class, as Windows sees it; None when
    there is none."""
    rc, f = h.wintool("rect", cls)
    if f.get("found") != "1" or f.get("visible") != "1":
        return None
    return int(f["x"]), int(f["y"]), int(f["w"]), int(f["h"])


def xwindow_at(env, r):
    """The X window Wine made for a Windows window with this screen rectangle: the exact match,
    else the largest one inside it (a framed dialog's X window leaves out the frame)."""
    tree = subprocess.run(["xwininfo", "-root", "-tree"], env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                          timeout=20).stdout.decode("utf-8", "replace")
    best, best_area = None, 0
    for line in tree.splitlines():
        parts = line.split()
        m = re.search(r"(\d+)x(\d+)\+(-?\d+)\+(-?\d+)\s+\+(-?\d+)\+(-?\d+)\s*$", line)
        if not parts or not parts[0].startswith("0x") or not m:
            continue
        w, hgt, ax, ay = int(m.group(1)), int(m.group(2)), int(m.group(5)), int(m.group(6))
        if (w, hgt, ax, ay) == (r[2], r[3], r[0], r[1]):
            return parts[0], ax, ay
        inside = ax >= r[0] and ay >= r[1] and ax + w <= r[0] + r[2] and ay + hgt <= r[1] + r[3]
        if inside and w * hgt > best_area and w * hgt * 2 > r[2] * r[3]:
            best, best_area = (parts[0], ax, ay), w * hgt
    return best


class Window:
    """The main window, driven through the X display."""

    def __init__(self, display):
        self.display = display
        self.env = dict(os.environ, DISPLAY=display.display)

    def xdo(self, *args):
        p = subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=30)
        assert p.returncode == 0, "xdotool %s failed" % (args,)

    def wait(self, timeout=30):
        assert h.wait_for(lambda: rect(), timeout=timeout), "main window never appeared"
        # the first paint lands a little after mapping
        time.sleep(1.0)
        return self

    def geometry(self, cls=MAIN_CLASS):
        return rect(cls)

    def click(self, pos, cls=MAIN_CLASS, double=False, hold=0.0):
        x, y, _, _ = self.geometry(cls)
        self.xdo("mousemove", x + pos[0], y + pos[1])
        time.sleep(0.15)
        if double:
            self.xdo("click", "--repeat", 2, "--delay", 80, 1)
        elif hold:
            self.xdo("mousedown", 1)
            time.sleep(hold)
            self.xdo("mouseup", 1)
        else:
            self.xdo("click", 1)
        time.sleep(0.6)

    def key(self, *keys):
        for k in keys:
            self.xdo("key", k)
            time.sleep(0.1)
        time.sleep(0.4)

    def type(self, text):
        self.xdo("type", "--delay", 60, text)
        time.sleep(0.4)

    def drag(self, pos, dx, dy):
        x, y, _, _ = self.geometry()
        self.xdo("mousemove", x + pos[0], y + pos[1])
        time.sleep(0.2)
        self.xdo("mousedown", 1)
        time.sleep(0.3)
        for i in range(1, 6):
            self.xdo("mousemove", x + pos[0] + dx * i // 5, y + pos[1] + dy * i // 5)
            time.sleep(0.1)
        self.xdo("mouseup", 1)
        time.sleep(0.8)

    def shot(self, name, popups=()):
        """The screen as a PNG under build/artifacts. Without a window manager the root image
        lacks Wine's popup windows (box, menu): each is read from its own X window and laid over."""
        full = self.display.screenshot("mainwnd_" + name)
        for cls in popups:
            r = rect(cls)
            if not r:
                continue
            wid = xwindow_at(self.env, r)
            if not wid:
                continue
            wid, ax, ay = wid
            part = full + ".part.xwd"
            subprocess.run(["xwd", "-id", wid, "-silent", "-out", part], env=self.env, check=True, timeout=30)
            subprocess.run(["convert", full, part, "-geometry", "+%d+%d" % (ax, ay), "-composite", full],
                           check=True, timeout=60)
            os.remove(part)
        return full

    def pixel(self, pos, name="probe"):
        """The colour the window painted at a window point."""
        x, y, _, _ = self.geometry()
        img = Image.open(self.shot(name)).convert("RGB")
        return img.getpixel((x + pos[0], y + pos[1]))

    def height(self):
        return self.geometry()[3]


def is_blue_button(rgb):
    r, g, b = rgb
    return b > 150 and b - r > 60


def is_grey_button(rgb):
    r, g, b = rgb
    return max(r, g, b) - min(r, g, b) < 24 and 150 < r < 245


def log_count(text):
    return h.log_messages().count(text)


# The window starts its telemetry at once: a refused local proxy keeps every request on this
# machine.
NO_NETWORK = {"http_proxy": "http://127.0.0.1:9"}


@pytest.fixture
def app(clean, display):
    proc = h.start(h.EXE, [], env=dict(display.env(), **NO_NETWORK))
    win = Window(display)
    try:
        win.wait()
        yield proc, win
    finally:
        h.stop(proc)
        h.kill_windows_processes("vdInstaller.exe")
        restore_pointer(display)


def restore_pointer(display):
    """The display is shared with other suites, whose keys go where the pointer is: it goes back to
    the middle of the screen, where a fresh display has it."""
    env = dict(os.environ, DISPLAY=display.display)
    out = subprocess.run(["xdotool", "getdisplaygeometry"], env=env, stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, timeout=30).stdout.split()
    if len(out) == 2:
        subprocess.run(["xdotool", "mousemove", str(int(out[0]) // 2), str(int(out[1]) // 2)], env=env, timeout=30)


def wait_exit(proc, timeout=20):
    try:
        return h.exit_code(proc.wait(timeout=timeout))
    except subprocess.TimeoutExpired:
        return None


def focused_text():
    """(class, text) of the control with the keyboard focus in the main window's thread."""
    rc, out = h.run(os.path.join(h.BIN, "wintool.exe"), ["focus", MAIN_CLASS], timeout=30)
    m = re.search(r"class=(\S+) text=(.*)", out)
    return (m.group(1), m.group(2).rstrip("\r\n")) if m else (None, None)


def box_count():
    return int(h.wintool("count", BOX_CLASS)[1].get("count", "0"))


def test_easy_agree_box_gates_all_three_install_controls(app):
    proc, win = app
    assert win.height() == 380
    assert is_blue_button(win.pixel(INSTALL_NOW, "easy_agreed"))

    win.click(AGREE_BOX)
    assert is_grey_button(win.pixel(INSTALL_NOW, "easy_not_agreed")), "install button still looks enabled"
    # none of the three acts now
    win.click(INSTALL_NOW)
    win.click(CUSTOM_INSTALL)
    win.click(CUSTOM_ARROW)
    assert win.height() == 380
    assert log_count("click download msg") == 0

    # clicking the box's text counts as clicking the box
    win.click(AGREE_TEXT)
    assert is_blue_button(win.pixel(INSTALL_NOW, "easy_agreed_again"))
    win.click(CUSTOM_ARROW)
    assert h.wait_for(lambda: win.height() == 478, timeout=5), "arrow did not open the custom page"
    win.click(CUSTOM_INSTALL)
    assert h.wait_for(lambda: win.height() == 380, timeout=5), "custom button did not return"
    win.click(CUSTOM_INSTALL)
    assert h.wait_for(lambda: win.height() == 478, timeout=5), "custom button did not open the custom page"
    win.shot("page1_custom")
    win.click(CUSTOM_INSTALL)
    assert h.wait_for(lambda: win.height() == 380, timeout=5)
    win.click(INSTALL_NOW)
    assert h.wait_for(lambda: log_count("click download msg") == 1, timeout=5)
    assert log_count("show UI_STATUS_UI_INSTALLING ui") == 1 and log_count("post download msg") == 1


def test_custom_page_agree_box_gates_its_controls_and_carries_the_state(app):
    proc, win = app
    win.click(CUSTOM_INSTALL)
    assert h.wait_for(lambda: win.height() == 478, timeout=5)
    assert is_blue_button(win.pixel(INSTALL_NOW, "custom_agreed")), "agreement not carried to the custom page"

    win.click(AGREE_BOX)
    assert is_grey_button(win.pixel(INSTALL_NOW, "custom_not_agreed")), "custom install button still enabled"
    # install, back to the easy page, the folder box: none acts without the agreement
    win.click(INSTALL_NOW)
    win.click(CUSTOM_INSTALL)
    win.click(CUSTOM_ARROW)
    assert win.height() == 478
    assert log_count("click download msg") == 0
    # the folder box is gated too: it takes no editing
    win.click(DIR_EDIT)
    win.type("x")
    assert focused_text()[0] != "Edit", "the disabled folder box took the keyboard"
    assert is_grey_button(win.pixel(INSTALL_NOW, "custom_typed_not_agreed"))

    win.click(AGREE_BOX)
    assert is_blue_button(win.pixel(INSTALL_NOW, "custom_agreed_again"))
    win.click(CUSTOM_ARROW)
    assert h.wait_for(lambda: win.height() == 380, timeout=5)
    # the easy page took the custom page's state: its install button is enabled and acts
    assert is_blue_button(win.pixel(INSTALL_NOW, "easy_after_custom"))
    win.click(INSTALL_NOW)
    assert h.wait_for(lambda: log_count("click download msg") == 1, timeout=5)


def test_emptying_the_folder_box_disables_install_and_one_character_enables_it(app):
    proc, win = app
    win.click(CUSTOM_INSTALL)
    assert h.wait_for(lambda: win.height() == 478, timeout=5)
    win.click(DIR_EDIT)
    win.key("End")
    win.key(*(["BackSpace"] * 40))
    assert focused_text() == ("Edit", "")
    win.shot("page1_custom_empty_folder")
    assert is_grey_button(win.pixel(INSTALL_NOW, "custom_empty_folder"))
    win.click(INSTALL_NOW)
    assert log_count("click download msg") == 0

    win.click(DIR_EDIT)
    win.type("D")
    assert focused_text() == ("Edit", "D")
    assert is_blue_button(win.pixel(INSTALL_NOW, "custom_one_char"))
    win.click(INSTALL_NOW)
    assert h.wait_for(lambda: log_count("click download msg") == 1, timeout=5)
    win.shot("page2_installing")


def test_close_button_quits_on_the_welcome_page(app):
    proc, win = app
    win.click(CLOSE_BTN)
    assert wait_exit(proc) == 0
    msgs = h.log_messages()
    assert msgs[-1] == "End vdInstaller..."
    assert box_count() == 0


def test_close_button_while_installing_asks_and_cancel_or_escape_keep_it_running(app):
    proc, win = app
    win.click(INSTALL_NOW)
    assert h.wait_for(lambda: log_count("post download msg") == 1, timeout=5)
    win.shot("page2_installing_easy")

    win.click(CLOSE_BTN)
    assert h.wait_for(lambda: rect(BOX_CLASS), timeout=10), "no confirmation box"
    time.sleep(1.0)
    win.shot("msgbox", popups=[BOX_CLASS])
    assert box_count() == 1
    win.click(BOX_CANCEL, cls=BOX_CLASS)
    assert h.wait_for(lambda: box_count() == 0, timeout=10), "cancel left the box up"
    assert proc.poll() is None, "cancel ended the installer"

    # the main window is usable again, and Escape in a new box cancels as well
    win.click(CLOSE_BTN)
    assert h.wait_for(lambda: rect(BOX_CLASS), timeout=10)
    time.sleep(0.8)
    # focus the box on its body text. The body drags the box: Wine hands the press to the window
    # manager as a move, and a release quicker than the manager's grab leaves its keyboard grab
    # (and the Escape) stuck with it; a person's press lasts longer
    win.click((175, 60), cls=BOX_CLASS, hold=0.3)
    h.wait_for(lambda: h.wintool("state", BOX_CLASS)[1].get("foreground") == "1", timeout=5)
    win.key("Escape")
    assert h.wait_for(lambda: box_count() == 0, timeout=10), "Escape left the box up"
    assert proc.poll() is None

    win.click(CLOSE_BTN)
    assert h.wait_for(lambda: rect(BOX_CLASS), timeout=10)
    time.sleep(0.8)
    win.click(BOX_QUIT, cls=BOX_CLASS)
    assert wait_exit(proc) == 0, "confirm did not quit"
    assert h.log_messages()[-1] == "End vdInstaller..."


def test_escape_and_enter_do_nothing_in_the_main_window(app):
    proc, win = app
    win.click(HEADER_LABEL_AREA)
    win.key("Escape", "Return")
    time.sleep(1.0)
    assert proc.poll() is None
    assert win.height() == 380
    assert log_count("click download msg") == 0


def test_window_drags_over_labels_and_empty_areas_but_not_buttons(app):
    proc, win = app
    x0, y0, _, _ = win.geometry()
    win.drag(HEADER_LABEL_AREA, -60, -40)
    x1, y1, _, _ = win.geometry()
    assert (x1 - x0, y1 - y0) == (-60, -40), "empty area did not drag"

    # over a button: no move, and the button does not act either (released off it)
    win.drag(INSTALL_NOW, 50, 30)
    x2, y2, _, _ = win.geometry()
    assert (x2, y2) == (x1, y1), "the window moved over a button"

    # over the check box: no move
    win.drag(AGREE_BOX, 40, 20)
    assert win.geometry()[:2] == (x1, y1), "the window moved over a check box"

    # the installing page's speed label drags
    win.click(INSTALL_NOW)
    assert h.wait_for(lambda: log_count("post download msg") == 1, timeout=5)
    win.drag(PROGRESS_LABEL, 30, 20)
    x3, y3, _, _ = win.geometry()
    assert (x3 - x1, y3 - y1) == (30, 20), "a label did not drag"


def test_double_click_on_the_title_does_not_maximise(app):
    proc, win = app
    before = win.geometry()
    win.click(TITLE_EMPTY, double=True)
    time.sleep(1.0)
    assert win.geometry() == before
    rc, f = h.wintool("state", MAIN_CLASS)
    assert f.get("found") == "1"
    # Win+Up and Aero Snap arrive as system commands: maximise and size are refused, and the
    # style offers neither
    assert (f.get("maxbox"), f.get("sizeframe")) == ("0", "0")
    for command in (0xF030, 0xF000):  # SC_MAXIMIZE, SC_SIZE
        h.wintool("post", MAIN_CLASS, str(0x0112), str(command))  # WM_SYSCOMMAND
    time.sleep(1.0)
    assert win.geometry() == before
    rc, f = h.wintool("state", MAIN_CLASS)
    assert (f.get("zoomed"), f.get("visible")) == ("0", "1")


def archive_name(day=None):
    day = day or datetime.date.today()
    return "vdinstLog%04d%02d%02d.zip" % (day.year, day.month, day.day)


def collect_logs(win):
    """Settings button, then the menu's one item."""
    win.click(SETTING_BTN)
    menu = h.wait_for(lambda: rect(MENU_CLASS), timeout=10)
    assert menu, "the settings menu did not open"
    mx, my, mw, mh = menu
    wx, wy, _, _ = win.geometry()
    # the menu opens at the button's left edge and bottom edge
    assert (mx - wx, my - wy) == (495, 27)
    win.shot("menu_open", popups=[MENU_CLASS])
    # the item's right end: the settings button's tooltip may still stand over its middle
    win.xdo("mousemove", mx + mw - 10, my + mh // 2)
    time.sleep(0.2)
    win.xdo("click", 1)
    time.sleep(0.5)


EXPLORER_CLASSES = ("ExplorerWClass", "CabinetWClass", "ExploreWClass")


def explorer_windows():
    return sum(int(h.wintool("count", c)[1].get("count", "0")) for c in EXPLORER_CLASSES)


def close_explorer_windows():
    # the archive is shown selected in an Explorer window; it has no business outliving the test
    for cls in EXPLORER_CLASSES:
        while int(h.wintool("count", cls)[1].get("count", "0")):
            h.wintool("close", cls)
            time.sleep(0.5)


def zip_entries(path):
    with zipfile.ZipFile(path) as z:
        assert z.testzip() is None
        return {i.filename: (i.compress_type, z.read(i.filename)) for i in z.infolist()}


def test_menu_item_collects_the_logs_into_a_desktop_archive(app):
    proc, win = app
    desk = os.path.join(h.desktop(), archive_name())
    # an old archive of today is replaced
    os.makedirs(h.desktop(), exist_ok=True)
    with open(desk, "wb") as f:
        f.write(b"not a zip")
    # older logs of the data folder go in as well, by their bare names
    old = os.path.join(h.data_folder(), "vd_online_installer_2000_01_01.log")
    with open(old, "wb") as f:
        f.write(b"old record\r\n")
    try:
        collect_logs(win)
        assert h.wait_for(lambda: zipfile.is_zipfile(desk), timeout=20), "no archive on the desktop"
        entries = zip_entries(desk)
        today = os.path.basename(h.log_path())
        assert set(entries) == {today, os.path.basename(old)}
        assert all(ct == zipfile.ZIP_DEFLATED for ct, _ in entries.values())
        # the standard tool lists it too
        listing = subprocess.run(["/usr/bin/python3", "-m", "zipfile", "-l", desk], stdout=subprocess.PIPE,
                                 timeout=30).stdout.decode()
        assert today in listing
        first = entries[today][1]
        # complete up to the moment the log was closed for packing: the archive line is in it and
        # it ends on a whole record (worker threads may log a record after that line)
        marker = (b"tmp zip path:" + h.to_windows(os.path.join(h.temp_dir(), "Vardo", archive_name())).encode("gbk") +
                  b",desktop zip path:" + h.to_windows(desk).encode("gbk") + b"\r\n")
        assert marker in first
        assert first.endswith(b"\r\n")
        # the temporary archive is gone, the Explorer shows the desktop one
        assert not os.path.exists(os.path.join(h.temp_dir(), "Vardo", archive_name()))
        assert h.wait_for(lambda: explorer_windows() >= 1, timeout=20), "no Explorer window"

        # logging goes on in today's file, and a second collection replaces the archive
        close_explorer_windows()
        collect_logs(win)
        assert h.wait_for(lambda: zip_entries(desk)[today][1].count(b"tmp zip path:") == 2, timeout=20)
        second = zip_entries(desk)[today][1]
        assert second.startswith(first)
        win.click(CLOSE_BTN)
        assert wait_exit(proc) == 0
        final = h.read_log_bytes()
        assert final.startswith(second) and len(final) > len(second)
        assert final.rstrip(b"\r\n").endswith(b"End vdInstaller...")
    finally:
        close_explorer_windows()
        if os.path.exists(desk):
            os.remove(desk)


def test_empty_data_folder_gives_an_archive_without_entries(app):
    proc, win = app
    desk = os.path.join(h.desktop(), archive_name())
    if os.path.exists(desk):
        os.remove(desk)
    # the open log is unlinked from the Linux side: the folder holds no log any more
    for f in os.listdir(h.data_folder()):
        if f.endswith(".log"):
            os.remove(os.path.join(h.data_folder(), f))
    try:
        collect_logs(win)
        assert h.wait_for(lambda: zipfile.is_zipfile(desk), timeout=20), "no archive on the desktop"
        assert zip_entries(desk) == {}
        # the log was reopened: the installer keeps logging into a new file of today
        win.click(CLOSE_BTN)
        assert wait_exit(proc) == 0
        assert h.log_messages()[-1] == "End vdInstaller..."
    finally:
        close_explorer_windows()
        if os.path.exists(desk):
            os.remove(desk)


BROWSE_BTN = (505, 398)
DIALOG_CLASS = "#32770"


def dialog_gone(win):
    """Whether the folder dialog has ended. Under Wine its modal loop notices the end only with
    the next input message, as a person's next mouse move would bring."""
    x, y, _, _ = win.geometry()

    def gone():
        win.xdo("mousemove", x + 150, y + 150 + int(time.time() * 10) % 5)
        return int(h.wintool("count", DIALOG_CLASS)[1].get("count", "1")) == 0
    return h.wait_for(gone, timeout=10, step=0.3)


def test_browse_dialog_fills_the_folder_box_and_cancel_changes_nothing(app):
    proc, win = app
    win.click(CUSTOM_INSTALL)
    assert h.wait_for(lambda: win.height() == 478, timeout=5)
    win.click(DIR_EDIT)
    cls, before = focused_text()
    assert cls == "Edit" and before

    win.click(BROWSE_BTN)
    assert h.wait_for(lambda: rect(DIALOG_CLASS), timeout=15), "no folder dialog"
    time.sleep(1.0)
    win.shot("browse_dialog", popups=[DIALOG_CLASS])
    # the dialog is owned by the main window: the window waits behind it
    assert h.wintool("rect", MAIN_CLASS)[1].get("enabled") == "0"
    win.key("Escape")
    assert dialog_gone(win), "Escape did not end the folder dialog"
    win.click(DIR_EDIT)
    assert focused_text() == ("Edit", before), "a cancelled dialog changed the folder"

    # OK on the dialog's first selection (the desktop): that folder joined with Vardo
    win.click(BROWSE_BTN)
    assert h.wait_for(lambda: rect(DIALOG_CLASS), timeout=15)
    time.sleep(1.0)
    win.key("Return")
    assert dialog_gone(win), "OK did not end the folder dialog"
    win.click(DIR_EDIT)
    assert focused_text() == ("Edit", h.to_windows(h.desktop()) + "\\Vardo")
    assert is_blue_button(win.pixel(INSTALL_NOW, "custom_browsed"))


def test_at_150_percent_the_window_its_pages_and_its_clicks_scale(clean, display):
    def px(v):
        return int(v * 1.5 + 0.5)

    def at(pos):
        return px(pos[0]), px(pos[1])

    # an earlier installation registered by a 64-bit setup, in the 64-bit view only
    key = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vardo3"
    for view in ("/reg:32", "/reg:64"):
        h.reg("delete", key, "/f", view)
    assert h.reg("add", key, "/v", "UninstallString", "/d", r'"C:\Apps\Wide64\uninst.exe"', "/f", "/reg:64") == 0
    with h.log_pixels(144):
        proc = h.start(h.EXE, [], env=dict(display.env(), **NO_NETWORK))
        win = Window(display)
        try:
            win.wait()
            assert win.geometry()[2:] == (870, 570)
            win.shot("dpi144_welcome")
            win.click(at(CUSTOM_INSTALL))
            assert h.wait_for(lambda: win.geometry()[2:] == (870, 717), timeout=10), win.geometry()
            time.sleep(0.5)
            win.shot("dpi144_custom")
            x, y, _, _ = win.geometry()
            rows = h.acc_dump(MAIN_CLASS, "main_dpi144_custom")
            assert h.acc_child(rows, "安装路径", "text")["rect"] == (x + px(1) + px(82), y + px(254) + px(128), px(370), px(32))
            assert h.acc_child(rows, "安装路径", "text")["value"] == "C:\\Apps\\Wide64"
            # a folder typed through the accessibility interface counts as typed: empty gates install
            h.acc_set(MAIN_CLASS, "安装路径", "")
            assert "unavailable" in h.acc_child(h.acc_dump(MAIN_CLASS), "立刻安装")["states"]
            h.acc_set(MAIN_CLASS, "安装路径", "D:\\Vardo")
            rows = h.acc_dump(MAIN_CLASS)
            assert h.acc_child(rows, "安装路径", "text")["value"] == "D:\\Vardo"
            assert "unavailable" not in h.acc_child(rows, "立刻安装")["states"]
            # the scaled agree box gates the custom page's install button, as at 100 %
            win.click(at(AGREE_BOX))
            rows = h.acc_dump(MAIN_CLASS)
            assert "checked" not in h.acc_child(rows, "我同意")["states"]
            assert "unavailable" in h.acc_child(rows, "立刻安装")["states"]
            win.click(at(CUSTOM_ARROW))
            assert win.geometry()[2:] == (870, 717), "the gated arrow acted"
            win.click(at(AGREE_BOX))
            win.click(at(CUSTOM_ARROW))
            assert h.wait_for(lambda: win.geometry()[2:] == (870, 570), timeout=10), win.geometry()
            # dragging still works from the scaled header, and not from its buttons
            before = win.geometry()
            win.drag(at(HEADER_LABEL_AREA), 40, 30)
            assert win.geometry()[:2] == (before[0] + 40, before[1] + 30)
        finally:
            h.stop(proc)
            h.kill_windows_processes("vdInstaller.exe")
            restore_pointer(display)
            h.reg("delete", key, "/f", "/reg:64")
