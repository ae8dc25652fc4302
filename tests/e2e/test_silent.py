"""Silent installation end to end: distributor copies of the real vdInstaller.exe, stamped with
vdstamp.exe exactly as a distributor would, install the real NSIS product package under Wine."""
import os
import re
import shutil
import struct
import subprocess
import time

import pytest

import vdharness as h

PRODUCT = os.path.join(h.ROOT, "build", "product")
STAMP = os.path.join(h.BIN, "vdstamp.exe")
SLEEPER = os.path.join(h.BIN, "vdsleep.exe")
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vardo3"
DRIVE_C = os.path.join(h.PREFIX, "drive_c")
# every folder a test here may install into
INSTALL_ROOTS = ["My Apps", "Apps", "Empty", os.path.join("Program Files", "Vardo"),
                 os.path.join("Program Files (x86)", "Vardo")]
PUX_INI = b"[PM]\r\nChannel=  tok524  \r\n[Pux]\r\niPhoneKe=QUJD\r\niPadKe=REVG\r\n"
TOKEN = b"AbCdEf123456"


def c_path(win_path):
    return h.from_windows(win_path)


def stamp(work, name, **resources):
    """A distributor copy: vdstamp.exe --KIND FILE ... vdInstaller.exe OUT; returns its path."""
    args = []
    for kind, content in resources.items():
        src = content if isinstance(content, str) else os.path.join(work, "%s_%s.bin" % (name, kind))
        if not isinstance(content, str):
            with open(src, "wb") as f:
                f.write(content)
        args += ["--" + kind, h.to_windows(src)]
    out = os.path.join(work, name + ".exe")
    rc, text = h.run(STAMP, args + [h.to_windows(h.EXE), h.to_windows(out)], timeout=60)
    assert rc == 0, text
    return out


@pytest.fixture(scope="module")
def copies(tmp_path_factory):
    if not os.path.exists(os.path.join(PRODUCT, "VardoSetup.exe")):
        subprocess.run([os.path.join(h.ROOT, "tests", "product", "build_product.sh")], check=True, timeout=600)
    work = str(tmp_path_factory.mktemp("distributor"))
    setup32 = os.path.join(PRODUCT, "VardoSetup.exe")
    not_a_program = os.path.join(work, "broken_setup.txt")
    with open(not_a_program, "wb") as f:
        f.write(b"this is not a setup program\r\n")
    return {
        "work": work,
        "full": stamp(work, "full", biz523=TOKEN, biz524=PUX_INI, channel=b"  vardox  ", vdpm=setup32),
        "novdpm": stamp(work, "novdpm", biz523=TOKEN, biz524=PUX_INI, channel=b"vardox"),
        "only523": stamp(work, "only523", biz523=TOKEN, vdpm=setup32),
        "nobiz": stamp(work, "nobiz", vdpm=setup32),
        "x64": stamp(work, "x64", biz523=TOKEN, biz524=PUX_INI, vdpm=os.path.join(PRODUCT, "VardoSetup_x64.exe")),
        "novardo": stamp(work, "novardo", vdpm=os.path.join(PRODUCT, "VardoSetup_novardo.exe")),
        "fail2": stamp(work, "fail2", vdpm=os.path.join(PRODUCT, "VardoSetup_fail2.exe")),
        "exit1": stamp(work, "exit1", vdpm=os.path.join(PRODUCT, "VardoSetup_exit1.exe")),
        "broken": stamp(work, "broken", biz523=TOKEN, biz524=PUX_INI, vdpm=not_a_program),
    }


def forget_product():
    for view in ("/reg:32", "/reg:64"):
        h.reg("delete", UNINSTALL_KEY, "/f", view)
    for root in INSTALL_ROOTS:
        shutil.rmtree(os.path.join(DRIVE_C, root), ignore_errors=True)


@pytest.fixture
def fresh(clean):
    forget_product()
    yield
    h.kill_windows_processes("Vardo.exe", "doVadoraDaravad.exe")
    forget_product()


def quote_uninstall_string(folder_win):
    """Rewrites the registered uninstall string the way many setups write it: quoted."""
    value = '"%s\\uninst.exe"' % folder_win
    assert h.reg("add", UNINSTALL_KEY, "/v", "UninstallString", "/d", value, "/f", "/reg:32") == 0


def silent(exe, *args):
    rc, _ = h.run(exe, list(args), timeout=120)
    return rc, h.log_messages()


def installed(folder_win, name):
    return os.path.join(c_path(folder_win), name)


def runs(folder_win):
    p = installed(folder_win, "vardo_runs.txt")
    return open(p, encoding="utf-8").read().splitlines() if os.path.exists(p) else []


def pe_machine(path):
    with open(path, "rb") as f:
        data = f.read(4096)
    off = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[off:off + 4] == b"PE\0\0"
    return struct.unpack_from("<H", data, off + 4)[0]


def biz_folder():
    return os.path.join(h.data_folder(), "Biz")


# the embedded setup is extracted under a name of the run's own: vdpm_<pid>_<unique>.exe
VDPM_LOGGED = re.compile(r".*\\Vardo\\vdInstaller\\vdpm_\d+_[0-9A-Za-z]+\.exe")


def vdpm_files():
    folder = os.path.join(h.temp_dir(), "Vardo", "vdInstaller")
    return [n for n in os.listdir(folder) if n.startswith("vdpm")] if os.path.isdir(folder) else []


def start_lingering(path):
    """A process that sleeps a minute under the given image name; ended by a kill it exits with 0."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    shutil.copyfile(SLEEPER, path)
    proc = h.start(path, ["60000"])
    name = os.path.basename(path)
    assert h.wait_for(lambda: h.process_counts(name)[name] == 1, timeout=30), name + " did not start"
    return proc


def test_quoted_folder_installs_after_ending_the_running_product(copies, fresh):
    folder = r"C:\My Apps\Vardo"
    # the old product runs from the very file the setup must replace
    old_vardo = start_lingering(installed(folder, "Vardo.exe"))
    daemon = start_lingering(os.path.join(copies["work"], "run", "doVadoraDaravad.exe"))
    try:
        rc, log = silent(copies["full"], "/d", folder, "/s")
        assert rc == 0
        assert old_vardo.wait(timeout=30) == 0 and daemon.wait(timeout=30) == 0
    finally:
        h.stop(old_vardo)
        h.stop(daemon)

    with open(installed(folder, "Vardo.exe"), "rb") as got, \
            open(os.path.join(PRODUCT, "bin", "Vardo32.exe"), "rb") as want:
        assert got.read() == want.read(), "the running old Vardo.exe was not ended before the setup ran"
    for name in ("Launcher.exe", "Helper.exe", "uninst.exe"):
        assert os.path.exists(installed(folder, name)), name
    assert open(installed(folder, "Biz.dll"), "rb").read() == TOKEN
    assert open(installed(folder, "BizT.dll"), "rb").read() == PUX_INI
    assert not os.path.exists(installed(folder, "Biz.dll.tmp"))
    assert not os.path.exists(biz_folder())
    assert vdpm_files() == []
    assert runs(folder) == [], "nothing of the product may be started without /m"

    assert "ParseCmdParameters:/d \"C:\\My Apps\\Vardo\" /s" in log
    assert "bSilentMode:1...bVdpmRcInside:1" in log
    assert "inst strCmd : /S /D=C:\\My Apps\\Vardo" in log
    assert "read m_bChannelRcContent2Memory:vardox .." in log
    assert "package is unsigned, no signer is pinned: run all the same" in log
    assert "read m_sBizDllContentInMemory:AbCdEf123456 .." in log
    assert any(l.startswith("delete exe path:") and VDPM_LOGGED.fullmatch(l) for l in log)
    assert log.index("vd_execute_process success") < log.index("CheckBizChannelFromRc begin...")
    assert log[-1] == "DoSilentWork end,nResult:0..."


def test_helper_registration_runs_helper_with_m(copies, fresh):
    folder = r"C:\Apps\Vardo"
    rc, log = silent(copies["full"], "--silent", "/D", folder, "/m")
    assert rc == 0
    assert runs(folder) == ["Helper.exe| /m"]
    assert "do IsHelperMRegister" in log
    assert "helper.exe path:C:\\Apps\\Vardo\\Helper.exe,cmd: /m" in log
    assert "helper.exe /m successs" in log


def test_setup_that_cannot_start_gives_minus_3_and_helper_comes_from_the_registry(copies, fresh):
    registered = r"C:\My Apps\Registered"
    assert silent(copies["full"], "/s", "/d", registered)[0] == 0
    quote_uninstall_string(registered)
    rc, log = silent(copies["broken"], "/s", "/m", "/d", r"C:\Empty\Vardo")
    assert rc == -3
    assert any(l.startswith("vd_execute_process failure,error:") for l in log)
    assert "not exist target:C:\\Empty\\Vardo\\Helper.exe,read from regedit" in log
    assert "read from regedit:C:\\My Apps\\Registered\\Helper.exe" in log
    assert runs(registered) == ["Helper.exe| /m"]
    # the remaining steps still ran
    assert vdpm_files() == []
    assert log[-1] == "DoSilentWork end,nResult:-3..."


@pytest.mark.parametrize("copy,code", [("fail2", 2), ("exit1", 1)])
def test_setup_that_reports_failure_gives_minus_4_over_an_earlier_installation(copies, fresh, copy, code):
    folder = r"C:\Apps\Vardo"
    assert silent(copies["full"], "/s", "/d", folder)[0] == 0
    rc, log = silent(copies[copy], "/s", "/d", folder)
    assert rc == -4
    assert "setup exit code:%d,the setup failed" % code in log
    assert log[-1] == "DoSilentWork end,nResult:-4..."


def test_without_embedded_setup_nothing_is_ended_and_the_result_is_minus_2(copies, fresh):
    vardo = start_lingering(os.path.join(copies["work"], "run2", "Vardo.exe"))
    try:
        rc, log = silent(copies["novdpm"], "/s", "/d", r"C:\Apps\Vardo")
        assert rc == -2
        assert h.process_counts("Vardo.exe")["Vardo.exe"] == 1, "a process was ended without a setup to run"
    finally:
        h.stop(vardo)
        h.kill_windows_processes("Vardo.exe")
    missing = [l for l in log if l.startswith("vdpm exe temp not find:")]
    assert len(missing) == 4
    assert VDPM_LOGGED.fullmatch(missing[0][:-3]), missing[0]
    assert len(set(missing)) == 1, "every attempt of one run looks for the same file"
    assert "bSilentMode:1...bVdpmRcInside:0" in log
    assert not any(l.startswith("inst strCmd") for l in log)
    assert not os.path.exists(c_path(r"C:\Apps\Vardo"))


def test_a_single_business_dll_stays_as_tmp_file(copies, fresh):
    folder = r"C:\Apps\Vardo"
    rc, log = silent(copies["only523"], "/s", "/d", folder)
    assert rc == 0
    assert open(installed(folder, "Biz.dll.tmp"), "rb").read() == TOKEN
    assert not os.path.exists(installed(folder, "Biz.dll"))
    # count 1: no rename, and the business folder is left as it is
    assert os.path.exists(os.path.join(biz_folder(), "Biz.dll"))
    assert "EnumResourceNamesW end,m_nBizDllCount count:1" in log


def test_without_biz_the_business_folder_goes_unless_simulated(copies, fresh):
    folder = r"C:\Apps\Vardo"
    os.makedirs(biz_folder())
    with open(os.path.join(biz_folder(), "BizT.dll"), "wb") as f:
        f.write(b"left by an earlier run")
    rc, log = silent(copies["nobiz"], "/s", "/d", folder)
    assert rc == 0
    assert not os.path.exists(biz_folder())
    assert "not find BIZ rc..." in log
    assert os.path.exists(installed(folder, "Vardo.exe"))

    os.makedirs(biz_folder())
    with open(os.path.join(h.data_folder(), "test.ini"), "w") as f:
        f.write("[test]\r\nmydoc_biz_error=1\r\n")
    rc, log = silent(copies["nobiz"], "/s", "/d", folder)
    assert rc == 0
    assert os.path.isdir(biz_folder())
    assert "CheckBizToMyDocumentEnd 333,simu mydoc biz error,not to delete folder..." in log


def test_unquoted_folder_keeps_its_backslashes(copies, fresh):
    rc, log = silent(copies["full"], "/d", r"C:\Apps\Vardo", "/s")
    assert rc == 0
    assert "inst strCmd : /S /D=C:\\Apps\\Vardo" in log
    assert os.path.exists(installed(r"C:\Apps\Vardo", "Vardo.exe"))


def test_folder_switch_without_value_falls_back_to_default_then_registry(copies, fresh):
    rc, log = silent(copies["full"], "/s", "/d")
    assert rc == 0
    # a 64-bit prefix: the default folder is the 64-bit Program Files
    default = r"C:\Program Files\Vardo"
    assert "inst strCmd : /S /D=%s" % default in log
    assert os.path.exists(installed(default, "Vardo.exe"))

    assert silent(copies["full"], "/s", "/d", r"C:\My Apps\Elsewhere")[0] == 0
    quote_uninstall_string(r"C:\My Apps\Elsewhere")
    h.clean_data()
    rc, log = silent(copies["full"], "/d", "/s", "/m")
    assert rc == 0
    assert "inst strCmd : /S /D=C:\\My Apps\\Elsewhere" in log
    assert runs(r"C:\My Apps\Elsewhere") == ["Helper.exe| /m"]

    # a 64-bit product's setup registers in the 64-bit view only: that view is read first
    assert h.reg("delete", UNINSTALL_KEY, "/f", "/reg:32") == 0
    value = r'"C:\Apps\Wide64\uninst.exe"'
    assert h.reg("add", UNINSTALL_KEY, "/v", "UninstallString", "/d", value, "/f", "/reg:64") == 0
    h.clean_data()
    rc, log = silent(copies["full"], "/s")
    assert rc == 0
    assert "inst strCmd : /S /D=C:\\Apps\\Wide64" in log


def test_32_bit_windows_installs_into_its_only_program_files(copies, tmp_path):
    """A 32-bit Windows has no "Program Files (x86)": without /d and without an earlier
    installation the folder is the system's own Program Files."""
    env = {"WINEPREFIX": str(tmp_path / "win32"), "WINEARCH": "win32"}
    try:
        subprocess.run(["wine", "wineboot", "-i"], env=h.wine_env(env), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True, timeout=300)
        rc, _ = h.run(copies["full"], ["/s"], timeout=180, env=env)
        drive_c = tmp_path / "win32" / "drive_c"
        assert rc == 0
        assert (drive_c / "Program Files" / "Vardo" / "Vardo.exe").exists()
        assert not (drive_c / "Program Files (x86)").exists()
    finally:
        subprocess.run(["wineserver", "-k"], env=h.wine_env(env), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)


def test_silent_run_ignores_the_single_instance_guard(copies, fresh):
    holder = h.start(os.path.join(h.BIN, "wintool.exe"), ["holdmutex", "vdpamo_singleton_mutex", "30"])
    try:
        assert h.wait_for(lambda: h.process_counts("wintool.exe")["wintool.exe"] >= 1, timeout=30)
        time.sleep(0.5)  # the holder creates the mutex first thing; give it that moment
        rc, log = silent(copies["full"], "/s", "/d", r"C:\Apps\Vardo")
        assert holder.poll() is None, "the guard's holder ended before the silent run"
    finally:
        h.stop(holder)
        h.kill_windows_processes("wintool.exe")
    assert rc == 0
    assert os.path.exists(installed(r"C:\Apps\Vardo", "Vardo.exe"))
    assert not any(l.startswith("last error=") for l in log)


def test_64_bit_package_lays_down_a_64_bit_product(copies, fresh):
    folder = r"C:\Apps\Vardo64"
    assert silent(copies["x64"], "/S", "/d", folder)[0] == 0
    assert pe_machine(installed(folder, "Vardo.exe")) == 0x8664
    assert pe_machine(installed(folder, "Helper.exe")) == 0x014C


def test_package_without_vardo_and_its_uninstaller(copies, fresh):
    folder = r"C:\Apps\NoVardo"
    assert silent(copies["novardo"], "/s", "/d", folder)[0] == 0
    assert not os.path.exists(installed(folder, "Vardo.exe"))
    assert os.path.exists(installed(folder, "Launcher.exe"))
    assert h.reg("query", UNINSTALL_KEY, "/v", "UninstallString", "/reg:32") == 0
    # "_?=" keeps NSIS's uninstaller in place, so it ends before we look
    rc, _ = h.run(installed(folder, "uninst.exe"), ["/S", "_?=" + folder], timeout=120)
    assert rc == 0
    assert not os.path.exists(installed(folder, "Launcher.exe"))
    assert not os.path.exists(installed(folder, "Helper.exe"))
    assert h.reg("query", UNINSTALL_KEY, "/reg:32") != 0


def test_stamp_tool_refuses_bad_input_and_leaves_its_input_alone(copies, tmp_path):
    before = open(h.EXE, "rb").read()
    text_file = tmp_path / "notes.txt"
    text_file.write_bytes(b"not a program")
    out = tmp_path / "out.exe"
    cases = [
        ([], 1),
        (["--vdpm", h.to_windows(str(tmp_path / "missing.exe")), h.to_windows(h.EXE), h.to_windows(str(out))], 2),
        (["--channel", h.to_windows(str(text_file)), h.to_windows(str(text_file)), h.to_windows(str(out))], 3),
        (["--channel", h.to_windows(str(text_file)), h.to_windows(h.EXE), h.to_windows(h.EXE)], 1),
    ]
    # a setup file too large for a 32-bit process to hold (sparse: costs no disk)
    huge = tmp_path / "huge.exe"
    with open(huge, "wb") as f:
        f.truncate(0x6FF00000)
    cases.append((["--vdpm", h.to_windows(str(huge)), h.to_windows(h.EXE), h.to_windows(str(out))], 2))
    for args, code in cases:
        rc, _ = h.run(STAMP, args, timeout=60)
        assert rc == code, args
    assert not out.exists()
    assert open(h.EXE, "rb").read() == before


def test_stamp_then_sign_gives_a_verified_copy_that_installs(copies, fresh, tmp_path):
    certs = os.path.join(PRODUCT, "certs")
    sign = os.path.join(h.ROOT, "scripts", "sign.sh")
    key = ["-cert", os.path.join(certs, "signer.crt"), "-key", os.path.join(certs, "signer.key"),
           "-CAfile", os.path.join(certs, "ca.crt")]
    verify = lambda f: subprocess.run(["osslsigncode", "verify", "-CAfile", os.path.join(certs, "ca.crt"), "-in", f],
                                      capture_output=True, timeout=60).returncode
    signed_stub = str(tmp_path / "signed_stub.exe")
    subprocess.run([sign, "-in", h.EXE, "-out", signed_stub] + key, check=True, timeout=120)
    assert verify(signed_stub) == 0

    # stamping a signed stub voids its signature: the output comes out plainly unsigned, and says so
    setup = os.path.join(PRODUCT, "VardoSetup_signed.exe")
    out = str(tmp_path / "stamped.exe")
    args = ["--vdpm", h.to_windows(setup), "--channel", h.to_windows(os.path.join(copies["work"], "full_channel.bin"))]
    p = subprocess.run(["wine", STAMP] + args + [h.to_windows(signed_stub), h.to_windows(out)], env=h.wine_env(),
                       stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    assert h.exit_code(p.returncode) == 5
    assert b"carries no signature. Sign it again" in p.stderr
    p = subprocess.run(["osslsigncode", "verify", "-in", out], capture_output=True, timeout=60)
    assert b"No signature found" in p.stdout + p.stderr
    assert b"Current PE checksum   : 00000000" in p.stdout  # none, rather than the signer's stale one
    os.remove(out)
    p = subprocess.run(["wine", STAMP, "--drop-signature"] + args + [h.to_windows(signed_stub), h.to_windows(out)],
                       env=h.wine_env(), stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    assert h.exit_code(p.returncode) == 0 and b"Sign it again" in p.stderr

    # stamp, then sign: verified, and the signed copy runs its silent installation under Wine
    final = str(tmp_path / "final.exe")
    subprocess.run([sign, "-in", out, "-out", final] + key, check=True, timeout=120)
    assert verify(final) == 0
    folder = r"C:\Apps\Vardo"
    rc, log = silent(final, "/s", "/d", folder)
    assert rc == 0, log[-10:]
    assert os.path.exists(installed(folder, "Vardo.exe"))
    assert "read m_bChannelRcContent2Memory:vardox .." in log
    assert any(l.startswith("package signature:verified,") for l in log)


def test_deletes_never_follow_planted_links(tmp_path):
    """Wine shows a Unix symbolic link to a folder as a reparse point, as Windows shows a junction.
    Wine 8 cannot remove such a link through Win32 (RemoveDirectoryW answers "not empty" for the
    target), so the link itself may stay here; what matters is that nothing behind it goes."""
    victim = tmp_path / "victim"
    victim.mkdir()
    (victim / "precious.txt").write_bytes(b"keep me")
    base = os.path.join(h.temp_dir(), "vd_links")
    shutil.rmtree(base, ignore_errors=True)
    for command in ("deletepath", "clearfolder", "deleteitem"):
        tree = os.path.join(base, command)
        os.makedirs(os.path.join(tree, "sub"))
        open(os.path.join(tree, "sub", "part.tmp"), "wb").close()
        os.symlink(str(victim), os.path.join(tree, "sub", "planted"))
        os.symlink(str(victim), os.path.join(tree, "planted"))
        h.wintool(command, h.to_windows(tree))
        assert not os.path.exists(os.path.join(tree, "sub", "part.tmp")), command
        assert (victim / "precious.txt").read_bytes() == b"keep me", command
    # a link handed over as the path itself
    link = os.path.join(base, "direct")
    os.symlink(str(victim), link)
    h.wintool("deletepath", h.to_windows(link))
    assert (victim / "precious.txt").read_bytes() == b"keep me"
    shutil.rmtree(base, ignore_errors=True)


def tampered_copy(src, dst):
    data = bytearray(open(src, "rb").read())
    data[4096] ^= 1  # inside the signed image, not the signature
    with open(dst, "wb") as f:
        f.write(data)
    return dst


PINNED = os.path.join(h.BIN, "vdInstallerPinned.exe")  # the same installer pinned to the test publisher


@pytest.mark.parametrize("pinned,package,installs,verdict", [
    (False, "VardoSetup_signed.exe", True, "verified,code:0x00000000,signer:Vardo Test Publisher,sha256:"),
    (False, "tampered", False, "bad signature,code:0x80096010"),
    (False, "VardoSetup.exe", True, "unsigned,code:0x800b0100"),
    (True, "VardoSetup_signed.exe", True, "verified,code:0x00000000,signer:Vardo Test Publisher,sha256:"),
    (True, "VardoSetup_twin.exe", False, "wrong signer,code:0x00000000,signer:Vardo Test Publisher,sha256:"),
    (True, "VardoSetup_other.exe", False, "wrong signer,code:0x00000000,signer:Someone Else Ltd,sha256:"),
    (True, "VardoSetup.exe", False, "wrong signer,code:0x800b0100"),
])
def test_embedded_package_runs_only_with_an_acceptable_signature(fresh, tmp_path, pinned, package, installs, verdict):
    setup = os.path.join(PRODUCT, package)
    if package == "tampered":
        setup = tampered_copy(os.path.join(PRODUCT, "VardoSetup_signed.exe"), str(tmp_path / "tampered.exe"))
    out = str(tmp_path / "copy.exe")
    rc, text = h.run(STAMP, ["--vdpm", h.to_windows(setup), h.to_windows(PINNED if pinned else h.EXE),
                             h.to_windows(out)], timeout=60)
    assert rc == 0, text
    folder = r"C:\Apps\Vardo"
    rc, log = silent(out, "/s", "/d", folder)
    lines = [l for l in log if l.startswith("package signature:")]
    assert len(lines) == 1 and lines[0].startswith("package signature:" + verdict), lines
    assert VDPM_LOGGED.match(lines[0].rsplit(",file:", 1)[1]), lines[0]
    assert ("package is unsigned, no signer is pinned: run all the same" in log) == (verdict.startswith("unsigned"))
    assert rc == (0 if installs else -3)
    assert os.path.exists(installed(folder, "Vardo.exe")) == installs
    assert ("package refused, not run:" in " ".join(log)) != installs
    assert vdpm_files() == [], "the extracted package stays behind"


def test_links_planted_in_temp_change_nothing_and_the_setup_runs_from_a_machine_folder(copies, fresh, tmp_path):
    """%TEMP%\\Vardo planted as a link to a folder of someone else's: the silent run installs all
    the same, that folder is byte for byte as it was, and the setup ran from a copy outside the
    user's profile and Temp."""
    victim = tmp_path / "victim"
    (victim / "vdInstaller").mkdir(parents=True)
    (victim / "keep.txt").write_bytes(b"mine")
    (victim / "vdInstaller" / ".hidden").write_bytes(b"mine too")
    before = {p: open(os.path.join(r, p), "rb").read() for r, _, fs in os.walk(victim) for p in fs}
    link = os.path.join(h.temp_dir(), "Vardo")
    shutil.rmtree(link, ignore_errors=True)
    os.symlink(str(victim), link)
    try:
        folder = r"C:\My Apps\Vardo"
        rc, log = silent(copies["full"], "/s", "/d", folder)
        assert rc == 0, log[-30:]
        assert os.path.exists(installed(folder, "Vardo.exe"))
    finally:
        for name in os.listdir(h.temp_dir()):
            p = os.path.join(h.temp_dir(), name)
            if name == "Vardo" or name.startswith("Vardo."):
                os.unlink(p) if os.path.islink(p) else shutil.rmtree(p, ignore_errors=True)
    after = {p: open(os.path.join(r, p), "rb").read() for r, _, fs in os.walk(victim) for p in fs}
    assert after == before
    # Windows removes the link; Wine cannot, and a new folder of the run's own is used instead
    assert any(l.startswith("a link stands where a folder of ours belongs, removed:") for l in log), log[-30:]
    copies_logged = [l.split(":", 1)[1].split(",from:")[0] for l in log if l.startswith("package secure copy:")]
    assert len(copies_logged) == 1, log[-30:]
    run_from = copies_logged[0].lower()
    assert run_from.startswith("c:\\programdata\\vardo\\vdinstaller\\run_"), run_from
    assert "\\users\\" not in run_from and "\\temp\\" not in run_from
    assert not os.path.exists(os.path.dirname(c_path(copies_logged[0]))), "the run folder stays behind"
