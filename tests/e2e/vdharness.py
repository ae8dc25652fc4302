"""Runs the real vdInstaller.exe and its test drivers under Wine, in the project's prefix.

Each test starts from clean data folders; every Wine process is bounded by a timeout."""
import datetime
import os
import re
import shutil
import signal
import subprocess
import time

ROOT = os.environ.get("VD_ROOT") or os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BIN = os.path.join(ROOT, "build", "bin")
EXE = os.path.join(BIN, "vdInstaller.exe")
PREFIX = os.environ.get("WINEPREFIX") or os.path.join(ROOT, "build", "wineprefix")
ARTIFACTS = os.path.join(ROOT, "build", "artifacts")


def wine_env(extra=None):
    env = dict(os.environ)
    env.update({"WINEPREFIX": PREFIX, "WINEARCH": "win64", "WINEDEBUG": "-all",
                "WINEDLLOVERRIDES": "mscoree,mshtml=", "LC_ALL": "C.UTF-8"})
    # Nothing may leave the machine: unless a test names its own proxy, every request goes to a
    # port on loopback that refuses it.
    for k in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY"):
        env.pop(k, None)
    env["http_proxy"] = "http://127.0.0.1:9"
    if extra:
        env.update(extra)
    return env


def ensure_wineserver():
    """A persistent wineserver, detached from our pipes (a started-here one would hold them open)."""
    env = wine_env()
    subprocess.run(["wineserver", "-p"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, start_new_session=True, timeout=60)
    subprocess.run(["wine", "wineboot"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, start_new_session=True, timeout=180)


def start_own_prefix():
    """The suite's own prefix on the display in DISPLAY: made once (like the run's prefix, with
    the same set-up), then booted with a persistent wineserver. A server left by an earlier run
    may be bound to another display: it is ended first."""
    env = wine_env()
    subprocess.run(["wineserver", "-k"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60)
    if not os.path.exists(os.path.join(PREFIX, "system.reg")):
        subprocess.run(["wine", "wineboot", "-i"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, start_new_session=True, timeout=600)
        setup = 'source "%s/scripts/common.sh"; wine_env; export WINEPREFIX="%s"; prefix_setup' % (ROOT, PREFIX)
        subprocess.run(["bash", "-c", setup], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, start_new_session=True, timeout=600)
    ensure_wineserver()


def stop_wineserver():
    subprocess.run(["wineserver", "-k"], env=wine_env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60)


def process_counts(*names):
    """How many Windows processes of the prefix run under each image name."""
    rc, f = wintool("procs", *names)
    return {n: int(f.get(n, "0")) for n in names}


def wait_processes_gone(*names, timeout=60):
    """Waits until no process of these image names runs (the persistent wineserver never exits,
    so `wineserver -w` cannot be used for this)."""
    return wait_for(lambda: not any(process_counts(*names).values()), timeout=timeout, step=0.5)


def user_dir():
    users = os.path.join(PREFIX, "drive_c", "users")
    name = os.environ.get("USER") or "root"
    if os.path.isdir(os.path.join(users, name)):
        return os.path.join(users, name)
    cands = [d for d in os.listdir(users) if d != "Public"]
    return os.path.join(users, cands[0])


def documents():
    return os.path.join(user_dir(), "Documents")


def desktop():
    return os.path.join(user_dir(), "Desktop")


def temp_dir():
    """The user's temporary folder as Wine hands it out (TEMP of the prefix's user environment)."""
    try:
        env = False
        for line in open(os.path.join(PREFIX, "user.reg"), encoding="utf-8", errors="replace"):
            if line.startswith("["):
                env = line.startswith("[Environment]")
            elif env and line.startswith('"TEMP"='):
                value = line.split("=", 1)[1].strip()
                if value.startswith("str(2):"):
                    value = value[len("str(2):"):]
                value = value.strip('"').replace("\\\\", "\\")
                value = value.replace("%USERPROFILE%", "C:\\users\\" + os.path.basename(user_dir()))
                return from_windows(value)
    except OSError:
        pass
    return os.path.join(user_dir(), "Temp")


def data_folder():
    return os.path.join(documents(), "Vardo", "vdInstaller")


def to_windows(path):
    """Unix path -> Windows path as the prefix sees it (C: for drive_c, Z: otherwise)."""
    path = os.path.abspath(path)
    drive_c = os.path.join(PREFIX, "drive_c")
    if path.startswith(drive_c):
        rest = path[len(drive_c):]
        return "C:" + (rest.replace("/", "\\") or "\\")
    return "Z:" + path.replace("/", "\\")


def from_windows(path):
    if path[:2].upper() == "C:":
        return os.path.join(PREFIX, "drive_c", path[3:].replace("\\", "/"))
    if path[:2].upper() == "Z:":
        return path[2:].replace("\\", "/")
    raise ValueError(path)


def clean_data():
    """Removes the installer's data folders (My Documents and temporary folder)."""
    for p in (os.path.join(documents(), "Vardo"), os.path.join(temp_dir(), "Vardo")):
        shutil.rmtree(p, ignore_errors=True)
    for f in os.listdir(temp_dir()) if os.path.isdir(temp_dir()) else []:
        if f.startswith("vd_online_installer_"):
            os.remove(os.path.join(temp_dir(), f))


def log_path(day=None):
    day = day or datetime.date.today()
    return os.path.join(data_folder(), "vd_online_installer_%04d_%02d_%02d.log" % (day.year, day.month, day.day))


def read_log_bytes(day=None):
    p = log_path(day)
    return open(p, "rb").read() if os.path.exists(p) else b""


def read_log(day=None):
    """Today's log as text (the file is code page 936 with CR LF)."""
    return read_log_bytes(day).decode("gbk", errors="replace").replace("\r\n", "\n")


def log_messages(day=None):
    """The messages of the log, without their separator lines."""
    out = []
    for line in read_log(day).split("\n"):
        if line.startswith("------------Time:"):
            continue
        if line:
            out.append(line)
    return out


def exit_code(rc):
    """Windows exit codes reach Linux as their low 8 bits; give them back their sign."""
    return rc - 256 if rc >= 128 else rc


def run(exe, args=(), timeout=60, env=None, check_timeout=True):
    """Runs a Windows program to its end; returns (signed exit code, stdout text)."""
    cmd = ["wine", exe] + list(args)
    p = subprocess.run(cmd, env=wine_env(env), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                       stderr=subprocess.DEVNULL, timeout=timeout)
    return exit_code(p.returncode), p.stdout.decode("utf-8", errors="replace")


def start(exe, args=(), env=None):
    """Starts a Windows program in the background; stop it with stop()."""
    return subprocess.Popen(["wine", exe] + list(args), env=wine_env(env), stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)


def stop(proc, timeout=20):
    if proc.poll() is None:
        try:
            os.killpg(proc.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        try:
            proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait(timeout=timeout)


def wait_for(pred, timeout=20.0, step=0.2):
    end = time.time() + timeout
    while time.time() < end:
        v = pred()
        if v:
            return v
        time.sleep(step)
    return pred()


def wintool(*args, timeout=30):
    rc, out = run(os.path.join(BIN, "wintool.exe"), list(args), timeout=timeout)
    fields = {}
    for tok in out.split():
        if "=" in tok:
            k, v = tok.split("=", 1)
            fields[k] = v
    return rc, fields


ACC_ROLES = {"pushbutton", "checkbutton", "text", "progressbar", "statictext", "menuitem", "graphic"}


def acc_dump(cls, artefact=None):
    """The children a screen reader sees in the first window of a class, through another process's
    IAccessible (accdriver.exe): a list of dicts, the client itself first. With a name, the dump is
    kept as build/artifacts/acc_<name>.txt."""
    rc, out = run(os.path.join(BIN, "accdriver.exe"), ["dump", cls], timeout=30)
    assert rc == 0, "accdriver dump %s: %d %s" % (cls, rc, out)
    rows = []
    for line in out.splitlines():
        f = line.split("\t")
        if len(f) != 7:
            continue
        rows.append({"id": f[0], "role": f[1], "name": f[2], "states": set(f[3].split(",")),
                     "rect": tuple(int(v) for v in f[4].split(",")), "value": f[5], "action": f[6]})
    if artefact:
        os.makedirs(ARTIFACTS, exist_ok=True)
        with open(os.path.join(ARTIFACTS, "acc_%s.txt" % artefact), "w", encoding="utf-8") as f:
            f.write(out)
    assert rows and rows[0]["id"] == "self", out
    return rows


def acc_child(rows, name, role=None):
    found = [r for r in rows[1:] if r["name"] == name and role in (None, r["role"])]
    assert found, "no accessible child named %r in %s" % (name, [r["name"] for r in rows[1:]])
    return found[0]


def acc_do(cls, name, watch_ms=0):
    """accDoDefaultAction on the named child; with watch_ms, the WinEvents (event, child) that the
    window raised in that time."""
    args = ["do", cls, name] + ([str(watch_ms)] if watch_ms else [])
    rc, out = run(os.path.join(BIN, "accdriver.exe"), args, timeout=30 + watch_ms // 1000)
    assert rc == 0, "accDoDefaultAction on %r: %d %s" % (name, rc, out)
    events = []
    for line in out.splitlines():
        if line.startswith("event="):
            ev, child = line.split()
            events.append((int(ev.split("=")[1], 16), int(child.split("=")[1])))
    return events


def acc_name(cls, child_id):
    """(result, name) of get_accName for a child id a screen reader kept from earlier."""
    rc, out = run(os.path.join(BIN, "accdriver.exe"), ["name", cls, str(child_id)], timeout=30)
    assert rc == 0, "accdriver name %s %s: %d %s" % (cls, child_id, rc, out)
    hr = re.search(r"^hr=(0x[0-9a-f]+)\r?$", out, re.M)
    name = re.search(r"^name=(.*?)\r?$", out, re.M)
    return int(hr.group(1), 16), name.group(1) if name else ""


class acc_watch:
    """The menu and focus WinEvents a screen reader hears from any window of the prefix while the
    block runs (accdriver.exe watch, at most `limit_ms`): afterwards `events` holds
    (event, child, hwnd, class) tuples."""

    def __init__(self, limit_ms=20000):
        self.limit_ms = limit_ms
        self.events = []

    def __enter__(self):
        self.proc = subprocess.Popen(["wine", os.path.join(BIN, "accdriver.exe"), "watch", str(self.limit_ms)],
                                     env=wine_env(), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, start_new_session=True)
        # the driver ends on its own after the limit, so this read is bounded too
        assert self.proc.stdout.readline().strip() == b"watching", "the WinEvent hooks were refused"
        return self

    def __exit__(self, *exc):
        time.sleep(1.0)  # events are delivered out of context, a little later
        stop(self.proc)
        for line in self.proc.stdout.read().decode("utf-8", "replace").splitlines():
            m = re.match(r"event=(0x[0-9a-f]+) child=(-?\d+) hwnd=(\S+) class=(.*?)\r?$", line)
            if m:
                self.events.append((int(m.group(1), 16), int(m.group(2)), m.group(3), m.group(4)))
        self.proc.stdout.close()


def acc_set(cls, name, text):
    """put_accValue on the named child (what a screen reader's user types into an edit box)."""
    rc, out = run(os.path.join(BIN, "accdriver.exe"), ["set", cls, name, text], timeout=30)
    assert rc == 0, "put_accValue on %r: %d %s" % (name, rc, out)


class log_pixels:
    """The prefix's screen DPI for the processes started inside the block; the old value (or its
    absence) comes back afterwards."""
    KEY = r"HKCU\Control Panel\Desktop"

    def __init__(self, dpi):
        self.dpi = dpi
        self.old = None

    def __enter__(self):
        p = subprocess.run(["wine", "reg", "query", self.KEY, "/v", "LogPixels"], env=wine_env(),
                           stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=60)
        for line in p.stdout.decode("utf-8", "replace").splitlines():
            parts = line.split()
            if len(parts) == 3 and parts[0] == "LogPixels":
                self.old = int(parts[2], 0)
        assert reg("add", self.KEY, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(self.dpi), "/f") == 0
        return self

    def __exit__(self, *exc):
        if self.old is None:
            reg("delete", self.KEY, "/v", "LogPixels", "/f")
        else:
            reg("add", self.KEY, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(self.old), "/f")


def reg(*args, timeout=60):
    """wine reg ... ; returns the exit code."""
    p = subprocess.run(["wine", "reg"] + list(args), env=wine_env(), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout)
    return p.returncode


def kill_windows_processes(*names):
    """Ends leftover Windows processes of this prefix by image name (best effort)."""
    for n in names:
        subprocess.run(["wine", "taskkill", "/f", "/im", n], env=wine_env(), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)


def _display_in_use(n):
    """A lock file whose server still runs (a killed server leaves a stale one behind)."""
    try:
        pid = int(open("/tmp/.X%d-lock" % n).read().strip())
    except (OSError, ValueError):
        return False
    try:
        os.kill(pid, 0)
        return True
    except ProcessLookupError:
        return False
    except PermissionError:
        return True


def start_window_manager(display):
    """Openbox on the display, as on any desktop: without a window manager Wine waits about 2 s
    for an answer to every hide and destroy, and maximise or snap requests go unseen."""
    wm = subprocess.Popen(["openbox", "--sm-disable"], env=dict(os.environ, DISPLAY=display),
                          stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                          start_new_session=True)
    # ready once it owns the window manager selection of screen 0
    wait_for(lambda: wm.poll() is not None or subprocess.run(
        ["xprop", "-display", display, "-root", "_NET_SUPPORTING_WM_CHECK"], capture_output=True,
        text=True).stdout.find("window id") >= 0, 10, 0.1)
    return wm


class Xvfb:
    """A private X display for tests that open windows."""

    def __init__(self, size="1280x1024x24", private=False):
        self.size = size
        self.private = private
        self.proc = None
        self.display = None
        self.wm = None

    def __enter__(self):
        # The run's display (test.sh and demo.sh start one) is shared: Wine's desktop process is
        # bound to it, and windows on another display would fail.
        if not self.private and os.environ.get("DISPLAY") and subprocess.run(
                ["xdpyinfo"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0:
            self.display = os.environ["DISPLAY"]
            return self
        for n in range(90, 400):
            if _display_in_use(n):
                continue
            self.proc = subprocess.Popen(["Xvfb", ":%d" % n, "-screen", "0", self.size, "-nolisten", "tcp"],
                                         stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                         stderr=subprocess.DEVNULL, start_new_session=True)
            # usable once its socket is there; a client connecting earlier fails
            # the socket may be another server's that took the number a moment earlier: ours
            # holds the lock
            if wait_for(lambda: self.proc.poll() is not None or os.path.exists("/tmp/.X11-unix/X%d" % n), 15, 0.1) \
                    and self.proc.poll() is None and self._lock_pid(n) == self.proc.pid:
                time.sleep(0.2)
                self.display = ":%d" % n
                if os.environ.get("VD_TEST_WM", "1") != "0":
                    self.wm = start_window_manager(self.display)
                return self
            if self.proc.poll() is None:
                self.proc.kill()
                self.proc.wait(timeout=10)
        raise RuntimeError("no free X display")

    @staticmethod
    def _lock_pid(n):
        try:
            return int(open("/tmp/.X%d-lock" % n).read().strip())
        except (OSError, ValueError):
            return None

    def env(self):
        return {"DISPLAY": self.display}

    def screenshot(self, name):
        os.makedirs(ARTIFACTS, exist_ok=True)
        xwd = os.path.join(ARTIFACTS, name + ".xwd")
        png = os.path.join(ARTIFACTS, name + ".png")
        subprocess.run(["xwd", "-root", "-silent", "-display", self.display, "-out", xwd], timeout=30)
        subprocess.run(["convert", xwd, png], timeout=60)
        if os.path.exists(xwd):
            os.remove(xwd)
        return png

    def __exit__(self, *exc):
        for p in (self.wm, self.proc):  # the window manager first: it goes with its display
            if p and p.poll() is None:
                p.terminate()
                try:
                    p.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    p.kill()
