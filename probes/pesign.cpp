#include "probes/pesign.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cctype>
#include <cstddef>
#include <cstring>
#include <vector>

#include "base/md5.h"
#include "base/safefs.h"
#include "base/vdlog.h"
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
    CScopedCryptProv prov;
    if (!CryptAcquireContextW(prov.Receive(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return std::string();
    std::string out;
    CScopedCryptHash hash;
    if (CryptCreateHash(prov.Get(), CALG_SHA_256, 0, 0, hash.Receive())) {
        BYTE digest[32];
        DWORD len = sizeof(digest);
        if (CryptHashData(hash.Get(), data, size, 0) && CryptGetHashParam(hash.Get(), HP_HASHVAL, digest, &len, 0) &&
            len == 32)
            out = LowerHex(digest, len);
    }
    return out;
}

// The subject's common name in full: an embedded NUL must not cut "Vardo Ltd\0..." down to a pin.
std::wstring SubjectCommonName(PCCERT_CONTEXT cert) {
    CERT_NAME_INFO* info = nullptr;
    DWORD size = 0;
    std::wstring cn;
    if (CryptDecodeObjectEx(X509_ASN_ENCODING, X509_UNICODE_NAME, cert->pCertInfo->Subject.pbData,
                            cert->pCertInfo->Subject.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &info, &size) && info) {
        CScopedLocalMem owned(info);
        for (DWORD i = 0; i < info->cRDN && cn.empty(); ++i)
            for (DWORD j = 0; j < info->rgRDN[i].cRDNAttr; ++j) {
                const CERT_RDN_ATTR& attr = info->rgRDN[i].rgRDNAttr[j];
                if (!attr.pszObjId || strcmp(attr.pszObjId, szOID_COMMON_NAME) != 0) continue;
                cn.assign(reinterpret_cast<const wchar_t*>(attr.Value.pbData), attr.Value.cbData / sizeof(wchar_t));
                // Wine counts the terminator in the length; Windows does not
                if (!cn.empty() && cn.back() == L'\0') cn.pop_back();
                break;
            }
        return cn;
    }
    wchar_t buf[256] = {0};
    CertGetNameStringW(cert, CERT_NAME_ATTR_TYPE, 0, (void*)szOID_COMMON_NAME, buf, 256);
    return buf;
}

// The signer's certificate as the provider checked it, from its own state: reading the file again
// by path could meet other bytes than the handle did.
void ReadSignerFromState(HANDLE state, PackageSignature& sig) {
    CRYPT_PROVIDER_DATA* prov = state ? WTHelperProvDataFromStateData(state) : nullptr;
    CRYPT_PROVIDER_SGNR* signer = prov ? WTHelperGetProvSignerFromChain(prov, 0, FALSE, 0) : nullptr;
    CRYPT_PROVIDER_CERT* leaf = signer ? WTHelperGetProvCertFromChain(signer, 0) : nullptr;
    if (!leaf || !leaf->pCert) return;
    sig.m_s_signer = SubjectCommonName(leaf->pCert);
    sig.m_s_signer_sha256 = Sha256Hex(leaf->pCert->pbCertEncoded, leaf->pCert->cbCertEncoded);
}

bool ReadAt(HANDLE file, LONGLONG offset, void* buf, DWORD size) {
    LARGE_INTEGER at;
    at.QuadPart = offset;
    DWORD got = 0;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ReadFile(file, buf, size, &got, nullptr) && got == size;
}

// A PE image whose certificate table is not empty carries a signature, readable or not.
bool HasCertificateTable(HANDLE file) {
    IMAGE_DOS_HEADER dos = {};
    if (!ReadAt(file, 0, &dos, sizeof(dos)) || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew <= 0) return false;
    BYTE nt[4 + sizeof(IMAGE_FILE_HEADER) + sizeof(IMAGE_OPTIONAL_HEADER64)] = {};
    if (!ReadAt(file, dos.e_lfanew, nt, 4 + sizeof(IMAGE_FILE_HEADER) + 2) || memcmp(nt, "PE\0\0", 4) != 0) return false;
    WORD magic = *reinterpret_cast<WORD*>(nt + 4 + sizeof(IMAGE_FILE_HEADER));
    LONGLONG opt = dos.e_lfanew + 4 + sizeof(IMAGE_FILE_HEADER);
    IMAGE_DATA_DIRECTORY dir = {};
    LONGLONG at = magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC
                      ? opt + offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory)
                      : opt + offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
    if (!ReadAt(file, at + IMAGE_DIRECTORY_ENTRY_SECURITY * sizeof(dir), &dir, sizeof(dir))) return false;
    return dir.VirtualAddress != 0 && dir.Size != 0;
}

// The handle and the path name one file (volume and file index), or the path is only a label.
bool SameFile(HANDLE file, const wchar_t* path) {
    CScopedHandle other(CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION a = {}, b = {};
    return other.Valid() && GetFileInformationByHandle(file, &a) && GetFileInformationByHandle(other.Get(), &b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

bool IsWellFormedThumbprint(const std::string& s) {
    if (s.size() != 64) return false;
    for (char c : s)
        if (!isxdigit((unsigned char)c)) return false;
    return true;
}

}  // namespace

bool IsChainFault(LONG trustCode) {
    switch (trustCode) {
        case CERT_E_UNTRUSTEDROOT:
        case CERT_E_UNTRUSTEDTESTROOT:
        case CERT_E_CHAINING:
        case CERT_E_EXPIRED:  // only reported when no timestamp vouches for the signing time
        case CERT_E_REVOCATION_FAILURE:
        case CRYPT_E_REVOCATION_OFFLINE:
        case CRYPT_E_NO_REVOCATION_CHECK:
            return true;
    }
    return false;
}

bool PinIsWellFormed(const SignerPin& pin) {
    return !pin.m_s_common_name.empty() && IsWellFormedThumbprint(pin.m_s_sha256);
}

EPackageTrust DecidePackageTrust(LONG trustCode, const std::wstring& signer, const std::string& signerSha256,
                                 const SignerPin& pin, bool certificateTable) {
    bool pinned = !pin.m_s_common_name.empty() || !pin.m_s_sha256.empty();
    // a pin that is not a name and a thumbprint matches nobody, rather than anybody of that name
    bool matches = PinIsWellFormed(pin) && signer == pin.m_s_common_name &&
                   NormaliseThumbprint(signerSha256) == NormaliseThumbprint(pin.m_s_sha256);
    if (trustCode == TRUST_E_NOSIGNATURE || trustCode == TRUST_E_SUBJECT_FORM_UNKNOWN) {
        // a certificate table the system cannot read is a damaged signature, not none
        if (certificateTable) return kPackageBad;
        return pinned ? kPackageWrongSigner : kPackageUnsigned;
    }
    // The chain is the machine's verdict (old root store, no network), not the file's: the pin
    // decides, and without one the package counts as unsigned.
    if (trustCode == ERROR_SUCCESS || IsChainFault(trustCode)) {
        if (pinned) return matches ? kPackageVerified : kPackageWrongSigner;
        return trustCode == ERROR_SUCCESS ? kPackageVerified : kPackageUnsigned;
    }
    return kPackageBad;
}

bool ShouldDeleteRefusedPackage(const PackageSignature& sig) {
    return IsPackageRefused(sig.m_e_trust) && !IsChainFault(sig.m_l_trust_code);
}

PackageSignature VerifyPackageSignature(HANDLE file, const wchar_t* path, const SignerPin& pin) {
    PackageSignature sig;
    if (!file || file == INVALID_HANDLE_VALUE || !path || !SameFile(file, path)) {
        // a verdict on one file under another's name is worth nothing
        sig.m_e_trust = kPackageBad;
        sig.m_l_trust_code = (LONG)HRESULT_FROM_WIN32(ERROR_FILE_INVALID);
        return sig;
    }
    WINTRUST_FILE_INFO fileInfo = {};
    fileInfo.cbStruct = sizeof(fileInfo);
    fileInfo.pcwszFilePath = path;
    fileInfo.hFile = file;
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    sig.m_l_trust_code = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    if (sig.m_l_trust_code != TRUST_E_NOSIGNATURE) ReadSignerFromState(data.hWVTStateData, sig);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    // a verified signature whose signer we cannot read is not one we can vouch for
    if (sig.m_l_trust_code == ERROR_SUCCESS && sig.m_s_signer_sha256.empty())
        sig.m_l_trust_code = TRUST_E_NO_SIGNER_CERT;
    bool table = (sig.m_l_trust_code == TRUST_E_NOSIGNATURE || sig.m_l_trust_code == TRUST_E_SUBJECT_FORM_UNKNOWN) &&
                 HasCertificateTable(file);
    sig.m_e_trust = DecidePackageTrust(sig.m_l_trust_code, sig.m_s_signer, sig.m_s_signer_sha256, pin, table);
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
    return CreateFileRetryingSharing(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
}

bool IsPackageRefused(EPackageTrust trust) { return trust == kPackageBad || trust == kPackageWrongSigner; }

namespace {
// `shown` is the package's own name for the log when `path` is the copy that was checked.
PackageSignature CheckLocked(HANDLE file, const std::wstring& path, const std::wstring& shown) {
    PackageSignature sig = VerifyPackageSignature(file, path.c_str(), BuildSignerPin());
    WriteLogW(L"package signature:%s,file:%s\n", DescribePackageSignature(sig).c_str(), shown.c_str());
    if (sig.m_e_trust == kPackageUnsigned && IsChainFault(sig.m_l_trust_code))
        WriteLogW(L"package signer's chain is not trusted on this machine (0x%08lx): taken as unsigned\n",
                  (unsigned long)sig.m_l_trust_code);
    if (sig.m_e_trust == kPackageUnsigned) WriteLogW(L"package is unsigned, no signer is pinned: run all the same\n");
    return sig;
}

std::string FileMd5(HANDLE file) {
    LARGE_INTEGER zero = {};
    if (!SetFilePointerEx(file, zero, nullptr, FILE_BEGIN)) return std::string();
    CMd5 md5;
    std::vector<unsigned char> buf(1 << 16);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buf.data(), (DWORD)buf.size(), &got, nullptr)) return std::string();
        if (got == 0) break;
        md5.Update(buf.data(), got);
    }
    unsigned char digest[16];
    md5.Final(digest);
    return Md5DigestToHex(digest);
}

bool Md5Matches(const std::string& expected, const std::string& actual) {
    if (actual.empty()) return false;
    std::string a = expected, b = actual;
    for (char& c : a) c = (char)tolower((unsigned char)c);
    // the servers' short digests are padded the way the download check pads them
    if (a.size() < 32) a.append(32 - a.size(), '0');
    return a == b;
}

bool CopyToNewFile(HANDLE source, const std::wstring& target) {
    LARGE_INTEGER zero = {};
    if (!SetFilePointerEx(source, zero, nullptr, FILE_BEGIN)) return false;
    CScopedHandle out(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out.Valid()) return false;
    std::vector<unsigned char> buf(1 << 16);
    for (;;) {
        DWORD got = 0, put = 0;
        if (!ReadFile(source, buf.data(), (DWORD)buf.size(), &got, nullptr)) return false;
        if (got == 0) return true;
        if (!WriteFile(out.Get(), buf.data(), got, &put, nullptr) || put != got) return false;
    }
}

std::wstring BaseName(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// Owns the protected run folder of one start: deleted with what it holds when the run is over.
class CRunFolder {
public:
    CRunFolder() : m_s_path(CreateProtectedRunFolder()) {}
    ~CRunFolder() {
        if (!m_s_path.empty() && !m_b_keep) DeleteTreeNoFollow(m_s_path, true);
    }
    CRunFolder(const CRunFolder&) = delete;
    CRunFolder& operator=(const CRunFolder&) = delete;
    const std::wstring& Path() const { return m_s_path; }
    void Keep() { m_b_keep = true; }
private:
    std::wstring m_s_path;
    bool m_b_keep = false;
};
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
    return CheckLocked(file.Get(), path, path);
}

EPackageStart StartVerifiedPackage(const std::wstring& path, const std::wstring& cmdLine, bool wait, DWORD* exitCode,
                                   const std::string& expectedMd5) {
    CScopedHandle source(OpenPackageLocked(path.c_str()));
    if (!source.Valid()) {
        WriteLogW(L"package cannot be opened for the check,err:%d,file:%s\n", (int)GetLastError(), path.c_str());
        return kPackageStartFailed;
    }
    // The user's Temp and Documents are writable by every process of that user: what runs
    // elevated is a copy in a folder only administrators can write, checked there.
    CRunFolder folder;
    if (folder.Path().empty()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return kPackageStartFailed;
    }
    std::wstring copy = folder.Path() + L"\\" + BaseName(path);
    if (!CopyToNewFile(source.Get(), copy)) {
        DWORD err = GetLastError();
        WriteLogW(L"package secure copy failed,err:%d,file:%s\n", (int)err, copy.c_str());
        SetLastError(err);
        return kPackageStartFailed;
    }
    source.Reset();
    WriteLogW(L"package secure copy:%s,from:%s\n", copy.c_str(), path.c_str());
    CScopedHandle file(OpenPackageLocked(copy.c_str()));
    if (!file.Valid()) {
        WriteLogW(L"package cannot be opened for the check,err:%d,file:%s\n", (int)GetLastError(), copy.c_str());
        return kPackageStartFailed;
    }
    if (!expectedMd5.empty()) {
        std::string md5 = FileMd5(file.Get());
        if (!Md5Matches(expectedMd5, md5)) {
            WriteLogA("package secure copy md5:%s,server md5:%s,not run\n", md5.c_str(), expectedMd5.c_str());
            return kPackageRefused;
        }
    }
    PackageSignature sig = CheckLocked(file.Get(), copy, path);
    if (IsPackageRefused(sig.m_e_trust)) {
        WriteLogW(L"package refused, not run:%s\n", path.c_str());
        return ShouldDeleteRefusedPackage(sig) ? kPackageRefused : kPackageRefusedKept;
    }
    std::vector<wchar_t> cmd(cmdLine.begin(), cmdLine.end());
    cmd.push_back(0);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    // our own "no crash dialog" error mode is not the setup's business
    if (!CreateProcessW(copy.c_str(), cmd.data(), nullptr, nullptr, FALSE, CREATE_DEFAULT_ERROR_MODE, nullptr,
                        folder.Path().c_str(), &si, &pi)) {
        DWORD err = GetLastError();
        WriteLogW(L"CreateProcess failed (%d).\n", (int)err);
        SetLastError(err);
        return kPackageStartFailed;
    }
    file.Reset();  // the image section now holds the file: nobody can rewrite it under the process
    // a setup still running keeps its folder; it is the machine's, not the user's
    if (!wait) folder.Keep();
    return FinishStartedProcess(pi, wait, exitCode) ? kPackageStarted : kPackageStartFailed;
}
