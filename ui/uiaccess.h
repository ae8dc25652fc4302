// What screen readers see of a window whose controls are windowless: one IAccessible for the
// client area whose simple children are the visible controls, in layout order. A child's id is
// its control's own (`CControlUI::GetAccId`), so it holds across page changes; the children are
// listed through IEnumVARIANT, as ids are not positions.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace DuiLib {

class CControlUI;
class CPaintManagerUI;

// The control's name for a screen reader: the markup's "accname" when set (image-only controls),
// else its text (text tags removed), else its tooltip. Edit boxes and progress bars carry their
// value in the text, so for them the text is not the name.
std::wstring GetAccName(CControlUI* pControl);
long GetAccRole(CControlUI* pControl);
long GetAccState(CControlUI* pControl);
// "Press", "Check", "Uncheck"; empty when the control has no default action.
std::wstring GetAccDefaultAction(CControlUI* pControl);
// Progress bars: "37%"; edit boxes: their text. False when the control has no value.
bool GetAccValue(CControlUI* pControl, std::wstring& value);
// The controls a screen reader is shown: visible, not layouts, not unnamed decoration.
void CollectAccessibleControls(CControlUI* pRoot, std::vector<CControlUI*>& out);
// The child id a screen reader knows the control by; CHILDID_SELF when it is not shown to one.
LONG AccChildId(CControlUI* pRoot, CControlUI* pControl);

// oleacc.dll is not a KnownDLL: it is loaded on first use from the system folder only.
LRESULT AccLresultFromObject(REFIID riid, WPARAM wParam, IUnknown* punk);

class CAccessibleUI;
// A new object for the paint manager's window (one reference, the caller's).
CAccessibleUI* CreateAccessible(CPaintManagerUI* pManager);
IUnknown* AccessibleUnknown(CAccessibleUI* pAcc);
// The window is going: later calls from clients that still hold the object fail cleanly.
void DetachAccessible(CAccessibleUI* pAcc);
void ReleaseAccessible(CAccessibleUI* pAcc);

}  // namespace DuiLib
