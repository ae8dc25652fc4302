// Test driver of the telemetry workers, in the order the main window uses them:
//   telemetrydrv [--product NAME] [--push MODEL[:SUCCEED[:ERRORMESSAGE]]]... [--stats]
//                [--until-sent MS] [--settle MS]
// Reads the distributor's business content, starts the behaviour worker (loading what an earlier
// run stored), pushes the records ("4010101" with the business content), sends the
// statistics event, waits until everything is sent (at most --until-sent) or for --settle, then
// stops and stores. Prints what was left; the exit code is 0 unless the arguments are wrong.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "base/vdlog.h"
#include "payload/vdbizhandler.h"
#include "telemetry/telemetry.h"
#include "telemetry/telemetryutil.h"

namespace {

bool AllSent() {
    return VdFoundationBehaviorGather::CBehaviorQueue::Inst().GetCount() == 0 &&
           !vdStaticsFoundation::CStaticsQueue::Inst().IsWorkerRunning();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring product = L"Vardo";
    std::vector<std::string> pushes;
    bool stats = false;
    DWORD untilSent = 0, settle = 0;
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        bool hasValue = i + 1 < argc;
        if (a == L"--product" && hasValue) {
            product = argv[++i];
        } else if (a == L"--push" && hasValue) {
            pushes.push_back(WideToCodePage(argv[++i], CP_UTF8));
        } else if (a == L"--stats") {
            stats = true;
        } else if (a == L"--until-sent" && hasValue) {
            untilSent = wcstoul(argv[++i], nullptr, 10);
        } else if (a == L"--settle" && hasValue) {
            settle = wcstoul(argv[++i], nullptr, 10);
        } else {
            fwprintf(stderr, L"unknown argument %s\n", a.c_str());
            return 2;
        }
    }

    OpenLog();
    CVdBizHandler::Inst().CheckBizToMyDocumentBegin();
    std::string biz = BizContentToUtf8(CVdBizHandler::Inst().GetBizContent());
    StartBehaviorWorker(product.c_str());
    for (const std::string& p : pushes) {
        size_t c1 = p.find(':');
        size_t c2 = c1 == std::string::npos ? c1 : p.find(':', c1 + 1);
        std::string model = p.substr(0, c1);
        std::string succeed = c1 == std::string::npos ? "" : p.substr(c1 + 1, c2 == std::string::npos ? c2 : c2 - c1 - 1);
        std::string error = c2 == std::string::npos ? "" : p.substr(c2 + 1);
        PushBehaviorRecord(model.c_str(), succeed.c_str(), error.c_str(),
                           model == kBehaviorWindowShown ? biz.c_str() : nullptr);
    }
    if (stats) SendInstallStatics();

    DWORD start = GetTickCount();
    if (untilSent) {
        Sleep(200);  // the worker loads stored records first
        while (!AllSent() && GetTickCount() - start < untilSent) Sleep(50);
    }
    if (settle) Sleep(settle);
    int left = VdFoundationBehaviorGather::CBehaviorQueue::Inst().GetCount();
    bool statsRunning = vdStaticsFoundation::CStaticsQueue::Inst().IsWorkerRunning();
    StopTelemetry();
    printf("behavior_left=%d stats_pending=%d elapsed_ms=%lu\n", left, statsRunning ? 1 : 0,
           (unsigned long)(GetTickCount() - start));
    CloseLog();
    return 0;
}
