#include "payload/rcstamp.h"

#include <windows.h>
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <new>
#include <cstring>
#include <vector>

#include "probes/vdutils.h"

namespace {

struct LoadedItem {
    const StampItem* item;
    std::string bytes;
};

// Why an input file could not be had, as the tool's messages say it.
bool LoadItemFile(const std::wstring& path, std::string& bytes, std::wstring& why) {
    // a resource is addressed with 32-bit sizes and offsets inside the image
    switch (ReadWholeFile(path, 0x7FFFFFFF - 0x10000000LL, bytes)) {
        case ReadWholeResult::Ok:
            if (!bytes.empty()) return true;
            why = L"is empty";
            return false;
        case ReadWholeResult::NotFound: why = L"not found"; return false;
        case ReadWholeResult::NotOpened: why = L"cannot be opened"; return false;
        case ReadWholeResult::TooLarge: why = L"is too large for a resource"; return false;
        // a 32-bit process may not find room for a large file: say so instead of aborting
        case ReadWholeResult::NoMemory: why = L"is too large to load into memory"; return false;
        default: why = L"cannot be read"; return false;
    }
}

std::wstring FullPath(const std::wstring& path) {
    wchar_t buf[MAX_PATH * 4];
    DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH * 4, buf, nullptr);
    return (n > 0 && n < MAX_PATH * 4) ? std::wstring(buf) : path;
}

// One resource of the input, addressed the way UpdateResourceW wants it; its bytes stay in the
// mapped input.
struct RcEntry {
    std::wstring typeName, name;
    WORD typeId = 0, nameId = 0;
    WORD lang = 0;
    const void* data = nullptr;
    DWORD size = 0;
    LPCWSTR Type() const { return typeName.empty() ? MAKEINTRESOURCEW(typeId) : typeName.c_str(); }
    LPCWSTR Name() const { return name.empty() ? MAKEINTRESOURCEW(nameId) : name.c_str(); }
};

struct RcCollector {
    HMODULE module;
    std::vector<RcEntry> entries;
    RcEntry current;
};

BOOL CALLBACK CollectLanguage(HMODULE module, LPCWSTR, LPCWSTR, WORD lang, LONG_PTR param) {
    auto* c = reinterpret_cast<RcCollector*>(param);
    RcEntry e = c->current;
    e.lang = lang;
    HRSRC rc = FindResourceExW(module, e.Type(), e.Name(), lang);
    HGLOBAL mem = rc ? LoadResource(module, rc) : nullptr;
    e.data = mem ? LockResource(mem) : nullptr;
    e.size = rc ? SizeofResource(module, rc) : 0;
    if (e.data) c->entries.push_back(e);
    return TRUE;
}

BOOL CALLBACK CollectName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param) {
    auto* c = reinterpret_cast<RcCollector*>(param);
    if (IS_INTRESOURCE(name)) {
        c->current.name.clear();
        c->current.nameId = (WORD)(ULONG_PTR)name;
    } else {
        c->current.name = name;
        c->current.nameId = 0;
    }
    EnumResourceLanguagesW(module, type, name, CollectLanguage, param);
    return TRUE;
}

BOOL CALLBACK CollectType(HMODULE module, LPWSTR type, LONG_PTR param) {
    auto* c = reinterpret_cast<RcCollector*>(param);
    if (IS_INTRESOURCE(type)) {
        c->current.typeName.clear();
        c->current.typeId = (WORD)(ULONG_PTR)type;
    } else {
        c->current.typeName = type;
        c->current.typeId = 0;
    }
    EnumResourceNamesW(module, type, CollectName, param);
    return TRUE;
}

std::vector<RcEntry> CollectResources(HMODULE module) {
    RcCollector c{module, {}, {}};
    EnumResourceTypesW(module, CollectType, (LONG_PTR)&c);
    return c.entries;
}

// Whether an entry of the input is one the request adds, replaces or removes.
bool IsRequested(const RcEntry& e, const StampItem& item) {
    if (e.typeName.empty() || _wcsicmp(e.typeName.c_str(), item.type.c_str()) != 0) return false;
    if (e.name.empty()) return e.nameId == item.id;
    return e.name == std::to_wstring(item.id);
}

// The written copy must carry exactly what was asked for, and everything else it had, before
// it may take the output's name.
bool VerifyStamped(const std::wstring& path, const std::vector<LoadedItem>& items, size_t keptCount,
                   std::wstring& why) {
    CScopedModule module(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!module.Get()) {
        why = L"the written file cannot be loaded";
        return false;
    }
    std::vector<RcEntry> written = CollectResources(module.Get());
    size_t stamped = 0;
    for (const LoadedItem& li : items) {
        std::vector<const RcEntry*> found;
        for (const RcEntry& e : written)
            if (IsRequested(e, *li.item)) found.push_back(&e);
        if (li.item->file.empty()) {
            if (!found.empty()) {
                why = L"resource " + li.item->kind + L" is still present";
                return false;
            }
            continue;
        }
        ++stamped;
        if (found.size() != 1 || found[0]->lang != kRcLanguage || found[0]->size != li.bytes.size() ||
            memcmp(found[0]->data, li.bytes.data(), li.bytes.size()) != 0) {
            why = L"resource " + li.item->kind + L" does not read back once, in language 2052, with its bytes";
            return false;
        }
    }
    if (written.size() != keptCount + stamped) {
        why = L"the other resources of the input were not all kept";
        return false;
    }
    return true;
}

}  // namespace

bool RemoveCertificateTable(const std::wstring& path, bool& had) {
    had = false;
    CScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return false;
    auto readAt = [&](LONGLONG at, void* buf, DWORD n) {
        LARGE_INTEGER pos;
        pos.QuadPart = at;
        DWORD got = 0;
        return SetFilePointerEx(file.Get(), pos, nullptr, FILE_BEGIN) && ReadFile(file.Get(), buf, n, &got, nullptr) &&
               got == n;
    };
    LARGE_INTEGER size;
    IMAGE_DOS_HEADER dos;
    if (!GetFileSizeEx(file.Get(), &size) || !readAt(0, &dos, sizeof(dos)) || dos.e_magic != IMAGE_DOS_SIGNATURE)
        return false;
    DWORD sig = 0;
    WORD magic = 0;
    LONGLONG optional = (LONGLONG)dos.e_lfanew + 4 + sizeof(IMAGE_FILE_HEADER);
    if (dos.e_lfanew < 0 || !readAt(dos.e_lfanew, &sig, 4) || sig != IMAGE_NT_SIGNATURE || !readAt(optional, &magic, 2))
        return false;
    LONGLONG dirAt;
    if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC)
        dirAt = optional + offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
    else if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        dirAt = optional + offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory);
    else
        return false;
    dirAt += IMAGE_DIRECTORY_ENTRY_SECURITY * sizeof(IMAGE_DATA_DIRECTORY);
    IMAGE_DATA_DIRECTORY dir;
    if (!readAt(dirAt, &dir, sizeof(dir))) return false;
    if (dir.VirtualAddress == 0 && dir.Size == 0) return true;
    had = true;
    IMAGE_DATA_DIRECTORY none = {0, 0};
    LARGE_INTEGER pos;
    pos.QuadPart = dirAt;
    DWORD put = 0;
    if (!SetFilePointerEx(file.Get(), pos, nullptr, FILE_BEGIN) ||
        !WriteFile(file.Get(), &none, sizeof(none), &put, nullptr) || put != sizeof(none))
        return false;
    // the checksum was the signer's; 0 means none rather than a wrong one
    DWORD zero = 0;
    pos.QuadPart = optional + offsetof(IMAGE_OPTIONAL_HEADER32, CheckSum);  // same place in PE32+
    if (!SetFilePointerEx(file.Get(), pos, nullptr, FILE_BEGIN) || !WriteFile(file.Get(), &zero, 4, &put, nullptr))
        return false;
    // the table sits at the end of the file (padded to 8 bytes); cut it off so nothing stale rides along
    if ((LONGLONG)dir.VirtualAddress + dir.Size <= size.QuadPart && (LONGLONG)dir.VirtualAddress + dir.Size + 8 > size.QuadPart) {
        pos.QuadPart = dir.VirtualAddress;
        if (!SetFilePointerEx(file.Get(), pos, nullptr, FILE_BEGIN) || !SetEndOfFile(file.Get())) return false;
    }
    return true;
}

StampResult StampResources(const StampRequest& request, std::wstring& message, bool* signatureDropped) {
    if (signatureDropped) *signatureDropped = false;
    if (request.items.empty()) {
        message = L"nothing to stamp";
        return kStampBadArgs;
    }
    std::wstring input = FullPath(request.input), output = FullPath(request.output);
    if (_wcsicmp(input.c_str(), output.c_str()) == 0) {
        message = L"the output must be a new file, not the input itself: " + request.output;
        return kStampBadArgs;
    }

    std::vector<LoadedItem> items;
    for (const StampItem& item : request.items) {
        LoadedItem li{&item, {}};
        std::wstring why;
        if (!item.file.empty() && !LoadItemFile(item.file, li.bytes, why)) {
            message = L"file for " + item.kind + L" " + why + L": " + item.file;
            return kStampBadInputFile;
        }
        items.push_back(std::move(li));
    }

    if (!PathExists(input)) {
        message = L"input executable not found: " + request.input;
        return kStampBadTarget;
    }
    if (GetPeBitness(input.c_str()) < 0) {
        message = L"input is not a Windows executable (PE file): " + request.input;
        return kStampBadTarget;
    }

    CScopedModule source(LoadLibraryExW(input.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!source.Get()) {
        message = L"input executable cannot be loaded: " + request.input;
        return kStampBadTarget;
    }
    std::vector<RcEntry> kept;
    for (const RcEntry& e : CollectResources(source.Get())) {
        bool requested = false;
        for (const LoadedItem& li : items) requested = requested || IsRequested(e, *li.item);
        if (!requested) kept.push_back(e);
    }

    std::wstring tmp = output + L".tmp";
    if (!CopyFileW(input.c_str(), tmp.c_str(), FALSE)) {
        message = L"cannot write " + tmp;
        return kStampWriteFailed;
    }
    // the copy inherits the input's attributes; a read-only input must not block the update
    SetFileAttributesW(tmp.c_str(), FILE_ATTRIBUTE_NORMAL);

    auto fail = [&](const std::wstring& why) {
        DeleteFileW(tmp.c_str());
        message = why;
        return kStampWriteFailed;
    };
    // new resources void a signature: the output goes out plainly unsigned, never with a stale one
    bool hadSignature = false;
    if (!RemoveCertificateTable(tmp, hadSignature)) return fail(L"cannot remove the input's signature from " + tmp);
    // The resource table is written anew from the input's own entries: deleting single entries
    // is not honoured by every implementation of the update API, a fresh table is.
    HANDLE update = BeginUpdateResourceW(tmp.c_str(), TRUE);
    if (!update) return fail(L"cannot open the copy for resource updates: " + tmp);
    bool ok = true;
    for (const RcEntry& e : kept)
        ok = ok && UpdateResourceW(update, e.Type(), e.Name(), e.lang, const_cast<void*>(e.data), e.size);
    for (const LoadedItem& li : items) {
        if (li.item->file.empty()) continue;
        ok = ok && UpdateResourceW(update, li.item->type.c_str(), MAKEINTRESOURCEW(li.item->id), kRcLanguage,
                                   const_cast<char*>(li.bytes.data()), (DWORD)li.bytes.size());
    }
    if (!ok) {
        EndUpdateResourceW(update, TRUE);
        return fail(L"cannot update the resources of " + tmp);
    }
    if (!EndUpdateResourceW(update, FALSE)) return fail(L"cannot write the resources of " + tmp);

    std::wstring why;
    if (!VerifyStamped(tmp, items, kept.size(), why)) return fail(L"check of the written file failed: " + why);
    if (!MoveFileExW(tmp.c_str(), output.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return fail(L"cannot rename " + tmp + L" to " + output);

    message = L"wrote " + output;
    for (const LoadedItem& li : items) {
        wchar_t line[160];
        if (li.item->file.empty())
            _snwprintf(line, 160, L"\n  removed %s %u", li.item->type.c_str(), li.item->id);
        else
            _snwprintf(line, 160, L"\n  %s %u: %u bytes", li.item->type.c_str(), li.item->id,
                       (unsigned)li.bytes.size());
        line[159] = 0;
        message += line;
    }
    if (hadSignature) {
        if (signatureDropped) *signatureDropped = true;
        if (!request.drop_signature) return kStampSignatureDropped;
    }
    return kStampOk;
}
