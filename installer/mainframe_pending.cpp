// PROVISIONAL: stand-ins for the download-and-install workflow's members, so the window links
// and quits before the workflow lands. The workflow's own file replaces this one: delete it then.
#include "installer/mainframe.h"

void CMainFrameWnd::OnWorkflowMessage(UINT, WPARAM, LPARAM) {}
void CMainFrameWnd::InitDownloadManager() {}
void CMainFrameWnd::StartBehaviorAndStatistics() {}
void CMainFrameWnd::ReleaseWorkflowResources() {}
DWORD WINAPI CMainFrameWnd::RequestInstInfoThread(LPVOID) { return 0; }
void CMainFrameWnd::InitInstallDirEdit() {}
void CMainFrameWnd::ExecuteDefaultActions() {}
// Without a downloader there are no part files to keep or delete.
void CMainFrameWnd::Prepare4QuitApp() { PostQuitMessage(0); }
