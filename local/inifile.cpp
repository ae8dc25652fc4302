#include "local/inifile.h"

#include <windows.h>

#include <mutex>
#include <vector>

#include "base/scoped.h"
#include "base/vdlog.h"

void _tIniReaderWriter::WriteString(const wchar_t* section, const wchar_t* key, const wchar_t* value) {
    // a line break in a value typed or set from outside would write keys of its own
    for (const wchar_t* p = value; p && *p; ++p)
        if (*p < 0x20 || *p == 0x7F) {
            WriteLogW(L"ini value with control characters refused,key:%s\n", key ? key : L"");
            return;
        }
    // The profile functions write a new file in the ANSI code page, which loses a folder name in
    // another script. Started as UTF-16 with a byte-order mark, the file stays Unicode.
    if (GetFileAttributesW(m_s_path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        CScopedHandle h(CreateFileW(m_s_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (h) {
            static const unsigned char kBom[2] = {0xFF, 0xFE};
            DWORD written = 0;
            WriteFile(h.Get(), kBom, sizeof(kBom), &written, nullptr);
        }
    }
    WritePrivateProfileStringW(section, key, value, m_s_path.c_str());
}

std::wstring _tIniReaderWriter::ReadString(const wchar_t* section, const wchar_t* key, const wchar_t* defaultValue) {
    wchar_t buf[255] = {0};
    GetPrivateProfileStringW(section, key, defaultValue ? defaultValue : L"", buf, 255, m_s_path.c_str());
    return buf;
}

void _tIniReaderWriter::WriteInteger(const wchar_t* section, const wchar_t* key, int value) {
    std::vector<wchar_t> buf(255, 0);
    _snwprintf(buf.data(), 254, L"%d", value);
    WriteString(section, key, buf.data());
}

int _tIniReaderWriter::ReadInteger(const wchar_t* section, const wchar_t* key, int defaultValue) {
    return (int)GetPrivateProfileIntW(section, key, defaultValue, m_s_path.c_str());
}

void _tIniReaderWriter::WriteBoolean(const wchar_t* section, const wchar_t* key, bool value) {
    WriteString(section, key, value ? L"true" : L"false");
}

CInstConfig& CInstConfig::Inst() {
    // never destroyed: workers left running at quit may still read the flags
    static CInstConfig* s_config = new CInstConfig();
    return *s_config;
}

_tIniReaderWriter* CInstConfig::PmConfigLocked(const wchar_t* sub) {
    if (!m_p_pm_config) {
        std::wstring path = GetDataFolderOrTemp(sub) + L"pmConfig.ini";
        WriteLogW(L"GetPmConfigIni path:%s\n", path.c_str());
        m_p_pm_config.reset(new _tIniReaderWriter(path));
    }
    return m_p_pm_config.get();
}

void CInstConfig::WritePmConfigIniExePath(const wchar_t* sub, const wchar_t* path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    PmConfigLocked(sub)->WriteString(L"PmConfig", L"Path", path);
}

std::wstring CInstConfig::ReadPmConfig(const wchar_t* sub, const wchar_t* key) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return PmConfigLocked(sub)->ReadString(L"PmConfig", key, L"");
}

void CInstConfig::WritePmConfig(const wchar_t* sub, const wchar_t* key, const wchar_t* value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    PmConfigLocked(sub)->WriteString(L"PmConfig", key, value);
}

void CInstConfig::WritePackageInfo(const wchar_t* sub, int id, long long size, bool x64, const wchar_t* appName,
                                   const wchar_t* channel, const wchar_t* url, const wchar_t* version) {
    std::lock_guard<std::mutex> lock(m_mutex);
    _tIniReaderWriter* ini = PmConfigLocked(sub);
    ini->WriteString(L"PmConfig", L"AppName", appName);
    ini->WriteString(L"PmConfig", L"Channel", channel);
    ini->WriteInteger(L"PmConfig", L"Id", id);
    // sizes above 2 GiB must not wrap into negative numbers
    wchar_t sizeText[32];
    _snwprintf(sizeText, 32, L"%I64d", size);
    sizeText[31] = 0;
    ini->WriteString(L"PmConfig", L"Size", sizeText);
    ini->WriteString(L"PmConfig", L"Url", url);
    ini->WriteString(L"PmConfig", L"Version", version);
    ini->WriteBoolean(L"PmConfig", L"X64", x64);
}

bool CInstConfig::Flag(const wchar_t* key, const wchar_t* sub) {
    // The behaviour worker asks as well as the window: the reader is created once, under the lock;
    // the object is never destroyed, so its lock outlives every worker.
    _tIniReaderWriter* ini = nullptr;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (!m_p_test_ini) {
            std::wstring path = GetDataFolderOrTemp(sub) + L"test.ini";
            WriteLogW(L"test.ini path:%s\n", path.c_str());
            m_p_test_ini.reset(new _tIniReaderWriter(path));
        }
        ini = m_p_test_ini.get();
    }
    return ini->ReadInteger(L"test", key, 0) == 1;
}

bool CInstConfig::IsTestIni_downloading_failure() { return Flag(L"downloading_failure"); }
bool CInstConfig::IsTestIni_installing_failure() { return Flag(L"installing_failure"); }
bool CInstConfig::IsTestIni_simu_get_url_error() { return Flag(L"simu_get_url_error"); }
bool CInstConfig::IsTestIni_simu_speed_less_50() { return Flag(L"simu_speed_less_50"); }
bool CInstConfig::IsTestIni_simu_pin_cou_url_error() { return Flag(L"simu_pin_cou_url_error"); }
bool CInstConfig::IsTestIni_mydoc_biz_error() { return Flag(L"mydoc_biz_error"); }
bool CInstConfig::IsTestIni_puxpc_sold_out() { return Flag(L"puxpc_sold_out"); }
bool CInstConfig::IsTestIni_behavior_output(const wchar_t* sub) { return Flag(L"behavior_output", sub); }

std::wstring GetBehaviorFilePath(const wchar_t* sub) { return GetDataFolderOrTemp(sub) + L"behavior.json"; }
