#include "installer/settingmenu.h"

#include <shlobj.h>

#include "base/threads.h"
#include "installer/logarchive.h"
#include "installer/mainframe.h"
#include "installer/msgbox.h"
#include "base/vdlog.h"
#include "probes/hostinfo.h"
#include "probes/vdutils.h"
#include "vd_endpoints.h"

using namespace DuiLib;

namespace {

bool IsSettingMenu(CMenuUI* menu) {
    const wchar_t* name = menu ? menu->GetCustomAttribute(L"vdname") : nullptr;
    return name && wcscmp(name, kSettingMenuName) == 0;
}

}  // namespace

std::wstring CollectLogsTo(const std::wstring& dataFolder, const std::wstring& tempFolder,
                           const std::wstring& desktopFolder) {
    const std::wstring name = LogArchiveName();
    const std::wstring desktopZip = CombinePath(desktopFolder, name);
    // The temporary folder is not there on a fresh profile; without it no archive could be made.
    if (!tempFolder.empty()) CreateFolderChain(tempFolder);
    const std::wstring tmpZip = CombinePath(tempFolder, name);
    if (!BuildLogArchive(dataFolder, tmpZip, desktopZip)) return std::wstring();
    return desktopZip;
}

void CMainFrameWnd::ShowSettingMenu(CControlUI* button) {
    if (!button) return;
    TEventUI event;
    event.Type = UIEVENT_KILLFOCUS;
    event.pSender = button;
    event.dwTimestamp = GetTickCount();
    button->Event(event);
    m_PaintManager.SendNotify(button, L"killfocus");

    RECT rc = button->GetPos();
    POINT pt = {rc.left, rc.bottom};
    ClientToScreen(m_hWnd, &pt);
    CMenuWnd* menu = new CMenuWnd(m_hWnd);
    menu->AddObserver(this);
    CMenuWnd::SetOwnerWindow(m_hWnd);
    // the menu deletes itself when it closes (also when its markup fails)
    menu->Init(L"setting.xml", nullptr, pt);
}

void CMainFrameWnd::OnMenuShown(CMenuUI* pMenu) { (void)IsSettingMenu(pMenu); }

void CMainFrameWnd::OnMenuClosed(CMenuUI* pMenu) { (void)IsSettingMenu(pMenu); }

void CMainFrameWnd::OnMenuItemClick(TNotifyUI& msg) {
    if ((msg.sType != L"click" && msg.sType != L"itemclick") || !msg.pSender) return;
    const std::wstring& name = msg.pSender->GetName();
    if (name == kMenuItemCollectLogs) {
        CollectLogs();
    } else if (name == kMenuItemWebSite) {
        vdthread::PostOwned(m_hWnd, WM_USER_OPEN_TARGET_URL, std::unique_ptr<std::wstring>(new std::wstring(VD_WEBSITE_URL)));
    }
}

void CMainFrameWnd::CollectLogs() {
    wchar_t desktop[MAX_PATH] = {0};
    if (!SHGetSpecialFolderPathW(nullptr, desktop, CSIDL_DESKTOPDIRECTORY, FALSE)) desktop[0] = 0;
    std::wstring placed = CollectLogsTo(GetInstallerDataFolder(L"Vardo"), GetVardoTempFolder(), desktop);
    if (!placed.empty()) OpenWebOrFolder(placed.c_str());
}

void CMainFrameWnd::ShowQuitMessageBox() {
    if (m_p_msgbox) return;  // one box at a time
    CMessageBoxWnd* box = new CMessageBoxWnd();
    HWND hwnd = box->Create(m_hWnd, L"CMessageBoxWnd",
                            WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU, 0, 0, 0,
                            0, 0);
    // a box whose window never came to be has already deleted itself, unless the class failed
    if (!hwnd) {
        WriteLogW(L"create CMessageBoxWnd failure,last error:%d\n", GetLastError());
        return;
    }
    box->SetOwnerHwnd(m_hWnd);
    box->CenterWindow();
    m_p_msgbox = box;
    box->ShowModal();
    m_p_msgbox = nullptr;
}

void CMainFrameWnd::OnMenuReport(WPARAM wParam, LPARAM) {
    std::unique_ptr<TNotifyUI> report(reinterpret_cast<TNotifyUI*>(wParam));
    if (report) OnMenuItemClick(*report);
}

void CMainFrameWnd::OnBoxMessage(UINT uMsg, WPARAM wParam) {
    // only the box that runs now may be named: a report queued behind its end must not reach a
    // deleted object
    CMessageBoxWnd* box = reinterpret_cast<CMessageBoxWnd*>(wParam);
    const bool live = box && box == m_p_msgbox && IsWindow(box->GetHWND());
    switch (uMsg) {
        case WM_USER_CLOSE_MSGBOX:
            if (live) box->Close(IDCANCEL);
            break;
        case WM_USER_QUIT_APP:
            if (live) box->Close(IDOK);
            Prepare4QuitApp();
            break;
        case WM_USER_MINIMIZE_ALL:
            if (live) ::PostMessageW(box->GetHWND(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
            ::PostMessageW(m_hWnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
            break;
    }
}
