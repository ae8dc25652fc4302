// MD5 (RFC 1321) and the file digest that validates packages; no Windows headers here.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

class CMd5 {
public:
    CMd5();
    void Update(const void* data, size_t length);
    // Ends the digest; the object must be Reset before it is used again.
    void Final(unsigned char digest[16]);
    void Reset();

private:
    void Transform(const unsigned char block[64]);

    uint32_t m_state[4];
    uint64_t m_ull_bits;
    unsigned char m_buffer[64];
};

// 32 lower-case hex digits of the file's digest; empty text for an empty path or an unreadable file.
std::string GetFileMd5W(const std::wstring& path);
// The same for a path in the ANSI code page.
std::string GetFileMd5(const char* path);
// The 16 digest bytes as 32 lower-case hex digits.
std::string Md5DigestToHex(const unsigned char digest[16]);
