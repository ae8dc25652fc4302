#!/usr/bin/env python3
"""Install benchmark: a 16 MiB setup package served by the local package server.

Whole: vdInstaller.exe started with the install switch until its log reports the successful
installation feedback. Parts, in the same run and on the same package: the six-section download
alone (dldriver.exe), the digest (installbench.exe md5) and the silent setup with its product
check (installbench.exe setup). Prints each figure (median of the rounds) and the ratio of the
whole to the sum of its parts. Run by bench/install_bench.sh.
"""
import argparse
import os
import random
import re
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
sys.path.insert(0, os.path.join(ROOT, "tests"))
import vdharness as h  # noqa: E402
from servers import ServerSet  # noqa: E402
from servers.product import serve_package  # noqa: E402

SIZE = 16 * 1024 * 1024
VERSION = "3.2.1.0"
FEEDBACK = "WM_USER_EXEC_INST_FEEDBACK nFeedback == 1"


def build_package(out_dir):
    """The benchmark package, rebuilt only when missing."""
    out = os.path.join(out_dir, "VardoBench.exe")
    if os.path.exists(out) and abs(os.path.getsize(out) - SIZE) < 64 * 1024:
        return out
    os.makedirs(out_dir, exist_ok=True)
    bindir = os.path.join(ROOT, "build", "product", "bin")
    fixed = sum(os.path.getsize(os.path.join(bindir, n)) for n in ("Vardo32.exe", "Launcher.exe", "Helper.exe"))
    payload = os.path.join(out_dir, "payload.bin")
    rnd = random.Random(20261208)
    with open(payload, "wb") as f:
        f.write(rnd.randbytes(SIZE - fixed - 60 * 1024))
    subprocess.run(["makensis", "-V2", "-DOUTFILE=" + out, "-DBINDIR=" + bindir, "-DPAYLOAD=" + payload,
                    "-DVERSION=" + VERSION, os.path.join(HERE, "bench_setup.nsi")], check=True, timeout=600,
                   stdout=subprocess.DEVNULL)
    os.remove(payload)
    return out


def temp_caches():
    for name in ("vdhttpTempCache", "vdhttpTempOutput"):
        shutil.rmtree(os.path.join(h.temp_dir(), name), ignore_errors=True)


def field(text, key):
    m = re.search(r"\b%s=([0-9.]+)" % key, text)
    return float(m.group(1)) if m else None


def print_trace(log):
    """Every record of a run logged with VD_LOG_MS=1: milliseconds since the first, first line."""
    parts = re.split(r"------------Time:\d{4}/\d\d/\d\d (\d\d):(\d\d):(\d\d)\.(\d{3})---------------\n", log)
    first = None
    for i in range(1, len(parts) - 4, 5):
        ms = ((int(parts[i]) * 60 + int(parts[i + 1])) * 60 + int(parts[i + 2])) * 1000 + int(parts[i + 3])
        first = ms if first is None else first
        text = parts[i + 4].strip().splitlines()
        print("   %6d  %s" % (ms - first, text[0][:110] if text else ""))


def whole_run(srv, folder, trace=False):
    h.clean_data()
    temp_caches()
    shutil.rmtree(h.from_windows(folder), ignore_errors=True)
    env = srv.env()
    if trace:
        env["VD_LOG_MS"] = "1"
    t0 = time.monotonic()
    proc = h.start(h.EXE, ["/i", "/d", folder], env=env)
    t1 = None
    try:
        deadline = t0 + 300
        while time.monotonic() < deadline:
            if FEEDBACK in h.read_log():
                t1 = time.monotonic()
                break
            if proc.poll() is not None:
                break
            time.sleep(0.02)
        proc.wait(timeout=60)
    finally:
        h.stop(proc)
    if t1 is None:
        raise RuntimeError("no successful installation; log:\n" + h.read_log()[-3000:])
    if trace:
        print("== trace of the last whole run (ms since its first log record)")
        print_trace(h.read_log())
    return (t1 - t0) * 1000.0


def run_tool(srv, args, timeout=300):
    rc, out = h.run(args[0], args[1:], timeout=timeout, env=srv.env())
    return rc, out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--trace", action="store_true", help="print the last whole run's log with milliseconds")
    ap.add_argument("--rate-kib", type=int, default=512, help="per-connection cap of the package server, 0: none")
    args = ap.parse_args()
    h.ensure_wineserver()
    pkg = build_package(os.path.join(ROOT, "build", "bench"))
    size = os.path.getsize(pkg)
    print("== package %s: %d bytes (%.2f MiB)" % (pkg, size, size / 1048576.0))
    dldriver = os.path.join(h.BIN, "dldriver.exe")
    tool = os.path.join(h.BIN, "installbench.exe")
    out_win = "C:\\VdBench\\vdinst.exe"
    results = {"whole": [], "download": [], "digest": [], "setup": [], "aria2c": []}
    aria_dir = os.path.join(ROOT, "build", "bench", "aria")
    with ServerSet(build_dir=os.path.join(ROOT, "build", "cmake"), timeout=3600) as srv:
        desc = serve_package(srv, pkg, VERSION)
        for r in range(args.rounds):
            srv.package.rate_bps = args.rate_kib * 1024
            results["whole"].append(whole_run(srv, "C:\\VdBench\\whole", args.trace and r == args.rounds - 1))

            temp_caches()
            shutil.rmtree(h.from_windows("C:\\VdBench\\parts"), ignore_errors=True)
            os.makedirs(h.from_windows("C:\\VdBench"), exist_ok=True)
            rc, out = run_tool(srv, [dldriver, desc["Url"], out_win, "--sections", "6", "--resume",
                                     "--sub", "bench_%d" % r])
            if rc != 0:
                raise RuntimeError("download failed: " + out)
            results["download"].append(field(out, "ms"))

            rc, out = run_tool(srv, [tool, "md5", out_win])
            if rc != 0:
                raise RuntimeError("digest failed: " + out)
            results["digest"].append(field(out, "ms"))

            rc, out = run_tool(srv, [tool, "setup", out_win, "C:\\VdBench\\parts", VERSION])
            if rc != 0:
                raise RuntimeError("setup failed: " + out)
            results["setup"].append(field(out, "ms"))

            # the peer: aria2c alone fetching the same package through the same proxy and server
            shutil.rmtree(aria_dir, ignore_errors=True)
            t0 = time.monotonic()
            subprocess.run(["aria2c", "-x6", "-s6", "-k1M", "--no-conf", "--file-allocation=none",
                            "--console-log-level=warn", "--summary-interval=0", "-d", aria_dir, "-o", "p.exe",
                            desc["Url"]], env=srv.env(), check=True, timeout=300, stdout=subprocess.DEVNULL)
            results["aria2c"].append((time.monotonic() - t0) * 1000.0)
            if os.path.getsize(os.path.join(aria_dir, "p.exe")) != size:
                raise RuntimeError("aria2c fetched a different size")
            print("   round %d: whole %.0f ms, download %.0f ms, digest %.0f ms, setup %.0f ms, aria2c %.0f ms" % (
                r + 1, results["whole"][-1], results["download"][-1], results["digest"][-1], results["setup"][-1],
                results["aria2c"][-1]))
        gets = srv.package.counts.get("GET", 0) if hasattr(srv.package, "counts") else 0
    med = {k: statistics.median(v) for k, v in results.items()}
    parts = med["download"] + med["digest"] + med["setup"]
    print("== medians of %d rounds (ms)" % args.rounds)
    print("   whole (start with /i -> success feedback) %8.0f" % med["whole"])
    print("   download alone (6 sections)              %8.0f" % med["download"])
    print("   digest                                   %8.0f" % med["digest"])
    print("   setup run with product check             %8.0f" % med["setup"])
    print("   sum of parts                             %8.0f" % parts)
    print("== whole / sum of parts = %.2f" % (med["whole"] / parts))
    print("== whole / aria2c's plain download (%d KiB/s per connection) = %.2f (goal <= 1.2; aria2c %.0f ms)"
          % (args.rate_kib, med["whole"] / med["aria2c"], med["aria2c"]))
    print("   package server GET requests in the run: %d" % gets)
    shutil.rmtree(h.from_windows("C:\\VdBench"), ignore_errors=True)
    h.clean_data()
    temp_caches()
    return 0


if __name__ == "__main__":
    sys.exit(main())
