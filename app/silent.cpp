#include "app/silent.h"

#include <windows.h>

#include "app/cmdparams.h"
#include "installer/instjob.h"
#include "installer/workflow_rules.h"
#include "base/vdlog.h"
#include "payload/vdbizhandler.h"
#include "probes/pesign.h"
#include "probes/vdutils.h"

namespace {

constexpr int kExtractAttempts = 4;

std::wstring ChooseInstallFolder(const CCmdParameters& params) {
    std::wstring folder = params.GetCmdInstallDir();
    if (folder.empty()) {
        wchar_t registered[260] = {0};
        if (ReadInstallDirFromRegistry(registered, 260, L"Vardo3")) folder = registered;
    }
    // the system's folder for its own bitness: a 32-bit Windows has no "Program Files (x86)", and a
    // folder made at the drive root would inherit rights any user has there
    if (folder.empty()) folder = vdworkflow::DefaultInstallDir(true, 0, true, SystemProgramFilesFolder(true));
    return folder;
}


int SilentWork() {
    WriteLogW(L"DoSilentWork begin...\n");
    CCmdParameters& params = CCmdParameters::Inst();
    CVdBizHandler& biz = CVdBizHandler::Inst();

    bool extracted = false;
    for (int attempt = 0; attempt < kExtractAttempts && !extracted; ++attempt) {
        biz.CheckVdpmInsideFromRc();
        params.m_s_setup_path = biz.GetVdpmTargetPath();
        extracted = PathExists(params.m_s_setup_path);
        if (!extracted) WriteLogW(L"vdpm exe temp not find:%s...\n", params.m_s_setup_path.c_str());
    }
    if (!extracted) return kSilentNoSetup;

    KillProcessByName(L"Vardo.exe");
    KillProcessByName(L"doVadoraDaravad.exe");

    params.m_s_inst_folder = ChooseInstallFolder(params);
    // Built whole rather than into a fixed buffer: a cut-off folder would install elsewhere.
    std::wstring cmd = L" /S /D=" + params.m_s_inst_folder;
    WriteLogW(L"inst exe path:%s\n", params.m_s_setup_path.c_str());
    WriteLogW(L"inst strCmd :%s\n", cmd.c_str());

    biz.CheckBizToMyDocumentBegin();

    int result = kSilentOk;
    DWORD code = 0;
    EPackageStart started = StartVerifiedPackage(params.m_s_setup_path, cmd, true, &code);
    if (started == kPackageRefused || started == kPackageRefusedKept) {
        // the embedded package is deleted below like every extracted setup
        result = kSilentSetupNotStarted;
    } else if (started == kPackageStarted) {
        WriteLogW(L"vd_execute_process success\n");
        if (!vdworkflow::IsSetupSuccessCode(code)) {
            WriteLogW(L"setup exit code:%d,the setup failed\n", (int)code);
            result = kSilentSetupFailed;
        }
    } else {
        WriteLogW(L"vd_execute_process failure,error:%d\n", GetLastError());
        result = kSilentSetupNotStarted;
    }

    if (params.IsHelperMRegister()) {
        WriteLogW(L"do IsHelperMRegister\n");
        DoHelperMRegister(params.m_s_inst_folder);
    }

    WriteLogW(L"delete exe path:%s\n", params.m_s_setup_path.c_str());
    DeletePath(params.m_s_setup_path);

    biz.CheckBizChannelFromRc(params.m_s_inst_folder);
    WriteLogW(L"DoSilentWork end,nResult:%d...\n", result);
    return result;
}

}  // namespace

int DoSilentWork() {
    try {
        return SilentWork();
    } catch (...) {
        // Never report an installation that broke off as a success.
        WriteLogW(L"DoSilentWork UNexpected excepiton....\n");
        return kSilentSetupNotStarted;
    }
}
