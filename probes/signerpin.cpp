// The build's pinned publisher, alone in its object file so that a test program can link its own.
#include "probes/pesign.h"
#include "vd_endpoints.h"

const SignerPin& BuildSignerPin() {
    static const SignerPin pin = {VD_PACKAGE_SIGNER, VD_PACKAGE_SIGNER_SHA256};
    return pin;
}
