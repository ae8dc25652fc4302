"""Configuration server: GET "/vdpm/vdpm.ashx" answered per channel.

Every channel gets a standard answer built from the package description unless the test set its
own answer (any status, any bytes) or told the server to fail.
"""
import json
import threading
import urllib.parse

from .recording import RecordingHandler, RecordingServer, body_arg

ENDPOINT = "/vdpm/vdpm.ashx"


class ConfigHandler(RecordingHandler):
    def handle_request(self, rec, body):
        parsed = urllib.parse.urlsplit(self.path)
        if self.command != "GET" or parsed.path != ENDPOINT:
            return self.send_bytes(404, b"not found")
        # the installer does not escape its values, so split by hand: "&" inside a channel is lost
        # on the server exactly as it would be on the real one
        query = dict(urllib.parse.parse_qsl(parsed.query, keep_blank_values=True))
        hold, released = self.server.hang_seconds, self.server.released
        if hold:
            released.wait(hold)
        status, data, ctype = self.server.answer_for(query)
        self.send_bytes(status, data, ctype)


class ConfigServer(RecordingServer):
    def __init__(self, port=0, max_requests=None, package=None):
        kw = {} if max_requests is None else {"max_requests": max_requests}
        super().__init__(ConfigHandler, "config", port, **kw)
        self._state = threading.Lock()
        self.package = dict(package or {})
        self.on_reset()

    def on_reset(self):
        with self._state:
            self.answers = {}  # channel -> (status, bytes, content type)
            self.fail_all = None
            self.hang_seconds = 0
            released = getattr(self, "released", None)
            if released:
                released.set()  # a reset lets held answers go
            self.released = threading.Event()

    def set_hang(self, seconds):
        """Every answer waits `seconds` (at most 60) before it is sent, or until a reset."""
        with self._state:
            self.hang_seconds = max(0.0, min(60.0, float(seconds)))

    # --- scenario ------------------------------------------------------------------------------
    def set_package(self, **fields):
        """Fields of the standard answer: AppName, Id, Size, Url, Version, X64, HashValue."""
        with self._state:
            self.package.update(fields)

    def set_answer(self, channel, status=200, body=None, obj=None, content_type="application/json; charset=utf-8"):
        if obj is not None:
            body = json.dumps(obj).encode("utf-8")
        if isinstance(body, str):
            body = body.encode("utf-8")
        with self._state:
            self.answers[channel] = (status, body or b"", content_type)

    def fail(self, channel=None, status=500):
        """Fail one channel, or every channel when none is named."""
        if channel is None:
            with self._state:
                self.fail_all = status
        else:
            self.set_answer(channel, status, b"server failure", content_type="text/plain")

    def standard_answer(self, query):
        item = {
            "AppName": query.get("appname", ""),
            "Channel": query.get("channel", ""),
            "Id": 1001,
            "Size": 0,
            "Url": "",
            "Version": "",
            "X64": query.get("x64") == "1",
            "HashValue": "",
        }
        item.update(self.package)
        return {"Code": 0, "Msg": "ok", "Data": [item]}

    def answer_for(self, query):
        channel = query.get("channel", "")
        with self._state:
            if self.fail_all is not None:
                return self.fail_all, b"server failure", "text/plain"
            if channel in self.answers:
                return self.answers[channel]
        return 200, json.dumps(self.standard_answer(query)).encode("utf-8"), "application/json; charset=utf-8"

    def control(self, action, query, body):
        args = json.loads(body.decode("utf-8")) if body else {}
        if action == "package":
            self.set_package(**args)
        elif action == "answer":
            self.set_answer(args["channel"], int(args.get("status", 200)), body=body_arg(args), obj=args.get("json"))
        elif action == "fail":
            self.fail(args.get("channel"), int(args.get("status", 500)))
        elif action == "hang":
            self.set_hang(args.get("seconds", 20))
        else:
            return 404, {"error": "unknown control " + action}
        return 200, {"ok": True}
