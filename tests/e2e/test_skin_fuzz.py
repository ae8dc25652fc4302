"""Fuzzes the skin language's pure parsers (markup, image strings, attribute lists, showhtml
tags, UTF-8 and numbers) natively with clang's libFuzzer, AddressSanitizer and UBSan, for a
bounded time. Longer by hand: VD_FUZZ_SECONDS=600 /usr/bin/python3 -m pytest -q test_skin_fuzz.py
Figures go to build/artifacts/ui_fuzz.txt."""
import glob
import os
import re
import shutil
import subprocess

import pytest

ROOT = os.environ.get("VD_ROOT") or os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
OUT = os.path.join(ROOT, "build", "fuzz")
SECONDS = int(os.environ.get("VD_FUZZ_SECONDS", "30"))
SEEDS = [
    b"\x01file='btn_162x132.png' source='0,46,162,86'",
    b"\x01file='checkbox_48x16.png' dest='0,0,16,16' source='32,0,48,16'",
    b"\x01red_close_12x12.png",
    b"\x02font=\"12\" inset=\"1,1,1,1\" bordercolor=\"#FFCED2D7\"",
    b"\x03{u}\xe7\x94\xa8\xe6\x88\xb7\xe8\xae\xb8\xe5\x8f\xaf\xe5\x8d\x8f\xe8\xae\xae{/u}{n}{c #FFFF0000}x{/c}",
    b"\x04#FF2B96D5 1,254,0,0 \xe5\xbe\xae\xe8\xbd\xaf\xe9\x9b\x85\xe9\xbb\x91",
]


def build():
    clang = shutil.which("clang++")
    if not clang:
        pytest.fail("clang++ is needed (package clang)")
    os.makedirs(OUT, exist_ok=True)
    exe = os.path.join(OUT, "ui_parsers_fuzz")
    srcs = [os.path.join(ROOT, p) for p in ("tests/fuzz/ui_parsers_fuzz.cpp", "ui/uimarkup.cpp", "ui/uiparse.cpp",
                                            "base/utf8text.cpp")]
    if not os.path.exists(exe) or any(os.path.getmtime(s) > os.path.getmtime(exe) for s in srcs):
        subprocess.run([clang, "-std=c++17", "-O1", "-g", "-fsanitize=fuzzer,address,undefined",
                        "-fno-sanitize-recover=undefined", "-I", ROOT, "-o", exe] + srcs, check=True, timeout=600)
    return exe


def write_seeds(corpus, seeds):
    os.makedirs(corpus, exist_ok=True)
    for i, seed in enumerate(seeds):
        with open(os.path.join(corpus, "seed%d" % i), "wb") as f:
            f.write(seed)
    return corpus


def run_fuzzer(exe, corpus, crashes, seconds, max_len, extra=(), env=None):
    """One bounded libFuzzer run; returns (exit code, executions, log)."""
    os.makedirs(crashes, exist_ok=True)
    p = subprocess.run([exe, corpus, "-max_total_time=%d" % seconds, "-timeout=10", "-rss_limit_mb=2048",
                        "-max_len=%d" % max_len, "-artifact_prefix=" + crashes + "/", "-print_final_stats=1"]
                       + list(extra), capture_output=True, text=True, timeout=seconds + 300, env=env)
    log = p.stdout + p.stderr
    runs = re.search(r"Done (\d+) runs in (\d+) second", log)
    os.makedirs(os.path.join(ROOT, "build", "artifacts"), exist_ok=True)
    return p.returncode, int(runs.group(1)) if runs else 0, log


def test_parsers_survive_fuzzing():
    exe = build()
    corpus = write_seeds(os.path.join(OUT, "corpus"), SEEDS)
    for xml in glob.glob(os.path.join(ROOT, "skin", "*.xml")):
        with open(xml, "rb") as src, open(os.path.join(corpus, "markup_" + os.path.basename(xml)), "wb") as f:
            f.write(b"\x00" + src.read())
    rc, execs, log = run_fuzzer(exe, corpus, os.path.join(OUT, "crashes"), SECONDS, 65536)
    with open(os.path.join(ROOT, "build", "artifacts", "ui_fuzz.txt"), "w") as f:
        f.write("seconds=%d executions=%d exit=%d\n" % (SECONDS, execs, rc))
        f.write("\n".join(l for l in log.splitlines() if l.startswith(("stat::", "Done", "==", "SUMMARY"))) + "\n")
    print("fuzzed %d s: %d executions, exit %d" % (SECONDS, execs, rc))
    assert rc == 0, log[-4000:]
    assert execs > 1000, log[-2000:]


# The parsers of bytes that come from outside (command line, server answers, files we read back),
# fuzzed natively from the rooms' pure cores, one target at a time so each reports its executions.
INPUT_SOURCES = ["tests/fuzz/input_parsers_fuzz.cpp", "app/cmdtoken.cpp", "net/dlplan.cpp", "net/httprules.cpp",
                 "probes/hostrules.cpp", "telemetry/behaviorrecord.cpp", "net/serverinfo_parse.cpp",
                 "probes/base64.cpp", "base/utf8text.cpp"]
INPUT_TARGETS = {"command_line": (0, [b"/d \"C:\\My Apps\\Vardo\" /s", b"--silent /D C:\\a\\ b /m"]),
                 "ranges": (1, [b"\x00\x00\x00\x00\x00\x0a\xae\x60\x06bytes 0-99/700001"]),
                 "ip_answer": (2, [b'{"code":0,"data":{"ip":"203.0.113.7"}}', b"203.0.113.7"]),
                 "behavior_store": (3, [b'[{"model":"4010101","succeed":"1","errormessage":"","channel":"x"}]',
                                        b'[{"action":"PostPCOperateData","list":[{"model":"4010104","succeed":"2",'
                                        b'"errormessage":"e","operateTime":"2026-01-02 03:04:05","businessId":"b",'
                                        b'"version":"3.2.1.0"}]}]']),
                 "server_info": (4, [b'{"Data":[{"AppName":"pamo30","Channel":"pmgw","Id":7,"Size":196912,'
                                     b'"Url":"http://dl.vardo.example/p.exe","Version":"3.2.1.0","X64":1,'
                                     b'"HashValue":"1B2M2Y8AsgTpgAmY7PhCfg=="}]}', b'{"Data":[]}'])}
INPUT_SECONDS = int(os.environ.get("VD_FUZZ_SECONDS_PER_TARGET", "10"))


def build_inputs():
    jsoncpp = glob.glob(os.path.join(ROOT, "build", "deps", "src", "libjsoncpp-*"))
    if not jsoncpp:
        pytest.fail("jsoncpp's sources are unpacked by scripts/deps.sh (build/deps/src)")
    lib = os.path.join(jsoncpp[0], "src", "lib_json")
    exe = os.path.join(OUT, "input_parsers_fuzz")
    srcs = [os.path.join(ROOT, p) for p in INPUT_SOURCES]
    srcs += [os.path.join(lib, f) for f in ("json_reader.cpp", "json_value.cpp", "json_writer.cpp")]
    os.makedirs(OUT, exist_ok=True)
    if not os.path.exists(exe) or any(os.path.getmtime(s) > os.path.getmtime(exe) for s in srcs):
        subprocess.run(["clang++", "-std=c++17", "-O1", "-g", "-fsanitize=fuzzer,address,undefined",
                        "-fno-sanitize-recover=undefined", "-I", ROOT, "-I", os.path.join(jsoncpp[0], "include"),
                        "-o", exe] + srcs, check=True, timeout=900)
    return exe


@pytest.mark.parametrize("name", sorted(INPUT_TARGETS))
def test_input_parsers_survive_fuzzing(name):
    exe = build_inputs()
    number, seeds = INPUT_TARGETS[name]
    corpus = write_seeds(os.path.join(OUT, "corpus_" + name), seeds)
    rc, execs, log = run_fuzzer(exe, corpus, os.path.join(OUT, "crashes_" + name), INPUT_SECONDS, 4096,
                                env=dict(os.environ, VD_FUZZ_TARGET=str(number)))
    with open(os.path.join(ROOT, "build", "artifacts", "input_fuzz_%s.txt" % name), "w") as f:
        f.write("target=%s seconds=%d executions=%d exit=%d\n" % (name, INPUT_SECONDS, execs, rc))
    print("fuzzed %s %d s: %d executions, exit %d" % (name, INPUT_SECONDS, execs, rc))
    assert rc == 0, log[-4000:]
    assert execs > 1000, log[-2000:]


# Our jsoncpp is built from Debian's source with scripts/jsoncpp-no-streams.patch; this target
# parses every input with the stock and the patched library side by side and fails on any
# difference in outcome, errors, values (numbers to the bit) or the writers' output.
JSON_SEEDS = [b"[0, -0, -0.0, 0e0, -0e-0, 1E+2, 1e-2, 1.5e308, 1e309, -1e400, 1e-400, 4.9e-324, 2.4e-324]",
              b"[2.2250738585072011e-308, 2.2250738585072014e-308, 1.7976931348623157e308, 1.7976931348623159e308]",
              b"[18446744073709551615, 18446744073709551616, 9223372036854775807, -9223372036854775808, "
              b"-9223372036854775809, 99999999999999999999, 12345678901234567890123]",
              b"[0.1, 3.14159265358979323846264338327950288, 1e, 1e+, 1., -, 00012, 1.e5]",
              b'{"a": [1, 2.5, "x\\u00e9"], "b": {"c": null, "d": true}, "n": -12.5e-3}',
              b"[1] // tail\n/* c */ {\"k\": 1e-310}", b"[58.01\r"]


def build_json_diff():
    src = glob.glob(os.path.join(ROOT, "build", "deps", "src", "libjsoncpp-*"))
    if not src or not os.path.exists(os.path.join(src[0], ".vd-patched")):
        pytest.fail("the patched jsoncpp source is unpacked by scripts/deps.sh (build/deps/src)")
    patched = src[0]
    patch_file = os.path.join(ROOT, "scripts", "jsoncpp-no-streams.patch")
    stock = os.path.join(OUT, "jsoncpp-stock")
    exe = os.path.join(OUT, "jsoncpp_diff_fuzz")
    sides = [os.path.join(ROOT, "tests", "fuzz", f) for f in ("jsoncpp_diff_fuzz.cpp", "jsoncpp_diff_side.cpp")]
    if os.path.exists(exe) and all(os.path.getmtime(s) < os.path.getmtime(exe) for s in sides + [patch_file]):
        return exe
    # the stock tree: our patched one with the patch taken back out
    shutil.rmtree(stock, ignore_errors=True)
    shutil.copytree(patched, stock)
    subprocess.run(["patch", "-d", stock, "-p1", "-R", "-s", "-i", patch_file], check=True, timeout=60)
    flags = ["clang++", "-std=c++17", "-O1", "-g", "-fsanitize=fuzzer-no-link,address,undefined",
             "-fno-sanitize-recover=undefined", "-c"]
    objs = []
    for tree, side, extra in ((stock, "StockSide", ["-DJson=JsonStock"]), (patched, "PatchedSide", ["-DJSON_NO_STREAMS=1"])):
        sources = [os.path.join(tree, "src", "lib_json", f) for f in ("json_reader.cpp", "json_value.cpp",
                                                                      "json_writer.cpp")] + [sides[1]]
        for s in sources:
            obj = os.path.join(OUT, "jd_%s_%s.o" % (side, os.path.basename(s)))
            subprocess.run(flags + extra + ["-DVD_DIFF_SIDE=" + side, "-I", os.path.join(tree, "include"),
                                            "-I", os.path.join(tree, "src", "lib_json"), "-o", obj, s],
                           check=True, timeout=600)
            objs.append(obj)
    subprocess.run(["clang++", "-std=c++17", "-O1", "-g", "-fsanitize=fuzzer,address,undefined",
                    "-fno-sanitize-recover=undefined", "-o", exe, sides[0]] + objs, check=True, timeout=600)
    return exe


def test_jsoncpp_patch_changes_nothing():
    exe = build_json_diff()
    corpus = write_seeds(os.path.join(OUT, "corpus_jsoncpp_diff"), JSON_SEEDS)
    rc, execs, log = run_fuzzer(exe, corpus, os.path.join(OUT, "crashes_jsoncpp_diff"), INPUT_SECONDS, 4096,
                                ["-dict=" + os.path.join(ROOT, "tests", "fuzz", "json_numbers.dict")])
    with open(os.path.join(ROOT, "build", "artifacts", "jsoncpp_diff_fuzz.txt"), "w") as f:
        f.write("seconds=%d executions=%d exit=%d\n" % (INPUT_SECONDS, execs, rc))
    print("jsoncpp stock vs patched, %d s: %d executions, exit %d" % (INPUT_SECONDS, execs, rc))
    assert rc == 0, log[-4000:]
    assert execs > 1000, log[-2000:]
