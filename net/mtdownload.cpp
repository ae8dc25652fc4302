// The manager: starts and stops attempts; the folders the part files and the output go to.
#include "net/mtdownload.h"

#include <process.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/files.h"
#include "base/safefs.h"

namespace VdFoundationHttpDownload {

namespace {

std::wstring SystemTempPath() {
    wchar_t buf[MAX_PATH + 1] = {0};
    DWORD n = GetTempPathW(MAX_PATH + 1, buf);
    if (n == 0 || n > MAX_PATH) return std::wstring();
    return buf;
}

// What a section thread owns: a share of its attempt, which owns the section object.
struct SectionStart {
    std::shared_ptr<MtDownloadState> m_p_state;
    CVdHttpDownload* m_p_worker;
};

unsigned __stdcall SectionThread(void* p) {
    std::unique_ptr<SectionStart> start(static_cast<SectionStart*>(p));
    if (!start->m_p_state->IsStopping()) start->m_p_worker->Execute();
    return 0;  // the last thread of an attempt to end frees it here
}

// Waits for all of `threads` until `deadline` (a tick count); true when every one ended.
bool WaitAllUntil(const std::vector<CScopedHandle>& threads, DWORD deadline) {
    for (const CScopedHandle& h : threads) {
        DWORD now = GetTickCount();
        DWORD left = (int32_t)(deadline - now) > 0 ? deadline - now : 0;
        if (WaitForSingleObject(h.Get(), left) != WAIT_OBJECT_0) return false;
    }
    return true;
}

void EnsureBackslash(std::wstring& s) {
    if (s.empty() || s.back() != L'\\') s += L'\\';
}

}  // namespace

bool GetTempCacheFolder(std::wstring& out, const std::wstring& subFolder) {
    std::wstring path = SystemTempPath();
    if (path.empty()) return false;
    path += L"vdhttpTempCache";
    EnsureBackslash(path);
    if (path.size() >= MAX_PATH) return false;
    // a link planted in the user's Temp must not decide where an elevated download writes
    path = RealFolderOrFresh(path);
    if (path.empty()) return false;
    EnsureBackslash(path);
    if (!subFolder.empty()) {
        path += subFolder;
        EnsureBackslash(path);
        if (path.size() >= MAX_PATH) return false;
        path = RealFolderOrFresh(path);
        if (path.empty()) return false;
        EnsureBackslash(path);
    }
    out = path;
    return true;
}

int GetTempOutputPath(std::wstring& out) {
    std::wstring path = SystemTempPath();
    if (path.empty()) return 0;
    path += L"vdhttpTempOutput";
    EnsureBackslash(path);
    path += L"vdinst.exe";
    if (path.size() > MAX_PATH) return 0;
    std::wstring folder = RealFolderOrFresh(path.substr(0, path.size() - wcslen(L"vdinst.exe")));
    if (folder.empty()) return 0;
    path = folder + L"\\vdinst.exe";
    out = path;
    DeleteFileOrFolder(path);
    return 1;
}

int ClearFolder(const std::wstring& path, bool removeItself) {
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return 0;
    return DeleteTreeNoFollow(path, removeItself) == 0 ? 1 : 0;
}

int DeleteFileOrFolder(const std::wstring& path) {
    DWORD attr = GetFileAttributesW(path.c_str());
    if (attr == INVALID_FILE_ATTRIBUTES) return 0;
    if ((attr & FILE_ATTRIBUTE_REPARSE_POINT) && (attr & FILE_ATTRIBUTE_DIRECTORY))
        return RemoveDirectoryW(path.c_str()) ? 1 : 0;
    if (attr & FILE_ATTRIBUTE_DIRECTORY) return ClearFolder(path, true);
    return DeleteFileW(path.c_str()) ? 1 : 0;
}

CMtHttpDownload::CMtHttpDownload() {}

CMtHttpDownload::~CMtHttpDownload() {
    StopDownload();
    CleanupTempCacheFolder(false);
}

void CMtHttpDownload::SetSectionCount(int n) {
    std::lock_guard<std::recursive_mutex> lock(m_mtx_control);
    m_n_section_count = n < 1 ? 1 : n;
}

int CMtHttpDownload::GetSectionCount() const {
    std::lock_guard<std::recursive_mutex> lock(m_mtx_control);
    return m_n_section_count;
}

void CMtHttpDownload::SetSupportBreakpoint(int flag) {
    std::lock_guard<std::recursive_mutex> lock(m_mtx_control);
    m_n_support_breakpoint = flag ? 1 : 0;
}

void CMtHttpDownload::SetProgressCallback(ProgressCallback cb, void* ctx) {
    std::lock_guard<std::recursive_mutex> lock(m_mtx_control);
    m_pfn_callback = cb;
    m_p_context = ctx;
    if (m_p_state) m_p_state->SetCallback(cb, ctx);
}

void CMtHttpDownload::SetProgressRange(float start, float end) {
    std::lock_guard<std::recursive_mutex> lock(m_mtx_control);
    m_f_range_start = start;
    m_f_range_end = end;
}

void CMtHttpDownload::SetTempSubFolder(const wchar_t* name) {
    std::lock_guard<std::recursive_mutex> lock(m_mtx_control);
    if (name && *name) m_temp_sub_folder = name;
}

std::wstring CMtHttpDownload::GetTempFolder() const {
    std::lock_guard<std::recursive_mutex> lock(m_mtx_control);
    return m_temp_folder;
}

bool CMtHttpDownload::StartDownload(const wchar_t* url, const wchar_t* output) {
    std::lock_guard<std::recursive_mutex> lock(m_mtx_control);
    // two attempts on the same part files would corrupt them
    StopLocked(kStopWaitMs);
    std::shared_ptr<MtDownloadState> state;
    try {
        state = std::make_shared<MtDownloadState>();
    } catch (...) {
        return false;  // nothing to report through: no attempt exists
    }
    state->SetCallback(m_pfn_callback, m_p_context);
    state->SetRange(m_f_range_start, m_f_range_end);
    // a text cut to fit would name another file or another URL: too long counts as missing
    if (url && wcsnlen(url, 1024) < 1024) state->m_s_url = url;
    if (output && wcsnlen(output, 1024) < 1024) state->m_s_output = output;
    state->m_n_requested_sections = m_n_section_count;
    state->m_n_support_breakpoint = m_n_support_breakpoint;
    // made here rather than by the helper, so that the folder is known to CleanupTempCacheFolder
    // without asking a thread
    DownloadLog(L"m_temp_sub_folder:%s\n", m_temp_sub_folder.c_str());
    std::wstring folder;
    if (GetTempCacheFolder(folder, m_temp_sub_folder)) m_temp_folder = folder;
    state->m_s_temp_folder = folder;
    m_p_state = state;

    auto* share = new (std::nothrow) std::shared_ptr<MtDownloadState>(state);
    HANDLE helper = share ? (HANDLE)_beginthreadex(nullptr, 0, HelperThread, share, CREATE_SUSPENDED, nullptr) : nullptr;
    if (!helper) {
        delete share;
        DownloadLog(L"malloc memory failure,err:%d,line:%d\n", (int)GetLastError(), __LINE__);
        state->ReportStatus(errNoMemory);
        return false;
    }
    // the handle is stored before the helper can run: a stop always finds it
    state->m_h_helper.Reset(helper);
    ResumeThread(helper);
    return true;
}

unsigned __stdcall CMtHttpDownload::HelperThread(void* p) {
    std::unique_ptr<std::shared_ptr<MtDownloadState>> share(static_cast<std::shared_ptr<MtDownloadState>*>(p));
    try {
        HelperThreadImp(*share);
    } catch (...) {
        DownloadLog(L"HelperThreadImp UNexpected excepiton....\n");
    }
    return 0;
}

void CMtHttpDownload::HelperThreadImp(const std::shared_ptr<MtDownloadState>& state) {
    if (state->m_s_url.empty() || state->m_s_output.empty()) {
        DownloadLog(L"url null or filename null,line:%d\n", __LINE__);
        state->ReportStatus(errNoMemory);
        return;
    }
    DownloadLog(L"HelperThreadImp url:%s,filename:%s\n", state->m_s_url.c_str(), state->m_s_output.c_str());

    uint64_t total = 0;
    int partial = 0;
    {
        // cannot be woken early: a stop stops waiting for it and this attempt starts nothing after
        CVdHttpDownloadTester probe;
        probe.SetRequest(state->m_s_url.c_str(), state->m_s_output.c_str());
        probe.Execute();
        total = probe.GetWebFileSize();
        partial = probe.IsSupportPartial();
    }
    if (state->IsStopping()) return;
    if (total == 0 || total > (uint64_t)INT64_MAX) {
        DownloadLog(L"websiteTestRequest.GetWebFileSize is 0,line:%d\n", __LINE__);
        state->ReportStatus(errFileSize);
        return;
    }

    DownloadLog(L"is support breakpoint:%d\n", state->m_n_support_breakpoint);
    if (state->m_s_temp_folder.empty()) {
        state->ReportStatus(errFileWrite);
        DownloadLog(L"CreateFile failure,err:%d,line:%d\n", (int)ERROR_PATH_NOT_FOUND, __LINE__);
        return;
    }
    if (!state->m_n_support_breakpoint) ClearFolder(state->m_s_temp_folder, false);
    DownloadLog(L"temp cache folder:%s\n", state->m_s_temp_folder.c_str());
    if (!PlanAndStart(state, total, partial == 1)) state->ReleaseSections(true);
}

bool CMtHttpDownload::PlanAndStart(const std::shared_ptr<MtDownloadState>& shared, uint64_t total, bool partial) {
    MtDownloadState& state = *shared;
    std::wstring base, ext;
    SplitOutputName(state.m_s_output, base, ext);
    const int resume = partial ? state.m_n_support_breakpoint : 0;
    state.ResetForStart((int64_t)total, resume);

    std::vector<VdSectionPlan> plan = PlanSections(total, partial ? state.m_n_requested_sections : 1);
    state.m_n_planned_sections = partial ? state.m_n_requested_sections : 1;
    if (partial)
        for (size_t i = 0; i < plan.size(); ++i)
            DownloadLog(L"first,calcuate thread section:%d,starts:%llu,bytes:%llu\n", (int)i,
                        (unsigned long long)plan[i].m_ull_start, (unsigned long long)plan[i].m_ull_length);

    // Every row exists before any section runs: the last one to finish knows the count.
    for (size_t i = 0; i < plan.size(); ++i) {
        if (state.IsStopping()) return false;
        std::unique_ptr<CVdHttpDownload> worker(new (std::nothrow) CVdHttpDownload());
        if (!worker || !worker->CreateExitEvent()) {
            state.ReportStatus(errNoMemory);
            DownloadLog(L"malloc memory failure,err:%d,line:%d\n", (int)GetLastError(), __LINE__);
            return false;
        }
        worker->SetSupportPartial(partial ? 1 : 0);
        worker->AttachState(&state);
        const std::wstring part = PartFilePath(state.m_s_temp_folder, base, ext, (int)i);
        DownloadLog(L"dest temp part file:%s\n", part.c_str());
        worker->SetRequest(state.m_s_url.c_str(), part.c_str());

        VdResumePoint from = ResumePoint(plan[i], -1);
        int workerResume = 0;
        if (partial && resume) {
            int64_t s = FileSize64(part);
            if (s >= 0) {
                from = ResumePoint(plan[i], s);
                workerResume = 1;
                DownloadLog(L"breakpoint temp part file:%s\n", part.c_str());
                DownloadLog(L"breakpoint thread section:%d,file start:%llu,start:%llu,bytes:%llu\n", (int)i,
                            (unsigned long long)s, (unsigned long long)from.m_ull_start_pos,
                            (unsigned long long)from.m_ll_needed);
                state.AddPresent(from.m_ll_present);
            } else {
                DownloadLog(L"breakpoint not exist temp part file:%s,error:%d\n", part.c_str(), (int)GetLastError());
            }
        } else if (partial) {
            DownloadLog(L"not breakpoint, temp part file:%s\n", part.c_str());
        }
        worker->SetSection(plan[i], (int)i, (int64_t)total, from, workerResume);

        std::unique_ptr<SectionStart> start(new (std::nothrow) SectionStart{shared, worker.get()});
        SectionSlot row;
        row.m_n_index = (int)i;
        row.m_h_thread.Reset(start ? (HANDLE)_beginthreadex(nullptr, 0, SectionThread, start.get(), CREATE_SUSPENDED,
                                                            &row.m_n_thread_id)
                                   : nullptr);
        if (!row.m_h_thread) {
            state.ReportStatus(errNoMemory);
            DownloadLog(L"malloc memory failure,err:%d,line:%d\n", (int)GetLastError(), __LINE__);
            return false;
        }
        start.release();  // the thread's now
        row.m_p_worker = std::move(worker);
        if (!state.AddSection(std::move(row))) return false;
    }
    state.MarkStartTick(partial);
    state.ReleaseSections(false);
    return true;
}

bool CMtHttpDownload::StopLocked(DWORD waitMs) {
    std::shared_ptr<MtDownloadState> state = m_p_state;
    if (!state) return true;
    const DWORD deadline = GetTickCount() + waitMs;
    state->BeginStop();
    bool ended = true;
    HANDLE helper = state->m_h_helper.Get();
    // The helper may still be probing or planning; once it sees the stop it starts nothing.
    if (helper) {
        DWORD left = waitMs;
        ended = WaitForSingleObject(helper, left) == WAIT_OBJECT_0;
    }
    std::vector<CScopedHandle> threads = state->WakeSections();
    if (!WaitAllUntil(threads, deadline)) ended = false;
    if (!ended) DownloadLog(L"stop download:threads still busy after %d ms,left to end on their own\n", (int)waitMs);
    m_b_last_success = state->IsSuccess();
    // a server without ranges got one section, and the count says so until the owner sets it again
    if (state->m_n_planned_sections > 0) m_n_section_count = state->m_n_planned_sections;
    m_p_state.reset();  // the threads keep their shares
    return ended;
}

bool CMtHttpDownload::StopDownload(DWORD waitMs) {
    std::lock_guard<std::recursive_mutex> lock(m_mtx_control);
    return StopLocked(waitMs);
}

void CMtHttpDownload::CleanupTempCacheFolder(bool bForceDel) {
    std::lock_guard<std::recursive_mutex> lock(m_mtx_control);
    if (m_temp_folder.empty()) return;
    std::wstring folder = m_temp_folder;
    if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    if (!PathExists(folder)) {
        DownloadLog(L"not exist temp cache folder:%s\n", folder.c_str());
        return;
    }
    bool success = m_p_state ? m_p_state->IsSuccess() : m_b_last_success;
    if (bForceDel) {
        DownloadLog(L"bForceDel true,delete folder:%s\n", folder.c_str());
        DeleteFileOrFolder(folder);
    } else if (success) {
        DownloadLog(L"bForceDel false,but download success,delete folder:%s\n", folder.c_str());
        DeleteFileOrFolder(folder);
    }
}

}  // namespace VdFoundationHttpDownload
