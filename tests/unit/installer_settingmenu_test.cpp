// The settings menu's log collection: where the archive is built and where it lands.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "installer/logarchive.h"
#include "installer/settingmenu.h"
#include "probes/vdutils.h"

namespace {

std::wstring TempRoot() {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    return std::wstring(tmp) + L"vd_collect_test";
}

std::string Head(const std::wstring& path, size_t n) {
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return std::string();
    std::string s(n, '\0');
    s.resize(fread(&s[0], 1, n, f));
    fclose(f);
    return s;
}

class CollectLogs : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteFolderTree(TempRoot());
        m_data = TempRoot() + L"\\data";
        // a desktop and a temporary folder under a user name outside code page 936
        m_desktop = TempRoot() + L"\\Рабочий стол";
        m_temp = TempRoot() + L"\\사용자\\Temp\\Vardo";
        ASSERT_TRUE(CreateFolderChain(m_data));
        ASSERT_TRUE(CreateFolderChain(m_desktop));
        FILE* f = _wfopen((m_data + L"\\vd_online_installer_2026_01_02.log").c_str(), L"wb");
        ASSERT_TRUE(f);
        fputs("record\r\n", f);
        fclose(f);
    }
    void TearDown() override { DeleteFolderTree(TempRoot()); }
    std::wstring m_data, m_desktop, m_temp;
};

}  // namespace

TEST_F(CollectLogs, BuildsInAMissingTemporaryFolderAndLandsOnTheDesktop) {
    ASSERT_FALSE(PathExists(m_temp));
    std::wstring placed = CollectLogsTo(m_data, m_temp, m_desktop);
    const std::wstring expected = CombinePath(m_desktop, LogArchiveName());
    EXPECT_EQ(placed, expected);
    EXPECT_EQ(Head(expected, 4), std::string("PK\x03\x04", 4));
    // the temporary copy is gone, its folder stays for the next time
    EXPECT_TRUE(PathExists(m_temp));
    EXPECT_FALSE(PathExists(CombinePath(m_temp, LogArchiveName())));
}

TEST_F(CollectLogs, AMissingDesktopFolderIsMadeByTheShellCopyAndNoneGivesNothing) {
    // the plain copy fails, the shell copy makes the folder: the archive is not lost
    const std::wstring gone = TempRoot() + L"\\Desktop gone";
    std::wstring placed = CollectLogsTo(m_data, m_temp, gone);
    EXPECT_EQ(placed, CombinePath(gone, LogArchiveName()));
    EXPECT_EQ(Head(placed, 4), std::string("PK\x03\x04", 4));
    // no desktop at all: nothing to show in Explorer, nothing left behind
    EXPECT_EQ(CollectLogsTo(m_data, m_temp, L""), std::wstring());
    EXPECT_FALSE(PathExists(CombinePath(m_temp, LogArchiveName())));
}

TEST_F(CollectLogs, NoTemporaryFolderMeansNoArchive) {
    EXPECT_EQ(CollectLogsTo(m_data, L"", m_desktop), std::wstring());
    EXPECT_FALSE(PathExists(CombinePath(m_desktop, LogArchiveName())));
}
