// The control base and the layouts.
#pragma once
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "ui/uidefs.h"

namespace DuiLib {

class CControlUI {
public:
    CControlUI();
    virtual ~CControlUI();
    CControlUI(const CControlUI&) = delete;
    CControlUI& operator=(const CControlUI&) = delete;

    // Class name as written in markup ("Button", "Label", ...).
    virtual const wchar_t* GetClass() const { return L"Control"; }
    virtual void* GetInterface(const wchar_t* pstrName);

    const std::wstring& GetName() const { return m_sName; }
    void SetName(const wchar_t* name) { m_sName = name ? name : L""; }
    CPaintManagerUI* GetManager() const { return m_pManager; }
    virtual void SetManager(CPaintManagerUI* pManager, CControlUI* pParent, bool bInit = true);
    CControlUI* GetParent() const { return m_pParent; }

    virtual const std::wstring& GetText() const { return m_sText; }
    virtual void SetText(const wchar_t* pstrText);
    const std::wstring& GetToolTip() const { return m_sToolTip; }
    void SetToolTip(const wchar_t* text) { m_sToolTip = text ? text : L""; }
    wchar_t GetShortcut() const { return m_chShortcut; }
    void SetShortcut(wchar_t ch) { m_chShortcut = ch; }
    const std::wstring& GetUserData() const { return m_sUserData; }
    void SetUserData(const wchar_t* text) { m_sUserData = text ? text : L""; }
    UINT_PTR GetTag() const { return m_pTag; }
    void SetTag(UINT_PTR tag) { m_pTag = tag; }
    const std::wstring& GetVirtualWnd() const { return m_sVirtualWnd; }
    void SetVirtualWnd(const wchar_t* name) { m_sVirtualWnd = name ? name : L""; }
    // Attributes the framework does not know are kept and can be read back (e.g. "vdname").
    const wchar_t* GetCustomAttribute(const wchar_t* name) const;
    // Screen readers keep a child id past the event that named it: one per control for the
    // process's life, never reused, so an old id can only miss, never name another control.
    LONG GetAccId() const { return m_nAccId; }

    // Colours and images.
    DWORD GetBkColor() const { return m_dwBackColor; }
    void SetBkColor(DWORD c) { m_dwBackColor = c; Invalidate(); }
    const std::wstring& GetBkImage() const { return m_sBkImage; }
    void SetBkImage(const wchar_t* image) { m_sBkImage = image ? image : L""; Invalidate(); }
    DWORD GetBorderColor() const { return m_dwBorderColor; }
    void SetBorderColor(DWORD c) { m_dwBorderColor = c; Invalidate(); }
    void SetFocusBorderColor(DWORD c) { m_dwFocusBorderColor = c; Invalidate(); }
    int GetBorderSize() const { return m_nBorderSize; }
    void SetBorderSize(int n) { m_nBorderSize = n; Invalidate(); }
    SIZE GetBorderRound() const { return m_cxyBorderRound; }
    void SetBorderRound(SIZE cxy) { m_cxyBorderRound = cxy; Invalidate(); }

    // Position: m_rcItem is in the window's client coordinates, set by layout.
    const RECT& GetPos() const { return m_rcItem; }
    virtual void SetPos(RECT rc);
    int GetWidth() const { return m_rcItem.right - m_rcItem.left; }
    int GetHeight() const { return m_rcItem.bottom - m_rcItem.top; }
    // The markup's `pos` (relative to the parent for floating controls). Setters take markup
    // lengths (96 DPI); getters give pixels at the window's DPI.
    RECT GetFixedXY() const { return Scaled(m_rcXY); }
    void SetFixedXY(const RECT& rc) { m_rcXY = rc; NeedParentUpdate(); }
    int GetFixedWidth() const { return Scaled(m_cxyFixed.cx); }
    void SetFixedWidth(int cx);
    int GetFixedHeight() const { return Scaled(m_cxyFixed.cy); }
    void SetFixedHeight(int cy);
    int GetMinWidth() const { return Scaled(m_cxyMin.cx); }
    int GetMaxWidth() const { return Scaled(m_cxyMax.cx); }
    int GetMinHeight() const { return Scaled(m_cxyMin.cy); }
    int GetMaxHeight() const { return Scaled(m_cxyMax.cy); }
    bool IsFloat() const { return m_bFloat; }
    void SetFloat(bool b) { m_bFloat = b; NeedParentUpdate(); }
    virtual SIZE EstimateSize(SIZE szAvailable);

    // State.
    virtual bool IsVisible() const { return m_bVisible && m_bInternVisible; }
    virtual void SetVisible(bool bVisible = true);
    virtual void SetInternVisible(bool bVisible = true);
    virtual bool IsEnabled() const { return m_bEnabled; }
    virtual void SetEnabled(bool bEnable = true);
    virtual bool IsMouseEnabled() const { return m_bMouseEnabled; }
    void SetMouseEnabled(bool b) { m_bMouseEnabled = b; }
    virtual bool IsKeyboardEnabled() const { return m_bKeyboardEnabled; }
    void SetKeyboardEnabled(bool b) { m_bKeyboardEnabled = b; }
    virtual bool IsFocused() const { return m_bFocused; }
    virtual void SetFocus();
    // Whether Tab stops here.
    virtual bool IsTabStop() const { return false; }
    // Runs the control's action (a click); false when it cannot act now.
    virtual bool Activate();

    virtual void SetAttribute(const wchar_t* pstrName, const wchar_t* pstrValue);
    // key="value" pairs separated by blanks.
    void ApplyAttributeList(const wchar_t* pstrList);

    // Depth-first search; see UIFIND_*.
    virtual CControlUI* FindControl(FINDCONTROLPROC Proc, LPVOID pData, UINT uFlags);

    void Invalidate();
    void NeedUpdate();
    void NeedParentUpdate();

    // Delivers an event; the control's own handling is DoEvent.
    void Event(TEventUI& event);
    virtual void DoEvent(TEventUI& event);
    virtual void DoInit() {}
    virtual void DoPaint(HDC hDC, const RECT& rcPaint);
    virtual void PaintBkColor(HDC hDC);
    virtual void PaintBkImage(HDC hDC);
    virtual void PaintStatusImage(HDC hDC) {}
    virtual void PaintText(HDC hDC) {}
    virtual void PaintBorder(HDC hDC);

protected:
    bool DrawImage(HDC hDC, const std::wstring& image);
    // A markup length in pixels at the window's DPI.
    int Scaled(int v) const;
    RECT Scaled(const RECT& rc) const;

    CPaintManagerUI* m_pManager = nullptr;
    CControlUI* m_pParent = nullptr;
    std::wstring m_sName;
    std::wstring m_sText;
    std::wstring m_sToolTip;
    std::wstring m_sUserData;
    std::wstring m_sVirtualWnd;
    std::wstring m_sBkImage;
    std::map<std::wstring, std::wstring> m_mCustomAttrs;
    UINT_PTR m_pTag = 0;
    const LONG m_nAccId;
    wchar_t m_chShortcut = 0;
    RECT m_rcItem = {0, 0, 0, 0};
    RECT m_rcPaint = {0, 0, 0, 0};
    RECT m_rcXY = {0, 0, 0, 0};
    SIZE m_cxyFixed = {0, 0};
    SIZE m_cxyMin = {0, 0};
    SIZE m_cxyMax = {9999, 9999};
    bool m_bVisible = true;
    bool m_bInternVisible = true;
    bool m_bEnabled = true;
    bool m_bMouseEnabled = true;
    bool m_bKeyboardEnabled = true;
    bool m_bFocused = false;
    bool m_bFloat = false;
    bool m_bUpdateNeeded = true;
    DWORD m_dwBackColor = 0;
    DWORD m_dwBorderColor = 0;
    DWORD m_dwFocusBorderColor = 0;
    int m_nBorderSize = 0;
    SIZE m_cxyBorderRound = {0, 0};
};

class CContainerUI : public CControlUI {
public:
    CContainerUI() = default;
    ~CContainerUI() override;
    const wchar_t* GetClass() const override { return L"Container"; }
    void* GetInterface(const wchar_t* pstrName) override;

    CControlUI* GetItemAt(int iIndex) const;
    int GetItemIndex(CControlUI* pControl) const;
    int GetCount() const { return static_cast<int>(m_items.size()); }
    virtual bool Add(CControlUI* pControl);
    virtual bool AddAt(CControlUI* pControl, int iIndex);
    // Removes and deletes.
    virtual bool Remove(CControlUI* pControl);
    virtual void RemoveAll();

    RECT GetInset() const { return Scaled(m_rcInset); }
    void SetInset(const RECT& rc) { m_rcInset = rc; NeedUpdate(); }
    int GetChildPadding() const { return Scaled(m_iChildPadding); }
    void SetChildPadding(int n) { m_iChildPadding = n; NeedUpdate(); }

    void SetManager(CPaintManagerUI* pManager, CControlUI* pParent, bool bInit = true) override;
    void SetVisible(bool bVisible = true) override;
    void SetInternVisible(bool bVisible = true) override;
    void SetPos(RECT rc) override;
    void SetAttribute(const wchar_t* pstrName, const wchar_t* pstrValue) override;
    CControlUI* FindControl(FINDCONTROLPROC Proc, LPVOID pData, UINT uFlags) override;
    void DoPaint(HDC hDC, const RECT& rcPaint) override;

protected:
    // Places a floating child by its `pos` relative to this container.
    void SetFloatPos(int iIndex);

    std::vector<CControlUI*> m_items;
    RECT m_rcInset = {0, 0, 0, 0};
    int m_iChildPadding = 0;
};

class CVerticalLayoutUI : public CContainerUI {
public:
    const wchar_t* GetClass() const override { return L"VerticalLayout"; }
    void* GetInterface(const wchar_t* pstrName) override;
    void SetPos(RECT rc) override;
};

class CHorizontalLayoutUI : public CContainerUI {
public:
    const wchar_t* GetClass() const override { return L"HorizontalLayout"; }
    void* GetInterface(const wchar_t* pstrName) override;
    void SetPos(RECT rc) override;
};

}  // namespace DuiLib
