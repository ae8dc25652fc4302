// The distributor's resources carried by this executable: business DLLs, channel text,
// build marks and an embedded setup package, and where they are written during installation.
#pragma once
#include <windows.h>

#include <mutex>
#include <string>

// Threads: the window's thread and the download worker both ask it (the embedded setup); every
// public call takes the handler's lock, so a call sees no other call's half-done state.
class CVdBizHandler {
public:
    // The one handler of this process, over its own executable.
    static CVdBizHandler& Inst();

    // Over any module whose resources can be enumerated (a data-file module in tests).
    explicit CVdBizHandler(HMODULE module);
    CVdBizHandler(const CVdBizHandler&) = delete;
    CVdBizHandler& operator=(const CVdBizHandler&) = delete;

    bool IsVdpmInside();
    void CheckVdpmInsideFromRc();
    bool IsVazChannel();
    void CheckBizToMyDocumentBegin();
    void CheckBizToMyDocumentEnd(bool removeFolder);
    void CheckBizChannelFromRc(const std::wstring& installFolder);

    std::wstring GetChannel() const;
    std::string GetBizContent() const;
    // Where CheckVdpmInsideFromRc writes the embedded setup: a name of this run's own in
    // GetVdpmFolder().
    std::wstring GetVdpmTargetPath() const;
    bool IsBizMarked525() const;
    bool IsBizFlag528() const;

    // My Documents\Vardo\vdInstaller\Biz (or the temporary folder's fallback), created.
    static std::wstring GetBizFolder();
    // %TEMP%\Vardo\vdInstaller, created.
    static std::wstring GetVdpmFolder();

    int m_nBizDllCount = 0;
    int m_nVdpmCount = 0;
    bool m_bBizDlLContent2Memory = true;
    std::string m_sBizDllContentInMemory;
    bool m_bChannelRcContent2Memory = true;

private:
    static BOOL CALLBACK OnResourceType(HMODULE module, LPWSTR type, LONG_PTR param);
    static BOOL CALLBACK OnResourceName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param);

    void EnumTypes();
    // Returns false when an unexpected exception ended the enumeration.
    bool EnumNames(const wchar_t* type);
    void HandleResource(LPCWSTR type, LPCWSTR name);
    void CountBiz();
    std::string LoadBytes(LPCWSTR type, LPCWSTR name);
    bool WriteResource(LPCWSTR type, LPCWSTR name, const std::wstring& path);
    void ReadContentFromIni(LPCWSTR type, LPCWSTR name);
    void MoveTmpToFinal(const std::wstring& tmp, const std::wstring& final, const wchar_t* existLog,
                        const wchar_t* renameLog, const wchar_t* renameFailLog, const wchar_t* copyLog);
    void DeleteGatewayDll();

    mutable std::mutex m_mutex;
    HMODULE m_h_module;
    bool m_b_has_biz_type = false;
    bool m_b_extract_biz = false;
    std::wstring m_s_biz_target;
    std::wstring m_s_bizt_target;
    std::wstring m_s_gateway_dll;
    bool m_b_has_vdpm_type = false;
    bool m_b_extract_vdpm = false;
    std::wstring m_s_vdpm_target;
    std::wstring m_s_vdpm_name;  // chosen at the first extraction
    std::wstring m_s_channel;
    bool m_b_marked_525 = false;
    bool m_b_flag_528 = true;
    bool m_b_enum_failed = false;
};
