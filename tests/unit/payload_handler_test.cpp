// The payload handler and the stamping tool on real executables: copies of this test program
// are stamped with the tool's own code, then read back through the resource API.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "local/inifile.h"
#include "base/vdlog.h"
#include "payload/bizrules.h"
#include "payload/rcstamp.h"
#include "payload/vdbizhandler.h"
#include "probes/vdutils.h"

namespace {

std::wstring TempDir() {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    return tmp;
}

std::wstring SelfPath() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return self;
}

std::string ReadAll(const std::wstring& path) {
    std::string out;
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return out;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) out.append(buf, n);
    fclose(f);
    return out;
}

void WriteAll(const std::wstring& path, const std::string& bytes) {
    FILE* f = _wfopen(path.c_str(), L"wb");
    ASSERT_TRUE(f != nullptr);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

std::string Pattern(size_t size, unsigned seed) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = (char)((i * 131 + seed * 7 + (i >> 9)) & 0xFF);
    return s;
}

BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD lang, LONG_PTR param) {
    reinterpret_cast<std::vector<WORD>*>(param)->push_back(lang);
    return TRUE;
}

std::vector<WORD> Languages(HMODULE m, const wchar_t* type, unsigned id) {
    std::vector<WORD> langs;
    EnumResourceLanguagesW(m, type, MAKEINTRESOURCEW(id), AddLanguage, (LONG_PTR)&langs);
    return langs;
}

class PayloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_s_dir = TempDir() + L"vdpayload_test_" + std::to_wstring(GetCurrentProcessId());
        DeleteFolderTree(m_s_dir);
        ASSERT_TRUE(CreateFolderChain(m_s_dir));
        ClearBizFolder();
        SetBizErrorFlag(false);
    }
    void TearDown() override {
        for (HMODULE m : m_v_modules) FreeLibrary(m);
        DeleteFolderTree(m_s_dir);
        ClearBizFolder();
        SetBizErrorFlag(false);
    }

    static void ClearBizFolder() { DeleteFolderTree(GetDataFolderOrTemp(L"Vardo") + L"Biz"); }
    static void SetBizErrorFlag(bool on) {
        std::wstring ini = GetDataFolderOrTemp(L"Vardo") + L"test.ini";
        if (on) WritePrivateProfileStringW(L"test", L"mydoc_biz_error", L"1", ini.c_str());
        else DeleteFileW(ini.c_str());
    }

    std::wstring Path(const std::wstring& name) const { return CombinePath(m_s_dir, name); }

    // Stamps `items` (kind, bytes; empty bytes remove) into a copy of `input`.
    StampResult Stamp(const std::wstring& input, const std::wstring& output,
                      const std::vector<std::pair<std::wstring, std::string>>& items, std::wstring* message = nullptr) {
        StampRequest r;
        r.input = input;
        r.output = output;
        for (const auto& it : items) {
            StampItem s;
            s.kind = it.first;
            EXPECT_TRUE(StampKindToResource(s.kind, s.type, s.id));
            if (!it.second.empty()) {
                s.file = Path(L"in_" + it.first + L".bin");
                WriteAll(s.file, it.second);
            }
            r.items.push_back(s);
        }
        std::wstring msg;
        StampResult res = StampResources(r, msg);
        if (message) *message = msg;
        return res;
    }

    HMODULE StampedModule(const std::vector<std::pair<std::wstring, std::string>>& items) {
        std::wstring out = Path(L"stamped" + std::to_wstring(m_v_modules.size()) + L".exe");
        std::wstring msg;
        EXPECT_EQ(Stamp(SelfPath(), out, items, &msg), kStampOk) << std::string(msg.begin(), msg.end());
        HMODULE m = LoadLibraryExW(out.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        EXPECT_TRUE(m != nullptr);
        m_v_modules.push_back(m);
        return m;
    }

    std::wstring m_s_dir;
    std::vector<HMODULE> m_v_modules;
};

const char kPuxIni[] = "[PM]\r\nChannel=  tok524  \r\n[Pux]\r\niPhoneKe=QUJD\r\n";

}  // namespace

TEST_F(PayloadTest, ReferenceBuildReadsTokenChannelAndReleasesBothDlls) {
    const std::string token = "  TOKEN12345  ";
    CVdBizHandler h(StampedModule({{L"biz523", token}, {L"biz524", kPuxIni}, {L"channel", "  vardox  "}}));
    EXPECT_TRUE(h.IsVazChannel());
    EXPECT_EQ(h.m_nBizDllCount, 2);
    // 523 came first: the INI of 524 is not consulted
    EXPECT_EQ(h.GetBizContent(), "TOKEN12345");
    EXPECT_FALSE(h.IsVdpmInside());

    h.CheckBizToMyDocumentBegin();
    std::wstring folder = CVdBizHandler::GetBizFolder();
    EXPECT_EQ(ReadAll(CombinePath(folder, L"Biz.dll")), token);
    EXPECT_EQ(ReadAll(CombinePath(folder, L"BizT.dll")), kPuxIni);
    EXPECT_EQ(h.GetChannel(), L"vardox");
    EXPECT_EQ(h.GetBizContent(), "TOKEN12345");

    // a second start removes the DLLs of the first before writing its own
    WriteAll(CombinePath(folder, L"BizT.dll"), "stale");
    h.CheckBizToMyDocumentBegin();
    EXPECT_EQ(ReadAll(CombinePath(folder, L"BizT.dll")), kPuxIni);
}

TEST_F(PayloadTest, PuxAloneGivesTheIniChannelEvenWithoutTheTempFolderAndLeavesNoIni) {
    const std::wstring vardoTemp = CombinePath(TempDir(), L"Vardo");
    DeleteFolderTree(vardoTemp);
    CVdBizHandler h(StampedModule({{L"biz524", kPuxIni}}));
    EXPECT_FALSE(h.IsVazChannel());
    EXPECT_EQ(h.m_nBizDllCount, 1);
    EXPECT_EQ(h.GetBizContent(), "tok524");
    WIN32_FIND_DATAW fd;
    HANDLE left = FindFirstFileW(CombinePath(vardoTemp, L"*.ini").c_str(), &fd);
    EXPECT_EQ(left, INVALID_HANDLE_VALUE) << "temporary INI left behind";
    if (left != INVALID_HANDLE_VALUE) FindClose(left);
}

TEST_F(PayloadTest, MarksAndTheFlagText) {
    CVdBizHandler marked(StampedModule({{L"biz525", "x"}, {L"biz528", "0 off"}}));
    EXPECT_FALSE(marked.IsVazChannel());
    EXPECT_EQ(marked.m_nBizDllCount, 1);  // 525 counts, 528 does not
    EXPECT_TRUE(marked.IsBizMarked525());
    EXPECT_FALSE(marked.IsBizFlag528());

    // A blank 528 neither ends the operation nor changes the flag: the channel after it is read.
    CVdBizHandler blank(StampedModule({{L"biz523", "T"}, {L"biz524", kPuxIni}, {L"biz528", "     "},
                                       {L"channel", "chan"}}));
    blank.CheckBizToMyDocumentBegin();
    EXPECT_TRUE(blank.IsBizFlag528());
    EXPECT_EQ(blank.m_nBizDllCount, 2);
    EXPECT_EQ(blank.GetChannel(), L"chan");
}

TEST_F(PayloadTest, EmbeddedSetupIsCountedThenWrittenWhole) {
    const std::string setup = Pattern(300 * 1024 + 7, 1);
    CVdBizHandler h(StampedModule({{L"vdpm", setup}}));
    const std::wstring folder = CVdBizHandler::GetVdpmFolder();
    // a setup left by a run that has ended is swept; another file of that folder is not
    const std::wstring stale = CombinePath(folder, VdpmRunFileName(4000000000ul, L"gone"));
    const std::wstring other = CombinePath(folder, L"vdpm.exe");
    WriteAll(stale, "old");
    WriteAll(other, "not a run's");
    EXPECT_TRUE(h.IsVdpmInside());
    EXPECT_EQ(h.m_nVdpmCount, 1);
    EXPECT_TRUE(h.GetVdpmTargetPath().empty()) << "counting must not extract";

    h.CheckVdpmInsideFromRc();
    const std::wstring target = h.GetVdpmTargetPath();
    const std::wstring mine = L"vdpm_" + std::to_wstring(GetCurrentProcessId()) + L"_";
    EXPECT_EQ(target.substr(0, folder.size() + 1 + mine.size()), CombinePath(folder, mine));
    EXPECT_EQ(ReadAll(target), setup);
    EXPECT_FALSE(PathExists(stale));
    EXPECT_EQ(ReadAll(other), "not a run's");
    DeleteFileW(other.c_str());
    // a second run beside this one extracts under a name of its own and leaves this one's alone
    CVdBizHandler second(StampedModule({{L"vdpm", setup}}));
    second.CheckVdpmInsideFromRc();
    EXPECT_NE(second.GetVdpmTargetPath(), target);
    EXPECT_EQ(ReadAll(second.GetVdpmTargetPath()), setup);
    EXPECT_EQ(ReadAll(target), setup);
    DeleteFileW(second.GetVdpmTargetPath().c_str());
    // the run keeps its name across attempts
    h.CheckVdpmInsideFromRc();
    EXPECT_EQ(h.GetVdpmTargetPath(), target);
    EXPECT_FALSE(PathExists(target + L".tmp"));
    // once extraction is on, counting writes again
    DeleteFileW(target.c_str());
    EXPECT_TRUE(h.IsVdpmInside());
    EXPECT_EQ(ReadAll(target), setup);

    // a build without the resource must not find the setup an earlier run left behind
    CVdBizHandler none(StampedModule({{L"channel", "c"}}));
    none.CheckVdpmInsideFromRc();
    EXPECT_EQ(none.m_nVdpmCount, 0);
    EXPECT_FALSE(PathExists(none.GetVdpmTargetPath()));
    DeleteFileW(target.c_str());
}

TEST_F(PayloadTest, ChannelFromRcMovesDllsIntoTheInstallFolder) {
    std::wstring inst = Path(L"inst");
    ASSERT_TRUE(CreateFolderChain(inst));
    WriteAll(CombinePath(inst, L"Biz.dll"), "old");
    WriteAll(CombinePath(inst, L"vdgw.dll"), "gateway");
    const std::string biz = Pattern(4096, 2), bizT = Pattern(5000, 3);
    CVdBizHandler h(StampedModule({{L"biz523", biz}, {L"biz524", bizT}}));
    h.CheckBizToMyDocumentBegin();
    ASSERT_TRUE(PathExists(CVdBizHandler::GetBizFolder() + L"\\Biz.dll"));

    h.CheckBizChannelFromRc(inst);
    EXPECT_EQ(ReadAll(CombinePath(inst, L"Biz.dll")), biz);
    EXPECT_EQ(ReadAll(CombinePath(inst, L"BizT.dll")), bizT);
    EXPECT_FALSE(PathExists(CombinePath(inst, L"Biz.dll.tmp")));
    EXPECT_FALSE(PathExists(CombinePath(inst, L"BizT.dll.tmp")));
    EXPECT_FALSE(PathExists(CombinePath(inst, L"vdgw.dll")));
    EXPECT_FALSE(PathExists(GetDataFolderOrTemp(L"Vardo") + L"Biz"));
}

TEST_F(PayloadTest, ChannelFromRcWithOneDllLeavesOnlyTheTmpFile) {
    std::wstring inst = Path(L"inst1");
    ASSERT_TRUE(CreateFolderChain(inst));
    WriteAll(CombinePath(inst, L"vdgw.dll"), "gateway");
    CVdBizHandler h(StampedModule({{L"biz523", "ONLY"}}));
    h.CheckBizToMyDocumentBegin();
    h.CheckBizChannelFromRc(inst);
    EXPECT_EQ(ReadAll(CombinePath(inst, L"Biz.dll.tmp")), "ONLY");
    EXPECT_FALSE(PathExists(CombinePath(inst, L"Biz.dll")));
    EXPECT_TRUE(PathExists(CombinePath(inst, L"vdgw.dll")));
    EXPECT_TRUE(PathExists(GetDataFolderOrTemp(L"Vardo") + L"Biz\\Biz.dll"));
}

TEST_F(PayloadTest, NoBizResourceRemovesTheBusinessFolderUnlessSimulated) {
    std::wstring folder = CVdBizHandler::GetBizFolder();
    WriteAll(CombinePath(folder, L"Biz.dll"), "left over");
    CVdBizHandler h(StampedModule({{L"channel", "c"}}));
    h.CheckBizToMyDocumentBegin();
    EXPECT_FALSE(PathExists(folder));
    EXPECT_EQ(h.m_nBizDllCount, 0);
    EXPECT_EQ(h.GetChannel(), L"c");

    SetBizErrorFlag(true);
    h.CheckBizToMyDocumentBegin();
    EXPECT_TRUE(PathExists(folder));
}

TEST_F(PayloadTest, WithoutAModuleNothingIsFoundOrWritten) {
    CVdBizHandler h(nullptr);
    EXPECT_FALSE(h.IsVdpmInside());
    EXPECT_FALSE(h.IsVazChannel());
    h.CheckVdpmInsideFromRc();
    EXPECT_TRUE(h.GetVdpmTargetPath().empty());
    h.CheckBizToMyDocumentBegin();
    h.CheckBizChannelFromRc(Path(L"inst"));
    EXPECT_FALSE(PathExists(Path(L"inst")));
    EXPECT_TRUE(h.GetChannel().empty());
}

TEST_F(PayloadTest, StampToolNeverChangesItsInputAndReportsBadInput) {
    std::wstring input = Path(L"input.exe");
    ASSERT_TRUE(CopyFileW(SelfPath().c_str(), input.c_str(), FALSE));
    const std::string before = ReadAll(input);
    std::wstring msg;

    EXPECT_EQ(Stamp(input, Path(L"out.exe"), {{L"vdpm", Pattern(70000, 4)}}, &msg), kStampOk);
    EXPECT_EQ(ReadAll(input), before);
    EXPECT_FALSE(PathExists(Path(L"out.exe.tmp")));

    EXPECT_EQ(Stamp(input, input, {{L"channel", "c"}}, &msg), kStampBadArgs);
    EXPECT_EQ(ReadAll(input), before);

    StampRequest missing;
    missing.input = input;
    missing.output = Path(L"never.exe");
    missing.items.push_back({L"biz523", L"BIZ", 523, Path(L"no_such_file.bin")});
    EXPECT_EQ(StampResources(missing, msg), kStampBadInputFile);
    EXPECT_NE(msg.find(L"not found"), std::wstring::npos);
    WriteAll(Path(L"empty.bin"), "");
    missing.items[0].file = Path(L"empty.bin");
    EXPECT_EQ(StampResources(missing, msg), kStampBadInputFile);

    WriteAll(Path(L"text.exe"), "MZ but nothing after it");
    EXPECT_EQ(Stamp(Path(L"text.exe"), Path(L"never.exe"), {{L"channel", "c"}}, &msg), kStampBadTarget);
    EXPECT_EQ(Stamp(Path(L"absent.exe"), Path(L"never.exe"), {{L"channel", "c"}}, &msg), kStampBadTarget);
    EXPECT_FALSE(PathExists(Path(L"never.exe")));
}

TEST_F(PayloadTest, StampToolReplacesEveryLanguageAndKeepsOtherResources) {
    // an earlier stamp in another language must not survive a replacement
    std::wstring first = Path(L"first.exe");
    ASSERT_TRUE(CopyFileW(SelfPath().c_str(), first.c_str(), FALSE));
    HANDLE u = BeginUpdateResourceW(first.c_str(), FALSE);
    ASSERT_TRUE(u != nullptr);
    char neutral[] = "neutral";
    ASSERT_TRUE(UpdateResourceW(u, L"CHANNEL", MAKEINTRESOURCEW(527), 0, neutral, 7));
    char mark[] = "m";
    ASSERT_TRUE(UpdateResourceW(u, L"BIZ", MAKEINTRESOURCEW(525), 1033, mark, 1));
    ASSERT_TRUE(EndUpdateResourceW(u, FALSE));

    std::wstring second = Path(L"second.exe");
    ASSERT_EQ(Stamp(first, second, {{L"channel", "  newname "}, {L"biz523", "T"}}), kStampOk);
    std::wstring third = Path(L"third.exe");
    ASSERT_EQ(Stamp(second, third, {{L"biz523", ""}}), kStampOk);

    HMODULE m = LoadLibraryExW(third.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(m != nullptr);
    m_v_modules.push_back(m);
    EXPECT_EQ(Languages(m, L"CHANNEL", 527), std::vector<WORD>{2052});
    EXPECT_EQ(FindResourceW(m, MAKEINTRESOURCEW(523), L"BIZ"), nullptr);
    EXPECT_NE(FindResourceExW(m, L"BIZ", MAKEINTRESOURCEW(525), 1033), nullptr);
    CVdBizHandler h(m);
    h.CheckBizToMyDocumentBegin();
    EXPECT_EQ(h.GetChannel(), L"newname");
    EXPECT_TRUE(h.IsBizMarked525());
    EXPECT_EQ(h.m_nBizDllCount, 1);
}
