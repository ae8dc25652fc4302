// libFuzzer harness for the parsers of bytes the installer does not control, built natively with
// clang from the rooms' pure cores (tests/e2e/test_skin_fuzz.py builds and runs it). The target
// comes from VD_FUZZ_TARGET, so each one reports its own executions.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/cmdparams.h"
#include "net/dlplan.h"
#include "net/httprules.h"
#include "net/serverinfo_parse.h"
#include "probes/hostrules.h"
#include "telemetry/behaviorrecord.h"

using namespace VdFoundationHttpDownload;
using namespace VdFoundationBehaviorGather;

// The record's host-facing members live with the Windows queue; the store parser never calls them.
void CVdBehaviorGather::ToJson(Json::Value&, bool) const { __builtin_trap(); }
std::string CVdBehaviorGather::ToJsonText() const { __builtin_trap(); }
std::wstring CVdBehaviorGather::ToJsonTextW() const { __builtin_trap(); }

namespace {

int g_target = -1;

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

uint64_t Take64(const uint8_t*& p, size_t& n) {
    uint64_t v = 0;
    for (int i = 0; i < 8 && n; ++i, ++p, --n) v = (v << 8) | *p;
    return v;
}

void FuzzCommandLine(const uint8_t* data, size_t size) {
    // ASCII bytes stand for themselves, so blanks, quotes and backslashes are one mutation away;
    // a higher byte and the next one make a character past ASCII. NUL would end the text early.
    std::wstring text;
    for (size_t i = 0; i < size; ++i) {
        unsigned c = data[i];
        if (c >= 0x80 && i + 1 < size) c = 0x80 + (((c & 0x7F) << 8) | data[++i]);
        text += (wchar_t)(c ? c : 0xA0);
    }
    const wchar_t* p = text.c_str();
    std::wstring token;
    bool error = false;
    size_t tokens = 0;
    const wchar_t* before = p;
    while (NextCmdToken(p, token, error)) {
        Check(p >= text.c_str() && p <= text.c_str() + text.size());
        Check(token.size() <= text.size());
        // a token is built from the characters it consumed, never more
        Check(token.size() <= (size_t)(p - before));
        before = p;
        if (++tokens > text.size() + 1) Check(false);  // every call consumes text
    }
    Check(*p == 0);
}

void FuzzRanges(const uint8_t* data, size_t size) {
    const uint8_t* p = data;
    size_t n = size;
    // a file size: far below 2^63 (the probe reads it as a 32-bit count)
    uint64_t total = (Take64(p, n) >> 2) >> (n ? (*p % 62) : 0);
    int sections = n ? (int)(*p++ % 9) - 1 : 1;
    if (n) --n;
    std::vector<VdSectionPlan> plan = PlanSections(total, sections);
    uint64_t covered = 0;
    for (const VdSectionPlan& s : plan) {
        Check(s.m_ull_start == covered);  // no gap, no overlap
        covered += s.m_ull_length;
    }
    Check(covered == total);
    int64_t part = (int64_t)Take64(p, n);
    if (!plan.empty()) {
        VdResumePoint r = ResumePoint(plan.back(), part);
        Check(r.m_ll_present >= 0 && (uint64_t)r.m_ll_present <= plan.back().m_ull_length);
        uint64_t first = 0, last = 0, cur = Take64(p, n), end = Take64(p, n);
        // the range asked for ends at most one byte past the section (that byte is kept, see the planner)
        if (NextRange(cur, end, first, last)) Check(first == cur && first < last && last <= end);
        // callers pass a part-file position and a chunk size, never negative
        int64_t pos = (int64_t)(Take64(p, n) >> 1), count = (int64_t)(Take64(p, n) >> 1);
        int64_t in = BytesInSection(pos, count, plan.back().m_ull_length);
        Check(in >= 0);
    }
    std::string text(reinterpret_cast<const char*>(p), n);
    uint64_t at = 0;
    if (ParseContentRangeFirst(text, at)) Check(!text.empty());
    unsigned long long v = 0;
    if (ParseHttpUInt64(text, v)) Check(!text.empty());
}

void FuzzIpAnswer(const uint8_t* data, size_t size) {
    std::string ip;
    if (ParseIpLookupAnswer(std::string(reinterpret_cast<const char*>(data), size), ip)) Check(ip.size() <= size);
}

void FuzzBehaviorStore(const uint8_t* data, size_t size) {
    Json::Value roots;
    if (ParseBehaviorStore(std::string(reinterpret_cast<const char*>(data), size), roots)) {
        // what was read can be written back and read again to the same records
        Json::Value again;
        Check(ParseBehaviorStore(BehaviorStoreText(roots), again));
        Check(again.size() == roots.size());
        // each record is taken in as the queue takes it, and posting it again keeps what it said
        const BehaviorHostFacts facts{"mac", "ip", "version", "now"};
        for (Json::ArrayIndex i = 0; roots.isArray() && i < roots.size(); ++i) {
            CVdBehaviorGather record, back;
            record.FromJson(roots[i]);
            Json::Value posted(Json::objectValue);
            record.FillJson(posted, facts);
            back.FromJson(posted);
            Check(back.GetModel() == record.GetModel() && back.GetSucceed() == record.GetSucceed());
            Check(back.GetErrorMessage() == record.GetErrorMessage() && back.GetBusinessId() == record.GetBusinessId());
            Check(back.GetOperateTime() == (record.GetOperateTime().empty() ? facts.now : record.GetOperateTime()));
            Check(back.GetVersion() == facts.version);
        }
    }
}

// The configuration server's answer, read as the request reads it.
void FuzzServerInfo(const uint8_t* data, size_t size) {
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    // held in a string as the request holds the body: jsoncpp 1.9.5 reads the byte after a final
    // CR when it words an error, and only the string's terminator makes that byte ours
    const std::string body(reinterpret_cast<const char*>(data), size);
    if (!reader->parse(body.data(), body.data() + body.size(), &root, &errors) || !(root.isNull() || root.isObject()))
        return;
    InstServerInfo record;
    record.m_s_url = L"kept";
    record.m_n_id = -7;
    const Json::Value& answer = root["Data"];
    if (!ParseInstServerInfo(&record, answer) || !(answer.isNull() || answer.isArray())) {
        // a refused or unread answer leaves the record as it was, not half filled
        Check(record.m_s_url == L"kept" && record.m_n_id == -7 && record.m_s_md5.empty());
        return;
    }
    // two hex digits per decoded byte, three bytes per four Base64 characters
    Check(record.m_s_md5.size() % 2 == 0 && record.m_s_md5.size() <= record.m_s_hash_value.size() * 3 / 2);
    for (char c : record.m_s_md5) Check((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'));
    Check(record.m_ws_md5 == std::wstring(record.m_s_md5.begin(), record.m_s_md5.end()));
    Check(record.m_n_x64 == 0 || record.m_n_x64 == 1);
    for (const std::wstring* w : {&record.m_s_app_name, &record.m_s_channel, &record.m_s_url, &record.m_s_version})
        for (wchar_t c : *w) Check((unsigned long)c <= 0xFFFF);  // UTF-16 code units, whatever wchar_t holds
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* t = getenv("VD_FUZZ_TARGET");
    g_target = t ? atoi(t) : -1;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int which = g_target >= 0 ? g_target : (size ? data[0] % 5 : 0);
    switch (which) {
        case 0: FuzzCommandLine(data, size); break;
        case 1: FuzzRanges(data, size); break;
        case 2: FuzzIpAnswer(data, size); break;
        case 3: FuzzBehaviorStore(data, size); break;
        case 4: FuzzServerInfo(data, size); break;
    }
    return 0;
}
