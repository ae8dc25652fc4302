// Scoped owner of a WinINet handle: "closed by whoever opened it" holds by construction.
#pragma once
#include <windows.h>
#include <wininet.h>

class CScopedInternetHandle {
public:
    explicit CScopedInternetHandle(HINTERNET h = nullptr) : m_h(h) {}
    ~CScopedInternetHandle() { Reset(); }
    CScopedInternetHandle(const CScopedInternetHandle&) = delete;
    CScopedInternetHandle& operator=(const CScopedInternetHandle&) = delete;

    HINTERNET Get() const { return m_h; }
    explicit operator bool() const { return m_h != nullptr; }
    void Reset(HINTERNET h = nullptr) {
        if (m_h) InternetCloseHandle(m_h);
        m_h = h;
    }

private:
    HINTERNET m_h;
};
