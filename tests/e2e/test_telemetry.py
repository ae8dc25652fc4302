"""Telemetry end to end: the driver runs the workers the way the main window does, against the
local collectors, which decrypt and check what arrives; unsent records survive into the next run."""
import base64
import json
import os
import sys

import pytest

import vdharness as h

sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))
from servers import ServerSet  # noqa: E402
from servers.statscollector import decode_transport, decrypt, encrypt  # noqa: E402

DRIVER = os.path.join(h.BIN, "telemetrydrv.exe")
STAMP = os.path.join(h.BIN, "vdstamp.exe")
STATS_URL = "http://stat.vardo.example/vip/v.html?t=121"


@pytest.fixture
def srv(clean):
    with ServerSet(build_dir=os.environ.get("VD_BUILD"), timeout=600) as s:
        yield s


def drive(srv, *args, timeout=90):
    rc, out = h.run(DRIVER, list(args), timeout=timeout, env=srv.env({}))
    assert rc == 0, out
    return dict(tok.split("=", 1) for tok in out.split() if "=" in tok)


def store_path():
    return os.path.join(h.data_folder(), "behavior.json")


def models(posts):
    return [p["json"]["list"][0]["model"] for p in posts]


def test_collector_undoes_what_openssl_makes():
    text = b'{"channel":"","exename":"a+b.exe","installername":"pamo30","wifimac":""}'
    cipher = encrypt(text)
    assert len(cipher) == len(text) + 8 - len(text) % 8
    body = base64.b64encode(cipher).replace(b"+", b"_@_")
    assert decrypt(decode_transport(body)) == text


def test_statistics_once_and_records_newest_first(srv):
    out = drive(srv, "--push", "4010101", "--push", "4010102", "--push", "4010104:2:12.50", "--stats",
                "--until-sent", "30000")
    assert out["behavior_left"] == "0" and out["stats_pending"] == "0"

    stats = srv.stats.posts()
    assert len(stats) == 1
    rec = stats[0]
    assert rec["problems"] == []
    assert rec["request_line"] == "POST /vip/v.html?t=121 HTTP/1.0"
    assert rec["json"]["exename"] == "telemetrydrv.exe"
    assert rec["json"]["installername"] == "pamo30"
    assert rec["json"]["channel"] == ""
    assert "software" not in rec["json"]

    posts = srv.behavior.posts()
    assert [p["problems"] for p in posts] == [[], [], []]
    assert models(posts) == ["4010104", "4010102", "4010101"]
    first = posts[0]["json"]
    assert first["ip"] == "203.0.113.7"
    assert first["list"][0]["succeed"] == "2" and first["list"][0]["errormessage"] == "12.50"
    assert all(p["json"]["mac"] == rec["json"]["wifimac"] for p in posts)

    log = h.log_messages()
    assert "PostStaticsDatas success url=" + STATS_URL in log
    assert log.count("PostBehaviorData success") == 3
    assert not os.path.exists(store_path())


def test_unsent_records_survive_a_restart(srv):
    srv.behavior.set_mode("refuse")
    out = drive(srv, "--push", "4010101", "--push", "4010105:2:Installing failure", "--settle", "1500")
    assert out["behavior_left"] == "2"
    assert srv.behavior.posts() == []
    assert srv.proxy.requests(), "the refused attempts went through the proxy"
    stored = json.load(open(store_path(), encoding="utf-8"))
    assert [r["ip"] for r in stored] == ["", ""]
    assert [len(r["list"]) for r in stored] == [1, 1]
    assert [r["list"][0]["model"] for r in stored] == ["4010101", "4010105"]
    times = [r["list"][0]["operateTime"] for r in stored]
    assert "PostBehaviorData failure,err:12030" in h.log_messages()

    srv.behavior.set_mode("ok")
    out = drive(srv, "--until-sent", "30000")
    assert out["behavior_left"] == "0"
    posts = srv.behavior.posts()
    assert models(posts) == ["4010105", "4010101"]
    assert [p["problems"] for p in posts] == [[], []]
    assert [p["json"]["list"][0]["operateTime"] for p in posts] == times[::-1]
    assert posts[0]["json"]["list"][0]["errormessage"] == "Installing failure"
    assert not os.path.exists(store_path())


def test_statistics_retried_until_the_collector_returns(srv):
    srv.stats.set_mode("drop")
    proc = h.start(DRIVER, ["--stats", "--until-sent", "60000"], env=srv.env({}))
    try:
        assert h.wait_for(lambda: len(srv.stats.requests()) >= 3, timeout=30)
        assert srv.stats.posts() == []
        srv.stats.set_mode("ok")
        assert h.wait_for(lambda: proc.poll() is not None, timeout=60)
    finally:
        h.stop(proc)
    assert len(srv.stats.posts()) == 1
    assert srv.stats.posts()[0]["problems"] == []


def test_distributor_copy_with_a_name_outside_ascii(srv, tmp_path):
    work = str(tmp_path)
    token = os.path.join(work, "biz523.bin")
    with open(token, "wb") as f:
        f.write(b"AbCdEf123456")
    name = "遥测驱动.exe"
    copy = os.path.join(work, name)
    rc, text = h.run(STAMP, ["--biz523", h.to_windows(token), h.to_windows(DRIVER), h.to_windows(copy)], timeout=60)
    assert rc == 0, text
    rc, out = h.run(copy, ["--push", "4010101", "--stats", "--until-sent", "30000"], timeout=90, env=srv.env({}))
    assert rc == 0, out
    rec = srv.stats.posts()[0]
    assert rec["problems"] == []
    assert rec["json"]["exename"] == name
    assert rec["json"]["channel"] == "AbCdEf123456"
    assert srv.behavior.posts()[0]["json"]["list"][0]["businessId"] == "AbCdEf123456"
