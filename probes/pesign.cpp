#include "probes/pesign.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cctype>
#include <vector>

#include "local/vdlog.h"
#include "probes/vdutils.h"


namespace {

std::string LowerHex(const BYTE* p, DWORD n) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (DWORD i = 0; i < n; ++i) {
        out += kHex[p[i] >> 4];
        out += kHex[p[i] & 15];
    }
    return out;
}

std::string NormaliseThumbprint(const std::string& s) {
    std::string out;
    for (char c : s)
        if (isxdigit((unsigned char)c)) out += (char)tolower((unsigned char)c);
    return out;
}

std::string Sha256Hex(const BYTE* data, DWORD size) {
    HCRYPTPROV prov = 0;
    if (!CryptAcquireContextW(&prov, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return std::string();
    std::string out;
    HCRYPTHASH hash = 0;
    if (CryptCreateHash(prov, CALG_SHA_256, 0, 0, &hash)) {
        BYTE digest[32];
        DWORD len = sizeof(digest);
        if (CryptHashData(hash, data, size, 0) && CryptGetHashParam(hash, HP_HASHVAL, digest, &len, 0) && len == 32)
            out = LowerHex(digest, len);
        CryptDestroyHash(hash);
    }
    CryptReleaseContext(prov, 0);
    return out;
}

// The leaf certificate of the embedded signature, read from the PKCS#7 blob itself rather than from
// the provider's chain, which is only as good as the system's chain check.
void ReadLeafCertificate(const wchar_t* path, PackageSignature& sig) {
    HCERTSTORE store = nullptr;
    HCRYPTMSG msg = nullptr;
    DWORD encoding = 0, contentType = 0, formatType = 0;
    if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                          CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, &contentType, &formatType, &store, &msg,
                          nullptr))
        return;
    DWORD size = 0;
    if (CryptMsgGetParam(msg, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size) && size) {
        std::vector<BYTE> buf(size);
        if (CryptMsgGetParam(msg, CMSG_SIGNER_INFO_PARAM, 0, buf.data(), &size)) {
            auto* info = reinterpret_cast<CMSG_SIGNER_INFO*>(buf.data());
            CERT_INFO wanted = {};
            wanted.Issuer = info->Issuer;
            wanted.SerialNumber = info->SerialNumber;
            PCCERT_CONTEXT cert = CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                             CERT_FIND_SUBJECT_CERT, &wanted, nullptr);
            if (cert) {
                wchar_t cn[256] = {0};
                CertGetNameStringW(cert, CERT_NAME_ATTR_TYPE, 0, (void*)szOID_COMMON_NAME, cn, 256);
                sig.m_s_signer = cn;
                sig.m_s_signer_sha256 = Sha256Hex(cert->pbCertEncoded, cert->cbCertEncoded);
                CertFreeCertificateContext(cert);
            }
        }
    }
    CryptMsgClose(msg);
    CertCloseStore(store, 0);
}

}  // namespace

EPackageTrust DecidePackageTrust(LONG trustCode, const std::wstring& signer, const std::string& signerSha256,
                                 const SignerPin& pin) {
    bool pinned = !pin.m_s_common_name.empty();
    if (trustCode == TRUST_E_NOSIGNATURE || trustCode == TRUST_E_SUBJECT_FORM_UNKNOWN)
        return pinned ? kPackageWrongSigner : kPackageUnsigned;
    // Anything else the system rejects (digest, malformed blob, and on Windows the chain) never runs.
    if (trustCode != ERROR_SUCCESS) return kPackageBad;
    if (!pinned) return kPackageVerified;
    if (signer != pin.m_s_common_name) return kPackageWrongSigner;
    std::string want = NormaliseThumbprint(pin.m_s_sha256);
    if (!want.empty() && NormaliseThumbprint(signerSha256) != want) return kPackageWrongSigner;
    return kPackageVerified;
}

PackageSignature VerifyPackageSignature(HANDLE file, const wchar_t* path, const SignerPin& pin) {
    PackageSignature sig;
    WINTRUST_FILE_INFO fileInfo = {};
    fileInfo.cbStruct = sizeof(fileInfo);
    fileInfo.pcwszFilePath = path;
    fileInfo.hFile = (file && file != INVALID_HANDLE_VALUE) ? file : nullptr;
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    sig.m_l_trust_code = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    if (sig.m_l_trust_code != TRUST_E_NOSIGNATURE) ReadLeafCertificate(path, sig);
    // a verified signature whose signer we cannot read is not one we can vouch for
    if (sig.m_l_trust_code == ERROR_SUCCESS && sig.m_s_signer_sha256.empty())
        sig.m_l_trust_code = TRUST_E_NO_SIGNER_CERT;
    sig.m_e_trust = DecidePackageTrust(sig.m_l_trust_code, sig.m_s_signer, sig.m_s_signer_sha256, pin);
    return sig;
}

const wchar_t* PackageTrustText(EPackageTrust trust) {
    switch (trust) {
        case kPackageVerified: return L"verified";
        case kPackageUnsigned: return L"unsigned";
        case kPackageBad: return L"bad signature";
        case kPackageWrongSigner: return L"wrong signer";
    }
    return L"?";
}

std::wstring DescribePackageSignature(const PackageSignature& sig) {
    wchar_t code[16];
    swprintf(code, 16, L"0x%08lx", (unsigned long)sig.m_l_trust_code);
    std::wstring out = PackageTrustText(sig.m_e_trust);
    out += L",code:";
    out += code;
    if (!sig.m_s_signer.empty() || !sig.m_s_signer_sha256.empty()) {
        out += L",signer:" + sig.m_s_signer + L",sha256:";
        out += std::wstring(sig.m_s_signer_sha256.begin(), sig.m_s_signer_sha256.end());
    }
    return out;
}

HANDLE OpenPackageLocked(const wchar_t* path) {
    return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool IsPackageRefused(EPackageTrust trust) { return trust == kPackageBad || trust == kPackageWrongSigner; }

namespace {
PackageSignature CheckLocked(HANDLE file, const std::wstring& path) {
    PackageSignature sig = VerifyPackageSignature(file, path.c_str(), BuildSignerPin());
    WriteLogW(L"package signature:%s,file:%s\n", DescribePackageSignature(sig).c_str(), path.c_str());
    if (sig.m_e_trust == kPackageUnsigned) WriteLogW(L"package is unsigned, no signer is pinned: run all the same\n");
    return sig;
}
}  // namespace

PackageSignature CheckPackageFileSignature(const std::wstring& path) {
    CScopedHandle file(OpenPackageLocked(path.c_str()));
    if (!file.Valid()) {
        PackageSignature sig;
        sig.m_e_trust = kPackageBad;
        sig.m_l_trust_code = (LONG)HRESULT_FROM_WIN32(GetLastError());
        WriteLogW(L"package signature:%s,file:%s\n", DescribePackageSignature(sig).c_str(), path.c_str());
        return sig;
    }
    return CheckLocked(file.Get(), path);
}

EPackageStart StartVerifiedPackage(const std::wstring& path, const std::wstring& cmdLine, bool wait, DWORD* exitCode) {
    CScopedHandle file(OpenPackageLocked(path.c_str()));
    if (!file.Valid()) {
        WriteLogW(L"package cannot be opened for the check,err:%d,file:%s\n", (int)GetLastError(), path.c_str());
        return kPackageStartFailed;
    }
    PackageSignature sig = CheckLocked(file.Get(), path);
    if (IsPackageRefused(sig.m_e_trust)) {
        WriteLogW(L"package refused, not run:%s\n", path.c_str());
        return kPackageRefused;
    }
    std::vector<wchar_t> cmd(cmdLine.begin(), cmdLine.end());
    cmd.push_back(0);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(path.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        DWORD err = GetLastError();
        WriteLogW(L"CreateProcess failed (%d).\n", (int)err);
        SetLastError(err);
        return kPackageStartFailed;
    }
    file.Reset();  // the image section now holds the file: nobody can rewrite it under the process
    return FinishStartedProcess(pi, wait, exitCode) ? kPackageStarted : kPackageStartFailed;
}
