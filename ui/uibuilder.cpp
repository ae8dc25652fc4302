#include "ui/uibuilder.h"

#include "ui/uicontrols.h"
#include "ui/uimanager.h"
#include "ui/uimenu.h"
#include "ui/uiparse.h"
#include "ui/uiresource.h"

namespace DuiLib {

namespace {
// Deeper nesting than this is no window anyone draws; it is cut off rather than recursed into.
constexpr int kMaxDepth = 64;
}

CControlUI* CDialogBuilder::CreateKnownControl(const wchar_t* c) {
    if (EqualsNoCase(c, L"VerticalLayout")) return new CVerticalLayoutUI;
    if (EqualsNoCase(c, L"HorizontalLayout")) return new CHorizontalLayoutUI;
    if (EqualsNoCase(c, L"Container")) return new CContainerUI;
    if (EqualsNoCase(c, L"Control")) return new CControlUI;
    if (EqualsNoCase(c, L"Label")) return new CLabelUI;
    if (EqualsNoCase(c, L"Button")) return new CButtonUI;
    if (EqualsNoCase(c, L"CheckBox")) return new CCheckBoxUI;
    if (EqualsNoCase(c, L"Progress")) return new CProgressUI;
    if (EqualsNoCase(c, L"Edit")) return new CEditUI;
    if (EqualsNoCase(c, L"Menu")) return new CMenuUI;
    if (EqualsNoCase(c, L"MenuElement")) return new CMenuElementUI;
    return nullptr;
}

CControlUI* CDialogBuilder::Create(const wchar_t* xml, const wchar_t* type, IDialogBuilderCallback* pCallback,
                                   CPaintManagerUI* pManager, CControlUI* pParent) {
    m_xml.Release();
    if (!xml || !*xml) {
        m_xml.SetLastError(L"Error opening file");
        return nullptr;
    }
    if (type && *type) {
        // markup carried as a numbered resource of the given type
        HINSTANCE inst = CPaintManagerUI::GetResourceInstance();
        HRSRC r = FindResourceW(inst, MAKEINTRESOURCEW(_wtoi(xml)), type);
        HGLOBAL g = r ? LoadResource(inst, r) : nullptr;
        const char* p = g ? static_cast<const char*>(LockResource(g)) : nullptr;
        DWORD n = r ? SizeofResource(inst, r) : 0;
        if (!p) {
            m_xml.SetLastError(L"Error opening file");
            return nullptr;
        }
        if (!m_xml.Load(p, n)) return nullptr;
        return Build(pCallback, pManager, pParent);
    }
    std::string bytes;
    const wchar_t* error = L"Error opening file";
    if (!ReadSkinFile(xml, bytes, &error)) {
        m_xml.SetLastError(error);
        return nullptr;
    }
    if (!m_xml.Load(bytes)) return nullptr;
    return Build(pCallback, pManager, pParent);
}

CControlUI* CDialogBuilder::CreateFromText(const std::string& utf8, IDialogBuilderCallback* pCallback,
                                           CPaintManagerUI* pManager, CControlUI* pParent) {
    if (!m_xml.Load(utf8)) return nullptr;
    return Build(pCallback, pManager, pParent);
}

CControlUI* CDialogBuilder::Build(IDialogBuilderCallback* pCallback, CPaintManagerUI* pManager, CControlUI* pParent) {
    m_pCallback = pCallback;
    CMarkupNode root = m_xml.GetRoot();
    if (!root.IsValid()) return nullptr;
    if (pManager) {
        const wchar_t* cls = root.GetName();
        if (EqualsNoCase(cls, L"Window")) {
            for (int i = 0; i < root.GetAttributeCount(); ++i)
                pManager->SetWindowAttribute(root.GetAttributeName(i), root.GetAttributeValue(i));
        }
        for (CMarkupNode node = root.GetChild(); node.IsValid(); node = node.GetSibling()) {
            const wchar_t* name = node.GetName();
            if (EqualsNoCase(name, L"Font")) {
                const wchar_t* id = node.GetAttributeValue(L"id");
                const wchar_t* face = node.GetAttributeValue(L"name");
                const wchar_t* size = node.GetAttributeValue(L"size");
                pManager->AddFont(id ? _wtoi(id) : 0, face ? face : L"", size ? _wtoi(size) : 12,
                                  ParseBool(node.GetAttributeValue(L"bold")),
                                  ParseBool(node.GetAttributeValue(L"underline")),
                                  ParseBool(node.GetAttributeValue(L"italic")),
                                  ParseBool(node.GetAttributeValue(L"default")));
            } else if (EqualsNoCase(name, L"Default")) {
                const wchar_t* cname = node.GetAttributeValue(L"name");
                const wchar_t* value = node.GetAttributeValue(L"value");
                if (cname && value) pManager->AddDefaultAttributeList(cname, value);
            }
        }
    }
    // A Window holds the tree; any other root is itself the one control.
    if (!EqualsNoCase(root.GetName(), L"Window")) return BuildNode(root, pParent, pManager, 0);
    return Parse(root, pParent, pManager, 0);
}

CControlUI* CDialogBuilder::BuildNode(const CMarkupNode& node, CControlUI* pParent, CPaintManagerUI* pManager,
                                      int depth) {
    const wchar_t* cls = node.GetName();
    CControlUI* pControl = CreateKnownControl(cls);
    if (!pControl && m_pCallback) pControl = m_pCallback->CreateControl(cls);
    if (!pControl) return nullptr;  // unknown classes are skipped with their subtree
    // children first, so a container knows its items when its attributes arrive
    if (node.HasChildren()) Parse(node, pControl, pManager, depth + 1);
    if (pManager) {
        const wchar_t* defaults = pManager->GetDefaultAttributeList(cls);
        if (defaults) pControl->ApplyAttributeList(defaults);
    }
    for (int i = 0; i < node.GetAttributeCount(); ++i)
        pControl->SetAttribute(node.GetAttributeName(i), node.GetAttributeValue(i));
    return pControl;
}

CControlUI* CDialogBuilder::Parse(const CMarkupNode& parent, CControlUI* pParent, CPaintManagerUI* pManager, int depth) {
    CControlUI* pReturn = nullptr;
    if (depth > kMaxDepth) return nullptr;
    auto* container = pParent ? static_cast<CContainerUI*>(pParent->GetInterface(L"Container")) : nullptr;
    for (CMarkupNode node = parent.GetChild(); node.IsValid(); node = node.GetSibling()) {
        const wchar_t* cls = node.GetName();
        if (EqualsNoCase(cls, L"Window") || EqualsNoCase(cls, L"Font") || EqualsNoCase(cls, L"Default") ||
            EqualsNoCase(cls, L"Image"))
            continue;
        // a non-container cannot hold controls: stray children are not built
        if (pParent && !container) continue;
        CControlUI* pControl = BuildNode(node, pParent, pManager, depth);
        if (!pControl) continue;
        if (container) {
            container->Add(pControl);
            if (!pReturn) pReturn = pControl;
        } else if (!pReturn) {
            pReturn = pControl;
        } else {
            // two roots: only the first one is the window's tree
            delete pControl;
        }
    }
    return pReturn;
}

}  // namespace DuiLib
