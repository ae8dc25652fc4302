#include "net/serverinfo_parse.h"

#include <climits>

#include "base/utf8text.h"
#include "probes/base64.h"

namespace {

// A string member: missing or null reads as empty; any other type is a malformed answer.
bool ReadText(const Json::Value& item, const char* key, std::wstring& out) {
    const Json::Value& v = item[key];
    if (v.isNull()) {
        out.clear();
        return true;
    }
    if (!v.isString()) return false;
    const std::string& text = v.asString();
    out = Utf8ToWide(text.data(), text.size());
    return true;
}

bool ReadX64(const Json::Value& v, int& out) {
    if (v.isNull()) out = 0;
    else if (v.isBool()) out = v.asBool() ? 1 : 0;
    else if (v.isNumeric()) out = v.asDouble() != 0.0 ? 1 : 0;
    else if (v.isString()) out = v.asString().empty() ? 0 : 1;
    else return false;
    return true;
}

std::string BytesToLowerHex(const std::string& bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
}

}  // namespace

bool ParseInstServerInfo(InstServerInfo* record, const Json::Value& data) {
    if (!record) return false;
    if (!data.isNull() && !data.isArray()) return true;  // not read: the record stays as it is
    const Json::Value item = data.isArray() && data.size() > 0 ? data[0u] : Json::Value();
    if (!item.isNull() && !item.isObject()) return false;

    InstServerInfo r;
    if (!ReadText(item, "AppName", r.m_s_app_name) || !ReadText(item, "Channel", r.m_s_channel) ||
        !ReadText(item, "Url", r.m_s_url) || !ReadText(item, "Version", r.m_s_version) ||
        !ReadText(item, "HashValue", r.m_s_hash_value))
        return false;
    const Json::Value& id = item["Id"];
    if (!id.isNull()) {
        // isInt64 first: asLargestInt throws for an integer past the signed 64-bit range
        if (!id.isInt64() || id.asLargestInt() < INT_MIN || id.asLargestInt() > INT_MAX) return false;
        r.m_n_id = (int)id.asLargestInt();
    }
    const Json::Value& size = item["Size"];
    if (!size.isNull()) {
        if (!size.isIntegral() || !size.isInt64()) return false;
        r.m_ll_size = size.asInt64();
    }
    if (!ReadX64(item["X64"], r.m_n_x64)) return false;
    if (!r.m_s_hash_value.empty()) {
        // Decoding ends at the first character outside the alphabet, and every non-ASCII one is;
        // cut there so no wide character narrows into a letter of the alphabet.
        std::string narrow;
        for (wchar_t c : r.m_s_hash_value) {
            if (c > 0x7F) break;
            narrow += (char)c;
        }
        r.m_s_md5 = BytesToLowerHex(Base64Decode(narrow));
        r.m_ws_md5.assign(r.m_s_md5.begin(), r.m_s_md5.end());
    }
    *record = r;
    return true;
}
