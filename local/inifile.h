// INI files of the installer: the product configuration and the simulation flags.
#pragma once
#include <memory>
#include <mutex>
#include <string>

#include "vd_endpoints.h"

class _tIniReaderWriter {
public:
    explicit _tIniReaderWriter(const std::wstring& path) : m_s_path(path) {}
    virtual ~_tIniReaderWriter() = default;

    void WriteString(const wchar_t* section, const wchar_t* key, const wchar_t* value);
    std::wstring ReadString(const wchar_t* section, const wchar_t* key, const wchar_t* defaultValue);
    void WriteInteger(const wchar_t* section, const wchar_t* key, int value);
    int ReadInteger(const wchar_t* section, const wchar_t* key, int defaultValue);
    void WriteBoolean(const wchar_t* section, const wchar_t* key, bool value);
    const std::wstring& Path() const { return m_s_path; }

private:
    const std::wstring m_s_path;
};

// Threads: the window's thread writes pmConfig.ini while workers read it and the simulation
// flags; one lock makes the readers once and keeps each pmConfig operation whole (a worker never
// reads half a package record).
class CInstConfig {
public:
    static CInstConfig& Inst();

    void WritePmConfigIniExePath(const wchar_t* sub, const wchar_t* path);
    std::wstring ReadPmConfig(const wchar_t* sub, const wchar_t* key);
    void WritePmConfig(const wchar_t* sub, const wchar_t* key, const wchar_t* value);
    void WritePackageInfo(const wchar_t* sub, int id, long long size, bool x64, const wchar_t* appName,
                          const wchar_t* channel, const wchar_t* url, const wchar_t* version);

    // Simulation flags of "test.ini": read fresh on every query.
    bool IsTestIni_downloading_failure();
    bool IsTestIni_installing_failure();
    bool IsTestIni_simu_get_url_error();
    bool IsTestIni_simu_speed_less_50();
    bool IsTestIni_simu_pin_cou_url_error();
    bool IsTestIni_mydoc_biz_error();
    bool IsTestIni_puxpc_sold_out();
    bool IsTestIni_behavior_output(const wchar_t* sub);

    CInstConfig(const CInstConfig&) = delete;
    CInstConfig& operator=(const CInstConfig&) = delete;

private:
    CInstConfig() = default;
    bool Flag(const wchar_t* key, const wchar_t* sub = VD_PRODUCT_NAME);
    // With m_mutex held.
    _tIniReaderWriter* PmConfigLocked(const wchar_t* sub);

    std::mutex m_mutex;
    std::unique_ptr<_tIniReaderWriter> m_p_pm_config;
    std::unique_ptr<_tIniReaderWriter> m_p_test_ini;
};

// "behavior.json" beside the other files of the data folder (or in the temporary folder).
std::wstring GetBehaviorFilePath(const wchar_t* sub);
