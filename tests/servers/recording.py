"""Recording base of the local test servers.

Every request that reaches a server is kept in memory (method, target, version, header lines
exactly as received, body) and can be read by the test process directly or over the control path
"/__control/requests" of the server itself. Servers bind to 127.0.0.1 only and stop answering
after a bounded number of requests.
"""
import base64
import json
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

CONTROL_PREFIX = "/__control/"
DEFAULT_MAX_REQUESTS = 5000


class _TeeReader:
    """Wraps rfile so the header block is captured byte for byte while the stdlib parses it."""

    def __init__(self, raw):
        self._raw = raw
        self.lines = None

    def readline(self, *args):
        line = self._raw.readline(*args)
        if self.lines is not None:
            self.lines.append(line)
        return line

    def read(self, *args):
        return self._raw.read(*args)

    def __getattr__(self, name):
        return getattr(self._raw, name)


class RecordingServer(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, handler, name, port=0, max_requests=DEFAULT_MAX_REQUESTS):
        super().__init__(("127.0.0.1", port), handler)
        self.name = name
        self.max_requests = max_requests
        self.lock = threading.Lock()
        self.records = []
        self.seen = 0
        self.thread = None

    tls_context = None

    def enable_tls(self, certfile, keyfile):
        """Answers over TLS from now on (the handshake runs when a connection is accepted)."""
        import ssl
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(certfile, keyfile)
        self.tls_context = ctx

    def get_request(self):
        sock, addr = super().get_request()
        if self.tls_context is not None:
            sock.settimeout(30)
            sock = self.tls_context.wrap_socket(sock, server_side=True)
        return sock, addr

    def handle_error(self, request, client_address):
        pass  # a client that hangs up early is part of the tests, not news

    @property
    def port(self):
        return self.server_address[1]

    @property
    def base_url(self):
        return "http://127.0.0.1:%d" % self.port

    def start(self):
        self.thread = threading.Thread(target=self.serve_forever, name=self.name, daemon=True)
        self.thread.start()
        return self

    def stop(self):
        self.shutdown()
        self.server_close()

    def record(self, rec):
        with self.lock:
            rec["seq"] = len(self.records)
            self.records.append(rec)

    def requests(self):
        with self.lock:
            return [dict(r) for r in self.records]

    def reset(self):
        with self.lock:
            self.records.clear()
        self.on_reset()

    def on_reset(self):
        """Servers drop their scenario state here."""

    def control(self, action, query, body):
        """Server-specific commands; returns (status, json-able object)."""
        return 404, {"error": "unknown control " + action}


class RecordingHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "vdtest/1.0"

    def setup(self):
        super().setup()
        self.rfile = _TeeReader(self.rfile)

    def handle_one_request(self):
        self.rfile.lines = []
        try:
            super().handle_one_request()
        finally:
            self.rfile.lines = None

    def log_message(self, fmt, *args):  # quiet: the records are the log
        pass

    # --- request bookkeeping -------------------------------------------------------------
    def _raw_header_lines(self):
        lines = self.rfile.lines or []
        out = []
        for raw in lines[1:]:  # the first line is the request line
            text = raw.decode("latin-1").rstrip("\r\n")
            if text == "":
                break
            out.append(text)
        return out

    def read_body(self):
        length = self.headers.get("Content-Length")
        if length is None:
            return b""
        try:
            n = int(length)
        except ValueError:
            return b""
        return self.rfile.read(max(0, min(n, 64 * 1024 * 1024)))

    def _record(self, body):
        rec = {
            "server": self.server.name,
            "time": time.time(),
            "client_port": self.client_address[1],
            "method": self.command,
            "target": self.path,
            "version": self.request_version,
            "request_line": self.requestline,
            "headers": [[k, v] for k, v in self.headers.items()],
            "raw_headers": self._raw_header_lines(),
            "body_b64": base64.b64encode(body).decode("ascii"),
            "body_len": len(body),
        }
        self.server.record(rec)
        return rec

    def header(self, name, default=None):
        return self.headers.get(name, default)

    # --- dispatch --------------------------------------------------------------------------
    def _dispatch(self):
        body = self.read_body()
        if self.path.startswith(CONTROL_PREFIX):
            return self._control(body)
        with self.server.lock:
            self.server.seen += 1
            over = self.server.seen > self.server.max_requests
        rec = self._record(body)
        if over:
            return self.send_bytes(503, b"request budget used up", close=True)
        self.handle_request(rec, body)

    do_GET = do_HEAD = do_POST = do_PUT = do_DELETE = do_OPTIONS = _dispatch

    def handle_request(self, rec, body):
        self.send_bytes(404, b"not found")

    def _control(self, body):
        parsed = urllib.parse.urlsplit(self.path)
        action = parsed.path[len(CONTROL_PREFIX):]
        query = dict(urllib.parse.parse_qsl(parsed.query, keep_blank_values=True))
        if action == "requests":
            return self.send_json(200, self.server.requests())
        if action == "reset":
            self.server.reset()
            return self.send_json(200, {"ok": True})
        try:
            status, obj = self.server.control(action, query, body)
        except Exception as exc:  # a bad command must not take the server down
            status, obj = 400, {"error": repr(exc)}
        return self.send_json(status, obj)

    # --- answers ---------------------------------------------------------------------------
    def send_bytes(self, status, data, content_type="application/octet-stream", headers=None, close=False):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        for k, v in (headers or []):
            self.send_header(k, v)
        if close:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(data)

    def send_json(self, status, obj):
        self.send_bytes(status, json.dumps(obj).encode("utf-8"), "application/json; charset=utf-8")


def decode_body(rec):
    return base64.b64decode(rec["body_b64"])


def body_arg(args):
    """Answer bytes of a control command: "body_b64" (any bytes) or "body" (text, sent as UTF-8)."""
    if args.get("body_b64") is not None:
        return base64.b64decode(args["body_b64"])
    if args.get("body") is not None:
        return args["body"].encode("utf-8")
    return None
