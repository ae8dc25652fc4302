// The controls the installer's markup uses: labels, buttons, check boxes, progress bars and
// edit boxes.
#pragma once
#include "ui/uicontrol.h"
#include "ui/uiresource.h"

namespace DuiLib {

class CLabelUI : public CControlUI {
public:
    const wchar_t* GetClass() const override { return L"Label"; }
    void* GetInterface(const wchar_t* pstrName) override;

    void SetTextStyle(UINT uStyle) { m_uTextStyle = uStyle; Invalidate(); }
    UINT GetTextStyle() const { return m_uTextStyle; }
    void SetTextColor(DWORD c) { m_dwTextColor = c; Invalidate(); }
    DWORD GetTextColor() const { return m_dwTextColor; }
    void SetDisabledTextColor(DWORD c) { m_dwDisabledTextColor = c; Invalidate(); }
    void SetFont(int index) { m_iFont = index; Invalidate(); }
    int GetFont() const { return m_iFont; }
    RECT GetTextPadding() const { return m_rcTextPadding; }
    void SetTextPadding(const RECT& rc) { m_rcTextPadding = rc; Invalidate(); }
    bool IsShowHtml() const { return m_bShowHtml; }
    void SetShowHtml(bool b) { m_bShowHtml = b; Invalidate(); }

    void SetAttribute(const wchar_t* pstrName, const wchar_t* pstrValue) override;
    void PaintText(HDC hDC) override;

protected:
    void PaintTextColored(HDC hDC, DWORD color);

    UINT m_uTextStyle = DT_VCENTER | DT_SINGLELINE;
    DWORD m_dwTextColor = 0;
    DWORD m_dwDisabledTextColor = 0;
    int m_iFont = -1;
    RECT m_rcTextPadding = {0, 0, 0, 0};
    bool m_bShowHtml = false;
};

class CButtonUI : public CLabelUI {
public:
    CButtonUI();
    const wchar_t* GetClass() const override { return L"Button"; }
    void* GetInterface(const wchar_t* pstrName) override;

    bool Activate() override;
    void SetEnabled(bool bEnable = true) override;
    bool IsTabStop() const override { return true; }
    void DoEvent(TEventUI& event) override;
    void SetAttribute(const wchar_t* pstrName, const wchar_t* pstrValue) override;
    void PaintText(HDC hDC) override;
    void PaintStatusImage(HDC hDC) override;
    UINT GetButtonState() const { return m_uButtonState; }

    void SetNormalImage(const wchar_t* s) { m_sNormalImage = s ? s : L""; Invalidate(); }
    void SetHotImage(const wchar_t* s) { m_sHotImage = s ? s : L""; Invalidate(); }
    void SetPushedImage(const wchar_t* s) { m_sPushedImage = s ? s : L""; Invalidate(); }
    void SetDisabledImage(const wchar_t* s) { m_sDisabledImage = s ? s : L""; Invalidate(); }

protected:
    UINT m_uButtonState = 0;
    DWORD m_dwHotTextColor = 0;
    DWORD m_dwPushedTextColor = 0;
    DWORD m_dwFocusedTextColor = 0;
    DWORD m_dwHotBkColor = 0;
    std::wstring m_sNormalImage, m_sHotImage, m_sPushedImage, m_sFocusedImage, m_sDisabledImage;
    std::wstring m_sForeImage, m_sHotForeImage;
};

// A two-state button: "click" is sent first, then the state flips, so a receiver reading
// GetCheck() during "click" sees the state before the click.
class CCheckBoxUI : public CButtonUI {
public:
    const wchar_t* GetClass() const override { return L"CheckBox"; }
    void* GetInterface(const wchar_t* pstrName) override;

    bool Activate() override;
    bool GetCheck() const { return m_bSelected; }
    bool IsSelected() const { return m_bSelected; }
    // bTriggerEvent sends "selectchanged" when the state changes.
    void SetCheck(bool bCheck, bool bTriggerEvent = true);
    void Selected(bool bSelected, bool bTriggerEvent = true) { SetCheck(bSelected, bTriggerEvent); }

    void SetAttribute(const wchar_t* pstrName, const wchar_t* pstrValue) override;
    void PaintStatusImage(HDC hDC) override;
    void PaintText(HDC hDC) override;

protected:
    bool m_bSelected = false;
    std::wstring m_sSelectedImage, m_sSelectedHotImage;
    DWORD m_dwSelectedTextColor = 0;
};

// The halo drawn around a progress bar's text of this colour.
DWORD ProgressHaloColor(DWORD textColor);

class CProgressUI : public CLabelUI {
public:
    const wchar_t* GetClass() const override { return L"Progress"; }
    void* GetInterface(const wchar_t* pstrName) override;

    bool IsHorizontal() const { return m_bHorizontal; }
    void SetHorizontal(bool b) { m_bHorizontal = b; Invalidate(); }
    int GetMinValue() const { return m_nMin; }
    void SetMinValue(int n) { m_nMin = n; Invalidate(); }
    int GetMaxValue() const { return m_nMax; }
    void SetMaxValue(int n) { m_nMax = n; Invalidate(); }
    int GetValue() const { return m_nValue; }
    // Clamped to [min, max].
    void SetValue(int n);
    void SetForeImage(const wchar_t* s) { m_sForeImage = s ? s : L""; Invalidate(); }

    void SetAttribute(const wchar_t* pstrName, const wchar_t* pstrValue) override;
    void PaintStatusImage(HDC hDC) override;
    // The text lies over the fill and the track at once: a one-pixel halo of the opposite
    // lightness keeps it readable over both.
    void PaintText(HDC hDC) override;

protected:
    bool m_bHorizontal = true;
    int m_nMin = 0;
    int m_nMax = 100;
    int m_nValue = 0;
    std::wstring m_sForeImage;
};

// Painted like a label; while it has the focus a native edit control sits over it.
class CEditUI : public CLabelUI {
public:
    CEditUI();
    ~CEditUI() override;
    const wchar_t* GetClass() const override { return L"Edit"; }
    void* GetInterface(const wchar_t* pstrName) override;

    void SetText(const wchar_t* pstrText) override;
    void SetEnabled(bool bEnable = true) override;
    void SetVisible(bool bVisible = true) override;
    void SetInternVisible(bool bVisible = true) override;
    void SetPos(RECT rc) override;
    bool IsTabStop() const override { return true; }
    void SetMaxChar(UINT n) { m_uMaxChar = n; }
    UINT GetMaxChar() const { return m_uMaxChar; }
    void SetReadOnly(bool b) { m_bReadOnly = b; }
    bool IsReadOnly() const { return m_bReadOnly; }
    void SetPasswordMode(bool b) { m_bPasswordMode = b; }
    HWND GetNativeWindow() const { return m_hEditWnd; }

    void DoEvent(TEventUI& event) override;
    void SetAttribute(const wchar_t* pstrName, const wchar_t* pstrValue) override;
    void PaintStatusImage(HDC hDC) override;
    void PaintText(HDC hDC) override;
    void PaintBorder(HDC hDC) override;

    // From the paint manager: the native control's text changed / wants colours.
    void OnNativeTextChanged();
    HBRUSH OnNativeCtlColor(HDC hdc);
    // Ends editing: the native control's text is kept, the window goes.
    void EndEdit();

private:
    void BeginEdit();
    RECT NativeRect() const;
    static LRESULT CALLBACK NativeProc(HWND, UINT, WPARAM, LPARAM);

    HWND m_hEditWnd = nullptr;
    WNDPROC m_pOldProc = nullptr;
    UINT m_uMaxChar = 260;
    bool m_bReadOnly = false;
    bool m_bPasswordMode = false;
    DWORD m_dwEditBkColor = 0xFFFFFFFF;
    std::wstring m_sNormalImage, m_sHotImage, m_sFocusedImage, m_sDisabledImage;
    UINT m_uButtonState = 0;
    CScopedGdiObject<HBRUSH> m_hBkBrush;
};

}  // namespace DuiLib
