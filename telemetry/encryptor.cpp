#include "telemetry/encryptor.h"

#include <cstring>
#include <mutex>
#include <vector>

#include "base/vdlog.h"

namespace Utilities {

CEncryptor::CEncryptor() {}

CEncryptor::~CEncryptor() { Release(); }

void CEncryptor::Release() {
    m_h_key.Reset();
    m_h_prov.Reset();
}

bool CEncryptor::Init(const char* key, const char* iv) {
    Release();
    if (!key || strlen(key) < 8 || !iv || strlen(iv) < 8) return false;
    // No key container is needed for an imported session key; without VERIFYCONTEXT the call
    // fails on a profile that has never had one.
    if (!CryptAcquireContextW(m_h_prov.Receive(), nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        m_h_prov.Release();  // nothing was acquired
        return false;
    }
    struct {
        BLOBHEADER header;
        DWORD keyLength;
        BYTE key[8];
    } blob;
    blob.header.bType = PLAINTEXTKEYBLOB;
    blob.header.bVersion = CUR_BLOB_VERSION;
    blob.header.reserved = 0;
    blob.header.aiKeyAlg = CALG_DES;
    blob.keyLength = 8;
    memcpy(blob.key, key, 8);
    BOOL ok = CryptImportKey(m_h_prov.Get(), (const BYTE*)&blob, sizeof(blob), 0, 0, m_h_key.Receive());
    SecureZeroMemory(&blob, sizeof(blob));
    if (!ok) {
        m_h_key.Release();  // nothing was imported
        Release();
        return false;
    }
    DWORD mode = CRYPT_MODE_CBC;
    DWORD padding = PKCS5_PADDING;
    DWORD blockBits = 0, size = sizeof(blockBits);
    if (!CryptSetKeyParam(m_h_key.Get(), KP_MODE, (const BYTE*)&mode, 0) ||
        !CryptGetKeyParam(m_h_key.Get(), KP_BLOCKLEN, (BYTE*)&blockBits, &size, 0) ||
        !CryptSetKeyParam(m_h_key.Get(), KP_IV, (const BYTE*)iv, 0) ||
        !CryptSetKeyParam(m_h_key.Get(), KP_PADDING, (const BYTE*)&padding, 0)) {
        Release();
        return false;
    }
    return true;
}

int CEncryptor::Encrypt(const void* data, DWORD length, std::string& cipher) {
    cipher.clear();
    if (!m_h_key || (!data && length)) return -1;
    DWORD blockBits = 0, size = sizeof(blockBits);
    DWORD blockBytes = CryptGetKeyParam(m_h_key.Get(), KP_BLOCKLEN, (BYTE*)&blockBits, &size, 0) ? blockBits / 8 : 0;
    DWORD capacity = length + blockBytes;
    if (capacity < length) return -1;
    std::vector<BYTE> work(capacity ? capacity : 1, 0);
    if (length) memcpy(work.data(), data, length);
    DWORD produced = length;
    if (!CryptEncrypt(m_h_key.Get(), 0, TRUE, 0, work.data(), &produced, capacity) || produced > capacity) return -1;
    cipher.assign((const char*)work.data(), produced);
    return (int)produced;
}

}  // namespace Utilities

namespace {
// The collector decrypts with the same pair.
const char kStaticsKey[] = "5w!h$d62";
const char kStaticsIv[] = "q7#vm3xk";

struct CEncryptorSlot {
    std::mutex mtx;
    Utilities::CEncryptor encryptor;
};
}  // namespace

bool EncryptStaticsText(const std::string& text, std::string& cipher) {
    // never destroyed: the statistics worker may still be encrypting when the process ends
    static CEncryptorSlot& s_slot = *new CEncryptorSlot();
    cipher.clear();
    bool ok;
    DWORD err;
    {
        std::lock_guard<std::mutex> lock(s_slot.mtx);
        ok = s_slot.encryptor.Init(kStaticsKey, kStaticsIv) &&
             s_slot.encryptor.Encrypt(text.data(), (DWORD)text.size(), cipher) > 0;
        err = ok ? 0 : GetLastError();
    }
    if (!ok) {
        cipher.clear();
        WriteLogW(L"EncryptStaticsText failure, error=%d\n", (int)err);
    }
    return ok;
}
