// libFuzzer harness for the skin language's pure parsers, built natively with clang
// (tests/e2e/test_skin_fuzz.py builds and runs it). The first byte picks the parser.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ui/uimarkup.h"
#include "ui/uiparse.h"

using namespace DuiLib;

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

void WalkMarkup(const CMarkup& m) {
    // iterative walk; every link must agree with its opposite
    std::vector<CMarkupNode> stack;
    if (m.GetRoot().IsValid()) stack.push_back(m.GetRoot());
    size_t seen = 0;
    while (!stack.empty()) {
        CMarkupNode n = stack.back();
        stack.pop_back();
        ++seen;
        Check(n.GetName()[0] != 0);
        for (int i = 0; i < n.GetAttributeCount(); ++i) {
            Check(n.GetAttributeName(i)[0] != 0);
            Check(n.GetAttributeValue(n.GetAttributeName(i)) != nullptr);
        }
        for (CMarkupNode c = n.GetChild(); c.IsValid(); c = c.GetSibling()) {
            Check(std::wstring(c.GetParent().GetName()) == n.GetName());
            stack.push_back(c);
        }
    }
    (void)seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t which = data[0] % 5;
    const char* text = reinterpret_cast<const char*>(data + 1);
    const size_t len = size - 1;
    switch (which) {
        case 0: {
            CMarkup m;
            bool ok = m.Load(text, len);
            Check(ok == m.IsValid());
            Check(ok || !m.GetLastErrorMessage().empty());
            if (ok) WalkMarkup(m);
            break;
        }
        case 1: {
            TImageAttrUI a;
            bool named = ParseImageString(Utf8ToWide(text, len), a);
            Check(named == !a.IsEmpty());
            break;
        }
        case 2: {
            for (const auto& kv : ParseAttributeList(Utf8ToWide(text, len))) Check(!kv.first.empty());
            break;
        }
        case 3: {
            std::wstring w = Utf8ToWide(text, len);
            size_t total = 0;
            for (const auto& r : ParseHtmlText(w)) total += r.sText.size();
            Check(total <= w.size());
            break;
        }
        case 4: {
            std::wstring w = Utf8ToWide(text, len);
            // valid UTF-8 comes back byte for byte
            if (w.find(L'\xFFFD') == std::wstring::npos) Check(WideToUtf8(w) == std::string(text, len));
            int v[4];
            Check(ParseIntList(w.c_str(), v, 4) <= 4);
            (void)ParseRect(w.c_str());
            (void)ParseColor(w.c_str());
            break;
        }
    }
    return 0;
}
