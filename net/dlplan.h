// Arithmetic of the multi-section downloader: section plans, resume points, range steps and file
// names. No system calls, so every rule is tested directly.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace VdFoundationHttpDownload {

// Every range asks for kRangeStep + 1 bytes: both positions of a Range header are inclusive.
const int64_t kRangeStep = 131072;

struct VdSectionPlan {
    uint64_t m_ull_start;
    uint64_t m_ull_length;
};

// total / n bytes per section; the last one takes the remainder. n below 1 counts as 1.
std::vector<VdSectionPlan> PlanSections(uint64_t total, int n);

struct VdResumePoint {
    uint64_t m_ull_start_pos;  // first file offset still to fetch
    int64_t m_ll_needed;       // bytes still to fetch; 0 or less means the section is complete
    int64_t m_ll_file_start;   // bytes kept from the part file; new bytes follow them
    int64_t m_ll_present;      // of those, bytes inside the section (what counts as progress)
};

// partSize < 0 means no usable part file.
VdResumePoint ResumePoint(const VdSectionPlan& section, int64_t partSize);

// Next range of a section whose wanted bytes end at endOffset (start position + bytes needed):
// false when nothing is left. The last range of a section ends at endOffset itself, one byte past
// the section, so a complete part file holds one byte more than its section.
bool NextRange(uint64_t cur, uint64_t endOffset, uint64_t& first, uint64_t& last);

// Of `count` bytes written at offset `pos` of a part file, how many fall inside a section of
// `length` bytes (the trailing extra byte of each range is not progress).
int64_t BytesInSection(int64_t pos, int64_t count, uint64_t length);

// "C:\t\vdinst.exe" -> base "vdinst", extension ".exe"; a dot inside a folder name is no extension.
void SplitOutputName(const std::wstring& path, std::wstring& base, std::wstring& ext);

// folder + base + "_tmp_" + index + ext, e.g. vdinst_tmp_0.exe.
std::wstring PartFilePath(const std::wstring& folder, const std::wstring& base, const std::wstring& ext, int index);

// First position of a "Content-Range: bytes FIRST-LAST/SIZE" value; false when it names none.
bool ParseContentRangeFirst(const std::string& value, uint64_t& first);

}  // namespace VdFoundationHttpDownload
