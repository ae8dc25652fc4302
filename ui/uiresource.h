// Where skin files come from: the current resource archive (a ZIP read with minizip, opened
// from memory or from a file) or a plain folder; and the decoded-image cache. UI thread only.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "base/scoped.h"

namespace DuiLib {

class CMarkup;

// Selects an object into a DC for one scope.
class CScopedSelect {
public:
    CScopedSelect(HDC hdc, HGDIOBJ obj) : m_hdc(hdc), m_hOld(SelectObject(hdc, obj)) {}
    ~CScopedSelect() { SelectObject(m_hdc, m_hOld); }
    CScopedSelect(const CScopedSelect&) = delete;
    CScopedSelect& operator=(const CScopedSelect&) = delete;
private:
    HDC m_hdc;
    HGDIOBJ m_hOld;
};

class CResourceArchive {
public:
    // Opens a copy of the bytes under `name`; the copy lives until the process ends.
    static bool OpenMemory(const wchar_t* name, const void* data, size_t len);
    static bool OpenFile(const wchar_t* path);
    static void Close();
    static bool IsOpen();
    // The name the archive was opened under ("membuffer" for the resource copy), or its path.
    static const std::wstring& GetName();
    // A member's bytes. On failure *error is one of the markup texts.
    static bool ReadMember(const wchar_t* member, std::string& out, const wchar_t** error);
    // The archive's member names, in archive order (tests, diagnostics).
    static bool ListMembers(std::wstring& names);
};

// Reads a skin file the way markup and images are looked up: from the current archive when one
// is open, else from the resource folder. On failure *error is one of the markup texts.
bool ReadSkinFile(const wchar_t* name, std::string& out, const wchar_t** error);

// Starts GDI+ once per process (decoding needs it); StopGdiplus at the end.
bool EnsureGdiplus();
void StopGdiplus();

// A decoded image: a top-down 32-bit premultiplied DIB section.
struct TImageInfo {
    HBITMAP hBitmap = nullptr;
    int nX = 0;
    int nY = 0;
    bool bAlpha = false;
};

// Decodes PNG/BMP/JPEG bytes; pixels of the mask colour (when set) become transparent.
bool DecodeImage(const void* data, size_t len, bool bMask, uint32_t dwMask, TImageInfo& out);
// Cached image by member name (or resource id with a type); nullptr when it cannot be had,
// which is remembered too, so a missing member costs one lookup.
const TImageInfo* GetCachedImage(const std::wstring& name, bool bRes, const std::wstring& resType, bool bMask,
                                 uint32_t dwMask);
void FreeImageCache();

}  // namespace DuiLib
