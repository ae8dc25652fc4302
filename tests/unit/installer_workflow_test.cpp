// The workflow's handlers without a window: a fake view records what the window would show, a
// clock of the test's own drives the restart rule, and the install thread is replaced by a
// recorder of the jobs it would run.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "installer/workflow.h"
#include "installer/workflow_rules.h"
#include "local/cleanup.h"
#include "base/vdlog.h"
#include "net/mtdownload.h"
#include "probes/vdutils.h"
#include "tests/unit/support/pefiles.h"
#include "tests/unit/support/testfiles.h"

using VdFoundationHttpDownload::DownloadProgressInfo;

namespace {

struct FakeView : IWorkflowView {
    HWND WorkerTarget() const override { return nullptr; }
    void ShowPage(int page) override { pages.push_back(page); }
    void ShowProgress(int percent, const std::wstring& percentText, const std::wstring& speedText, bool) override {
        lastPercent = percent;
        lastPercentText = percentText;
        lastSpeedText = speedText;
    }
    void ShowManualDownload() override {}
    void SetFailureLabel(const wchar_t* text) override { failureLabel = text; }
    void EnableClose(bool enable) override { closeEnabled = enable; }
    void ShowCountdown(int seconds) override { countdown = seconds; }
    void StartTimer(UINT_PTR id, UINT ms) override { timers[id] = ms; }
    void StopTimer(UINT_PTR id) override { timers.erase(id); }
    void PostToSelf(UINT msg, WPARAM wParam, LPARAM) override { posts.push_back({msg, wParam}); }
    void EndLoop(int exitCode) override { endings.push_back(exitCode); }
    bool GetInstallDirText(std::wstring&) const override { return false; }
    void SetInstallDirText(const std::wstring&) override {}
    std::wstring UserDir() const override { return folder; }
    wchar_t UserDrive() const override { return 0; }
    int MonitorChoice() const override { return -1; }

    int Posted(UINT msg, WPARAM wParam) const {
        int n = 0;
        for (const auto& p : posts) n += p.first == msg && p.second == wParam;
        return n;
    }

    std::vector<int> pages;
    std::wstring failureLabel;
    bool closeEnabled = true;
    int countdown = -1;
    int lastPercent = -1;
    std::wstring lastPercentText, lastSpeedText;
    std::map<UINT_PTR, UINT> timers;
    std::vector<std::pair<UINT, WPARAM>> posts;
    std::vector<int> endings;
    std::wstring folder;
};

DownloadProgressInfo Report(DownloadStatus status, double fraction = 0.0) {
    DownloadProgressInfo info = {};
    info.m_n_status = StatusCode(status);
    info.m_d_fraction = fraction;
    return info;
}

class Workflow : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        m_dir = vdtest::MakeTempDir(L"workflow");
        m_view.folder = CombinePath(m_dir, L"Vardo");
        WorkflowOptions options;
        options.installMode = GetParam();
        options.now = [this] { return m_now; };
        options.startInstall = [this](std::unique_ptr<InstallJob> job) {
            m_jobs.push_back(*job);
            return true;
        };
        m_flow.reset(new CWorkflow(m_view, options));
    }
    void TearDown() override {
        m_flow.reset();
        DeleteFolderTree(m_dir);
    }
    void Tick(uint32_t ms) {
        m_now += ms;
        m_flow->OnTimer(VD_TIMER_ID_Check_Download_Status);
    }

    std::wstring m_dir;
    FakeView m_view;
    uint32_t m_now = 1000;
    std::vector<InstallJob> m_jobs;
    std::unique_ptr<CWorkflow> m_flow;
};

}  // namespace

TEST_P(Workflow, DownloadErrorsRestartAfterQuietUntilTheLimitThenFail) {
    m_flow->ProgressArrived(Report(DownloadStatus::Downloading, 0.52));
    EXPECT_EQ(52, m_view.lastPercent);
    EXPECT_EQ(L"52%", m_view.lastPercentText);

    for (int restart = 1; restart < vdworkflow::kRestartLimit; ++restart) {
        m_flow->ProgressArrived(Report(DownloadStatus::Network));
        Tick(vdworkflow::kRestartQuietMs - 5000);
        ASSERT_EQ(restart - 1, m_view.Posted(WM_USER_MT_HTTP_DOWNLOAD, 1)) << "restarted before 40 s of quiet";
        Tick(5000);
        ASSERT_EQ(restart, m_view.Posted(WM_USER_MT_HTTP_DOWNLOAD, 1)) << "no automatic restart " << restart;
        // nothing pending: the timer restarts nothing more
        Tick(5000);
        ASSERT_EQ(restart, m_view.Posted(WM_USER_MT_HTTP_DOWNLOAD, 1));
    }
    EXPECT_TRUE(m_view.pages.empty());

    m_flow->ProgressArrived(Report(DownloadStatus::Combine));
    Tick(vdworkflow::kRestartQuietMs);
    EXPECT_EQ(vdworkflow::kRestartLimit - 1, m_view.Posted(WM_USER_MT_HTTP_DOWNLOAD, 1));
    ASSERT_EQ(std::vector<int>{UI_STATUS_UI_FAILURE}, m_view.pages) << "restarts used up: the failure page";
    EXPECT_EQ(L"下载失败,请", m_view.failureLabel);

    // after a manual retry, the next error fails at once instead of waiting for a restart
    m_flow->ProgressArrived(Report(DownloadStatus::FileWrite));
    EXPECT_EQ(2u, m_view.pages.size());

    // no address at all is a network failure of its own
    m_flow->ProgressArrived(Report(DownloadStatus::NoUrl));
    EXPECT_EQ(L"网络失败,请", m_view.failureLabel);
}

TEST_P(Workflow, FailedInstallationShowsTheFailurePageAndOnlyAHiddenRunEndsByItself) {
    const bool hidden = GetParam();
    m_view.timers[VD_TIMER_ID_INSTALLING] = 1000;
    m_view.closeEnabled = false;
    m_flow->InstallFeedback(false);
    EXPECT_EQ(std::vector<int>{UI_STATUS_UI_FAILURE}, m_view.pages);
    EXPECT_EQ(L"安装失败,请", m_view.failureLabel);
    EXPECT_TRUE(m_view.closeEnabled);
    EXPECT_EQ(0u, m_view.timers.count(VD_TIMER_ID_INSTALLING)) << "the installing dots go on";
    ASSERT_EQ(hidden ? 1u : 0u, m_view.timers.count(VD_TIMER_ID_HIDDEN_FAILURE_EXIT));
    if (!hidden) return;
    EXPECT_EQ(1500u, m_view.timers[VD_TIMER_ID_HIDDEN_FAILURE_EXIT]);

    m_flow->OnTimer(VD_TIMER_ID_HIDDEN_FAILURE_EXIT);
    EXPECT_EQ(std::vector<int>{kExitHiddenRunFailed}, m_view.endings);
    EXPECT_EQ(kExitHiddenRunFailed, m_flow->ExitCode());
    EXPECT_TRUE(m_flow->IsQuitting());
    // once quitting, neither timers nor a second quit change the outcome
    m_flow->OnTimer(VD_TIMER_ID_HIDDEN_FAILURE_EXIT);
    m_flow->Prepare4QuitApp(0);
    EXPECT_EQ(1u, m_view.endings.size());
    EXPECT_EQ(kExitHiddenRunFailed, m_flow->ExitCode());
}

TEST_P(Workflow, VerifiedDownloadIsCachedAndInstalledIntoTheChosenFolder) {
    const std::string bytes = "MZ downloaded package";
    const std::wstring setup = CombinePath(m_dir, L"vdinst.exe");
    ASSERT_TRUE(vdtest::WriteFileBytes(setup, bytes));
    m_flow->SetSetupPath(setup);
    InstServerInfo rec;
    rec.m_s_version = L"7.7.7.1";
    rec.m_ll_size = (long long)bytes.size();
    rec.m_ws_md5 = std::wstring(L"0123456789abcdef0123456789abcdef");
    m_flow->SetServerRecord(rec);
    const std::wstring cache = GetCachedSetupPath(false, L"Vardo", L"7.7.7.1");
    DeleteFileW(cache.c_str());

    // a digest that does not match: the package goes, nothing is installed
    m_flow->ProgressArrived(Report(DownloadStatus::Success, 1.0));
    EXPECT_EQ(L"下载失败,请", m_view.failureLabel);
    EXPECT_FALSE(PathExists(setup));
    EXPECT_TRUE(m_jobs.empty());

    ASSERT_TRUE(vdtest::WriteFileBytes(setup, bytes));
    std::string md5 = vdtest::Md5Hex(bytes);
    rec.m_ws_md5.assign(md5.begin(), md5.end());
    m_flow->SetServerRecord(rec);
    m_view.closeEnabled = true;
    m_flow->ProgressArrived(Report(DownloadStatus::Success, 1.0));
    ASSERT_EQ(1u, m_jobs.size());
    EXPECT_EQ(setup, m_jobs[0].m_s_setup_path);
    EXPECT_EQ(L" /S /D=" + m_view.folder, m_jobs[0].m_s_cmd_line);
    EXPECT_EQ(L"7.7.7.1", m_jobs[0].m_check.serverVersion);
    EXPECT_FALSE(m_view.closeEnabled) << "closing while the setup runs";
    EXPECT_EQ(100, m_view.lastPercent);
    EXPECT_EQ(bytes, vdtest::ReadFileBytes(cache));

    // success: the cached copy stays, the download goes, the countdown starts
    m_flow->InstallFeedback(true);
    EXPECT_EQ(UI_STATUS_UI_SUCCESS, m_view.pages.back());
    EXPECT_EQ(1, m_view.Posted(WM_USER_OPEN_SUCCESS_PAGE, 0));
    EXPECT_EQ(5, m_view.countdown);
    EXPECT_EQ(1000u, m_view.timers[VD_TIMER_ID_EXIT]);
    EXPECT_FALSE(PathExists(setup));
    EXPECT_EQ(bytes, vdtest::ReadFileBytes(cache));
    DeleteFileW(cache.c_str());

    if (!GetParam()) return;  // the windowed run would start the product at zero
    for (int left = 4; left >= 1; --left) {
        m_flow->OnTimer(VD_TIMER_ID_EXIT);
        EXPECT_EQ(left, m_view.countdown);
    }
    EXPECT_TRUE(m_view.endings.empty());
    m_flow->OnTimer(VD_TIMER_ID_EXIT);
    EXPECT_EQ(std::vector<int>{0}, m_view.endings);
    EXPECT_EQ(0u, m_view.timers.count(VD_TIMER_ID_EXIT));
}

INSTANTIATE_TEST_SUITE_P(WindowedAndHidden, Workflow, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "Hidden" : "Windowed"; });
