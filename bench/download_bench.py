"""Downloader benchmark: our six-section downloader (dldriver.exe under Wine) against aria2c and
curl on one rate-capped local server, plus the cost of a resume after a hard kill.

Prints figures only; nothing here passes or fails on speed.
"""
import argparse
import hashlib
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from servers.packageserver import PackageServer  # noqa: E402

MIB = 1024 * 1024


def md5(path):
    h = hashlib.md5()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def wineserver_cpu(prefix):
    """CPU seconds of this prefix's wineserver (our program's system calls partly run there). The
    server works in a folder named after the prefix's device and inode."""
    st = os.stat(prefix)
    tag = "/server-%x-%x" % (st.st_dev, st.st_ino)
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/comm" % pid) as f:
                if not f.read().strip().startswith("wineserver"):
                    continue
            if not os.readlink("/proc/%s/cwd" % pid).endswith(tag):
                continue
            with open("/proc/%s/stat" % pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
        except OSError:
            continue
    return 0.0


class Run:
    """One program run. Measured runs go through /usr/bin/time, whose small process is the
    parent: a child forked straight from this (large) Python process would count our pages in its
    peak resident size."""

    def __init__(self, name, cmd, env=None, measured=False, work=None):
        self.name, self.cmd, self.env = name, cmd, env
        self.measured = measured
        self.timefile = os.path.join(work or tempfile.gettempdir(), "time.%d" % id(self))
        self.proc = None
        self.cpu = self.maxrss_kib = 0

    def start(self):
        cmd = self.cmd
        if self.measured:
            cmd = ["/usr/bin/time", "-f", "%U %S %M", "-o", self.timefile] + cmd
        self.t0 = time.monotonic()
        self.proc = subprocess.Popen(cmd, env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                     stdin=subprocess.DEVNULL)
        return self

    def wait(self, timeout):
        try:
            self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.wall = time.monotonic() - self.t0
        if self.measured and os.path.exists(self.timefile):
            with open(self.timefile) as f:
                last = [l for l in f.read().splitlines() if l.strip()][-1].split()
            self.cpu = float(last[0]) + float(last[1])
            self.maxrss_kib = int(last[2])
            os.remove(self.timefile)
        return self


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True, help="build/cmake of this tree")
    ap.add_argument("--prefix", required=True, help="Wine prefix")
    ap.add_argument("--size-mib", type=int, default=32)
    ap.add_argument("--rate-kib", type=int, default=512, help="per-connection cap")
    ap.add_argument("--sections", type=int, default=6)
    ap.add_argument("--timeout", type=float, default=300)
    args = ap.parse_args()

    driver = os.path.join(args.build, "bin", "dldriver.exe")
    work = tempfile.mkdtemp(prefix="vdbench_")
    size = args.size_mib * MIB
    rnd = random.Random(20261208)
    src = os.path.join(work, "p.bin")
    with open(src, "wb") as f:
        for _ in range(args.size_mib):
            f.write(rnd.randbytes(MIB))
    want = md5(src)

    srv = PackageServer(folder=work, max_requests=100000).start()
    srv.rate_bps = args.rate_kib * 1024
    url = "%s/p.bin" % srv.base_url
    env = dict(os.environ)
    for k in ("http_proxy", "https_proxy", "HTTP_PROXY", "no_proxy", "NO_PROXY"):
        env.pop(k, None)  # loopback, straight to the server
    env.update(WINEPREFIX=args.prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    out_win = "C:\\vdbench_out.bin"
    out_unix = os.path.join(args.prefix, "drive_c", "vdbench_out.bin")
    ideal = size / (args.sections * args.rate_kib * 1024.0)
    results = []

    def bytes_sent():
        with srv._state:
            return srv.body_bytes

    def measure(name, cmd, output, extra_cpu=None):
        if os.path.exists(output):
            os.remove(output)
        srv.reset()
        srv.rate_bps = args.rate_kib * 1024
        ws0 = wineserver_cpu(args.prefix) if extra_cpu else 0.0
        r = Run(name, cmd, env, measured=True, work=work).start().wait(args.timeout)
        r.server_cpu = (wineserver_cpu(args.prefix) - ws0) if extra_cpu else 0.0
        r.ok = os.path.exists(output) and md5(output) == want
        r.sent = bytes_sent()
        r.conns = len({q["client_port"] for q in srv.requests() if q["method"] == "GET"})
        r.gets = sum(1 for q in srv.requests() if q["method"] == "GET")
        results.append(r)
        return r

    print("file %d MiB, cap %d KiB/s per connection, %d sections; six-connection limit %.2f s"
          % (args.size_mib, args.rate_kib, args.sections, ideal))
    measure("vdInstaller dldriver (Wine, %d sections)" % args.sections,
            ["wine", driver, url, out_win, "--sections", str(args.sections), "--sub", "vdbench"], out_unix, True)
    # the floor for this design: the same requests from a bare WinINet program (bench/barewininet_main.cpp)
    measure("bare WinINet (Wine, same requests)",
            ["wine", os.path.join(args.build, "bin", "barewininet.exe"), url, out_win, "--sections",
             str(args.sections)], out_unix, True)
    measure("aria2c -x6 -s6 -k1M",
            ["aria2c", "-x6", "-s6", "-k1M", "--no-conf", "--file-allocation=none", "--allow-overwrite=true",
             "--auto-file-renaming=false", "--console-log-level=warn", "--summary-interval=0", "-d", work,
             "-o", "aria.bin", url], os.path.join(work, "aria.bin"))
    measure("curl (one connection)", ["curl", "-s", "--noproxy", "*", "-o", os.path.join(work, "curl.bin"), url],
            os.path.join(work, "curl.bin"))

    ours, bare, aria, curl = results
    print("%-40s %8s %8s %8s %10s %10s %8s %6s %6s %s" % ("", "wall s", "vs aria", "vs curl", "limit frac",
                                                         "CPU s/MiB", "peak MiB", "GETs", "conns", "md5"))
    for r in results:
        cpu = r.cpu + r.server_cpu
        print("%-40s %8.2f %8.3f %8.3f %10.3f %10.4f %8.1f %6d %6d %s"
              % (r.name, r.wall, r.wall / aria.wall, r.wall / curl.wall, ideal / r.wall, cpu / args.size_mib,
                 r.maxrss_kib / 1024.0, r.gets, r.conns, "ok" if r.ok else "MISMATCH"))
    print("(our CPU includes %.2f s of the prefix's wineserver; its process alone: %.2f s)"
          % (ours.server_cpu, ours.cpu))
    print("CPU per MiB against the bare WinINet program with the same requests: ours %.4f s, bare %.4f s, "
          "ratio %.2f (goal <= 1.3); GETs %d vs %d, connections %d vs %d"
          % ((ours.cpu + ours.server_cpu) / args.size_mib, (bare.cpu + bare.server_cpu) / args.size_mib,
             (ours.cpu + ours.server_cpu) / max(bare.cpu + bare.server_cpu, 1e-9), ours.gets, bare.gets,
             ours.conns, bare.conns))
    # what any Wine program costs before it does anything: the driver's usage text and exit
    ws0 = wineserver_cpu(args.prefix)
    idle = Run("idle", ["wine", driver], env, measured=True, work=work).start().wait(60)
    print("(Wine start-up and exit alone: %.2f s CPU, %.2f s of it in the wineserver, %.2f s wall)"
          % (idle.cpu + wineserver_cpu(args.prefix) - ws0, wineserver_cpu(args.prefix) - ws0, idle.wall))

    # Without a cap the progress throttle (80 ms asleep whenever the average passes 5120 KB/s)
    # is what limits us; aria2c shows what the loopback server gives.
    cap = args.rate_kib * 1024
    args.rate_kib = 0
    free_ours = measure("uncapped: dldriver", ["wine", driver, url, out_win, "--sections", str(args.sections), "--sub",
                                               "vdbench"], out_unix, True)
    free_aria = measure("uncapped: aria2c",
                        ["aria2c", "-x6", "-s6", "-k1M", "--no-conf", "--file-allocation=none",
                         "--allow-overwrite=true", "--auto-file-renaming=false", "--console-log-level=warn",
                         "--summary-interval=0", "-d", work, "-o", "aria.bin", url], os.path.join(work, "aria.bin"))
    for r in (free_ours, free_aria):
        print("%-40s %8.2f s  %8.0f KB/s  md5 %s" % (r.name, r.wall, size / 1024.0 / r.wall, "ok" if r.ok else "MISMATCH"))
    args.rate_kib = cap // 1024

    # Resume: kill the Wine process hard at about half, start again, count what was sent twice.
    part_dir = os.path.join(args.prefix, "drive_c", "users", os.environ.get("USER", "root"), "Temp",
                            "vdhttpTempCache", "vdbench_resume")
    shutil.rmtree(part_dir, ignore_errors=True)
    if os.path.exists(out_unix):
        os.remove(out_unix)
    srv.reset()
    srv.rate_bps = args.rate_kib * 1024
    cmd = ["wine", driver, url, out_win, "--sections", str(args.sections), "--sub", "vdbench_resume", "--resume"]
    first = Run("resume-1", cmd, env).start()
    deadline = time.monotonic() + args.timeout
    while bytes_sent() < size // 2 and time.monotonic() < deadline and first.proc.poll() is None:
        time.sleep(0.01)
    os.kill(first.proc.pid, signal.SIGKILL)
    first.wait(30)
    time.sleep(0.5)
    sent1 = bytes_sent()
    kept = 0
    if os.path.isdir(part_dir):
        for name in os.listdir(part_dir):
            kept += os.path.getsize(os.path.join(part_dir, name))
    second = Run("resume-2", cmd, env).start().wait(args.timeout)
    sent2 = bytes_sent() - sent1
    ok = os.path.exists(out_unix) and md5(out_unix) == want
    twice = sent1 + sent2 - size
    range_bytes = 131073
    print("resume: killed after %.2f s with %d bytes sent, %d kept in part files; second run %.2f s, %d bytes; "
          "md5 %s" % (first.wall, sent1, kept, second.wall, sent2, "ok" if ok else "MISMATCH"))
    print("resume: fetched twice %d bytes = %.2f ranges of %d bytes over %d sections (%.2f per section)"
          % (twice, twice / float(range_bytes), range_bytes, args.sections, twice / float(range_bytes) / args.sections))
    srv.stop()
    shutil.rmtree(work, ignore_errors=True)
    shutil.rmtree(part_dir, ignore_errors=True)
    for p in (out_unix,):
        if os.path.exists(p):
            os.remove(p)
    return 0


if __name__ == "__main__":
    sys.exit(main())
