"""Package server: files answered to HEAD and GET, with single byte ranges.

Files come from a folder given at start and from the test (set_file). Range handling can be
switched off, and the HEAD status can be forced, to play servers that do not follow the rules.
"""
import os
import re
import threading
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


class PackageHandler(RecordingHandler):
    def handle_request(self, rec, body):
        path = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path)
        if self.command not in ("GET", "HEAD"):
            return self.send_bytes(405, b"method not allowed")
        data = self.server.lookup(path)
        if data is None:
            return self.send_bytes(404, b"not found")
        size = len(data)
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
            return self.send_bytes(416, b"", headers=[("Content-Range", "bytes */%d" % size)])
        if rng is None:
            return self.send_bytes(200, data)
        first, last = rng
        self.send_bytes(206, data[first:last + 1],
                        headers=[("Content-Range", "bytes %d-%d/%d" % (first, last, size))])


class PackageServer(RecordingServer):
    def __init__(self, port=0, max_requests=None, folder=None):
        kw = {} if max_requests is None else {"max_requests": max_requests}
        super().__init__(PackageHandler, "package", port, **kw)
        self._state = threading.Lock()
        self.folder = folder
        self.files = {}
        self.on_reset()

    def on_reset(self):
        with self._state:
            self.honour_ranges = True
            self.head_status = None
            self.head_length = None  # a Content-Length the HEAD answer claims instead of the real one

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
                with open(full, "rb") as f:
                    return f.read()
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
        else:
            return 404, {"error": "unknown control " + action}
        return 200, {"ok": True}
