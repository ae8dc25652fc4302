"""Package server: files answered to HEAD and GET, with single byte ranges.

Files come from a folder given at start and from the test (set_file). Range handling can be
switched off, and the HEAD status can be forced, to play servers that do not follow the rules.

Hostile behaviour for the downloader, set over the control path (or directly from Python):
  rate?bps=N                 every connection sends its bodies at no more than N bytes/s
  fault?kind=K&after=A&count=C[&method=GET][&...]
                             after A matching requests have passed, the next C (0: all later
                             ones) get fault K:
      status&status=S        answer S (404, 416, 500, ...) with a small text body
      whole200               a range request gets 200 and the whole file
      short&bytes=N          a range is answered 206 with only its first N bytes (honest headers)
      shift&by=N             a range is answered 206 with the bytes N further on (honest headers)
      long&bytes=N           a range is answered 206 from its first byte but with N bytes more
                             than asked, as far as the file goes (honest headers)
      drop&bytes=N           the promised body stops after N bytes and the connection is closed
      pause&bytes=N&ms=M     the body stops after N bytes for M ms (at most 10 s), then goes on
      delay&ms=N             the status line comes only after N ms
      norange206             a range is answered 206 with its bytes but no Content-Range
      endless&extra=N        a GET is answered 200 with no Content-Length: the whole file, then
                             N more bytes, then the connection closes
  fault?kind=none            no fault
  budget?max=N               only N more requests are answered; later ones get 503
  stats                      body bytes sent, GET and HEAD counts since the last reset
"""
import os
import re
import socket
import threading
import time
import urllib.parse

from .recording import RecordingHandler, RecordingServer

_RANGE = re.compile(r"^\s*bytes\s*=\s*(\d*)\s*-\s*(\d*)\s*$")


def parse_range(value, size):
    """(first, last) inclusive for one satisfiable range, None for no usable range header,
    'unsatisfiable' when it asks past the end."""
    if value is None:
        return None
    m = _RANGE.match(value)
    if not m or (m.group(1) == "" and m.group(2) == ""):
        return None
    if m.group(1) == "":
        n = int(m.group(2))
        if n == 0:
            return "unsatisfiable"
        return max(0, size - n), size - 1
    first = int(m.group(1))
    last = int(m.group(2)) if m.group(2) else size - 1
    if first >= size or last < first:
        return "unsatisfiable"
    return first, min(last, size - 1)


class _Bucket:
    """Token bucket of one connection: small bursts only, so the cap holds at any moment."""

    def __init__(self, rate):
        self.rate = float(rate)
        self.capacity = max(16384.0, self.rate / 10.0)
        self.tokens = 0.0
        self.stamp = time.monotonic()

    def take(self, n):
        while True:
            now = time.monotonic()
            self.tokens = min(self.capacity, self.tokens + (now - self.stamp) * self.rate)
            self.stamp = now
            if self.tokens >= n:
                self.tokens -= n
                return
            time.sleep(min(0.05, (n - self.tokens) / self.rate))


class PackageHandler(RecordingHandler):
    CHUNK = 16384

    def send_body(self, data, limit=None, pause=None):
        """Writes the body under the connection's rate cap; stops after `limit` bytes (a drop);
        `pause` (bytes, seconds) holds it back once on the way."""
        rate = self.server.rate_bps
        bucket = getattr(self, "_bucket", None)
        if rate and (bucket is None or bucket.rate != rate):
            bucket = self._bucket = _Bucket(rate)
        end = len(data) if limit is None else min(limit, len(data))
        pos = 0
        while pos < end:
            if pause and pos >= pause[0]:
                self.wfile.flush()
                time.sleep(pause[1])
                pause = None
            n = min(self.CHUNK, end - pos, pause[0] - pos if pause else end)
            if rate:
                bucket.take(n)
            self.wfile.write(data[pos:pos + n])
            self.server.count_bytes(n)
            pos += n

    def answer(self, status, data, headers=(), drop_after=None, length=True, pause=None):
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        if length:
            self.send_header("Content-Length", str(len(data)))
        else:
            self.send_header("Connection", "close")
            self.close_connection = True
        for k, v in headers:
            self.send_header(k, v)
        self.end_headers()
        if self.command == "HEAD":
            return
        self.send_body(data, drop_after, pause)
        if drop_after is not None and drop_after < len(data):
            self.wfile.flush()
            try:
                self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            self.close_connection = True

    def handle_request(self, rec, body):
        path = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path)
        if self.command not in ("GET", "HEAD"):
            return self.send_bytes(405, b"method not allowed")
        data = self.server.lookup(path)
        if data is None:
            return self.send_bytes(404, b"not found")
        size = len(data)
        fault = self.server.next_fault(self.command)
        kind = fault.get("kind") if fault else None
        if kind == "delay":
            time.sleep(int(fault.get("ms", "1000")) / 1000.0)
        elif kind == "status":
            return self.answer(int(fault.get("status", "500")), b"injected failure page\n")
        if self.command == "HEAD":
            status = self.server.head_status or 200
            self.send_response(status)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(self.server.head_length if self.server.head_length is not None else size))
            self.send_header("Accept-Ranges", "bytes" if self.server.honour_ranges else "none")
            self.end_headers()
            return
        rng = parse_range(self.header("Range"), size) if self.server.honour_ranges else None
        if rng == "unsatisfiable":
            return self.answer(416, b"", headers=[("Content-Range", "bytes */%d" % size)])
        drop = int(fault.get("bytes", "0")) if kind == "drop" else None
        pause = None
        if kind == "pause":
            pause = (int(fault.get("bytes", "0")), min(10.0, int(fault.get("ms", "1000")) / 1000.0))
        if kind == "endless":
            return self.answer(200, data + b"\xee" * int(fault.get("extra", "1")), length=False)
        if rng is None or kind == "whole200":
            return self.answer(200, data, drop_after=drop, pause=pause)
        first, last = rng
        if kind == "short":
            last = min(last, first + max(1, int(fault.get("bytes", "1"))) - 1)
        elif kind == "long":
            last = min(size - 1, last + max(1, int(fault.get("bytes", "1"))))
        elif kind == "shift":
            by = int(fault.get("by", "1"))
            first, last = min(first + by, size - 1), min(last + by, size - 1)
        headers = [] if kind == "norange206" else [("Content-Range", "bytes %d-%d/%d" % (first, last, size))]
        self.answer(206, data[first:last + 1], headers=headers, drop_after=drop, pause=pause)


class PackageServer(RecordingServer):
    def __init__(self, port=0, max_requests=None, folder=None):
        kw = {} if max_requests is None else {"max_requests": max_requests}
        super().__init__(PackageHandler, "package", port, **kw)
        self._state = threading.Lock()
        self.folder = folder
        self.files = {}
        self._cache = {}  # folder files by path: (mtime, size, bytes); ranged GETs would reread them
        self._budget_default = self.max_requests
        self.on_reset()

    def on_reset(self):
        with self._state:
            self.honour_ranges = True
            self.head_status = None
            self.head_length = None  # a Content-Length the HEAD answer claims instead of the real one
            self.rate_bps = 0
            self.fault = None
            self.body_bytes = 0
            self.counts = {"GET": 0, "HEAD": 0}
        with self.lock:
            self.max_requests = self._budget_default

    def count_bytes(self, n):
        with self._state:
            self.body_bytes += n

    def set_fault(self, kind=None, after=0, count=1, method="GET", **params):
        """Python side of fault?...: see the module text."""
        with self._state:
            if not kind or kind == "none":
                self.fault = None
            else:
                f = {"kind": kind, "after": int(after), "count": int(count), "method": method.upper()}
                f.update({k: str(v) for k, v in params.items()})
                self.fault = f

    def next_fault(self, method):
        """The fault this request gets, if any; counts the request either way."""
        with self._state:
            self.counts[method] = self.counts.get(method, 0) + 1
            f = self.fault
            if not f or f["method"] != method:
                return None
            if f["after"] > 0:
                f["after"] -= 1
                return None
            if f["count"] > 0:
                f["count"] -= 1
                if f["count"] == 0:
                    self.fault = None
            return dict(f)

    def set_budget(self, remaining):
        with self.lock:
            self.max_requests = self.seen + int(remaining)

    def set_file(self, path, data):
        with self._state:
            self.files[path] = bytes(data)

    def lookup(self, path):
        with self._state:
            if path in self.files:
                return self.files[path]
        if self.folder:
            full = os.path.realpath(os.path.join(self.folder, path.lstrip("/")))
            root = os.path.realpath(self.folder)
            if full.startswith(root + os.sep) and os.path.isfile(full):
                st = os.stat(full)
                with self._state:
                    hit = self._cache.get(full)
                    if hit and hit[0] == st.st_mtime_ns and hit[1] == st.st_size:
                        return hit[2]
                with open(full, "rb") as f:
                    data = f.read()
                with self._state:
                    self._cache = {full: (st.st_mtime_ns, st.st_size, data)}
                return data
        return None

    def control(self, action, query, body):
        if action == "file":
            self.set_file(query["path"], body)
        elif action == "ranges":
            self.honour_ranges = query.get("on", "1") == "1"
        elif action == "head_status":
            self.head_status = int(query["status"]) if query.get("status") else None
        elif action == "head_length":
            self.head_length = int(query["length"]) if query.get("length") else None
        elif action == "rate":
            with self._state:
                self.rate_bps = int(query.get("bps", "0") or 0)
        elif action == "fault":
            self.set_fault(**query)
        elif action == "budget":
            self.set_budget(query["max"])
        elif action == "stats":
            with self._state:
                return 200, {"body_bytes": self.body_bytes, "counts": dict(self.counts)}
        else:
            return 404, {"error": "unknown control " + action}
        return 200, {"ok": True}
