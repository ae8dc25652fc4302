// Adds, replaces or removes the distributor's resources in a copy of a finished executable.
#pragma once
#include <string>

#include "payload/bizrules.h"

enum StampResult {
    kStampOk = 0,
    kStampBadArgs = 1,
    kStampBadInputFile = 2,
    kStampBadTarget = 3,
    kStampWriteFailed = 4,
};

// Reads every resource file first, then writes OUTPUT through a ".tmp" copy that is checked
// before it is renamed; INPUT is only read. `message` says what failed, or what was done.
StampResult StampResources(const StampRequest& request, std::wstring& message);
