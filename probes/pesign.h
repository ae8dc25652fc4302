// Authenticode check of a package before it runs elevated: the system's verdict on the
// signature plus our own look at the signer's leaf certificate.
#pragma once
#include <windows.h>

#include <string>

enum EPackageTrust {
    kPackageVerified = 0,     // signature verifies (and matches the pin, when one is set)
    kPackageUnsigned = 1,     // no signature at all
    kPackageBad = 2,          // a signature that does not verify: never run
    kPackageWrongSigner = 3,  // verifies, but not by the pinned publisher (or unsigned under a pin)
};

// The publisher a build insists on; an empty common name means no pin.
struct SignerPin {
    std::wstring m_s_common_name;
    std::string m_s_sha256;  // 64 hex digits of the signing certificate, or empty
};

struct PackageSignature {
    EPackageTrust m_e_trust = kPackageUnsigned;
    LONG m_l_trust_code = 0;        // WinVerifyTrust's result
    std::wstring m_s_signer;        // leaf certificate subject CN, when there is a signature
    std::string m_s_signer_sha256;  // its SHA-256 thumbprint, lower-case hex
};

// The pin compiled into this build (VD_PACKAGE_SIGNER / VD_PACKAGE_SIGNER_SHA256).
const SignerPin& BuildSignerPin();

// Verifies through an open handle, so the bytes checked are the bytes that later run as long as
// the caller keeps the handle (opened without write or delete sharing) until the process started.
// The signer comes from the provider's state, never from the path; a path that does not name the
// handle's file is refused.
PackageSignature VerifyPackageSignature(HANDLE file, const wchar_t* path, const SignerPin& pin);

// Decision from the system's result and the leaf certificate; no system calls. A signature the
// system cannot read while the image's certificate table is not empty (`certificateTable`) is
// damaged, not absent. Chain faults leave the verdict to the pin, else the package is unsigned.
EPackageTrust DecidePackageTrust(LONG trustCode, const std::wstring& signer, const std::string& signerSha256,
                                 const SignerPin& pin, bool certificateTable = false);
// Faults of the machine's chain check (roots, expiry without a timestamp, revocation offline).
bool IsChainFault(LONG trustCode);
// A common name and 64 hex digits of the certificate's SHA-256; anything else matches no signer.
bool PinIsWellFormed(const SignerPin& pin);

// "verified", "unsigned", "bad signature" or "wrong signer", for the log.
const wchar_t* PackageTrustText(EPackageTrust trust);
// One log line: trust text, WinVerifyTrust code in hex, signer and thumbprint.
std::wstring DescribePackageSignature(const PackageSignature& sig);

// Opens a package for checking and running: readable, with neither write nor delete sharing.
HANDLE OpenPackageLocked(const wchar_t* path);

// Opens the package locked and checks its signature against the build's pin; logs the verdict.
// A refused package (bad signature, or not the pinned signer) must not run.
bool IsPackageRefused(EPackageTrust trust);
PackageSignature CheckPackageFileSignature(const std::wstring& path);
// Only the file's own faults justify deleting it: a chain fault comes again with every download.
bool ShouldDeleteRefusedPackage(const PackageSignature& sig);

// kPackageRefused: refuse and delete; kPackageRefusedKept: refuse, the file stays (chain fault).
enum EPackageStart { kPackageStarted = 0, kPackageStartFailed = 1, kPackageRefused = 2, kPackageRefusedKept = 3 };
// Copies the package from a handle that denies write and delete sharing into a new protected run
// folder (CreateProtectedRunFolder), checks the copy there (the server's MD5 when one is given,
// then the signature) and starts it from that folder, working folder included, from a handle held
// the same way until the process exists. The folder goes when a waited-for run is over.
EPackageStart StartVerifiedPackage(const std::wstring& path, const std::wstring& cmdLine, bool wait, DWORD* exitCode,
                                   const std::string& expectedMd5 = std::string());
