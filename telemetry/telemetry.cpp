#include "telemetry/telemetry.h"

#include "base/vdlog.h"

const char kBehaviorWindowShown[] = "4010101";
const char kBehaviorDownloadStart[] = "4010102";
const char kBehaviorManualDownload[] = "4010103";
const char kBehaviorDownloadEnd[] = "4010104";
const char kBehaviorInstallEnd[] = "4010105";

using VdFoundationBehaviorGather::CBehaviorQueue;
using VdFoundationBehaviorGather::CVdBehaviorGather;

bool StartBehaviorWorker(const wchar_t* productFolder) {
    VdFoundationBehaviorGather::SetBehaviorProductName(productFolder);
    return CBehaviorQueue::Inst().StartWorker();
}

void PushBehaviorRecord(const char* model, const char* succeed, const char* errormessage, const char* businessId) {
    try {
        CVdBehaviorGather record;
        record.SetModel(model);
        record.SetSucceed(succeed);
        record.SetErrorMessage(errormessage);
        record.SetBusinessId(businessId);
        CBehaviorQueue::Inst().Push(record);
    } catch (...) {
        WriteLogW(L"PushBehaviorRecord UNexpected excepiton....\n");
    }
}

void StopTelemetry() {
    // The statistics record is not kept: a run that ends before its post loses it.
    vdStaticsFoundation::CStaticsQueue::Inst().StopWorker(300);
    CBehaviorQueue::Inst().StopAndStore();
}
