#include "tests/unit/support/testservers.h"

#include <windows.h>
#include <wininet.h>

#include <cstdlib>
#include <cstring>

#include "base/scoped.h"

namespace vdtest {

int ServerPort(const char* role) {
    std::string name = "VD_SRV_";
    for (const char* p = role; *p; ++p) name += (char)toupper((unsigned char)*p);
    const char* v = getenv(name.c_str());
    return v ? atoi(v) : 0;
}

int ServerControl(const char* role, const std::string& action, const std::string& body, std::string* answer) {
    int port = ServerPort(role);
    if (!port) return -1;
    CScopedInternetHandle session(InternetOpenA("vdtest", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (!session) return -1;
    CScopedInternetHandle conn(
        InternetConnectA(session.Get(), "127.0.0.1", (INTERNET_PORT)port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!conn) return -1;
    std::string target = "/__control/" + action;
    // servers named "..._tls" answer only over TLS, with a certificate nobody trusts
    const size_t len = strlen(role);
    const bool tls = len > 4 && strcmp(role + len - 4, "_tls") == 0;
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
    if (tls) flags |= INTERNET_FLAG_SECURE | INTERNET_FLAG_IGNORE_CERT_CN_INVALID | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID;
    CScopedInternetHandle req(HttpOpenRequestA(conn.Get(), body.empty() ? "GET" : "POST", target.c_str(), nullptr,
                                               nullptr, nullptr, flags, 0));
    if (!req) return -1;
    if (tls) {
        DWORD sec = 0, size = sizeof(sec);
        InternetQueryOptionA(req.Get(), INTERNET_OPTION_SECURITY_FLAGS, &sec, &size);
        sec |= SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_REVOCATION;
        InternetSetOptionA(req.Get(), INTERNET_OPTION_SECURITY_FLAGS, &sec, sizeof(sec));
    }
    if (!HttpSendRequestA(req.Get(), nullptr, 0, (void*)body.data(), (DWORD)body.size())) return -1;
    DWORD status = 0, size = sizeof(status);
    HttpQueryInfoA(req.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
    std::string text;
    char buf[8192];
    DWORD got = 0;
    while (InternetReadFile(req.Get(), buf, sizeof(buf), &got) && got) text.append(buf, got);
    if (answer) *answer = text;
    return (int)status;
}

namespace {
// The JSON answer of a control command; `fallback` when unreachable or not JSON.
Json::Value ControlAnswer(const char* role, const char* action, const Json::Value& fallback) {
    std::string text;
    if (ServerControl(role, action, std::string(), &text) != 200) return fallback;
    Json::CharReaderBuilder b;
    std::string errs;
    Json::Value root;
    std::unique_ptr<Json::CharReader> reader(b.newCharReader());
    if (!reader->parse(text.data(), text.data() + text.size(), &root, &errs)) return fallback;
    return root;
}
}  // namespace

Json::Value ServerRequests(const char* role) { return ControlAnswer(role, "requests", Json::Value(Json::arrayValue)); }

long long PackageBodyBytes() {
    const Json::Value stats = ControlAnswer("package", "stats", Json::Value());
    return stats.isObject() && stats["body_bytes"].isIntegral() ? stats["body_bytes"].asInt64() : -1;
}

void ServerReset(const char* role) { ServerControl(role, "reset"); }

std::string RecordBody(const Json::Value& rec) {
    static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string in = rec["body_b64"].asString(), out;
    unsigned acc = 0;
    int bits = 0;
    for (char c : in) {
        size_t v = kAlphabet.find(c);
        if (v == std::string::npos) break;
        acc = (acc << 6) | (unsigned)v;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += (char)((acc >> bits) & 0xFF);
        }
    }
    return out;
}

bool HasRawHeader(const Json::Value& rec, const std::string& line) {
    for (const auto& h : rec["raw_headers"])
        if (h.asString() == line) return true;
    return false;
}

int HeaderCount(const Json::Value& rec, const std::string& name) {
    int n = 0;
    for (const auto& h : rec["raw_headers"]) {
        std::string s = h.asString();
        if (s.size() > name.size() && s[name.size()] == ':' && _strnicmp(s.c_str(), name.c_str(), name.size()) == 0) ++n;
    }
    return n;
}

std::string HeaderValue(const Json::Value& rec, const std::string& name) {
    for (const auto& h : rec["raw_headers"]) {
        std::string s = h.asString();
        size_t colon = s.find(':');
        if (colon == std::string::npos || colon != name.size()) continue;
        if (_strnicmp(s.c_str(), name.c_str(), colon) != 0) continue;
        size_t v = s.find_first_not_of(" \t", colon + 1);
        return v == std::string::npos ? std::string() : s.substr(v);
    }
    return std::string();
}

}  // namespace vdtest
