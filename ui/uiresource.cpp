#include "ui/uiresource.h"

#include <objidl.h>
#include <shlwapi.h>
#include <gdiplus.h>

#include <map>
#include <memory>
#include <vector>

#include "base/files.h"
#include "ui/uimanager.h"
#include "ui/uimarkup.h"
#include "ui/uiparse.h"

extern "C" {
#include "unzip.h"
}

namespace DuiLib {

namespace {

// Anything bigger than this in a skin is damage or hostility, not a skin file.
constexpr uLong kMaxMemberSize = 32u * 1024 * 1024;
// a skin archive given as a file is read whole into memory
constexpr unsigned long long kMaxArchiveBytes = 0x10000000 - 1;

struct TMemStream {
    const unsigned char* data;
    uLong size;
    uLong pos;
};

voidpf ZCALLBACK MemOpen(voidpf opaque, const char*, int mode) {
    if (mode & ZLIB_FILEFUNC_MODE_CREATE) return nullptr;
    auto* src = static_cast<const TMemStream*>(opaque);
    return new TMemStream{src->data, src->size, 0};
}
uLong ZCALLBACK MemRead(voidpf, voidpf stream, void* buf, uLong size) {
    auto* s = static_cast<TMemStream*>(stream);
    uLong left = s->size - s->pos;
    if (size > left) size = left;
    memcpy(buf, s->data + s->pos, size);
    s->pos += size;
    return size;
}
uLong ZCALLBACK MemWrite(voidpf, voidpf, const void*, uLong) { return 0; }
long ZCALLBACK MemTell(voidpf, voidpf stream) { return static_cast<long>(static_cast<TMemStream*>(stream)->pos); }
long ZCALLBACK MemSeek(voidpf, voidpf stream, uLong offset, int origin) {
    auto* s = static_cast<TMemStream*>(stream);
    unsigned long long base;
    switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET: base = 0; break;
        case ZLIB_FILEFUNC_SEEK_CUR: base = s->pos; break;
        case ZLIB_FILEFUNC_SEEK_END: base = s->size; break;
        default: return -1;
    }
    unsigned long long target = base + offset;
    if (target > s->size) return -1;
    s->pos = static_cast<uLong>(target);
    return 0;
}
int ZCALLBACK MemClose(voidpf, voidpf stream) {
    delete static_cast<TMemStream*>(stream);
    return 0;
}
int ZCALLBACK MemError(voidpf, voidpf) { return 0; }

struct TArchiveState {
    unzFile hZip = nullptr;
    std::wstring sName;
    std::unique_ptr<unsigned char[]> pBuffer;  // the resource copy, kept for the process
    TMemStream src = {nullptr, 0, 0};
    zlib_filefunc_def funcs = {};
};

TArchiveState& Archive() {
    static TArchiveState state;
    return state;
}

ULONG_PTR& GdiplusToken() {
    static ULONG_PTR token = 0;
    return token;
}

struct TImageEntry {
    TImageInfo info;
    CScopedGdiObject<HBITMAP> owner;  // info's bitmap
    bool bOk = false;
};

std::map<std::wstring, std::unique_ptr<TImageEntry>>& ImageCache() {
    static std::map<std::wstring, std::unique_ptr<TImageEntry>> cache;
    return cache;
}

}  // namespace

bool CResourceArchive::OpenMemory(const wchar_t* name, const void* data, size_t len) {
    Close();
    if (!data || len == 0 || len > 0x7FFFFFFF) return false;
    TArchiveState& a = Archive();
    a.pBuffer.reset(new (std::nothrow) unsigned char[len]);
    if (!a.pBuffer) return false;
    memcpy(a.pBuffer.get(), data, len);
    a.src = {a.pBuffer.get(), static_cast<uLong>(len), 0};
    a.funcs.zopen_file = MemOpen;
    a.funcs.zread_file = MemRead;
    a.funcs.zwrite_file = MemWrite;
    a.funcs.ztell_file = MemTell;
    a.funcs.zseek_file = MemSeek;
    a.funcs.zclose_file = MemClose;
    a.funcs.zerror_file = MemError;
    a.funcs.opaque = &a.src;
    a.hZip = unzOpen2("membuffer", &a.funcs);
    if (!a.hZip) {
        a.pBuffer.reset();
        return false;
    }
    a.sName = name ? name : L"";
    return true;
}

bool CResourceArchive::OpenFile(const wchar_t* path) {
    Close();
    if (!path || !*path) return false;
    // minizip's own file functions take narrow names; read the file and keep it in memory instead.
    std::string bytes;
    return ReadWholeFile(path, kMaxArchiveBytes, bytes) == ReadWholeResult::Ok && !bytes.empty() &&
           OpenMemory(path, bytes.data(), bytes.size());
}

void CResourceArchive::Close() {
    TArchiveState& a = Archive();
    // images are cached by member name: another archive may hold other pictures under it
    if (a.hZip) FreeImageCache();
    if (a.hZip) unzClose(a.hZip);
    a.hZip = nullptr;
    a.sName.clear();
    a.pBuffer.reset();
}

bool CResourceArchive::IsOpen() { return Archive().hZip != nullptr; }
const std::wstring& CResourceArchive::GetName() { return Archive().sName; }

bool CResourceArchive::ReadMember(const wchar_t* member, std::string& out, const wchar_t** error) {
    static const wchar_t* dummy;
    const wchar_t** err = error ? error : &dummy;
    out.clear();
    TArchiveState& a = Archive();
    if (!a.hZip) {
        *err = L"Error opening zip file";
        return false;
    }
    std::string name = WideToUtf8(member ? member : L"");
    for (char& c : name)
        if (c == '\\') c = '/';
    if (name.empty() || unzLocateFile(a.hZip, name.c_str(), 2) != UNZ_OK) {
        *err = L"Could not find ziped file";
        return false;
    }
    unz_file_info info = {};
    if (unzGetCurrentFileInfo(a.hZip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
        *err = L"Could not unzip file";
        return false;
    }
    if (info.uncompressed_size > kMaxMemberSize) {
        *err = L"File too large";
        return false;
    }
    if (unzOpenCurrentFile(a.hZip) != UNZ_OK) {
        *err = L"Could not unzip file";
        return false;
    }
    out.resize(info.uncompressed_size);
    int got = out.empty() ? 0 : unzReadCurrentFile(a.hZip, &out[0], static_cast<unsigned>(out.size()));
    // the CRC is checked on close: a damaged member is an error, not a short file
    int closed = unzCloseCurrentFile(a.hZip);
    if (got < 0 || static_cast<uLong>(got) != info.uncompressed_size || closed != UNZ_OK) {
        out.clear();
        *err = L"Could not unzip file";
        return false;
    }
    return true;
}

bool CResourceArchive::ListMembers(std::wstring& names) {
    names.clear();
    TArchiveState& a = Archive();
    if (!a.hZip) return false;
    int rc = unzGoToFirstFile(a.hZip);
    while (rc == UNZ_OK) {
        // minizip leaves a name that fills the buffer unterminated: size the buffer from the entry
        unz_file_info info = {};
        if (unzGetCurrentFileInfo(a.hZip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) return false;
        std::string buf(info.size_filename, '\0');
        if (!buf.empty() &&
            unzGetCurrentFileInfo(a.hZip, &info, &buf[0], (uLong)buf.size(), nullptr, 0, nullptr, 0) != UNZ_OK)
            return false;
        if (!names.empty()) names += L"\n";
        names += Utf8ToWide(buf.data(), strlen(buf.c_str()));
        rc = unzGoToNextFile(a.hZip);
    }
    return rc == UNZ_END_OF_LIST_OF_FILE;
}

bool ReadSkinFile(const wchar_t* name, std::string& out, const wchar_t** error) {
    static const wchar_t* dummy;
    const wchar_t** err = error ? error : &dummy;
    out.clear();
    if (CResourceArchive::IsOpen()) return CResourceArchive::ReadMember(name, out, err);
    std::wstring path = name ? name : L"";
    // relative names are looked up in the resource folder
    if (path.size() < 2 || (path[1] != L':' && path[0] != L'\\')) path = CPaintManagerUI::GetResourcePath() + path;
    switch (ReadWholeFile(path, kMaxMemberSize, out)) {
        case ReadWholeResult::Ok:
            if (!out.empty()) return true;
            *err = L"File is empty";
            return false;
        case ReadWholeResult::NotFound:
        case ReadWholeResult::NotOpened: *err = L"Error opening file"; return false;
        case ReadWholeResult::TooLarge:
        case ReadWholeResult::NoMemory: *err = L"File too large"; return false;
        default: *err = L"Could not read file"; return false;
    }
}

bool EnsureGdiplus() {
    if (GdiplusToken()) return true;
    Gdiplus::GdiplusStartupInput input;
    return Gdiplus::GdiplusStartup(&GdiplusToken(), &input, nullptr) == Gdiplus::Ok;
}

void StopGdiplus() {
    FreeImageCache();
    if (GdiplusToken()) Gdiplus::GdiplusShutdown(GdiplusToken());
    GdiplusToken() = 0;
}

bool DecodeImage(const void* data, size_t len, bool bMask, uint32_t dwMask, TImageInfo& out) {
    out = TImageInfo();
    if (!data || len == 0 || len > kMaxMemberSize || !EnsureGdiplus()) return false;
    CComPtrLite<IStream> stream(SHCreateMemStream(static_cast<const BYTE*>(data), static_cast<UINT>(len)));
    if (!stream) return false;
    bool ok = false;
    {
        Gdiplus::Bitmap bmp(stream.Get(), FALSE);
        const int w = static_cast<int>(bmp.GetWidth()), h = static_cast<int>(bmp.GetHeight());
        if (bmp.GetLastStatus() == Gdiplus::Ok && w > 0 && h > 0 && w <= 8192 && h <= 8192) {
            Gdiplus::Rect rc(0, 0, w, h);
            Gdiplus::BitmapData bd;
            if (bmp.LockBits(&rc, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &bd) == Gdiplus::Ok) {
                BITMAPINFO bi = {};
                bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
                bi.bmiHeader.biWidth = w;
                bi.bmiHeader.biHeight = -h;  // top-down
                bi.bmiHeader.biPlanes = 1;
                bi.bmiHeader.biBitCount = 32;
                bi.bmiHeader.biCompression = BI_RGB;
                void* bits = nullptr;
                CScopedGdiObject<HBITMAP> hbmp(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
                if (hbmp && bits) {
                    bool alpha = false;
                    for (int y = 0; y < h; ++y) {
                        const uint32_t* src = reinterpret_cast<const uint32_t*>(static_cast<const BYTE*>(bd.Scan0) + y * bd.Stride);
                        uint32_t* dst = static_cast<uint32_t*>(bits) + y * w;
                        for (int x = 0; x < w; ++x) {
                            uint32_t px = src[x];
                            if (bMask && (px & 0x00FFFFFF) == (dwMask & 0x00FFFFFF)) px = 0;
                            uint32_t a = px >> 24;
                            if (a < 255) alpha = true;
                            // AlphaBlend wants premultiplied colour
                            uint32_t r = ((px >> 16) & 0xFF) * a / 255, g = ((px >> 8) & 0xFF) * a / 255,
                                     b = (px & 0xFF) * a / 255;
                            dst[x] = (a << 24) | (r << 16) | (g << 8) | b;
                        }
                    }
                    GdiFlush();
                    out.hBitmap = hbmp.Release();
                    out.nX = w;
                    out.nY = h;
                    out.bAlpha = alpha;
                    ok = true;
                }
                bmp.UnlockBits(&bd);
            }
        }
    }
    return ok;
}

const TImageInfo* GetCachedImage(const std::wstring& name, bool bRes, const std::wstring& resType, bool bMask,
                                 uint32_t dwMask) {
    if (name.empty()) return nullptr;
    std::wstring key = (bRes ? L"res:" + resType + L":" : std::wstring()) + name;
    if (bMask) {
        wchar_t buf[16];
        wsprintfW(buf, L"|%08X", dwMask);
        key += buf;
    }
    auto& cache = ImageCache();
    auto it = cache.find(key);
    if (it != cache.end()) return it->second->bOk ? &it->second->info : nullptr;
    std::unique_ptr<TImageEntry> entry(new TImageEntry);
    std::string bytes;
    bool have = false;
    if (bRes) {
        HINSTANCE inst = CPaintManagerUI::GetResourceInstance();
        LPCWSTR id = MAKEINTRESOURCEW(_wtoi(name.c_str()));
        LPCWSTR type = resType.empty() ? reinterpret_cast<LPCWSTR>(RT_BITMAP) : resType.c_str();
        HRSRC r = FindResourceW(inst, id, type);
        HGLOBAL g = r ? LoadResource(inst, r) : nullptr;
        const void* p = g ? LockResource(g) : nullptr;
        DWORD n = r ? SizeofResource(inst, r) : 0;
        if (p && n) {
            bytes.assign(static_cast<const char*>(p), n);
            have = true;
        }
    } else {
        have = ReadSkinFile(name.c_str(), bytes, nullptr);
    }
    if (have) entry->bOk = DecodeImage(bytes.data(), bytes.size(), bMask, dwMask, entry->info);
    entry->owner.Reset(entry->info.hBitmap);
    const TImageInfo* result = entry->bOk ? &entry->info : nullptr;
    cache[key] = std::move(entry);
    return result;
}

void FreeImageCache() { ImageCache().clear(); }

}  // namespace DuiLib
