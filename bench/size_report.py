#!/usr/bin/env python3
"""Where the bytes of vdInstaller.exe go, from the linker's map file.

usage: bench/size_report.py [MAP] [--exe EXE]
Prints bytes by library and by room (our own folders), split into code (.text), read-only
data (.rdata, .eh_frame, .gcc_except_table ...), writable data and resources.
"""
import collections
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "cmake")

# object file name -> room, from the source tree
ROOMS = {}
for room in ("app", "payload", "local", "net", "installer", "telemetry", "probes", "ui", "base"):
    for dirpath, _, files in os.walk(os.path.join(ROOT, room)):
        for f in files:
            if f.endswith((".cpp", ".c", ".rc")):
                ROOMS[f + ".obj"] = room
                ROOMS[f + ".res"] = room

KIND = {".text": "code", ".rdata": "rodata", ".eh_frame": "rodata", ".gcc_except_table": "rodata",
        ".data": "data", ".bss": "bss", ".rsrc": "resources", ".idata": "imports", ".tls": "data",
        ".CRT": "data", ".pdata": "rodata", ".xdata": "rodata"}


def owner(path):
    m = re.search(r"([^/\\]+)\.a\(([^)]+)\)$", path)
    if m:
        lib, member = m.group(1), m.group(2)
        if lib.startswith("libvd_"):  # one library per room
            return "ours", ROOMS.get(member, lib[len("libvd_"):])
        if lib in ("libjsoncpp",):
            return "jsoncpp", None
        if lib in ("libz", "libminizip"):
            return "zlib+minizip", None
        if lib.startswith("libstdc++") or lib.startswith("libsupc++"):
            return "libstdc++", None
        if lib in ("libgcc", "libgcc_eh"):
            return "libgcc", None
        if lib in ("libmingwex", "libmingw32", "libmsvcrt", "libwinpthread", "libmoldname", "libmingwthrd"):
            return "mingw runtime", None
        if lib in ("libgdiplus",):
            return "imports", None
        return "imports", None  # system import libraries
    base = os.path.basename(path)
    if "minizip.dir" in path:
        return "zlib+minizip", None
    if base in ROOMS:
        return "ours", ROOMS[base]
    if base.endswith(".res") or base.endswith(".rc.obj") or base.endswith(".rc.res"):
        return "ours", "app"
    return "mingw runtime", None


def parse(map_path):
    sizes = collections.defaultdict(lambda: collections.Counter())
    section = None
    started = False
    pending = None
    line_re = re.compile(r"^ (\S+)?\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")
    with open(map_path, errors="replace") as f:
        for raw in f:
            line = raw.rstrip("\n")
            if not started:
                started = line.startswith("Linker script and memory map")
                continue
            m = re.match(r"^(\.[A-Za-z_.]+)\s", line)
            if m and not line.startswith(" "):
                section = m.group(1)
                continue
            if re.match(r"^ \S+$", line):  # a long input section name alone on its line
                pending = line.strip()
                continue
            m = line_re.match(line)
            if not m or section is None:
                pending = None
                continue
            size = int(m.group(3), 16)
            path = m.group(4).strip()
            pending = None
            if size == 0 or path.startswith("*") or "(" in path and path.startswith("SORT"):
                continue
            kind = KIND.get(section, section)
            who, room = owner(path)
            key = who if who != "ours" else "ours: " + room
            sizes[key][kind] += size
    return sizes


def main():
    args = sys.argv[1:]
    map_path = os.path.join(BUILD, "vdInstaller.map")
    exe = os.path.join(BUILD, "bin", "vdInstaller.exe")
    if "--exe" in args:
        i = args.index("--exe")
        exe = args[i + 1]
        del args[i:i + 2]
    if args:
        map_path = args[0]
    sizes = parse(map_path)
    kinds = ["code", "rodata", "data", "resources", "imports"]
    print("| Owner | " + " | ".join(kinds) + " | total |")
    print("|---|" + "---:|" * (len(kinds) + 1))
    total = collections.Counter()
    rows = sorted(sizes.items(), key=lambda kv: -sum(kv[1][k] for k in kinds))
    for who, c in rows:
        t = sum(c[k] for k in kinds)
        if t == 0:
            continue
        total.update({k: c[k] for k in kinds})
        print("| %s | %s | %s |" % (who, " | ".join("{:,}".format(c[k]) for k in kinds), "{:,}".format(t)))
    print("| all | %s | %s |" % (" | ".join("{:,}".format(total[k]) for k in kinds),
                                 "{:,}".format(sum(total.values()))))
    if os.path.exists(exe):
        print("\n%s: %s bytes on disk (goal 1,200,000; limit 4,190,208)" % (os.path.basename(exe),
                                                                          "{:,}".format(os.path.getsize(exe))))


if __name__ == "__main__":
    main()
