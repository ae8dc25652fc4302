#include "net/dlplan.h"

#include <algorithm>

namespace VdFoundationHttpDownload {

std::vector<VdSectionPlan> PlanSections(uint64_t total, int n) {
    if (n < 1) n = 1;
    std::vector<VdSectionPlan> plan((size_t)n);
    const uint64_t length = total / (uint64_t)n;
    for (int i = 0; i < n; ++i) {
        plan[i].m_ull_start = (uint64_t)i * length;
        plan[i].m_ull_length = length;
    }
    plan[n - 1].m_ull_length = total - (uint64_t)(n - 1) * length;
    return plan;
}

VdResumePoint ResumePoint(const VdSectionPlan& section, int64_t partSize) {
    VdResumePoint r;
    const int64_t s = partSize > 0 ? partSize : 0;
    r.m_ll_file_start = s;
    r.m_ull_start_pos = section.m_ull_start + (uint64_t)s;
    r.m_ll_needed = (int64_t)section.m_ull_length - s;
    r.m_ll_present = std::min<int64_t>(s, (int64_t)section.m_ull_length);
    return r;
}

bool NextRange(uint64_t cur, uint64_t endOffset, uint64_t& first, uint64_t& last) {
    if (cur >= endOffset) return false;
    const uint64_t chunk = (endOffset - cur >= (uint64_t)kRangeStep) ? (uint64_t)kRangeStep : endOffset - cur;
    first = cur;
    last = cur + chunk;
    return true;
}

int64_t BytesInSection(int64_t pos, int64_t count, uint64_t length) {
    const int64_t len = (int64_t)length;
    if (count <= 0 || pos >= len) return 0;
    const int64_t begin = std::max<int64_t>(pos, 0);
    // no pos + count: it overflows for counts near the type's limit
    const int64_t end = count > len - pos ? len : pos + count;
    return std::max<int64_t>(0, end - begin);
}

void SplitOutputName(const std::wstring& path, std::wstring& base, std::wstring& ext) {
    size_t slash = path.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    size_t dot = name.rfind(L'.');
    if (dot == std::wstring::npos || dot == 0) {
        base = name;
        ext.clear();
    } else {
        base = name.substr(0, dot);
        ext = name.substr(dot);
    }
}

std::wstring PartFilePath(const std::wstring& folder, const std::wstring& base, const std::wstring& ext, int index) {
    return folder + base + L"_tmp_" + std::to_wstring(index) + ext;
}

bool ParseContentRangeFirst(const std::string& value, uint64_t& first) {
    size_t i = value.find_first_not_of(" \t");
    if (i == std::string::npos || value.compare(i, 5, "bytes") != 0) return false;
    i = value.find_first_not_of(" \t", i + 5);
    if (i == std::string::npos || value[i] < '0' || value[i] > '9') return false;
    uint64_t v = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        unsigned d = (unsigned)(value[i] - '0');
        if (v > (UINT64_MAX - d) / 10) return false;
        v = v * 10 + d;
    }
    if (i >= value.size() || value[i] != '-') return false;
    first = v;
    return true;
}

}  // namespace VdFoundationHttpDownload
