#include "installer/msgbox.h"

#include "installer/mainframe.h"

using namespace DuiLib;

void CMessageBoxWnd::Notify(TNotifyUI& msg) {
    if (msg.sType == L"click" && m_h_owner && msg.pSender) {
        const std::wstring& name = msg.pSender->GetName();
        UINT report = 0;
        if (name == L"msgbox_quit_btn") report = WM_USER_QUIT_APP;
        else if (name == L"msgbox_cancel_btn" || name == L"msgbox_closebtn") report = WM_USER_CLOSE_MSGBOX;
        else if (name == L"msgbox_minbtn") report = WM_USER_MINIMIZE_ALL;
        if (report) ::PostMessageW(m_h_owner, report, reinterpret_cast<WPARAM>(this), 0);
    }
    WindowImplBase::Notify(msg);
}

void CMessageBoxWnd::OnFinalMessage(HWND hWnd) {
    WindowImplBase::OnFinalMessage(hWnd);
    delete this;
}
