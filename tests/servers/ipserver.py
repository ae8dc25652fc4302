"""Public IP lookup: GET "/service/getIpInfo2.php?ip=myip".

Answers come from a queue of one-shot answers that the test fills, then from the standing answer.
"""
import json
import threading
import urllib.parse

from .recording import RecordingHandler, RecordingServer, body_arg

ENDPOINT = "/service/getIpInfo2.php"
DEFAULT_IP = "203.0.113.7"


class IpHandler(RecordingHandler):
    def handle_request(self, rec, body):
        if self.command != "GET" or urllib.parse.urlsplit(self.path).path != ENDPOINT:
            return self.send_bytes(404, b"not found")
        status, data, cut = self.server.next_answer()
        if cut is None:
            return self.send_bytes(status, data, "application/json; charset=utf-8")
        # announce the whole body, send only its start, hang up
        self.send_response(status)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data[:cut])
        self.wfile.flush()
        self.close_connection = True


class IpServer(RecordingServer):
    def __init__(self, port=0, max_requests=None):
        kw = {} if max_requests is None else {"max_requests": max_requests}
        super().__init__(IpHandler, "iplookup", port, **kw)
        self._state = threading.Lock()
        self.on_reset()

    def on_reset(self):
        with self._state:
            self.queue = []
            self.standing = (200, self.answer_bytes(0, DEFAULT_IP), None)

    @staticmethod
    def answer_bytes(code, ip):
        return json.dumps({"code": code, "data": {"ip": ip, "country": "", "region": ""}}).encode("utf-8")

    def push(self, status=200, body=None, obj=None, cut=None):
        """One-shot answer for the next request; `cut` sends only that many body bytes, then hangs up."""
        if obj is not None:
            body = json.dumps(obj).encode("utf-8")
        if isinstance(body, str):
            body = body.encode("utf-8")
        with self._state:
            self.queue.append((status, body or b"", cut))

    def set_standing(self, status=200, body=None, obj=None):
        if obj is not None:
            body = json.dumps(obj).encode("utf-8")
        if isinstance(body, str):
            body = body.encode("utf-8")
        with self._state:
            self.standing = (status, body or b"", None)

    def next_answer(self):
        with self._state:
            return self.queue.pop(0) if self.queue else self.standing

    def control(self, action, query, body):
        args = json.loads(body.decode("utf-8")) if body else {}
        raw = body_arg(args)
        if action == "push":
            self.push(int(args.get("status", 200)), raw, args.get("json"), args.get("cut"))
        elif action == "standing":
            self.set_standing(int(args.get("status", 200)), raw, args.get("json"))
        else:
            return 404, {"error": "unknown control " + action}
        return 200, {"ok": True}
