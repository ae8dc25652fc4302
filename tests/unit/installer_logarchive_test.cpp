// The support log archive: a standard ZIP of every log, today's complete, under any path.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>

#include "installer/logarchive.h"
#include "base/vdlog.h"
#include "probes/vdutils.h"
#include "tests/unit/support/testfiles.h"

extern "C" {
#include "unzip.h"
#include "iowin32.h"
}

namespace {

std::wstring TempRoot() {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    return std::wstring(tmp) + L"vd_archive_test";
}

void Put(const std::wstring& path, const std::string& text) {
    FILE* f = _wfopen(path.c_str(), L"wb");
    ASSERT_TRUE(f);
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
}

std::string Read(const std::wstring& path) { return vdtest::ReadFileBytes(path); }

// Entry name -> uncompressed bytes, read back with minizip's reader; also checks every entry
// is deflated and no name comes twice.
std::map<std::string, std::string> ReadZip(const std::wstring& path) {
    std::map<std::string, std::string> out;
    // minizip's reader refuses an archive without entries; that one is just the end record
    std::string raw = Read(path);
    if (raw.size() == 22 && raw.compare(0, 4, "PK\x05\x06") == 0 && raw.substr(4) == std::string(18, '\0'))
        return out;
    zlib_filefunc64_def io;
    fill_win32_filefunc64W(&io);
    unzFile uf = unzOpen2_64(path.c_str(), &io);
    EXPECT_TRUE(uf);
    if (!uf) return out;
    for (int r = unzGoToFirstFile(uf); r == UNZ_OK; r = unzGoToNextFile(uf)) {
        char name[512];
        unz_file_info64 info;
        unzGetCurrentFileInfo64(uf, &info, name, sizeof(name), nullptr, 0, nullptr, 0);
        EXPECT_EQ(info.compression_method, (uLong)Z_DEFLATED) << name;
        EXPECT_EQ(unzOpenCurrentFile(uf), UNZ_OK);
        std::string data;
        char buf[4096];
        int n;
        while ((n = unzReadCurrentFile(uf, buf, sizeof(buf))) > 0) data.append(buf, n);
        EXPECT_EQ(n, 0) << "corrupt entry " << name;
        EXPECT_EQ(out.count(name), 0u) << "duplicate entry " << name;
        unzCloseCurrentFile(uf);
        out[name] = data;
    }
    unzClose(uf);
    return out;
}

class LogArchive : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteFolderTree(TempRoot());
        // a folder name outside code page 936 stands for a user name in another script
        m_data = TempRoot() + L"\\data";
        m_out = TempRoot() + L"\\תיקייה";
        ASSERT_TRUE(CreateFolderChain(m_data + L"\\old"));
        ASSERT_TRUE(CreateFolderChain(m_data + L"\\kept.log"));
        ASSERT_TRUE(CreateFolderChain(m_out));
    }
    void TearDown() override { DeleteFolderTree(TempRoot()); }
    std::wstring m_data, m_out;
};

}  // namespace

TEST_F(LogArchive, PacksEveryLogIncludingTodaysCompleteAndLoggingGoesOn) {
    Put(m_data + L"\\vd_online_installer_2026_01_01.log", "first day\r\n");
    Put(m_data + L"\\kept.log\\vd_online_installer_2025_12_31.log", "nested\r\n");
    Put(m_data + L"\\kept.log\\vd_online_installer_2026_01_01.log", "same name, second\r\n");
    Put(m_data + L"\\old\\vd_online_installer_2025_12_30.log", "not a matching folder\r\n");
    Put(m_data + L"\\pmConfig.ini", "[PmConfig]\r\n");
    Put(m_data + L"\\日志.log", "chinese name\r\n");
    std::wstring today = GetLogFilePath();
    OpenLog();
    WriteLogW(L"before the archive\n");

    // today's log lives in the real data folder: gather it too by archiving that folder's copy
    std::wstring todayCopy = m_data + L"\\" + today.substr(today.rfind(L'\\') + 1);
    CloseLog();
    ASSERT_TRUE(CopyFileW(today.c_str(), todayCopy.c_str(), FALSE));
    OpenLog();

    std::wstring tmpZip = m_out + L"\\" + LogArchiveName() + L".part";
    std::wstring deskZip = m_out + L"\\" + LogArchiveName();
    ASSERT_TRUE(BuildLogArchive(m_data, tmpZip, deskZip));
    EXPECT_FALSE(PathExists(tmpZip));

    std::map<std::string, std::string> entries = ReadZip(deskZip);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries["vd_online_installer_2026_01_01.log"], "first day\r\n");  // the top folder's, once
    EXPECT_EQ(entries["vd_online_installer_2025_12_31.log"], "nested\r\n");  // bare names, no folders
    EXPECT_EQ(entries["\xC8\xD5\xD6\xBE.log"], "chinese name\r\n");         // name in code page 936
    EXPECT_EQ(entries.count("pmConfig.ini"), 0u);
    EXPECT_EQ(entries.count("vd_online_installer_2025_12_30.log"), 0u);

    // the log was reopened: records keep landing in today's file
    ASSERT_TRUE(IsLogOpen());
    size_t before = Read(today).size();
    WriteLogW(L"after the archive\n");
    CloseLog();
    std::string after = Read(today);
    EXPECT_GT(after.size(), before);
    EXPECT_NE(after.find("after the archive"), std::string::npos);
}

TEST_F(LogArchive, EmptyFolderGivesAnEmptyArchiveAndASecondRunReplacesTheFirst) {
    std::wstring tmpZip = m_out + L"\\t.zip", deskZip = m_out + L"\\d.zip";
    Put(deskZip, "an older archive");
    ASSERT_TRUE(BuildLogArchive(m_data + L"\\old", tmpZip, deskZip));
    EXPECT_TRUE(ReadZip(deskZip).empty());
    Put(m_data + L"\\old\\a.log", "a");
    ASSERT_TRUE(BuildLogArchive(m_data + L"\\old", tmpZip, deskZip));
    EXPECT_EQ(ReadZip(deskZip).size(), 1u);
}

TEST_F(LogArchive, AnArchiveThatCannotBeCreatedChangesNothing) {
    std::wstring deskZip = m_out + L"\\d.zip";
    EXPECT_FALSE(BuildLogArchive(m_data, m_out + L"\\no\\such\\folder\\t.zip", deskZip));
    EXPECT_FALSE(PathExists(deskZip));
}
