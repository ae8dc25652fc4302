"""The skin package in real windows under Xvfb.

Every page of the main window, the quit box and the settings menu are built from the resource
"ZIPRES" 122 of the real vdInstaller.exe by skinview.exe (the framework's own window base) and
kept as PNGs under build/artifacts; the window base is then driven with real clicks and keys.
By hand: VD_KEEP=1 /usr/bin/python3 -m pytest -q tests/e2e/test_skin.py, then look at
build/artifacts/skin_*.png."""
import os
import re
import subprocess
import time

import pytest

import vdharness as h

SKINVIEW = os.path.join(h.BIN, "skinview.exe")
HTCLIENT, HTCAPTION = 1, 2

# Pages as the main window shows them: what is hidden, what is shown, the height.
PAGES = {
    "welcome": [],
    "custom": ["--hide", "easyui_h_layout", "--show", "customui_h_layout", "--height", "478"],
    "installing": ["--hide", "title_h_layout,easyui_h_layout", "--show", "title_h_layout_300,instalingui_h_layout_80",
                   "--progress", "46", "--text", "installingui_progress_label=速度:356.2KB/S"],
    "failure": ["--hide", "title_h_layout,easyui_h_layout,installingui_progress_label,installingui_breakpoint_label",
                "--show", "title_h_layout_300,instalingui_h_layout_80,installingui_failure_label,"
                "installingui_failure_retry_btn", "--progress", "46"],
    "success": ["--hide", "easyui_h_layout", "--show", "successui_h_layout",
                "--attr", "title_h_layout:bkimage=file='success_page_bg_580x254.png'"],
    "disagreed": ["--uncheck", "easyui_agree_checkbox",
                  "--disable", "easyui_install_now_btn,easyui_custom_install_btn,easyui_custom_install_arrow_btn"],
}


class View:
    """One skinview.exe run; its events arrive one per line in a log file."""

    def __init__(self, display, tmp_path, *args, skin="MainFrameWnd.xml", module=None, name="view"):
        self.display = display
        self.events = tmp_path / (name + ".events")
        argv = ["--module", h.to_windows(module or h.EXE), "--skin", skin,
                "--events", h.to_windows(str(self.events)), "--pos", "100,100", "--timeout", "60"] + list(args)
        self.proc = h.start(SKINVIEW, argv, env=display.env())

    def lines(self):
        if not self.events.exists():
            return []
        return self.events.read_text(encoding="utf-8", errors="replace").splitlines()

    def wait(self, pattern, timeout=30):
        rx = re.compile(pattern)
        found = h.wait_for(lambda: next((m for m in map(rx.search, self.lines()) if m), None), timeout=timeout)
        assert found, "no %r in events: %r" % (pattern, self.lines())
        return found

    def rect(self, what):
        m = self.wait(r"^rect %s (-?\d+) (-?\d+) (\d+) (\d+)$" % what)
        return tuple(int(v) for v in m.groups())

    def exit_code(self, timeout=30):
        try:
            return h.exit_code(self.proc.wait(timeout=timeout))
        finally:
            h.stop(self.proc)

    def stop(self):
        h.stop(self.proc)


# What a screen reader must find on each page: name -> (role, states it must have, value).
# Image-only controls are named by the markup's "accname".
TITLE_BUTTONS = {"设置": ("pushbutton", set(), "-"), "最小化": ("pushbutton", set(), "-"),
                 "关闭": ("pushbutton", set(), "-")}
ACC_EXPECT = {
    "welcome": {"立刻安装": ("pushbutton", {"focusable"}, "-"), "我同意": ("checkbutton", {"checked"}, "-"),
                "用户许可协议": ("pushbutton", set(), "-"), "展开自定义安装": ("pushbutton", set(), "-"),
                "自定义安装": ("pushbutton", set(), "-")},
    "disagreed": {"我同意": ("checkbutton", set(), "-"), "立刻安装": ("pushbutton", {"unavailable"}, "-")},
    "custom": {"安装路径": ("text", {"focusable"}, r"C:\Program Files (x86)\Vardo"), "浏览": ("pushbutton", set(), "-"),
               "收起自定义安装": ("pushbutton", set(), "-")},
    "installing": {"安装进度": ("progressbar", {"readonly"}, "46%"), "速度:356.2KB/S": ("statictext", set(), "-"),
                   "联系客服QQ群": ("pushbutton", set(), "-")},
    "failure": {"下载失败": ("graphic", set(), "-"), "重试": ("pushbutton", set(), "-"),
                "安装进度": ("progressbar", set(), "46%")},
    "success": {"立即体验(5S)": ("pushbutton", set(), "-")},
}


def check_screen_reader_view(rows, expect):
    """Every listed control has a name and a known role, and the expected ones are there."""
    assert rows[0]["role"] in ("client", "menupopup"), rows[0]
    for r in rows[1:]:
        assert r["name"] and r["role"] in h.ACC_ROLES, "control without name or role: %r" % r
        assert "invisible" not in r["states"], r
    for name, (role, states, value) in expect.items():
        r = h.acc_child(rows, name, role)
        assert states <= r["states"] and r["value"] == value, r
        if role == "checkbutton":
            assert r["action"] == ("Uncheck" if "checked" in r["states"] else "Check"), r
        elif role == "pushbutton":
            assert r["action"] == "Press", r
    # layout order: the title buttons come first, left to right
    names = [r["name"] for r in rows[1:]]
    if "设置" in names:
        assert names.index("设置") < names.index("最小化") < names.index("关闭")


def xdo(display, *args):
    subprocess.run(["xdotool"] + [str(a) for a in args], env={**os.environ, "DISPLAY": display.display},
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=20)


def click(display, x, y):
    xdo(display, "mousemove", x, y)
    time.sleep(0.3)
    xdo(display, "click", 1)


def xwindow_at(display, rect):
    """The X window Wine made for a Windows window with this screen rectangle. Matched by size and
    absolute position: a window manager reparents it into a frame, so its offset in its parent is
    not its place on the screen. Of a frame, Wine's window and its client child, the named one holds
    the picture; an unnamed popup (a menu) has no frame, and the outermost match is Wine's."""
    tree = subprocess.run(["xwininfo", "-root", "-tree"], env={**os.environ, "DISPLAY": display.display},
                          capture_output=True, text=True, timeout=20).stdout
    found = []
    for line in tree.splitlines():
        parts = line.split()
        m = re.search(r"(\d+)x(\d+)[+-]-?\d+[+-]-?\d+\s+\+(-?\d+)\+(-?\d+)\s*$", line)
        if parts and parts[0].startswith("0x") and m and \
                tuple(int(v) for v in (m.group(3), m.group(4), m.group(1), m.group(2))) == tuple(rect):
            found.append((parts[0], "(has no name)" not in line))
    named = [wid for wid, has_name in found if has_name]
    return (named or [wid for wid, _ in found] or [None])[0]


def shot(display, name, rect, popups=()):
    """A PNG of what the screen shows inside rect, kept under build/artifacts.

    Under Xvfb without a window manager the root image lacks Wine's popup windows (the box, the
    menu), so each popup is read from its own X window and laid over the root image."""
    full = display.screenshot(name)
    for i, p in enumerate(popups):
        wid = xwindow_at(display, p)
        assert wid, "no X window at %r" % (p,)
        part = os.path.join(os.path.dirname(full), "%s.part%d.png" % (name, i))
        xwd = part + ".xwd"
        subprocess.run(["xwd", "-id", wid, "-silent", "-display", display.display, "-out", xwd], check=True, timeout=30)
        subprocess.run(["convert", xwd, part], check=True, timeout=60)
        subprocess.run(["convert", full, part, "-geometry", "+%d+%d" % (p[0], p[1]), "-composite", full],
                       check=True, timeout=60)
        os.remove(xwd)
        os.remove(part)
    x, y, w, hgt = rect
    subprocess.run(["convert", full, "-crop", "%dx%d+%d+%d" % (w, hgt, x, y), "+repage", full], check=True, timeout=60)
    return full


def pixel(png, x, y):
    out = subprocess.run(["convert", png, "-crop", "1x1+%d+%d" % (x, y), "+repage", "-format",
                          "%[fx:int(255*r)],%[fx:int(255*g)],%[fx:int(255*b)]", "info:"],
                         capture_output=True, text=True, timeout=30).stdout
    return tuple(int(v) for v in out.strip().split(","))


def dark_pixels(png, x, y, w, hgt):
    """How many pixels of the area are darker than mid grey (drawn text)."""
    out = subprocess.run(["convert", png, "-crop", "%dx%d+%d+%d" % (w, hgt, x, y), "+repage", "-colorspace", "Gray",
                          "-threshold", "50%", "-format", "%[fx:int(w*h*(1-mean)+0.5)]", "info:"],
                         capture_output=True, text=True, timeout=30).stdout
    return int(out.strip())


def bluish(rgb):
    r, g, b = rgb
    return b > 170 and r < 120 and b > r + 60


def greenish(rgb):
    r, g, b = rgb
    return g > 130 and g > r + 40


def hittest(view, skin, x, y, display, origin):
    xdo(display, "mousemove", origin[0] + x, origin[1] + y)
    m = view.wait(r"^hittest %s %d,%d=(\d+)$" % (re.escape(skin), x, y), timeout=10)
    return int(m.group(1))


@pytest.fixture(scope="module")
def skinview_built():
    if not os.path.exists(SKINVIEW):
        pytest.fail("build/bin/skinview.exe missing: run scripts/build.sh")
    # Chinese text in system message boxes (the failure box) on prefixes made before
    # scripts/common.sh linked the fonts
    for face in ("Tahoma", "MS Shell Dlg", "MS Shell Dlg 2"):
        h.reg("add", r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink", "/v", face,
              "/t", "REG_MULTI_SZ", "/d", "wqy-zenhei.ttc,WenQuanYi Zen Hei", "/f")


@pytest.mark.parametrize("page", list(PAGES))
def test_main_window_pages_render_from_the_resource(page, display, tmp_path, skinview_built):
    view = View(display, tmp_path, *PAGES[page])
    try:
        view.wait("^ready$")
        rect = view.rect("main")
        assert rect[2:] == (580, 478 if page == "custom" else 380)
        view.wait("^notify windowinit")
        time.sleep(0.8)
        png = shot(display, "skin_main_" + page, rect)
        rows = h.acc_dump("DuiLibSkinViewMain", "skin_main_" + page)
        check_screen_reader_view(rows, dict(TITLE_BUTTONS, **ACC_EXPECT[page]))
        # screen coordinates, as the markup places them
        if page == "welcome":
            assert h.acc_child(rows, "立刻安装")["rect"] == (rect[0] + 209, rect[1] + 278, 162, 40)
            assert rows[0]["rect"] == rect and rows[0]["name"] == "Vardo在线安装"
        banner = pixel(png, 20, 200)
        if page == "success":
            assert greenish(banner), banner
        else:
            assert bluish(banner), banner
        if page in ("welcome", "custom"):
            assert bluish(pixel(png, 230, 298)), "install button image"        # btn_162x132 normal state
            assert bluish(pixel(png, 30, 349)), "selected check box"           # checkbox_48x16 selected part
            assert dark_pixels(png, 43, 341, 40, 16) > 20, "check box text"    # "我同意"
        if page == "disagreed":
            r, g, b = pixel(png, 230, 298)
            assert abs(r - g) < 12 and abs(g - b) < 12 and r > 180, "disabled install button is grey"
            assert not bluish(pixel(png, 30, 349)), "check box drawn unselected"
        if page == "welcome":
            # showhtml: the agreement link is underlined, a long run of link-coloured pixels
            runs = []
            for row in range(349, 360):
                line = [pixel(png, col, row) for col in range(93, 170, 3)]
                runs.append(sum(1 for r, g, b in line if b > 180 and r < 120))
            assert max(runs) >= 22, runs
        if page == "custom":
            assert dark_pixels(png, 92, 390, 200, 16) > 30, "folder text in the edit box"
        if page in ("installing", "failure"):
            assert bluish(pixel(png, 40, 330)), "progress fill"
            track = pixel(png, 500, 330)
            assert not bluish(track) and track[0] > 200, "progress track beyond the value"
        if page == "failure":
            r, g, b = pixel(png, 557, 330)
            assert r > 200 and g < 120, "red failure mark"
    finally:
        view.stop()


def test_message_box_and_menu_render(display, tmp_path, skinview_built):
    view = View(display, tmp_path, "--box", name="box")
    try:
        box = view.rect("box")
        assert box[2:] == (350, 180)
        time.sleep(1.0)
        png = shot(display, "skin_messagebox", box, popups=[box])
        assert bluish(pixel(png, 100, 10)), "title strip"
        assert bluish(pixel(png, 190, 140)), "OK button fill"
        r, g, b = pixel(png, 60, 83)
        assert r > 200 and b < 120, "orange icon"
        assert dark_pixels(png, 100, 62, 200, 20) > 40, "first line of text"
        rows = h.acc_dump("CMessageBoxWnd", "skin_messagebox")
        check_screen_reader_view(rows, {"确定": ("pushbutton", set(), "-"), "取消": ("pushbutton", set(), "-"),
                                        "关闭": ("pushbutton", set(), "-"), "提示": ("graphic", set(), "-"),
                                        "尚未完成安装，您确定要取消吗？": ("statictext", set(), "-")})
    finally:
        view.stop()
    # opened by a click, as a person opens it: a menu opened at start-up is closed again when a
    # window manager activates the new main window
    view = View(display, tmp_path, "--menu-on-click", name="menu")
    try:
        main = view.rect("main")
        view.wait("^ready$")
        time.sleep(0.5)
        click(display, main[0] + 1 + 378 + 130, main[1] + 14)  # settingbtn
        view.wait("^menu shown setting_menu$")
        x, y = (int(v) for v in view.wait(r"^menu at (-?\d+),(-?\d+)$").groups())
        menu = view.rect("menu")
        assert (menu[0], menu[1]) == (x, y)
        time.sleep(0.8)
        # main window and menu together (the menu may reach past the window's right edge)
        right = max(main[0] + main[2], menu[0] + menu[2])
        png = shot(display, "skin_menu", (main[0], main[1], right - main[0], main[3]), popups=[menu])
        # the menu hangs below the settings button, over the banner
        mx, my = x - main[0], y - main[1]
        r, g, b = pixel(png, mx + 60, my + 12)
        assert r > 230 and g > 230 and b > 230, "menu body"
        assert dark_pixels(png, mx + 10, my + 2, 80, 20) > 20, "item text"
        rows = h.acc_dump("DuiLibMenuWnd", "skin_menu")
        check_screen_reader_view(rows, {"错误日志": ("menuitem", set(), "-")})
        assert rows[0]["role"] == "menupopup" and len(rows) == 2
        # the item through the accessibility interface: reported once, as a click would be
        h.acc_do("DuiLibMenuWnd", "错误日志")
        view.wait("^menu closed setting_menu$")
        assert [l for l in view.lines() if l.startswith("menuitem ")] == \
            ["menuitem itemclick setting_menuitem_collect_logs"]
    finally:
        view.stop()


def test_close_button_posts_one_close_and_min_button_minimises(display, tmp_path, skinview_built):
    view = View(display, tmp_path, name="close")
    try:
        x, y, w, _ = view.rect("main")
        view.wait("^ready$")
        time.sleep(0.5)
        click(display, x + 1 + 378 + 186, y + 14)  # closebtn
        view.wait("^destroy MainFrameWnd.xml$")
        assert view.exit_code() == 0
        closes = [l for l in view.lines() if l.startswith("close MainFrameWnd.xml")]
        assert closes == ["close MainFrameWnd.xml wparam=1"]
        assert view.lines().count("notify click closebtn") == 1
    finally:
        view.stop()
    view = View(display, tmp_path, name="min")
    try:
        rect = view.rect("main")
        view.wait("^ready$")
        time.sleep(0.5)
        assert xwindow_at(display, rect)
        click(display, rect[0] + 1 + 378 + 158, rect[1] + 14)  # minbtn
        view.wait(r"^syscommand MainFrameWnd.xml 0xF020$")
        view.wait(r"^iconic MainFrameWnd.xml 1$")
        assert not any(l.startswith("close ") for l in view.lines())
    finally:
        view.stop()


def test_escape_closes_the_box_and_leaves_the_main_window(display, tmp_path, skinview_built):
    view = View(display, tmp_path, "--box")
    try:
        bx, by, _, _ = view.rect("box")
        time.sleep(0.8)
        click(display, bx + 20, by + 150)  # an empty spot of the box: keyboard focus there
        time.sleep(0.3)
        xdo(display, "key", "Return")  # Enter does nothing
        time.sleep(0.8)
        assert not any(l.startswith(("close ", "box closed")) for l in view.lines()), view.lines()
        xdo(display, "key", "Escape")
        view.wait(r"^box closed ret=1 main=1 enabled=1$")
        assert [l for l in view.lines() if l.startswith("close ")] == ["close messagebox.xml wparam=1"]
        time.sleep(0.5)
        assert view.proc.poll() is None, "the main window must stay"
        assert "destroy MainFrameWnd.xml" not in view.lines()
    finally:
        view.stop()


def test_hit_test_caption_over_empty_areas_client_over_buttons(display, tmp_path, skinview_built):
    view = View(display, tmp_path)
    try:
        origin = view.rect("main")
        view.wait("^ready$")
        time.sleep(0.5)
        skin = "MainFrameWnd.xml"
        assert hittest(view, skin, 100, 16, display, origin) == HTCAPTION      # banner inside the caption band
        assert hittest(view, skin, 565, 14, display, origin) == HTCLIENT       # closebtn
        assert hittest(view, skin, 523, 14, display, origin) == HTCLIENT       # settingbtn
        assert hittest(view, skin, 100, 100, display, origin) == HTCLIENT      # below the 32-pixel band
    finally:
        view.stop()
    view = View(display, tmp_path, "--box", name="box")
    try:
        origin = view.rect("box")
        time.sleep(0.8)
        skin = "messagebox.xml"
        assert hittest(view, skin, 150, 60, display, origin) == HTCAPTION      # the text: the whole box drags
        assert hittest(view, skin, 20, 150, display, origin) == HTCAPTION      # empty area
        assert hittest(view, skin, 216, 148, display, origin) == HTCLIENT      # msgbox_quit_btn
        assert hittest(view, skin, 293, 148, display, origin) == HTCLIENT      # msgbox_cancel_btn
        # and it really drags
        xdo(display, "mousemove", origin[0] + 20, origin[1] + 150)
        time.sleep(0.3)
        xdo(display, "mousedown", 1)
        for step in range(1, 6):
            xdo(display, "mousemove", origin[0] + 20 + 8 * step, origin[1] + 150 + 6 * step)
            time.sleep(0.1)
        xdo(display, "mouseup", 1)
        m = view.wait(r"^moved messagebox.xml (-?\d+) (-?\d+)$", timeout=10)
        assert (int(m.group(1)), int(m.group(2))) == (origin[0] + 40, origin[1] + 30)
    finally:
        view.stop()


def test_edit_box_is_a_native_edit_while_typing_and_alt_n_installs(display, tmp_path, skinview_built):
    view = View(display, tmp_path, *PAGES["custom"])
    try:
        x, y, _, _ = view.rect("main")
        view.wait("^ready$")
        time.sleep(0.5)
        click(display, x + 440, y + 398)  # the end of the folder box
        view.wait("^notify setfocus customui_dir_edit$")
        time.sleep(0.3)
        xdo(display, "key", "End")
        xdo(display, "type", "--delay", "50", "3")
        m = view.wait(r"^notify textchanged customui_dir_edit text=(.*)$")
        assert m.group(1) == r"C:\Program Files (x86)\Vardo3"
        # emptied: one more report, with the empty text
        xdo(display, "key", "ctrl+a", "BackSpace")
        view.wait(r"^notify textchanged customui_dir_edit text=$")
        xdo(display, "type", "--delay", "50", "D")
        view.wait(r"^notify textchanged customui_dir_edit text=D$")
        click(display, x + 300, y + 460)  # an empty spot of the page ends the editing
        view.wait("^notify killfocus customui_dir_edit$")
        # Alt+N: the shortcut of the visible install button
        xdo(display, "key", "alt+n")
        view.wait("^notify click customui_install_now_btn$")
        assert "notify click easyui_install_now_btn" not in view.lines()
    finally:
        view.stop()


@pytest.mark.parametrize("asked,height", [(200, 380), (900, 478)])
def test_window_size_stays_within_the_markups_mininfo_and_maxinfo(asked, height, display, tmp_path, skinview_built):
    view = View(display, tmp_path, "--height", str(asked), name="size%d" % asked)
    try:
        assert view.rect("main")[2:] == (580, height)
    finally:
        view.stop()


def test_window_object_deleted_before_its_window_takes_the_window_along(display, tmp_path, skinview_built):
    # the message loop ends on WM_QUIT (here: the time limit) while the window still exists
    view = View(display, tmp_path, "--timeout", "3", name="quit")
    try:
        view.wait("^ready$")
        assert view.exit_code(timeout=30) == 0
        lines = view.lines()
        assert "after delete window=0" in lines and lines[-1] == "exit", lines
    finally:
        view.stop()


def viewable_windows(display):
    tree = subprocess.run(["xwininfo", "-root", "-children"], env={**os.environ, "DISPLAY": display.display},
                          capture_output=True, text=True, timeout=20).stdout
    out = set()
    for line in tree.splitlines():
        m = re.match(r"\s*(0x[0-9a-f]+) .*\s(\d+)x(\d+)\+(-?\d+)\+(-?\d+)\s", line)
        if m and int(m.group(2)) > 2 and int(m.group(3)) > 2:
            info = subprocess.run(["xwininfo", "-id", m.group(1)], env={**os.environ, "DISPLAY": display.display},
                                  capture_output=True, text=True, timeout=20).stdout
            if "IsViewable" in info:
                out.add((m.group(1), int(m.group(4)), int(m.group(5))))
    return out


def test_hot_states_and_tooltips_follow_the_pointer(display, tmp_path, skinview_built):
    view = View(display, tmp_path, name="hover")
    try:
        rect = view.rect("main")
        x, y = rect[0], rect[1]
        view.wait("^ready$")
        time.sleep(0.5)
        before = viewable_windows(display)
        normal = pixel(shot(display, "skin_hover_normal", rect), 230, 298)
        xdo(display, "mousemove", x + 565, y + 14)  # closebtn: its hot half is red
        time.sleep(1.5)
        png = shot(display, "skin_hover_close", rect)
        r, g, b = pixel(png, 555, 4)
        assert r > 180 and g < 90 and b < 90, (r, g, b)
        # after the hover time a tooltip window shows near the pointer ("关闭")
        tips = [w for w in viewable_windows(display) - before if x + 555 <= w[1] <= x + 640 and y <= w[2] <= y + 80]
        assert tips, viewable_windows(display) - before
        xdo(display, "mousemove", x + 230, y + 298)  # the install button: lighter when hot
        time.sleep(0.8)
        hot = pixel(shot(display, "skin_hover_install", rect), 230, 298)
        assert bluish(hot) and sum(hot) > sum(normal) + 20, (normal, hot)
        # the tip went with the pointer
        assert not [w for w in viewable_windows(display) - before if w in tips]
    finally:
        view.stop()


EVENT_SYSTEM_MENUPOPUPSTART, EVENT_SYSTEM_MENUPOPUPEND, EVENT_OBJECT_FOCUS = 0x0006, 0x0007, 0x8005


def test_menu_item_reports_once_and_closes(display, tmp_path, skinview_built):
    # opened from the settings button's click, as the main window does; the pointer then rests on
    # the button past the hover time, so its tooltip must not come up over the menu
    view = View(display, tmp_path, "--menu-on-click")
    try:
        main = view.rect("main")
        view.wait("^ready$")
        time.sleep(0.5)
        with h.acc_watch() as heard:
            click(display, main[0] + 1 + 378 + 130, main[1] + 14)  # settingbtn
            view.wait("^menu shown setting_menu$")
            x, y = (int(v) for v in view.wait(r"^menu at (-?\d+),(-?\d+)$").groups())
            assert (x - main[0], y - main[1]) == (1 + 378 + 116, 27)  # the button's left and bottom edges
            time.sleep(1.5)
            item = h.acc_child(h.acc_dump("DuiLibMenuWnd"), "错误日志")
            xdo(display, "key", "Down")  # the keyboard moves to the item: a screen reader hears it
            time.sleep(0.5)
            click(display, x + 45, y + 12)
            view.wait("^menu closed setting_menu$")
            time.sleep(0.5)
        reports = [l for l in view.lines() if l.startswith("menuitem ")]
        assert reports == ["menuitem itemclick setting_menuitem_collect_logs"]
        # the menu is announced as a system menu is: start, the focused item, end, on one window
        start = [e for e in heard.events if e[0] == EVENT_SYSTEM_MENUPOPUPSTART and e[3] == "DuiLibMenuWnd"]
        assert len(start) == 1 and start[0][1] == 0, heard.events
        menu_events = [e[:2] for e in heard.events if e[2] == start[0][2]]
        on_item = (EVENT_OBJECT_FOCUS, int(item["id"]))
        assert menu_events.count((EVENT_SYSTEM_MENUPOPUPEND, 0)) == 1 and on_item in menu_events, heard.events
        assert menu_events.index((EVENT_SYSTEM_MENUPOPUPSTART, 0)) < menu_events.index(on_item) < \
            menu_events.index((EVENT_SYSTEM_MENUPOPUPEND, 0)), heard.events
    finally:
        view.stop()
    # a click elsewhere closes the menu without a report
    view = View(display, tmp_path, "--menu", name="outside")
    try:
        view.wait("^menu shown setting_menu$")
        main = view.rect("main")
        time.sleep(0.5)
        click(display, main[0] + 100, main[1] + 200)
        view.wait("^menu closed setting_menu$")
        time.sleep(0.5)
        assert not [l for l in view.lines() if l.startswith("menuitem ")]
        assert view.proc.poll() is None
    finally:
        view.stop()


@pytest.mark.parametrize("case", ["missing_member", "no_resource"])
def test_unloadable_skin_shows_the_failure_box_and_exits_1(case, display, tmp_path, skinview_built):
    if case == "missing_member":
        view = View(display, tmp_path, skin="nosuch.xml")
    else:
        view = View(display, tmp_path, module=SKINVIEW)  # a program without "ZIPRES" 122
    try:
        env = {**os.environ, "DISPLAY": display.display}
        found = h.wait_for(lambda: subprocess.run(["xdotool", "search", "--name", "^Duilib$"], env=env,
                                                  capture_output=True, text=True, timeout=20).stdout.split(),
                           timeout=30)
        assert found, "no failure box"
        time.sleep(0.5)
        display.screenshot("skin_failure_box_" + case)
        # no window manager: a click on the box gives it the keyboard, then Enter presses OK
        geo = subprocess.run(["xdotool", "getwindowgeometry", found[0]], env=env, capture_output=True, text=True,
                             timeout=20).stdout
        px, py = (int(v) for v in re.search(r"Position: (-?\d+),(-?\d+)", geo).groups())
        w, _ = (int(v) for v in re.search(r"Geometry: (\d+)x(\d+)", geo).groups())
        for _ in range(3):
            click(display, px + w // 2, py + 30)
            time.sleep(0.3)
            xdo(display, "key", "Return")
            if h.wait_for(lambda: view.proc.poll() is not None, timeout=10):
                break
        assert view.exit_code(timeout=30) == 1
        assert not any(l.startswith(("init ", "rect main")) for l in view.lines())
    finally:
        view.stop()


@pytest.mark.parametrize("dpi", [96, 144, 192])
def test_window_scales_with_the_screen_dpi(dpi, display, tmp_path, skinview_built):
    # markup lengths are 96-DPI lengths: at 150 % and 200 % the window, its pictures, its text and
    # its hit tests grow with the screen; at 100 % nothing moves
    def px(v):
        return int(v * dpi / 96 + 0.5)

    with h.log_pixels(dpi):
        view = View(display, tmp_path, name="dpi%d" % dpi)
        try:
            rect = view.rect("main")
            assert rect[2:] == (px(580), px(380))
            view.wait("^notify windowinit")
            time.sleep(0.8)
            png = shot(display, "skin_dpi%d_welcome" % dpi, rect)
            assert bluish(pixel(png, px(20), px(200))), "banner"
            assert bluish(pixel(png, px(230), px(298))), "install button picture"
            assert bluish(pixel(png, px(30), px(349))), "selected check box"
            assert not bluish(pixel(png, px(30), px(330))), "check box drawn where it belongs"
            # the font grows with the box: "我同意" inks about as much of the scaled box as at 100 %
            assert dark_pixels(png, px(43), px(341), px(40), px(16)) > 20 * dpi * dpi // (96 * 96)
            rows = h.acc_dump("DuiLibSkinViewMain", "skin_dpi%d_welcome" % dpi)
            check_screen_reader_view(rows, dict(TITLE_BUTTONS, **ACC_EXPECT["welcome"]))
            assert h.acc_child(rows, "立刻安装")["rect"] == \
                (rect[0] + px(1) + px(208), rect[1] + px(254) + px(24), px(162), px(40))
            skin = "MainFrameWnd.xml"
            assert hittest(view, skin, px(100), px(16), display, rect) == HTCAPTION   # caption band
            assert hittest(view, skin, px(100), px(40), display, rect) == HTCLIENT    # below it
            assert hittest(view, skin, px(565), px(14), display, rect) == HTCLIENT    # closebtn
            # a click where the scaled check box is hits it
            click(display, rect[0] + px(31), rect[1] + px(349))
            view.wait("^notify click easyui_agree_checkbox$", timeout=10)
            assert "checked" not in h.acc_child(h.acc_dump("DuiLibSkinViewMain"), "我同意")["states"]
        finally:
            view.stop()
    if dpi == 96:
        # moved to a 150 % screen: Windows' suggested rectangle, and the layout and pictures follow
        view = View(display, tmp_path, "--dpi-change", "144", name="dpimoved")
        try:
            rect = view.rect("moved")
            assert rect[2:] == (870, 570)
            view.wait("^ready$")
            time.sleep(0.8)
            png = shot(display, "skin_dpi96_moved_to_144", rect)
            assert bluish(pixel(png, 345, 447)), "install button picture at its 150 % place"
            rows = h.acc_dump("DuiLibSkinViewMain")
            assert h.acc_child(rows, "立刻安装")["rect"] == (rect[0] + 314, rect[1] + 417, 243, 60)
            assert dark_pixels(png, 64, 511, 60, 24) > 45, "check box text at 150 %"
        finally:
            view.stop()
        return  # the box at 100 % has its own checks above
    with h.log_pixels(dpi):
        view = View(display, tmp_path, "--box", name="dpibox%d" % dpi)
        try:
            box = view.rect("box")
            assert box[2:] == (px(350), px(180))
            time.sleep(1.0)
            png = shot(display, "skin_dpi%d_messagebox" % dpi, box, popups=[box])
            assert bluish(pixel(png, px(100), px(10))), "title strip"
            assert bluish(pixel(png, px(190), px(140))), "OK button fill"
            r, g, b = pixel(png, px(60), px(83))
            assert r > 200 and b < 120, "orange icon"
        finally:
            view.stop()
