"""Faults on the road of an installation: bad packages, failing downloads and setups, quitting in
the middle, the simulation flags and hostile server answers. Real vdInstaller.exe, real servers,
real NSIS product package (helpers in test_workflow.py)."""
import json
import os
import re
import time

import pytest

import vdharness as h
import test_workflow as wf
from servers.product import serve_package

WM_USER_OPEN_INST_URL = 1031


@pytest.fixture(scope="module")
def browser():
    with wf.Browser() as b:
        yield b


@pytest.fixture
def srv(browser):
    with wf.workflow_servers(browser) as s:
        yield s


def hidden_run(srv, display, *extra):
    return wf.Installer(srv, ["/i", "/d", wf.TARGET] + list(extra), display=display)


def log_times(text):
    """(seconds since midnight, message) of every log record holding `text`. Records are cut at
    the separators, wherever they stand: a message without its own line end runs into the next."""
    out = []
    parts = re.split(r"------------Time:\d{4}/\d\d/\d\d (\d\d):(\d\d):(\d\d)---------------", h.read_log())
    for i in range(1, len(parts) - 3, 4):
        stamp = int(parts[i]) * 3600 + int(parts[i + 1]) * 60 + int(parts[i + 2])
        if text in parts[i + 3]:
            out.append((stamp, parts[i + 3].strip()))
    return out


def stored_behaviour():
    """(model, succeed, errormessage) of the records kept in "behavior.json" for the next run."""
    path = os.path.join(h.data_folder(), "behavior.json")
    if not os.path.exists(path):
        return []
    found = []

    def walk(node):
        if isinstance(node, dict):
            if "model" in node:
                found.append((node.get("model"), node.get("succeed"), node.get("errormessage")))
            for v in node.values():
                walk(v)
        elif isinstance(node, list):
            for v in node:
                walk(v)
    walk(json.loads(open(path, "rb").read().decode("utf-8")))
    return found


HIDDEN_RUN_FAILED = -5
FAIL2 = os.path.join(wf.PRODUCT, "VardoSetup_fail2.exe")
EXIT1 = os.path.join(wf.PRODUCT, "VardoSetup_exit1.exe")  # installs everything, then exits 1
HANG = os.path.join(wf.PRODUCT, "VardoSetup_hang.exe")


def end_on_failure_page(run, label, timeout=120):
    """A hidden run that reaches the failure page ends on its own, with its own code."""
    try:
        assert run.wait_log("show failure page:" + label, timeout), h.read_log()[-3000:]
        assert run.wait_exit(15) == HIDDEN_RUN_FAILED
    finally:
        run.stop()


def test_wrong_digest_deletes_package_and_section_cache(srv, display):
    serve_package(srv, wf.SETUP32, wf.product_version(), HashValue="AAAAAAAAAAAAAAAAAAAAAA==")
    run = hidden_run(srv, display)
    end_on_failure_page(run, "下载失败,请")
    log = h.read_log()
    assert "md5 value is not the same,delete old exe:" in log
    assert "md5 value is not the same,delete CleanupTempCacheFolder" in log
    assert not os.path.exists(os.path.join(h.temp_dir(), "vdhttpTempOutput", "vdinst.exe"))
    assert wf.part_files() == [], "no part file may feed a later resume"
    # a record pushed just before the window closed is either sent or kept for the next run
    assert ("4010104", "2") in [(m, s) for m, s, _ in wf.behaviour(srv) + stored_behaviour()]
    assert wf.installed(wf.TARGET) == []


def test_download_error_restarts_after_forty_seconds(srv, display):
    serve_package(srv, wf.SETUP32, wf.product_version())
    # the probe's range test and the one section it leads to are refused: one failed attempt
    srv.package.set_fault("status", after=0, count=2, status=404)
    run = hidden_run(srv, display)
    try:
        assert run.wait_exit(150) == 0
    finally:
        run.stop()
    errs = log_times("WM_USER_SHOW_PROGRESS download errcode:")
    restarts = log_times("VD_TIMER_ID_Check_Download_Status retry count:1")
    assert errs and restarts, h.read_log()[-3000:]
    before = [t for t, _ in errs if t <= restarts[0][0]]
    waited = restarts[0][0] - before[-1]
    assert 40 <= waited <= 47, (waited, errs, restarts)
    assert not log_times("retry count:2"), "one error, one restart"
    assert log_times("find download err,but time is less than 40 seoncds")
    assert "Vardo.exe" in wf.installed(wf.TARGET)


def test_setup_without_vardo_runs_eleven_times_then_fails(srv, display):
    serve_package(srv, wf.NOVARDO, wf.product_version())
    run = hidden_run(srv, display)
    end_on_failure_page(run, "安装失败,请")
    log = h.read_log()
    assert log.count("vd_execute_process success") == 11
    assert "CheckInstalledVardoExe failure,retry count:10" in log
    assert ("4010105", "2", "Installing failure") in wf.behaviour(srv) + stored_behaviour()


@pytest.mark.parametrize("setup,why", [(FAIL2, "setup exit code:2,the setup failed"),
                                       (EXIT1, "setup exit code:1,the setup failed"),
                                       (wf.NOVARDO, "was there before the setup ran and is unchanged")])
def test_failed_setup_over_an_earlier_installation_is_never_success(srv, display, setup, why):
    # an earlier installation of the same version, registered in the uninstall key, in the folder
    assert h.run(wf.SETUP32, ["/S", "/D=" + wf.TARGET], timeout=120)[0] == 0
    assert "Vardo.exe" in wf.installed(wf.TARGET)
    serve_package(srv, setup, wf.product_version())
    run = hidden_run(srv, display)
    end_on_failure_page(run, "安装失败,请")
    log = h.read_log()
    assert log.count("vd_execute_process success") == 11
    assert log.count(why) == 11
    assert wf.FEEDBACK_OK not in log


@pytest.mark.parametrize("setup,x64,version", [(wf.SETUP32, True, None), (wf.SETUP64, False, None),
                                               (wf.SETUP32, False, "9.0.0.0")])
def test_wrong_bitness_or_lower_version_is_a_failed_installation(srv, display, setup, x64, version):
    serve_package(srv, setup, version or wf.product_version(), x64=x64)
    run = hidden_run(srv, display)
    end_on_failure_page(run, "安装失败,请")
    assert h.read_log().count("vd_execute_process success") == 11


def test_closing_during_a_download_keeps_part_files_and_the_next_start_resumes(srv, display):
    desc = serve_package(srv, wf.SETUP32, wf.product_version())
    wf.set_rate(srv, 2000)
    run = hidden_run(srv, display)
    try:
        assert run.wait_log("end multi download", 60)
        assert h.wait_for(lambda: sum(os.path.getsize(p) for p in wf.part_files()) > 40000, 60)
        run.close()
        assert run.wait_exit(60) == 0
    finally:
        run.stop()
    kept = wf.part_files()
    assert len(kept) == 6, kept
    assert all("%s_" % wf.product_version() in p for p in kept), "named after the package"

    srv.package.reset()  # also lifts the rate cap
    run = hidden_run(srv, display)
    try:
        assert run.wait_exit(120) == 0
    finally:
        run.stop()
    log = h.read_log()
    assert "breakpoint temp part file:" in log
    # what the second run asked for (the first run's connections, left to the end of its process,
    # may still be drained by the server after the reset, so bytes sent would prove nothing)
    asked = 0
    for r in srv.package.requests():
        rng = dict((k.lower(), v) for k, v in r["headers"]).get("range", "")
        m = re.match(r"bytes=(\d+)-(\d+)$", rng)
        if r["method"] == "GET" and m and rng != "bytes=2-10":
            asked += int(m.group(2)) - int(m.group(1)) + 1
    assert 0 < asked < desc["Size"], "only the missing bytes travel again"
    assert "Vardo.exe" in wf.installed(wf.TARGET)


def test_closing_while_a_restart_is_pending_keeps_part_files(srv, display):
    serve_package(srv, wf.SETUP32, wf.product_version())
    # every section request is refused: the download ends with errors and waits for its restart
    wf.set_rate(srv, 2000)
    srv.package.set_fault("status", after=3, count=0, status=404)
    run = hidden_run(srv, display)
    try:
        assert run.wait_log("WM_USER_SHOW_PROGRESS download errcode:", 60), h.read_log()[-3000:]
        assert h.wait_for(lambda: wf.part_files(), 10)
        run.close()
        assert run.wait_exit(60) == 0
    finally:
        run.stop()
    assert wf.part_files(), "the quit box promised a resume"
    assert "bForceDel true,delete folder" not in h.read_log()


def test_simulated_download_failure_stops_before_installing(srv, display):
    serve_package(srv, wf.SETUP32, wf.product_version())
    wf.set_rate(srv, 20000)
    wf.write_test_ini(downloading_failure=1)
    run = hidden_run(srv, display)
    end_on_failure_page(run, "安装失败,请")
    # the process has ended: its log is complete
    assert "simulate downloading failure" in h.read_log()
    assert "PrepareExecvdInstExe" not in h.read_log()
    assert wf.installed(wf.TARGET) == []


def test_simulated_installation_failure_runs_no_setup(srv, display):
    serve_package(srv, wf.SETUP32, wf.product_version())
    wf.write_test_ini(installing_failure=1)
    run = hidden_run(srv, display)
    end_on_failure_page(run, "安装失败,请")
    assert "simulate installing failure" in h.read_log()
    assert "vd_execute_process" not in h.read_log()
    assert wf.installed(wf.TARGET) == []


def test_simulated_url_error_takes_the_template(srv, display):
    serve_package(srv, wf.SETUP32, wf.product_version())
    ver = wf.own_version()
    for x64 in (False, True):
        serve_package(srv, wf.SETUP32, "0.0.0.1", answer=False, url_path=wf.fallback_path(ver, x64))
    wf.write_test_ini(simu_pin_cou_url_error=1)
    run = hidden_run(srv, display)
    assert run.wait_exit(120) == 0
    gets = [r["target"] for r in wf.package_gets(srv)]
    assert gets and all("/qd/vdpmqd/" in t for t in gets), gets
    assert "Vardo.exe" in wf.installed(wf.TARGET)


def post_manual_download(run):
    h.wintool("post", wf.CLS, str(WM_USER_OPEN_INST_URL), "0")


@pytest.mark.parametrize("url", ["C:\\Windows\\System32\\notepad.exe", "file:///C:/Windows/System32/notepad.exe",
                                 "http://dl.vardo.example/x.exe\" --evil"])
def test_manual_download_opens_only_web_addresses(srv, display, browser, url):
    srv.config.set_answer("empty", obj={"Code": 0, "Data": [{"Url": url, "Version": "1.0.0.0"}]})
    wf.set_rate(srv, 2000)
    serve_package(srv, wf.SETUP32, wf.product_version())
    run = hidden_run(srv, display)
    try:
        assert run.wait_log("WM_USER_INST_SDXZ_INFO m_p_inst_sdxz_info url:", 60)
        post_manual_download(run)
        assert run.wait_log("WM_USER_OPEN_TARGET_URL:", 30)
        assert h.wait_for(lambda: browser.pages(), 20)
    finally:
        run.close()
        run.wait_exit(30)
    pages = browser.pages()
    assert len(pages) == 1 and "from=azqfail&bit=" in pages[0], pages
    assert "notepad" not in pages[0] and "evil" not in pages[0]
    assert "not a web address,open web page instead:" in h.read_log()


def test_simulated_manual_url_error_opens_the_web_page(srv, display, browser):
    serve_package(srv, wf.SETUP32, wf.product_version())
    wf.set_rate(srv, 2000)
    wf.write_test_ini(simu_get_url_error=1)
    run = hidden_run(srv, display)
    try:
        assert run.wait_log("end multi download", 60)
        post_manual_download(run)
        assert h.wait_for(lambda: browser.pages(), 30)
    finally:
        run.close()
        run.wait_exit(30)
    assert "IsTestIni_simu_get_url_error do...." in h.read_log()
    assert re.search(r"/\?from=azqfail&bit=(32|64)$", browser.pages()[0].strip('"')), browser.pages()


# Quitting while the server a phase waits on hangs: the process ends within 3 s of the close.
QUIT_PHASES = {
    # phase: (log text that shows the phase was reached, how to make its server hang)
    "server-info": ("not server info,request now", lambda srv: srv.config.set_hang(60)),
    "probe": ("HelperThreadImp url:", lambda srv: srv.package.set_fault("delay", count=0, method="HEAD", ms=60000)),
    "sections": ("--->in thread section:5", lambda srv: srv.package.set_fault("delay", after=1, count=0, ms=60000)),
    "install": ("ThreadFuncExecvdInstExe hMainWnd:", None),
    "telemetry": ("WM_USER_EXEC_INST_FEEDBACK nFeedback", lambda srv: srv.behavior.set_mode("hang", hold=60)),
}


@pytest.mark.parametrize("phase", list(QUIT_PHASES))
def test_quit_in_each_phase_ends_within_three_seconds(srv, display, phase):
    mark, hang = QUIT_PHASES[phase]
    serve_package(srv, HANG if phase == "install" else wf.SETUP32, wf.product_version())
    if phase == "server-info":
        srv.config.set_package(Version="")  # the download worker asks again, and hangs too
    if hang:
        hang(srv)
    run = hidden_run(srv, display)
    try:
        assert run.wait_log(mark, 90), h.read_log()[-3000:]
        if phase == "telemetry":
            assert h.wait_for(lambda: srv.behavior.requests(), 20), "no behaviour post in flight"
        time.sleep(0.5)
        t0 = time.time()
        run.close()
        code = run.wait_exit(30)
        took = time.time() - t0
    finally:
        run.stop()
        h.kill_windows_processes("vdinst.exe")
    os.makedirs(h.ARTIFACTS, exist_ok=True)
    with open(os.path.join(h.ARTIFACTS, "quit_times.txt"), "a") as f:
        f.write("%s %.2f s\n" % (phase, took))
    assert code == 0
    assert took <= 3.0, "%s: %.2f s from the close to the end of the process" % (phase, took)
    assert h.log_messages()[-1] == "End vdInstaller..."
    if phase == "telemetry":
        # the records the hanging collector never took are kept for the next run
        assert ("4010105", "1") in [(m, s) for m, s, _ in stored_behaviour()]
