// The quit confirmation shown when the user closes the main window during an installation.
#pragma once
#include <windows.h>

#include <string>

#include "ui/UIlib.h"

// Heap-allocated and run modally; it deletes itself when its window is gone.
class CMessageBoxWnd : public DuiLib::WindowImplBase {
public:
    CMessageBoxWnd() = default;

    // The main window that receives the box's button reports.
    void SetOwnerHwnd(HWND owner) { m_h_owner = owner; }
    HWND GetOwnerHwnd() const { return m_h_owner; }

    const wchar_t* GetWindowClassName() const override { return L"CMessageBoxWnd"; }
    std::wstring GetSkinFolder() override { return L"skin"; }
    std::wstring GetSkinFile() override { return L"messagebox.xml"; }
    UILIB_RESOURCETYPE GetResourceType() const override { return UILIB_ZIPRESOURCE; }
    const wchar_t* GetResourceID() const override { return MAKEINTRESOURCEW(122); }

    void Notify(DuiLib::TNotifyUI& msg) override;
    void OnFinalMessage(HWND hWnd) override;

private:
    ~CMessageBoxWnd() override = default;

    HWND m_h_owner = nullptr;
};
