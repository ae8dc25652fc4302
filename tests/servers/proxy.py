"""Forwarding HTTP proxy on 127.0.0.1.

The installer's hosts are placeholders; WinINet sends every request to the proxy named by
http_proxy with an absolute URI. The proxy routes by host name (then by path prefix) to the local
servers, forwards the request line in origin form with the header lines and body untouched, and
relays the answer byte for byte, so faults of a server (short bodies, dropped connections) reach
the client as they are. Loopback hosts are forwarded to the port they name.
"""
import base64
import json
import socket
import socketserver
import struct
import threading
import time
import urllib.parse

MAX_HEADER_BYTES = 64 * 1024
IO_TIMEOUT = 30
RESET_DELAY = 0.25


class _Conn:
    def __init__(self, sock):
        self.sock = sock
        self.buf = b""

    def _fill(self):
        chunk = self.sock.recv(65536)
        if not chunk:
            return False
        self.buf += chunk
        return True

    def read_head(self):
        """Bytes up to and including the blank line, or None at a clean end of stream."""
        while b"\r\n\r\n" not in self.buf:
            if len(self.buf) > MAX_HEADER_BYTES:
                raise ValueError("header block too long")
            if not self._fill():
                if self.buf:
                    raise ValueError("stream ended inside the header block")
                return None
        i = self.buf.index(b"\r\n\r\n") + 4
        head, self.buf = self.buf[:i], self.buf[i:]
        return head

    def read_exact(self, n):
        while len(self.buf) < n:
            if not self._fill():
                raise EOFError("stream ended early")
        data, self.buf = self.buf[:n], self.buf[n:]
        return data

    def read_line(self):
        while b"\r\n" not in self.buf:
            if not self._fill():
                raise EOFError("stream ended early")
        i = self.buf.index(b"\r\n") + 2
        line, self.buf = self.buf[:i], self.buf[i:]
        return line

    def relay_exact(self, n, out):
        """Copies n bytes to out; returns False when the stream ended first."""
        if self.buf:
            take = self.buf[:n]
            self.buf = self.buf[n:]
            out.sendall(take)
            n -= len(take)
        while n > 0:
            chunk = self.sock.recv(min(65536, n))
            if not chunk:
                return False
            out.sendall(chunk)
            n -= len(chunk)
        return True

    def relay_to_eof(self, out):
        if self.buf:
            out.sendall(self.buf)
            self.buf = b""
        while True:
            chunk = self.sock.recv(65536)
            if not chunk:
                return
            out.sendall(chunk)


def _split_head(head):
    lines = head.decode("latin-1").split("\r\n")
    return lines[0], [l for l in lines[1:] if l != ""]


def _header(lines, name):
    name = name.lower()
    for l in lines:
        k, _, v = l.partition(":")
        if k.strip().lower() == name:
            return v.strip()
    return None


class ProxyHandler(socketserver.BaseRequestHandler):
    def handle(self):
        self.request.settimeout(IO_TIMEOUT)
        client = _Conn(self.request)
        try:
            while self._one(client):
                pass
        except (OSError, ValueError, EOFError):
            pass

    def _reset_client(self):
        # Wine's WinINet reads a reset that comes before it waits for the answer as an empty
        # answer (a success); one that comes while it waits fails the request as it should.
        time.sleep(RESET_DELAY)
        try:
            self.request.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.request.close()
        except OSError:
            pass

    def _reply(self, status, text, close=False):
        body = text.encode("utf-8")
        head = "HTTP/1.1 %d %s\r\nContent-Type: text/plain\r\nContent-Length: %d\r\n%s\r\n" % (
            status, "proxy", len(body), "Connection: close\r\n" if close else "")
        self.request.sendall(head.encode("latin-1") + body)

    def _read_body(self, client, lines):
        te = _header(lines, "Transfer-Encoding")
        if te and "chunked" in te.lower():
            raw = b""
            while True:
                size_line = client.read_line()
                raw += size_line
                n = int(size_line.split(b";")[0].strip() or b"0", 16)
                if n == 0:
                    while True:  # trailers up to the blank line
                        t = client.read_line()
                        raw += t
                        if t == b"\r\n":
                            return raw
                raw += client.read_exact(n + 2)
        length = _header(lines, "Content-Length")
        return client.read_exact(int(length)) if length else b""

    def _one(self, client):
        head = client.read_head()
        if head is None:
            return False
        request_line, lines = _split_head(head)
        parts = request_line.split(" ")
        if len(parts) != 3:
            self._reply(400, "bad request line", close=True)
            return False
        method, target, version = parts
        body = self._read_body(client, lines)
        server = self.server
        conn = (_header(lines, "Connection") or _header(lines, "Proxy-Connection") or "").lower()
        client_keeps = conn == "keep-alive" if version == "HTTP/1.0" else conn != "close"

        if method == "CONNECT":
            return self._tunnel(client, request_line, lines, target)

        if target.startswith("/__control/"):
            return self._control(target)

        if target.startswith("http://") or target.startswith("https://"):
            u = urllib.parse.urlsplit(target)
            host, port = u.hostname or "", u.port
            origin = u.path or "/"
            if u.query:
                origin += "?" + u.query
        else:
            hosthdr = _header(lines, "Host") or ""
            host, _, p = hosthdr.partition(":")
            port = int(p) if p.isdigit() else None
            origin = target

        route = server.route(host, port, origin)
        over = server.count()
        if route is None or over:
            self._record(request_line, lines, body, None, 503 if over else 502)
            self._reply(503 if over else 502, "no route to " + host, close=over or not client_keeps)
            return client_keeps and not over
        rec = self._record(request_line, lines, body, route, None)

        try:
            up = socket.create_connection(("127.0.0.1", route), timeout=IO_TIMEOUT)
        except ConnectionResetError:  # accepted, then reset: passed on like a reset later on
            rec["status"] = 0
            self._reset_client()
            return False
        except OSError:
            rec["status"] = 502
            self._reply(502, "cannot reach " + host, close=not client_keeps)
            return client_keeps
        try:
            out = ("%s %s %s\r\n" % (method, origin, version)).encode("latin-1")
            out += "".join(l + "\r\n" for l in lines).encode("latin-1") + b"\r\n" + body
            try:
                up.sendall(out)
                upstream = _Conn(up)
                rhead = upstream.read_head()
            except ConnectionError:
                # the server reset the connection before answering: so does the proxy
                rec["status"] = 0
                self._reset_client()
                return False
            if rhead is None:
                rec["status"] = 0
                return False  # the server hung up: so does the proxy
            status_line, rlines = _split_head(rhead)
            try:
                status = int(status_line.split(" ")[1])
            except (IndexError, ValueError):
                status = 0
            rec["status"] = status
            self.request.sendall(rhead)
            if method == "HEAD" or status in (204, 304) or 100 <= status < 200:
                return client_keeps
            te = _header(rlines, "Transfer-Encoding")
            length = _header(rlines, "Content-Length")
            if te and "chunked" in te.lower():
                self.request.sendall(self._read_body(upstream, rlines))
                return client_keeps
            if length is not None and length.isdigit():
                if not upstream.relay_exact(int(length), self.request):
                    return False  # short body: end the client's connection too
                closing = (_header(rlines, "Connection") or "").lower() == "close"
                return client_keeps and not closing
            upstream.relay_to_eof(self.request)
            return False
        finally:
            up.close()

    def _tunnel(self, client, request_line, lines, target):
        """CONNECT host:port to a local TLS server; bytes are relayed both ways until one side ends."""
        host, _, port = target.rpartition(":")
        route = self.server.tls_route(host)
        if route is None or self.server.count():
            self._record(request_line, lines, b"", None, 502)
            self._reply(502, "no tunnel to " + target, close=True)
            return False
        rec = self._record(request_line, lines, b"", route, 200)
        try:
            up = socket.create_connection(("127.0.0.1", route), timeout=IO_TIMEOUT)
        except OSError:
            rec["status"] = 502
            self._reply(502, "cannot reach " + target, close=True)
            return False
        self.request.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
        if client.buf:
            up.sendall(client.buf)
            client.buf = b""

        def pump(src, dst):
            try:
                while True:
                    chunk = src.recv(65536)
                    if not chunk:
                        break
                    dst.sendall(chunk)
            except OSError:
                pass
            finally:
                try:
                    dst.shutdown(socket.SHUT_WR)
                except OSError:
                    pass

        back = threading.Thread(target=pump, args=(up, self.request), daemon=True)
        back.start()
        pump(self.request, up)
        back.join(IO_TIMEOUT)
        up.close()
        return False

    def _record(self, request_line, lines, body, route, status):
        return self.server.record({
            "server": "proxy",
            "time": time.time(),
            "request_line": request_line,
            "method": request_line.split(" ")[0],
            "target": request_line.split(" ")[1] if " " in request_line else "",
            "raw_headers": lines,
            "body_b64": base64.b64encode(body).decode("ascii"),
            "body_len": len(body),
            "route": route,
            "status": status,
        })

    def _control(self, target):
        action = urllib.parse.urlsplit(target).path[len("/__control/"):]
        if action == "requests":
            data = json.dumps(self.server.requests()).encode("utf-8")
            status = 200
        elif action == "reset":
            self.server.reset()
            data, status = b'{"ok": true}', 200
        else:
            data, status = b'{"error": "unknown control"}', 404
        head = "HTTP/1.1 %d ok\r\nContent-Type: application/json\r\nContent-Length: %d\r\n\r\n" % (status, len(data))
        self.request.sendall(head.encode("latin-1") + data)
        return True


class ProxyServer(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, port=0, max_requests=20000):
        super().__init__(("127.0.0.1", port), ProxyHandler)
        self.name = "proxy"
        self.max_requests = max_requests
        self.lock = threading.Lock()
        self.records = []
        self.seen = 0
        self.hosts = {}  # lower-case host name -> local port
        self.paths = []  # (path prefix, local port), longest first
        self.tls_hosts = {}  # host name -> local TLS server port, reached by CONNECT
        self.thread = None

    @property
    def port(self):
        return self.server_address[1]

    @property
    def url(self):
        return "http://127.0.0.1:%d" % self.port

    def add_host(self, host, port):
        with self.lock:
            self.hosts[host.lower()] = port

    def add_path(self, prefix, port):
        with self.lock:
            self.paths.append((prefix, port))
            self.paths.sort(key=lambda p: -len(p[0]))

    def route(self, host, port, origin):
        with self.lock:
            h = (host or "").lower()
            if h in self.hosts:
                return self.hosts[h]
            if h in ("127.0.0.1", "localhost") and port:
                return port
            for prefix, p in self.paths:
                if origin.startswith(prefix):
                    return p
        return None

    def add_tls_host(self, host, port):
        with self.lock:
            self.tls_hosts[host.lower()] = port

    def tls_route(self, host):
        with self.lock:
            return self.tls_hosts.get((host or "").lower())

    def count(self):
        with self.lock:
            self.seen += 1
            return self.seen > self.max_requests

    def record(self, rec):
        with self.lock:
            rec["seq"] = len(self.records)
            self.records.append(rec)
        return rec

    def requests(self):
        with self.lock:
            return [dict(r) for r in self.records]

    def reset(self):
        with self.lock:
            self.records.clear()

    def start(self):
        self.thread = threading.Thread(target=self.serve_forever, name="proxy", daemon=True)
        self.thread.start()
        return self

    def stop(self):
        self.shutdown()
        self.server_close()
