// Builds a control tree from a markup file of the current skin source.
#pragma once
#include <windows.h>

#include <string>

#include "ui/uidefs.h"
#include "ui/uimarkup.h"

namespace DuiLib {

class CDialogBuilder {
public:
    CDialogBuilder() = default;
    CDialogBuilder(const CDialogBuilder&) = delete;
    CDialogBuilder& operator=(const CDialogBuilder&) = delete;

    // `xml` is a skin file name, or, with `type` set, the number of a resource of that type.
    // Returns the root control (owned by the caller or attached to pManager), nullptr on failure
    // with the reason in GetMarkup()->GetLastErrorMessage().
    CControlUI* Create(const wchar_t* xml, const wchar_t* type = nullptr, IDialogBuilderCallback* pCallback = nullptr,
                       CPaintManagerUI* pManager = nullptr, CControlUI* pParent = nullptr);
    // From markup text already in memory (UTF-8).
    CControlUI* CreateFromText(const std::string& utf8, IDialogBuilderCallback* pCallback = nullptr,
                               CPaintManagerUI* pManager = nullptr, CControlUI* pParent = nullptr);
    CMarkup* GetMarkup() { return &m_xml; }
    const std::wstring& GetLastErrorMessage() const { return m_xml.GetLastErrorMessage(); }

    // The control of a class the framework knows, nullptr otherwise.
    static CControlUI* CreateKnownControl(const wchar_t* pstrClass);

private:
    CControlUI* Build(IDialogBuilderCallback* pCallback, CPaintManagerUI* pManager, CControlUI* pParent);
    CControlUI* BuildNode(const CMarkupNode& node, CControlUI* pParent, CPaintManagerUI* pManager, int depth);
    CControlUI* Parse(const CMarkupNode& parent, CControlUI* pParent, CPaintManagerUI* pManager, int depth);

    CMarkup m_xml;
    IDialogBuilderCallback* m_pCallback = nullptr;
};

}  // namespace DuiLib
