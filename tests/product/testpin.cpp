// The test publisher as the pinned signer: linked into the pinned test copy of the installer in
// place of the build's own pin.
#include "probes/pesign.h"
#include "test_signer_pin.h"

const SignerPin& BuildSignerPin() {
    static const SignerPin pin = {VD_TEST_SIGNER, VD_TEST_SIGNER_SHA256};
    return pin;
}
