#include "payload/vdbizhandler.h"

#include <rpc.h>
#include <cstdio>
#include <exception>

#include "base/safefs.h"
#include "base/strconv.h"
#include "base/vdlog.h"
#include "local/inifile.h"
#include "payload/bizrules.h"
#include "probes/hostinfo.h"
#include "probes/vdutils.h"
#include "vd_endpoints.h"

namespace {

// Carries an exception out of a system enumeration callback, which must not unwind through
// the system's frames; the operation that started the enumeration rethrows it.
struct EnumContext {
    CVdBizHandler* handler;
    std::exception_ptr error;
};

std::wstring TempFolder() {
    wchar_t buf[MAX_PATH + 1] = {0};
    DWORD n = GetTempPathW(MAX_PATH, buf);
    return (n > 0 && n <= MAX_PATH) ? buf : L"";
}

std::wstring NameText(LPCWSTR name) {
    wchar_t buf[32];
    if (IS_INTRESOURCE(name)) {
        _snwprintf(buf, 32, L"%u", (unsigned)(ULONG_PTR)name);
        buf[31] = 0;
        return buf;
    }
    return name;
}

bool WriteAll(const std::wstring& path, const void* data, DWORD size) {
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return false;
    bool ok = size == 0 || fwrite(data, 1, size, f) == size;
    if (fclose(f) != 0) ok = false;
    // a half-written file must not pass for the resource
    if (!ok) DeleteFileW(path.c_str());
    return ok;
}

bool IsProcessAlive(DWORD pid) {
    CScopedHandle p(OpenProcess(SYNCHRONIZE, FALSE, pid));
    if (!p) return GetLastError() == ERROR_ACCESS_DENIED;  // there, only not ours to ask
    return WaitForSingleObject(p.Get(), 0) == WAIT_TIMEOUT;
}

// Setups left by runs that ended before deleting theirs; a file of a run still alive is its own.
void RemoveStaleVdpmFiles(const std::wstring& folder) {
    WIN32_FIND_DATAW fd;
    CScopedFindHandle find(FindFirstFileW(CombinePath(folder, L"vdpm_*").c_str(), &fd));
    if (!find.Valid()) return;
    do {
        unsigned long pid = 0;
        if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !VdpmRunFileOwner(fd.cFileName, pid) ||
            pid == GetCurrentProcessId() || IsProcessAlive(pid))
            continue;
        std::wstring stale = CombinePath(folder, fd.cFileName);
        WriteLogW(L"delete stale vdpm file:%s result:%d\n", stale.c_str(), DeleteFileW(stale.c_str()) ? 1 : 0);
    } while (FindNextFileW(find.Get(), &fd));
}

}  // namespace

CVdBizHandler& CVdBizHandler::Inst() {
    // never destroyed: workers left running at quit may still use it
    static CVdBizHandler* s_handler = new CVdBizHandler(GetModuleHandleW(nullptr));
    return *s_handler;
}

CVdBizHandler::CVdBizHandler(HMODULE module) : m_h_module(module) {}

std::wstring CVdBizHandler::GetChannel() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_s_channel;
}

std::string CVdBizHandler::GetBizContent() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sBizDllContentInMemory;
}

std::wstring CVdBizHandler::GetVdpmTargetPath() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_s_vdpm_target;
}

bool CVdBizHandler::IsBizMarked525() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_b_marked_525;
}

bool CVdBizHandler::IsBizFlag528() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_b_flag_528;
}

std::wstring CVdBizHandler::GetBizFolder() {
    std::wstring folder = GetDataFolderOrTemp(VD_PRODUCT_NAME) + L"Biz";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

std::wstring CVdBizHandler::GetVdpmFolder() {
    // a link planted in the user's Temp must not decide where the elevated process writes
    std::wstring vardo = RealFolderOrFresh(CombinePath(TempFolder(), VD_PRODUCT_NAME));
    std::wstring folder = vardo.empty() ? vardo : RealFolderOrFresh(CombinePath(vardo, L"vdInstaller"));
    if (folder.empty()) WriteLogW(L"no real folder for the package in:%s\n", TempFolder().c_str());
    return folder;
}

BOOL CALLBACK CVdBizHandler::OnResourceType(HMODULE, LPWSTR type, LONG_PTR param) {
    auto* ctx = reinterpret_cast<EnumContext*>(param);
    try {
        if (IS_INTRESOURCE(type)) return TRUE;
        bool biz = _wcsicmp(type, L"BIZ") == 0, vdpm = _wcsicmp(type, L"VDPM") == 0;
        if (biz || vdpm) WriteLogW(L"RcType_ENUMRESTYPEPROCW find BIZ rc,type:%s...\n", type);
        if (biz) ctx->handler->m_b_has_biz_type = true;
        if (vdpm) ctx->handler->m_b_has_vdpm_type = true;
        return TRUE;
    } catch (...) {
        ctx->error = std::current_exception();
        return FALSE;
    }
}

BOOL CALLBACK CVdBizHandler::OnResourceName(HMODULE, LPCWSTR type, LPWSTR name, LONG_PTR param) {
    auto* ctx = reinterpret_cast<EnumContext*>(param);
    try {
        ctx->handler->HandleResource(type, name);
        return TRUE;
    } catch (...) {
        ctx->error = std::current_exception();
        return FALSE;
    }
}

void CVdBizHandler::EnumTypes() {
    m_b_has_biz_type = false;
    m_b_has_vdpm_type = false;
    EnumContext ctx{this, nullptr};
    EnumResourceTypesW(m_h_module, OnResourceType, (LONG_PTR)&ctx);
    if (ctx.error) std::rethrow_exception(ctx.error);
}

bool CVdBizHandler::EnumNames(const wchar_t* type) {
    EnumContext ctx{this, nullptr};
    // fails harmlessly when the type is absent
    EnumResourceNamesW(m_h_module, type, OnResourceName, (LONG_PTR)&ctx);
    if (ctx.error) std::rethrow_exception(ctx.error);
    return true;
}

std::string CVdBizHandler::LoadBytes(LPCWSTR type, LPCWSTR name) {
    HRSRC rc = FindResourceW(m_h_module, name, type);
    if (!rc) return std::string();
    DWORD size = SizeofResource(m_h_module, rc);
    HGLOBAL mem = LoadResource(m_h_module, rc);
    const char* data = mem ? static_cast<const char*>(LockResource(mem)) : nullptr;
    if (!data || !size) return std::string();
    return std::string(data, size);
}

bool CVdBizHandler::WriteResource(LPCWSTR type, LPCWSTR name, const std::wstring& path) {
    if (path.empty()) return false;
    HRSRC rc = FindResourceW(m_h_module, name, type);
    if (!rc) return false;
    DWORD size = SizeofResource(m_h_module, rc);
    HGLOBAL mem = LoadResource(m_h_module, rc);
    const void* data = mem ? LockResource(mem) : nullptr;
    if (!data) return false;
    return WriteAll(path, data, size);
}

void CVdBizHandler::ReadContentFromIni(LPCWSTR type, LPCWSTR name) {
    std::string bytes = LoadBytes(type, name);
    if (bytes.empty()) return;
    // The folder may not exist yet on a fresh machine; without it the value would be lost.
    std::wstring folder = CombinePath(TempFolder(), VD_PRODUCT_NAME);
    CreateDirectoryW(folder.c_str(), nullptr);
    UUID uuid;
    CScopedRpcString text;
    if (UuidCreate(&uuid) != RPC_S_OK && UuidCreateSequential(&uuid) != RPC_S_OK) return;
    if (UuidToStringW(&uuid, text.Receive()) != RPC_S_OK || !text) return;
    std::wstring shortName = std::wstring(reinterpret_cast<wchar_t*>(text.Get())).substr(0, 8);
    std::wstring path = CombinePath(folder, shortName + L".ini");
    // only a vehicle for the INI reader: gone after the read, however it ends
    struct CRemoveFile {
        const std::wstring& path;
        ~CRemoveFile() { DeleteFileW(path.c_str()); }
    } cleanup{path};
    if (!WriteAll(path, bytes.data(), (DWORD)bytes.size())) return;
    _tIniReaderWriter ini(path);
    m_sBizDllContentInMemory = TrimSpaces(WideToCodePage(ini.ReadString(L"PM", L"Channel", L""), CP_ACP));
}

void CVdBizHandler::CountBiz() {
    ++m_nBizDllCount;
    WriteLogW(L"m_nBizDllCount count:%d\n", m_nBizDllCount);
}

void CVdBizHandler::HandleResource(LPCWSTR type, LPCWSTR name) {
    switch (ResourceIdFromName(NameText(name))) {
    case kRcBizPm:
        if (m_b_extract_biz) {
            WriteLogW(L"IDR_BIZ_TYPE_PM extract:%s\n", m_s_biz_target.c_str());
            WriteResource(type, name, m_s_biz_target);
        }
        if (m_bBizDlLContent2Memory) {
            WriteLogW(L"m_bBizDlLContent2Memory ..do...\n");
            std::string bytes = LoadBytes(type, name);
            if (!bytes.empty()) {
                m_sBizDllContentInMemory = TrimSpaces(bytes);
                WriteLogW(L"read m_sBizDllContentInMemory:%s ..\n", CodePageToWide(m_sBizDllContentInMemory, CP_ACP).c_str());
            }
        }
        CountBiz();
        break;
    case kRcBizPux:
        if (m_b_extract_biz) {
            WriteLogW(L"IDR_BIZ_TYPE_PUX extract:%s\n", m_s_bizt_target.c_str());
            WriteResource(type, name, m_s_bizt_target);
        }
        if (m_sBizDllContentInMemory.empty()) ReadContentFromIni(type, name);
        CountBiz();
        break;
    case kRcBizMark:
        m_b_marked_525 = true;
        CountBiz();
        break;
    case kRcVdpm:
        if (m_b_extract_vdpm) {
            WriteLogW(L"IDR_VDPM_TYPE_VDPM extract:%s\n", m_s_vdpm_target.c_str());
            // Written beside the target and renamed, so a run cut short never leaves a
            // truncated setup under the name that is about to be executed.
            std::wstring tmp = m_s_vdpm_target + L".tmp";
            if (WriteResource(type, name, tmp) &&
                !MoveFileRetryingSharing(tmp.c_str(), m_s_vdpm_target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
                DeleteFileW(tmp.c_str());
            }
        }
        ++m_nVdpmCount;
        WriteLogW(L"m_nVdpmCount count:%d\n", m_nVdpmCount);
        break;
    case kRcChannel:
        if (m_bChannelRcContent2Memory) {
            WriteLogW(L"m_bChannelRcContent2Memory ..do...\n");
            std::string bytes = LoadBytes(type, name);
            if (!bytes.empty()) {
                m_s_channel = CodePageToWide(TrimSpaces(bytes), CP_ACP);
                WriteLogW(L"read m_bChannelRcContent2Memory:%s ..\n", m_s_channel.c_str());
            }
        }
        break;
    case kRcBizFlag: {
        std::string bytes = LoadBytes(type, name);
        // A blank text decides nothing: the flag keeps its value.
        if (!bytes.empty() && !ApplyBizFlagText(bytes, m_b_flag_528))
            WriteLogW(L"biz 528 text is blank,flag unchanged:%d\n", m_b_flag_528 ? 1 : 0);
        break;
    }
    default:
        break;
    }
}

bool CVdBizHandler::IsVdpmInside() {
    std::lock_guard<std::mutex> lock(m_mutex);
    try {
        WriteLogW(L"IsVdpmInside begin...\n");
        m_b_has_vdpm_type = false;
        m_nVdpmCount = 0;
        if (!m_h_module) {
            WriteLogW(L"IsVdpmInside null module...\n");
            return false;
        }
        EnumTypes();
        if (!m_b_has_vdpm_type) WriteLogW(L"not find VDPM rc...\n");
        EnumNames(L"VDPM");
        WriteLogW(L"EnumResourceNamesW end,m_nVdpmCount count:%d\n", m_nVdpmCount);
        WriteLogW(L"IsVdpmInside end...\n");
        return m_nVdpmCount > 0;
    } catch (...) {
        WriteLogW(L"IsVdpmInside UNexpected excepiton....\n");
        return false;
    }
}

void CVdBizHandler::CheckVdpmInsideFromRc() {
    std::lock_guard<std::mutex> lock(m_mutex);
    try {
        WriteLogW(L"CheckVdpmInsideFromRc begin...\n");
        if (!m_h_module) {
            WriteLogW(L"CheckVdpmInsideFromRc null module...\n");
            return;
        }
        std::wstring folder = GetVdpmFolder();
        // One file per run, kept for its retries: runs sharing one name would run, or delete,
        // each other's setup.
        if (m_s_vdpm_name.empty()) {
            RemoveStaleVdpmFiles(folder);
            m_s_vdpm_name = VdpmRunFileName(GetCurrentProcessId(), MakeShortUniqueName());
        }
        m_s_vdpm_target = CombinePath(folder, m_s_vdpm_name);
        // what an earlier attempt of this run left must not be taken for this build's own
        DeleteFileW(m_s_vdpm_target.c_str());
        m_b_extract_vdpm = true;
        m_nVdpmCount = 0;
        EnumTypes();
        if (!m_b_has_vdpm_type) WriteLogW(L"not find VDPM rc...\n");
        EnumNames(L"VDPM");
        WriteLogW(L"EnumResourceNamesW end,m_nVdpmCount count:%d\n", m_nVdpmCount);
        WriteLogW(L"CheckVdpmInsideFromRc end...\n");
    } catch (...) {
        WriteLogW(L"CheckVdpmInsideFromRc UNexpected excepiton....\n");
    }
}

bool CVdBizHandler::IsVazChannel() {
    std::lock_guard<std::mutex> lock(m_mutex);
    try {
        WriteLogW(L"IsVazChannel begin...\n");
        m_b_extract_biz = false;
        m_nBizDllCount = 0;
        if (!m_h_module) {
            WriteLogW(L"IsVazChannel null module...\n");
            return false;
        }
        EnumTypes();
        if (!m_b_has_biz_type) WriteLogW(L"not find BIZ rc...\n");
        EnumNames(L"BIZ");
        WriteLogW(L"EnumResourceNamesW end,m_nBizDllCount count:%d\n", m_nBizDllCount);
        WriteLogW(L"IsVazChannel end...\n");
        return m_nBizDllCount > 1;
    } catch (...) {
        WriteLogW(L"IsVazChannel UNexpected excepiton....\n");
        return false;
    }
}

void CVdBizHandler::CheckBizToMyDocumentBegin() {
    std::lock_guard<std::mutex> lock(m_mutex);
    try {
        WriteLogW(L"CheckBizToMyDocumentBegin begin...\n");
        if (!m_h_module) {
            WriteLogW(L"CheckBizChannelFromRc null module...\n");
            return;
        }
        CheckBizToMyDocumentEnd(false);
        std::wstring folder = GetBizFolder();
        m_s_biz_target = CombinePath(folder, L"Biz.dll");
        m_s_bizt_target = CombinePath(folder, L"BizT.dll");
        m_b_extract_biz = true;
        m_nBizDllCount = 0;
        m_bBizDlLContent2Memory = true;
        m_sBizDllContentInMemory.clear();
        m_bChannelRcContent2Memory = true;
        m_s_channel.clear();
        m_b_flag_528 = true;
        EnumTypes();
        if (!m_b_has_biz_type) {
            WriteLogW(L"not find BIZ rc...\n");
            CheckBizToMyDocumentEnd(true);
        }
        EnumNames(L"BIZ");
        WriteLogW(L"EnumResourceNamesW end,m_nBizDllCount count:%d\n", m_nBizDllCount);
        if (m_nBizDllCount > 1)
            WriteLogW(L"release rc biz to document success,biz.dll:%s,bizT.dll:%s\n", m_s_biz_target.c_str(),
                      m_s_bizt_target.c_str());
        EnumNames(L"CHANNEL");
        WriteLogW(L"CheckBizToMyDocumentBegin end...\n");
    } catch (...) {
        WriteLogW(L"CheckBizToMyDocumentBegin UNexpected excepiton....\n");
    }
}

void CVdBizHandler::CheckBizToMyDocumentEnd(bool removeFolder) {
    WriteLogW(L"CheckBizToMyDocumentEnd 111...\n");
    if (removeFolder && CInstConfig::Inst().IsTestIni_mydoc_biz_error()) {
        WriteLogW(L"CheckBizToMyDocumentEnd 333,simu mydoc biz error,not to delete folder...\n");
        return;
    }
    std::wstring folder = GetBizFolder();
    std::wstring biz = CombinePath(folder, L"Biz.dll"), bizT = CombinePath(folder, L"BizT.dll");
    if (PathExists(biz))
        WriteLogW(L"CheckBizToMyDocumentEnd delete biz.dll result:%d\n", DeleteFileW(biz.c_str()) ? 1 : 0);
    if (PathExists(bizT))
        WriteLogW(L"CheckBizToMyDocumentEnd delete bizT.dll result:%d\n", DeleteFileW(bizT.c_str()) ? 1 : 0);
    if (removeFolder && PathExists(folder))
        WriteLogW(L"CheckBizToMyDocumentEnd delete Biz Folder result:%d\n", RemoveDirectoryW(folder.c_str()) ? 1 : 0);
    WriteLogW(L"CheckBizToMyDocumentEnd 222...\n");
}

void CVdBizHandler::MoveTmpToFinal(const std::wstring& tmp, const std::wstring& final, const wchar_t* existLog,
                                   const wchar_t* renameLog, const wchar_t* renameFailLog, const wchar_t* copyLog) {
    bool hasTmp = PathExists(tmp);
    if (hasTmp && PathExists(final)) {
        WriteLogW(existLog, final.c_str());
        DeleteFileW(final.c_str());
    }
    if (!hasTmp) return;
    bool renamed = RenameWithFallback(final.c_str(), tmp.c_str());
    WriteLogW(renameLog, tmp.c_str(), final.c_str(), renamed ? 1 : 0);
    if (!renamed) {
        WriteLogW(renameFailLog);
        WriteLogW(copyLog, VdCopyFileW(final.c_str(), tmp.c_str()) ? 1 : 0);
    }
}

void CVdBizHandler::DeleteGatewayDll() {
    WriteLogW(L"delete vdgw.dll:%s\n", m_s_gateway_dll.c_str());
    if (!PathExists(m_s_gateway_dll)) return;
    WriteLogW(L"exist vdgw.dll\n");
    for (int failures = 1; failures <= 4; ++failures) {
        if (DeleteFileW(m_s_gateway_dll.c_str())) {
            WriteLogW(L"delete vdgw.dll success\n");
            return;
        }
        WriteLogW(L"delete vdgw.dll error:%d,nCound:%d\n", GetLastError(), failures);
    }
}

void CVdBizHandler::CheckBizChannelFromRc(const std::wstring& installFolder) {
    std::lock_guard<std::mutex> lock(m_mutex);
    try {
        WriteLogW(L"CheckBizChannelFromRc begin...\n");
        if (!m_h_module) {
            WriteLogW(L"CheckBizChannelFromRc null module...\n");
            return;
        }
        std::wstring biz = CombinePath(installFolder, L"Biz.dll");
        std::wstring bizT = CombinePath(installFolder, L"BizT.dll");
        // no folder, no targets: nothing may land in the current folder instead
        m_s_biz_target = biz.empty() ? biz : biz + L".tmp";
        m_s_bizt_target = bizT.empty() ? bizT : bizT + L".tmp";
        m_s_gateway_dll = CombinePath(installFolder, L"vdgw.dll");
        m_b_extract_biz = true;
        m_nBizDllCount = 0;
        EnumTypes();
        if (!m_b_has_biz_type) WriteLogW(L"not find BIZ rc...\n");
        EnumNames(L"BIZ");
        WriteLogW(L"EnumResourceNamesW end,m_nBizDllCount count:%d\n", m_nBizDllCount);
        if (m_nBizDllCount > 1) {
            MoveTmpToFinal(m_s_biz_target, biz,
                           L"exist target biz.dll,also exist tmp biz.dll.tmp,delete taget biz.dll:%s\n",
                           L"rename biz.dll from tmp:%s to target:%s result:%d\n", L"rename biz.dll failure,use copy\n",
                           L"VdCopyFileW biz.dll result:%d\n");
            MoveTmpToFinal(m_s_bizt_target, bizT,
                           L"exist target bizT.dll,also exist tmp bizT.dll.tmp,delete taget bizT.dll:%s\n",
                           L"rename bizT.dll from tmp:%s to target:%s result:%d\n",
                           L"rename bizT.dll failure,use copy\n", L"VdCopyFileW bizT.dll result:%d\n");
            DeleteGatewayDll();
            WriteLogW(L"finish biz loop,delte my document folder biz folder");
            CheckBizToMyDocumentEnd(true);
        }
        WriteLogW(L"CheckBizChannelFromRc end...\n");
    } catch (...) {
        WriteLogW(L"CheckBizChannelFromRc UNexpected excepiton....\n");
    }
}
