// Digests, codecs, versions, bitness, adapters and the public IP lookup.
#include <gtest/gtest.h>
#include <windows.h>
#include <iphlpapi.h>
#include <wincrypt.h>

#include <cstdio>
#include <string>
#include <vector>

#include "net/iplookup.h"
#include "probes/base64.h"
#include "probes/fileversion.h"
#include "probes/hostinfo.h"
#include "probes/hostrules.h"
#include "base/md5.h"
#include "probes/vdutils.h"
#include "base/vdversion.h"
#include "tests/unit/support/testfiles.h"
#include "tests/unit/support/pefiles.h"
#include "tests/unit/support/testservers.h"

namespace {

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

std::string ToBytes(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += (char)std::stoi(hex.substr(i, 2), nullptr, 16);
    return out;
}

}  // namespace

TEST(Md5, Rfc1321VectorsAndFiles) {
    EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", vdtest::Md5Hex(""));
    EXPECT_EQ("0cc175b9c0f1b6a831c399e269772661", vdtest::Md5Hex("a"));
    EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", vdtest::Md5Hex("abc"));
    EXPECT_EQ("f96b697d7cb7938d525a2f31aaf161d0", vdtest::Md5Hex("message digest"));
    EXPECT_EQ("d174ab98d277d9f5a5611c2c9f419d9f",
              vdtest::Md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"));
    EXPECT_EQ("57edf4a22be3c955ac49da2e2107b67a",
              vdtest::Md5Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"));
    // fed in uneven pieces, the digest must not change
    CMd5 md5;
    std::string text = "12345678901234567890123456789012345678901234567890123456789012345678901234567890";
    for (size_t i = 0; i < text.size(); i += 7) md5.Update(text.data() + i, std::min<size_t>(7, text.size() - i));
    unsigned char d[16];
    md5.Final(d);
    EXPECT_EQ("57edf4a22be3c955ac49da2e2107b67a", Md5DigestToHex(d));

    std::wstring dir = vdtest::MakeTempDir(L"md5");
    std::string empty = Narrow(dir + L"\\empty.bin"), abc = Narrow(dir + L"\\abc.bin"), big = Narrow(dir + L"\\big.bin");
    ASSERT_TRUE(vdtest::WriteFileBytes(dir + L"\\empty.bin", ""));
    ASSERT_TRUE(vdtest::WriteFileBytes(dir + L"\\abc.bin", "abc"));
    ASSERT_TRUE(vdtest::WriteFileBytes(dir + L"\\big.bin", std::string(1000000, 'a')));  // many 1024-byte chunks
    EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", GetFileMd5(empty.c_str()));
    EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", GetFileMd5(abc.c_str()));
    EXPECT_EQ("7707d6ae4e027c70eea2a935c2296f21", GetFileMd5(big.c_str()));
    EXPECT_EQ("", GetFileMd5(Narrow(dir + L"\\missing.bin").c_str()));
    EXPECT_EQ("", GetFileMd5(""));
    EXPECT_EQ("", GetFileMd5(nullptr));
    DeleteFolderTree(dir);
}

// Every length around the 56- and 64-byte padding edges, against the system's own MD5.
TEST(Md5, AgreesWithCryptoApiAtEveryPaddingEdge) {
    HCRYPTPROV prov = 0;
    ASSERT_TRUE(CryptAcquireContextW(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    std::string data(300, '\0');
    unsigned seed = 12345;
    for (auto& c : data) c = (char)((seed = seed * 1103515245u + 12345u) >> 16);
    for (size_t n = 0; n <= data.size(); ++n) {
        HCRYPTHASH hash = 0;
        ASSERT_TRUE(CryptCreateHash(prov, CALG_MD5, 0, 0, &hash));
        CryptHashData(hash, (const BYTE*)data.data(), (DWORD)n, 0);
        BYTE ref[16];
        DWORD len = sizeof(ref);
        CryptGetHashParam(hash, HP_HASHVAL, ref, &len, 0);
        CryptDestroyHash(hash);
        EXPECT_EQ(Md5DigestToHex(ref), vdtest::Md5Hex(data.substr(0, n))) << "length " << n;
    }
    CryptReleaseContext(prov, 0);
}

TEST(Base64, EncodeDecodeAndDigestText) {
    EXPECT_EQ("YWJj", Base64Encode((const unsigned char*)"abc", 3));
    EXPECT_EQ("YQ==", Base64Encode((const unsigned char*)"a", 1));
    EXPECT_EQ("YWI=", Base64Encode((const unsigned char*)"ab", 2));
    EXPECT_EQ("", Base64Encode((const unsigned char*)"", 0));
    std::string all;
    for (int i = 0; i < 256; ++i) all += (char)i;
    for (size_t n = 0; n <= all.size(); n += 37)
        EXPECT_EQ(all.substr(0, n), Base64Decode(Base64Encode((const unsigned char*)all.data(), n))) << n;

    EXPECT_EQ("abc", Base64Decode("YWJj=YWJj"));  // stops at "="
    EXPECT_EQ("a", Base64Decode("YW Jj"));        // and at any other character outside the alphabet
    EXPECT_EQ("ab", Base64Decode("YWI"));
    EXPECT_EQ("", Base64Decode("Y"));
    EXPECT_EQ("", Base64Decode(""));

    const std::string hex = "d41d8cd98f00b204e9800998ecf8427e";
    const std::string raw = ToBytes(hex);
    EXPECT_EQ("1B2M2Y8AsgTpgAmY7PhCfg==", Md5HexToBase64(hex));
    EXPECT_EQ(Base64Encode((const unsigned char*)raw.data(), raw.size()), Md5HexToBase64(hex));
    EXPECT_EQ(Md5HexToBase64(hex), Md5HexToBase64("D41D8CD98F00B204E9800998ECF8427E"));
    EXPECT_EQ("kAFQmDzST7DWlj99KOF/cg==", Md5HexToBase64(vdtest::Md5Hex("abc")));
}

TEST(Version, ParseAndCompare) {
    struct Case {
        const wchar_t* text;
        int a, b, c, d;
    } cases[] = {
        {L"5.1", 5, 1, 0, 0},        {L"3.1.2.88.7", 3, 1, 2, 88}, {L"2.0.beta", 2, 0, 0, 0},
        {L"7", 0, 0, 0, 0},          {L"1..2", 0, 0, 0, 0},        {L".4", 0, 0, 0, 0},
        {L"", 0, 0, 0, 0},           {L"1.a.3", 0, 0, 0, 0},       {L"10.0.", 10, 0, 0, 0},
        {L"12.5.3.1001", 12, 5, 3, 1001},
    };
    for (const auto& c : cases) {
        CVersion v(c.text);
        EXPECT_EQ(c.a, v.m_nMajor) << Narrow(c.text);
        EXPECT_EQ(c.b, v.m_nMinor) << Narrow(c.text);
        EXPECT_EQ(c.c, v.m_nBuild) << Narrow(c.text);
        EXPECT_EQ(c.d, v.m_nRevision) << Narrow(c.text);
    }
    EXPECT_EQ(1, CVersion(L"10.0").Compare(CVersion(L"9.9.9.9")));
    EXPECT_EQ(-1, CVersion(L"9.9.9.9").Compare(CVersion(L"10.0")));
    EXPECT_EQ(0, CVersion(L"1.2").Compare(CVersion(L"1.2.0.0")));
    EXPECT_EQ(-1, CVersion(L"3.1.2.88").Compare(CVersion(L"3.1.2.89")));
    EXPECT_EQ(1, CVersion(L"3.1.3").Compare(CVersion(L"3.1.2.999")));

    std::vector<std::wstring> p = SplitByDelimiter(L"a;b;c", L";");
    ASSERT_EQ(2u, p.size());
    EXPECT_EQ(L"a", p[0]);
    EXPECT_EQ(L"b", p[1]);
    p = SplitByDelimiter(L";x;;y;", L";");
    ASSERT_EQ(4u, p.size());
    EXPECT_EQ(L"", p[0]);
    EXPECT_EQ(L"", p[2]);
    EXPECT_EQ(L"y", p[3]);
    p = SplitByDelimiter(L"1<>22<>", L"<>");
    ASSERT_EQ(2u, p.size());
    EXPECT_EQ(L"22", p[1]);
}

TEST(Executables, BitnessAndVersionResource) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring tiny64 = vdtest::BinDir() + L"\\tiny64.exe";
    EXPECT_EQ(32, GetPeBitness(self));
    ASSERT_TRUE(PathExists(tiny64)) << "built by the tiny64 target";
    EXPECT_EQ(64, GetPeBitness(tiny64.c_str()));

    std::wstring dir = vdtest::MakeTempDir(L"pe");
    vdtest::WriteFileBytes(dir + L"\\text.exe", "just some text, long enough to fill sixty-four bytes of header......");
    EXPECT_EQ(-1, GetPeBitness((dir + L"\\text.exe").c_str()));
    EXPECT_EQ(-1, GetPeBitness((dir + L"\\missing.exe").c_str()));
    // "MZ" whose PE offset points past the end of the file
    std::string mz(64, '\0');
    mz[0] = 'M';
    mz[1] = 'Z';
    mz[60] = (char)0xF0;
    mz[61] = (char)0xFF;
    vdtest::WriteFileBytes(dir + L"\\trunc.exe", mz);
    EXPECT_EQ(-1, GetPeBitness((dir + L"\\trunc.exe").c_str()));

    const std::wstring stamped = dir + L"\\stamped.exe";
    ASSERT_TRUE(CopyFileW(tiny64.c_str(), stamped.c_str(), FALSE));
    VdFileVersionNumbers n = {9, 9, 9, 9};
    EXPECT_EQ(L"", GetFileVersionText(stamped.c_str(), &n));  // no resource yet
    EXPECT_EQ(9, n.build);
    ASSERT_TRUE(vdtest::StampFileVersion(stamped, 3, 1, 2, 88));
    EXPECT_EQ(L"3.1.2.88", GetFileVersionText(stamped.c_str(), &n));
    EXPECT_EQ(2, n.build);
    EXPECT_EQ(3, n.major);
    EXPECT_EQ(1, n.minor);
    EXPECT_EQ(88, n.revision);
    ASSERT_TRUE(vdtest::StampFileVersion(stamped, 65535, 0, 65535, 1));
    EXPECT_EQ(L"65535.0.65535.1", GetFileVersionText(stamped.c_str(), nullptr));
    EXPECT_EQ(L"", GetFileVersionText((dir + L"\\missing.exe").c_str(), nullptr));

    std::wstring own;
    GetOwnVersionText(&own);
    EXPECT_EQ(std::wstring(self), own);
    DeleteFolderTree(dir);
}

TEST(HostIdentity, AdapterSelection) {
    auto adapter = [](const char* desc, std::vector<unsigned char> addr, const char* pnp) {
        VdAdapterCandidate c;
        c.description = desc;
        c.address = addr;
        c.pnpInstanceId = pnp;
        return c;
    };
    std::vector<VdAdapterCandidate> list = {
        adapter("Intel(R) Ethernet", {0x3c, 0x52, 0x82, 0x0a, 0xbb, 0x01}, "PCI\\VEN_8086&DEV_15B8"),
        adapter("VMware Virtual Ethernet Adapter", {0x00, 0x50, 0x56, 0xc0, 0x00, 0x01}, "PCI\\VEN_15AD"),
        adapter("USB Ethernet", {0x00, 0x0e, 0xc6, 0x01, 0x02, 0x03}, "USB\\VID_0B95"),
        adapter("Realtek PCIe", {0x1c, 0x1b, 0x0d, 0xff, 0xee, 0xdd}, "PCI\\VEN_10EC"),
        adapter("Null", {0, 0, 0, 0, 0, 0}, "PCI\\VEN_0000"),
        adapter("Short", {0x01, 0x02, 0x03, 0x04}, "PCI\\VEN_1234"),
        adapter("No key", {0x01, 0x02, 0x03, 0x04, 0x05, 0x06}, ""),
        adapter("lower-case pci", {0x02, 0x02, 0x03, 0x04, 0x05, 0x06}, "pci\\ven_1234"),
    };
    std::vector<std::string> got = SelectAdapterAddresses(list);
    ASSERT_EQ(2u, got.size());
    EXPECT_EQ("1C1B0DFFEEDD", got[0]);  // sorted, whatever the system's order
    EXPECT_EQ("3C52820ABB01", got[1]);
    EXPECT_TRUE(SelectAdapterAddresses({list[1], list[2], list[4]}).empty());
}

TEST(HostIdentity, RealAdapterPassesOnlyWithPciConnectionKey) {
    ULONG size = 0;
    GetAdaptersInfo(nullptr, &size);
    std::vector<BYTE> buf(size ? size : sizeof(IP_ADAPTER_INFO));
    IP_ADAPTER_INFO* chosen = nullptr;
    if (size && GetAdaptersInfo((IP_ADAPTER_INFO*)buf.data(), &size) == NO_ERROR)
        for (IP_ADAPTER_INFO* a = (IP_ADAPTER_INFO*)buf.data(); a && !chosen; a = a->Next)
            if (a->AddressLength == 6 && (a->Address[0] | a->Address[1] | a->Address[2] | a->Address[3] |
                                          a->Address[4] | a->Address[5]))
                chosen = a;
    if (!chosen) GTEST_SKIP() << "this machine shows Wine no adapter with a hardware address";

    char expect[13];
    snprintf(expect, sizeof(expect), "%02X%02X%02X%02X%02X%02X", chosen->Address[0], chosen->Address[1],
             chosen->Address[2], chosen->Address[3], chosen->Address[4], chosen->Address[5]);
    const std::string key = std::string("System\\CurrentControlSet\\Control\\Network\\"
                                        "{4D36E972-E325-11CE-BFC1-08002BE10318}\\") +
                            chosen->AdapterName + "\\Connection";
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
    {
        CHostNetInfo info;  // no connection key: not a PCI device
        EXPECT_EQ("", info.GetMac());
    }
    HKEY h = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h,
                                             nullptr));
    const char pnp[] = "PCI\\VEN_8086&DEV_100E";
    RegSetValueExA(h, "PnpInstanceID", 0, REG_SZ, (const BYTE*)pnp, sizeof(pnp));
    RegCloseKey(h);
    {
        CHostNetInfo info;
        EXPECT_EQ(expect, info.GetMac());
    }
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
}

TEST(HostIdentity, PublicIpIsCachedOnlyAfterASuccess) {
    ASSERT_NE(0, vdtest::ServerPort("iplookup")) << "run through scripts/wine-run.sh with VD_TEST_SERVERS=1";
    vdtest::ServerReset("iplookup");
    const char* bad[] = {
        "{\"status\":200,\"body\":\"{\\\"code\\\":1,\\\"data\\\":{\\\"ip\\\":\\\"198.51.100.1\\\"}}\"}",
        "{\"status\":200,\"body\":\"{\\\"code\\\":\\\"0\\\",\\\"data\\\":{\\\"ip\\\":\\\"198.51.100.1\\\"}}\"}",
        "{\"status\":200,\"body\":\"{\\\"code\\\":0,\\\"data\\\":[\\\"198.51.100.1\\\"]}\"}",
        "{\"status\":200,\"body\":\"{\\\"code\\\":0,\\\"data\\\":{\\\"ip\\\":{}}}\"}",
        "{\"status\":200,\"body\":\"[1,2,3]\"}",
        "{\"status\":200,\"body\":\"<html>not json\"}",
        "{\"status\":502,\"body\":\"{\\\"code\\\":0,\\\"data\\\":{\\\"ip\\\":\\\"198.51.100.1\\\"}}\"}",
    };
    for (const char* answer : bad) ASSERT_EQ(200, vdtest::ServerControl("iplookup", "push", answer));
    CPublicIpLookup info;
    for (const char* answer : bad) EXPECT_EQ("", info.GetPublicIp()) << answer;
    EXPECT_EQ("203.0.113.7", info.GetPublicIp());  // the standing answer
    EXPECT_EQ("203.0.113.7", info.GetPublicIp());
    Json::Value reqs = vdtest::ServerRequests("iplookup");
    ASSERT_EQ(sizeof(bad) / sizeof(bad[0]) + 1, reqs.size()) << "asked again after each failure, never after a success";
    EXPECT_EQ("/service/getIpInfo2.php?ip=myip", reqs[0]["target"].asString());
    EXPECT_EQ("ip.vardo.example", vdtest::HeaderValue(reqs[0], "Host"));
}

TEST(HostIdentity, UniqueNamesAndTempFolders) {
    std::wstring a = MakeShortUniqueName(), b = MakeShortUniqueName();
    ASSERT_EQ(8u, a.size());
    EXPECT_NE(a, b);
    EXPECT_EQ(std::wstring::npos, a.find_first_not_of(L"0123456789abcdef"));
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    EXPECT_EQ(CombinePath(temp, L"Vardo"), GetVardoTempFolder());
    std::wstring u = GetUniqueTempFolder();
    EXPECT_EQ(GetVardoTempFolder() + L"\\", u.substr(0, GetVardoTempFolder().size() + 1));
    EXPECT_EQ(GetVardoTempFolder().size() + 9, u.size());
}
