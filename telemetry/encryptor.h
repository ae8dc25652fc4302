// DES-CBC with PKCS#5 padding over CryptoAPI, for the statistics text.
#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "base/scoped.h"

namespace Utilities {

class CEncryptor {
public:
    CEncryptor();
    virtual ~CEncryptor();
    CEncryptor(const CEncryptor&) = delete;
    CEncryptor& operator=(const CEncryptor&) = delete;

    // Key and IV: their first 8 bytes. Releases whatever an earlier Init acquired.
    bool Init(const char* key, const char* iv);
    // The ciphertext's length (a full padding block is added to whole blocks), or -1.
    int Encrypt(const void* data, DWORD length, std::string& cipher);

private:
    void Release();

    CScopedCryptProv m_h_prov;
    CScopedCryptKey m_h_key;  // after the provider: it goes first
};

}  // namespace Utilities

// The statistics text under the fixed key and IV; false when the cipher cannot be set up.
bool EncryptStaticsText(const std::string& text, std::string& cipher);
