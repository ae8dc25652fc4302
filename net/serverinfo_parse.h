// The configuration server's package description and the reading of its answer, without
// Windows headers so it can be fuzzed natively.
#pragma once
#include <json/json.h>

#include <string>

// The server's package description; owned by whoever receives it.
struct InstServerInfo {
    std::wstring m_s_app_name;
    std::wstring m_s_channel;
    int m_n_id = 0;
    long long m_ll_size = 0;
    std::wstring m_s_url;  // a record without it is never handed out
    std::wstring m_s_version;
    int m_n_x64 = 0;
    std::wstring m_s_hash_value;  // Base64 of the 16 digest bytes, as sent
    std::string m_s_md5;          // the digest as 32 lower-case hex digits
    std::wstring m_ws_md5;
};

// Fills the record from the value under "Data". False when a member has a type that cannot stand
// for its field: such an answer counts as none.
bool ParseInstServerInfo(InstServerInfo* record, const Json::Value& data);
