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
    kStampSignatureDropped = 5,  // written, but the input's signature is gone: sign the output again
};

// Reads every resource file first, then writes OUTPUT through a ".tmp" copy that is checked
// before it is renamed; INPUT is only read. `message` says what failed, or what was done.
// An Authenticode signature of INPUT does not survive new resources: the output never carries the
// stale one (it is removed, so the output is plainly unsigned) and `signatureDropped` is set.
// Unless the request acknowledges that, the result is kStampSignatureDropped.
StampResult StampResources(const StampRequest& request, std::wstring& message, bool* signatureDropped = nullptr);

// Removes a PE file's certificate table (its Authenticode signature); `had` tells whether there was one.
bool RemoveCertificateTable(const std::wstring& path, bool& had);
