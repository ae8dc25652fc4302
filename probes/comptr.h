// Owns one COM interface pointer, released once; copying makes no sense.
#pragma once

template <typename T>
class CComPtrLite {
public:
    CComPtrLite() = default;
    ~CComPtrLite() { if (m_p) m_p->Release(); }
    CComPtrLite(const CComPtrLite&) = delete;
    CComPtrLite& operator=(const CComPtrLite&) = delete;
    T** Receive() { return &m_p; }
    void** ReceiveVoid() { return reinterpret_cast<void**>(&m_p); }
    T* operator->() const { return m_p; }
    T* Get() const { return m_p; }

private:
    T* m_p = nullptr;
};
