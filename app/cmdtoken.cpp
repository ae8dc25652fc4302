// The command-line tokenizer, apart from Windows so it can be fuzzed natively.
#include "app/cmdparams.h"

bool NextCmdToken(const wchar_t*& p, std::wstring& token, bool& error) {
    token.clear();
    error = false;
    while (*p == L' ') ++p;
    if (!*p) return false;
    bool quoted = false, escape = false;
    while (*p) {
        wchar_t c = *p;
        if (escape) {
            // only a space, a quote or a backslash is taken literally after a backslash
            token += c;
            ++p;
            escape = false;
            continue;
        }
        if (quoted) {
            if (c == L'"') {
                quoted = false;
            } else if (c == L'\\' && p[1] == L'\\') {
                token += L'\\';
                ++p;
            } else {
                token += c;
            }
            ++p;
            continue;
        }
        if (c == L' ') break;
        if (c == L'"') {
            quoted = true;
        } else if (c == L'\\') {
            // A backslash before an ordinary character is kept, so an unquoted path such as
            // C:\Apps\Vardo reaches the setup intact.
            if (p[1] == L' ' || p[1] == L'"' || p[1] == L'\\' || p[1] == 0) escape = true;
            else token += c;
        } else {
            token += c;
        }
        ++p;
    }
    if (quoted || escape) error = true;
    return true;
}
