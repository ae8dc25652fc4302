// What the main window and the workflow call; nothing here makes the caller wait for the network.
//
//   window initialisation, in this order:
//     StartBehaviorWorker(L"Vardo");
//     PushBehaviorRecord(kBehaviorWindowShown, "1", nullptr, bizContent);
//     SendInstallStatics();                         // telemetry/staticsqueue.h
//   workflow steps:
//     PushBehaviorRecord(kBehaviorDownloadEnd, "2", "12.50");
//   window destructor:
//     StopTelemetry();                              // unsent records go to "behavior.json"
#pragma once
#include <windows.h>

#include "telemetry/behaviorqueue.h"
#include "telemetry/staticsqueue.h"

// Event numbers of the behaviour records.
extern const char kBehaviorWindowShown[];      // "4010101", businessId: the business content
extern const char kBehaviorDownloadStart[];    // "4010102"
extern const char kBehaviorManualDownload[];   // "4010103"
extern const char kBehaviorDownloadEnd[];      // "4010104", errormessage: last speed "%.2f" KB/s
extern const char kBehaviorInstallEnd[];       // "4010105", failure: "Installing failure"

// Names the product folder (where "behavior.json" and "test.ini" live) and starts the worker,
// which first loads the records an earlier run stored.
bool StartBehaviorWorker(const wchar_t* productFolder);
// succeed: "1" or "2"; a null or empty text leaves the record's default.
void PushBehaviorRecord(const char* model, const char* succeed, const char* errormessage = nullptr,
                        const char* businessId = nullptr);
// Stops both workers (a post in flight is cancelled, never a thread terminated) and stores the
// unsent behaviour records.
void StopTelemetry();
