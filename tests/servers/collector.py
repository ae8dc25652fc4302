"""Base of the telemetry collectors: a recording server whose answers can be switched off.

Modes (control "mode", JSON body {"mode": ..., "status": ..., "hold": ...}):
  ok      answer every post with `status` (200 unless told)
  slow    like ok, but each answer waits `hold` seconds (or until the mode changes)
  refuse  reset the connection right after accepting, before reading anything
  drop    read and record the request, then reset the connection without an answer
  hang    read and record, keep the connection open without an answer for `hold` seconds
          (at most 60), or until the mode changes, then reset it
The proxy passes a reset on, so the client's exchange fails as when the network is down (a
clean close without an answer would pass for an empty answer with some clients).
"""
import json
import socket
import struct
import threading

from .recording import RecordingHandler, RecordingServer

MODES = ("ok", "slow", "refuse", "drop", "hang")
MAX_HOLD = 60.0


class CollectorHandler(RecordingHandler):
    path_prefix = "/"

    def handle_request(self, rec, body):
        mode, status, hold = self.server.current_mode()
        rec["mode"] = mode
        if mode in ("drop", "hang"):
            rec["answered"] = False
            if mode == "hang":
                self.server.mode_changed.wait(hold)
            return self.reset_connection()
        if mode == "slow":
            self.server.mode_changed.wait(hold)
        if self.command != "POST" or not self.path.startswith(self.path_prefix):
            rec["answered"] = True
            return self.send_bytes(404, b"not found")
        try:
            self.server.inspect(rec, body)
        except Exception as exc:  # a body we cannot read is recorded, never fatal
            rec.setdefault("problems", []).append("inspection failed: %r" % (exc,))
        rec["answered"] = True
        self.send_bytes(status, b"ok", "text/plain")

    def reset_connection(self):
        self.close_connection = True
        self._was_reset = True
        try:
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.rfile.close()
            self.wfile.close()
            self.connection.close()
        except OSError:
            pass

    def finish(self):
        if not getattr(self, "_was_reset", False):
            super().finish()


class CollectorServer(RecordingServer):
    def __init__(self, handler, name, port=0, max_requests=None):
        kw = {} if max_requests is None else {"max_requests": max_requests}
        super().__init__(handler, name, port, **kw)
        self._mode_lock = threading.Lock()
        self.mode_changed = threading.Event()
        self.on_reset()

    def on_reset(self):
        self.set_mode("ok")

    def set_mode(self, mode, status=200, hold=10.0):
        if mode not in MODES:
            raise ValueError("unknown mode " + str(mode))
        with self._mode_lock:
            self.mode = (mode, int(status), max(0.0, min(float(hold), MAX_HOLD)))
            self.mode_changed.set()  # releases connections held by "hang"
            self.mode_changed = threading.Event()

    def current_mode(self):
        with self._mode_lock:
            return self.mode

    def verify_request(self, request, client_address):
        if self.current_mode()[0] != "refuse":
            return True
        try:
            request.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            request.close()
        except OSError:
            pass
        return False

    def inspect(self, rec, body):
        """Collector-specific reading of an accepted body; adds its findings to rec."""

    def posts(self):
        """The requests that were answered, oldest first."""
        return [r for r in self.requests() if r.get("answered")]

    def control(self, action, query, body):
        args = json.loads(body.decode("utf-8")) if body else {}
        args.update(query)
        if action == "mode":
            self.set_mode(args.get("mode", "ok"), args.get("status", 200), args.get("hold", 10.0))
            return 200, {"ok": True}
        return 404, {"error": "unknown control " + action}


def ordered_pairs(text):
    """JSON object members in the order they appear: [(key, value), ...] for every object."""
    return json.loads(text, object_pairs_hook=lambda pairs: pairs)
