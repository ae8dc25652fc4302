"""The local test servers themselves: routing, byte-for-byte relaying, ranges and budgets.

Later suites rely on these servers to tell the truth about the wire, so their faults are tested here.
"""
import json
import os
import socket
import subprocess
import sys
import time
import urllib.request

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))
from servers import ServerSet  # noqa: E402
from servers.packageserver import parse_range  # noqa: E402


@pytest.fixture
def srv():
    with ServerSet(timeout=120, max_requests=50) as s:
        yield s


def raw_exchange(port, data, timeout=10):
    """Sends raw bytes to the proxy and reads until the peer closes."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(data)
        out = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                return out
            out += chunk


def test_range_rules():
    assert parse_range("bytes=2-10", 100) == (2, 10)
    assert parse_range("bytes=90-", 100) == (90, 99)
    assert parse_range("bytes=-5", 100) == (95, 99)
    assert parse_range("bytes=50-500", 100) == (50, 99)
    assert parse_range("bytes=100-", 100) == "unsatisfiable"
    assert parse_range("bytes=5-2", 100) == "unsatisfiable"
    assert parse_range("bytes=-0", 100) == "unsatisfiable"
    assert parse_range("items=1-2", 100) is None
    assert parse_range("bytes=-", 100) is None
    assert parse_range(None, 100) is None


def test_proxy_routes_by_host_and_keeps_header_lines(srv):
    srv.package.set_file("/p/f.bin", bytes(range(256)) * 40)
    req = (b"GET http://dl.vardo.example/p/f.bin HTTP/1.1\r\nHost: dl.vardo.example\r\n"
           b"Connection:Keep-Alive\r\nRange: bytes=2-10\r\n\r\n"
           b"HEAD http://DL.VARDO.EXAMPLE:80/p/f.bin HTTP/1.1\r\nHost: dl.vardo.example\r\nConnection: close\r\n\r\n")
    out = raw_exchange(srv.proxy.port, req)
    assert out.startswith(b"HTTP/1.1 206")
    assert b"Content-Range: bytes 2-10/10240" in out
    assert bytes(range(2, 11)) in out
    assert out.count(b"HTTP/1.1 ") == 2  # both requests on one kept-alive client connection
    assert b"Content-Length: 10240" in out.split(b"HTTP/1.1 200")[1]
    recs = srv.package.requests()
    assert [r["method"] for r in recs] == ["GET", "HEAD"]
    assert recs[0]["target"] == "/p/f.bin"
    assert "Connection:Keep-Alive" in recs[0]["raw_headers"]  # not normalised on the way
    prox = srv.proxy.requests()
    assert prox[0]["request_line"] == "GET http://dl.vardo.example/p/f.bin HTTP/1.1"
    assert prox[0]["route"] == srv.package.port


def test_proxy_answers_502_for_unknown_hosts_and_relays_post_bodies(srv):
    out = raw_exchange(srv.proxy.port, b"GET http://elsewhere.example/ HTTP/1.1\r\nHost: elsewhere.example\r\n"
                                       b"Connection: close\r\n\r\n")
    assert out.startswith(b"HTTP/1.1 502")
    body = bytes(range(256)) * 3
    req = (b"POST http://dl.vardo.example/vip/v.html?t=121 HTTP/1.0\r\nHost: dl.vardo.example\r\n"
           b"Content-Length: %d\r\n\r\n" % len(body)) + body
    out = raw_exchange(srv.proxy.port, req)
    assert out.startswith(b"HTTP/1.1 405")
    rec = srv.package.requests()[-1]
    assert rec["version"] == "HTTP/1.0" and rec["body_len"] == len(body)
    import base64
    assert base64.b64decode(rec["body_b64"]) == body


def test_short_body_reaches_the_client_as_a_dropped_connection(srv):
    srv.iplookup.push(200, b"x" * 20000, cut=5000)
    out = raw_exchange(srv.proxy.port, b"GET http://ip.vardo.example/service/getIpInfo2.php?ip=myip HTTP/1.1\r\n"
                                       b"Host: ip.vardo.example\r\n\r\n")
    head, _, body = out.partition(b"\r\n\r\n")
    assert b"Content-Length: 20000" in head
    assert body == b"x" * 5000  # and the proxy hung up instead of waiting forever


def test_config_server_per_channel_failures_and_control_path(srv):
    op = urllib.request.build_opener(urllib.request.ProxyHandler({"http": srv.proxy.url}))
    url = "http://config.vardo.example/vdpm/vdpm.ashx?appname=pamo30&channel=%s&x64=1&env=0"
    data = json.loads(op.open(url % "empty").read())
    assert data["Data"][0]["Channel"] == "empty" and data["Data"][0]["X64"] is True
    ctl = urllib.request.Request(srv.config.base_url + "/__control/fail",
                                 data=json.dumps({"channel": "pmgw", "status": 503}).encode(), method="POST")
    assert urllib.request.urlopen(ctl).status == 200
    with pytest.raises(urllib.error.HTTPError) as e:
        op.open(url % "pmgw")
    assert e.value.code == 503
    srv.config.fail(status=500)
    with pytest.raises(urllib.error.HTTPError):
        op.open(url % "empty")
    recs = json.loads(urllib.request.urlopen(srv.config.base_url + "/__control/requests").read())
    assert [r["target"].split("channel=")[1].split("&")[0] for r in recs] == ["empty", "pmgw", "empty"]
    srv.reset()
    assert srv.config.requests() == [] and srv.config.fail_all is None


def test_request_budget_and_time_limit():
    with ServerSet(timeout=2, max_requests=3) as s:
        base = s.package.base_url
        codes = []
        for _ in range(5):
            try:
                codes.append(urllib.request.urlopen(base + "/nothing").status)
            except urllib.error.HTTPError as e:
                codes.append(e.code)
        assert codes == [404, 404, 404, 503, 503]
        time.sleep(3)
        with pytest.raises(OSError):
            urllib.request.urlopen(base + "/nothing", timeout=2)


def test_launcher_runs_a_command_with_the_proxy_and_stops(tmp_path):
    port_file = tmp_path / "ports.json"
    code = ("import os,json,urllib.request;"
            "p=json.load(open(%r));"
            "assert os.environ['http_proxy']=='http://127.0.0.1:%%d'%%p['proxy'];"
            "assert os.environ['VD_SRV_CONFIG']==str(p['config']);"
            "print(urllib.request.urlopen('http://ip.vardo.example/service/getIpInfo2.php?ip=myip').read().decode())"
            % str(port_file))
    env = dict(os.environ, PYTHONPATH=os.path.join(os.path.dirname(__file__), ".."))
    p = subprocess.run(["/usr/bin/python3", "-m", "servers", "--port-file", str(port_file), "--timeout", "60",
                        "--exec", "--", "/usr/bin/python3", "-c", code], env=env, capture_output=True, timeout=90)
    assert p.returncode == 0, p.stderr.decode()
    assert json.loads(p.stdout)["data"]["ip"] == "203.0.113.7"
    assert not port_file.exists()
    p = subprocess.run(["/usr/bin/python3", "-m", "servers", "--exec", "--", "/bin/sh", "-c", "exit 7"],
                       env=env, capture_output=True, timeout=60)
    assert p.returncode == 7
