// Drop-down menus: a popup window built from markup whose items report their clicks to an
// owner window as posted, heap-allocated notification records.
#pragma once
#include <windows.h>

#include <vector>

#include "ui/uicontrol.h"
#include "ui/uicontrols.h"
#include "ui/uiwindow.h"

namespace DuiLib {

// Posted to the menu owner for each item click; wParam is a new TNotifyUI that the receiver
// deletes. The sender control stays valid while that message is handled (the menu closes
// after it), but not later.
constexpr UINT UIMSG_MENU_ITEM_CLICK = 1801;

class CMenuUI;

class IMenuObserver {
public:
    virtual ~IMenuObserver() = default;
    virtual void OnMenuShown(CMenuUI* pMenu) = 0;
    virtual void OnMenuClosed(CMenuUI* pMenu) = 0;
};

// The menu's body; item look comes from its attributes.
class CMenuUI : public CVerticalLayoutUI {
public:
    const wchar_t* GetClass() const override { return L"Menu"; }
    void* GetInterface(const wchar_t* pstrName) override;
    void SetAttribute(const wchar_t* pstrName, const wchar_t* pstrValue) override;

    RECT m_rcItemTextPadding = {0, 0, 0, 0};
    DWORD m_dwItemTextColor = 0xFF000000;
    DWORD m_dwItemHotBkColor = 0;
    DWORD m_dwItemHotTextColor = 0;
    DWORD m_dwItemSelectedBkColor = 0;
    DWORD m_dwItemSelectedTextColor = 0;
    DWORD m_dwItemDisabledTextColor = 0xFFA7A6AA;
    int m_iItemFont = -1;
};

class CMenuElementUI : public CButtonUI {
public:
    CMenuElementUI();
    const wchar_t* GetClass() const override { return L"MenuElement"; }
    void* GetInterface(const wchar_t* pstrName) override;
    // Sends "itemclick" (one report per click).
    bool Activate() override;
    SIZE EstimateSize(SIZE szAvailable) override;
    void PaintBkColor(HDC hDC) override;
    void PaintText(HDC hDC) override;
    bool IsHot() const { return (m_uButtonState & UISTATE_HOT) != 0; }
    void SetHot(bool hot);

private:
    CMenuUI* Menu() const;
};

class CMenuWnd : public CWindowWnd, public INotifyUI {
public:
    explicit CMenuWnd(HWND hParent = nullptr);
    ~CMenuWnd() override;

    // Process-wide: the window that receives item reports (set each time a menu opens).
    static void SetOwnerWindow(HWND hOwner);
    static HWND GetOwnerWindow();

    void AddObserver(IMenuObserver* pObserver);
    void RemoveObserver(IMenuObserver* pObserver);
    // Builds the menu from markup and shows it with its top-left corner at ptScreen (moved to
    // stay on the monitor). The object deletes itself when the menu closes.
    bool Init(const wchar_t* xml, const wchar_t* type, POINT ptScreen);
    CMenuUI* GetMenu() const;
    CPaintManagerUI& GetManager() { return m_pm; }

    void Notify(TNotifyUI& msg) override;

protected:
    const wchar_t* GetWindowClassName() const override { return L"DuiLibMenuWnd"; }
    UINT GetClassStyle() const override { return CS_DBLCLKS | CS_DROPSHADOW; }
    LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) override;
    void OnFinalMessage(HWND hWnd) override;

private:
    void MoveHot(int step);

    HWND m_hParent;
    CPaintManagerUI m_pm;
    std::vector<IMenuObserver*> m_vObservers;
    std::wstring m_sXml;
    std::wstring m_sType;
    POINT m_ptOrigin = {0, 0};
    bool m_bClosing = false;
    bool* m_pbFinalSeen = nullptr;  // set while Init creates the window
};

}  // namespace DuiLib
