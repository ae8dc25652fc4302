"""python3 -m servers --port-file F [--timeout S] [--files DIR] [--exec -- command args...]

Without --exec the servers run until SIGTERM/SIGINT or the time limit; the port file (JSON, written
under a ".tmp" name and renamed) appears once every server listens. With --exec the command runs
with http_proxy and VD_SRV_* pointing at the servers, and its exit code becomes ours.
"""
import argparse
import os
import signal
import subprocess
import sys
import threading

from . import ServerSet


def main(argv=None):
    argv = list(sys.argv[1:] if argv is None else argv)
    command = []
    if "--exec" in argv:
        i = argv.index("--exec")
        command = argv[i + 1:]
        if command[:1] == ["--"]:
            command = command[1:]
        argv = argv[:i]
    ap = argparse.ArgumentParser(prog="servers")
    ap.add_argument("--port-file")
    ap.add_argument("--timeout", type=float, default=900.0, help="seconds before everything stops")
    ap.add_argument("--max-requests", type=int, default=5000)
    ap.add_argument("--files", help="folder served by the package server")
    ap.add_argument("--build", help="build folder whose vd_endpoints.h names the hosts")
    ap.add_argument("--tls", action="store_true", help="also serve the package files over https")
    args = ap.parse_args(argv)

    srv = ServerSet(build_dir=args.build, files_dir=args.files, timeout=args.timeout,
                    max_requests=args.max_requests, tls=args.tls)
    try:
        if args.port_file:
            srv.write_port_file(args.port_file)
        if command:
            try:
                return subprocess.run(command, env=srv.env(), timeout=args.timeout).returncode
            except subprocess.TimeoutExpired:
                print("servers: command ran out of time", file=sys.stderr)
                return 124
        done = threading.Event()
        for sig in (signal.SIGTERM, signal.SIGINT):
            signal.signal(sig, lambda *a: done.set())
        done.wait(args.timeout)
        return 0
    finally:
        srv.close()
        if args.port_file and os.path.exists(args.port_file):
            os.remove(args.port_file)


if __name__ == "__main__":
    sys.exit(main())
