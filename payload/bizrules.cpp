#include "payload/bizrules.h"

namespace {

struct KindEntry {
    const wchar_t* kind;
    const wchar_t* type;
    unsigned id;
};

const KindEntry kKinds[] = {
    {L"biz523", L"BIZ", kRcBizPm},    {L"biz524", L"BIZ", kRcBizPux},     {L"biz525", L"BIZ", kRcBizMark},
    {L"biz528", L"BIZ", kRcBizFlag},  {L"channel", L"CHANNEL", kRcChannel}, {L"vdpm", L"VDPM", kRcVdpm},
};

template <class S>
S TrimSpacesT(const S& text) {
    size_t b = text.find_first_not_of(' ');
    if (b == S::npos) return S();
    size_t e = text.find_last_not_of(' ');
    return text.substr(b, e - b + 1);
}

}  // namespace

std::string TrimSpaces(const std::string& text) { return TrimSpacesT(text); }
std::wstring TrimSpaces(const std::wstring& text) { return TrimSpacesT(text); }

unsigned ResourceIdFromName(const std::wstring& name) {
    size_t i = 0;
    while (i < name.size() && (name[i] == L' ' || name[i] == L'\t')) ++i;
    unsigned long long v = 0;
    for (; i < name.size() && name[i] >= L'0' && name[i] <= L'9'; ++i) {
        v = v * 10 + (name[i] - L'0');
        if (v > 0xFFFFFFFFull) return 0;  // no id of ours is that large
    }
    return (unsigned)v;
}

bool ApplyBizFlagText(const std::string& bytes, bool& flag) {
    std::string text = TrimSpaces(bytes);
    if (text.empty()) return false;
    flag = text[0] != '0';
    return true;
}

bool StampKindToResource(const std::wstring& kind, std::wstring& type, unsigned& id) {
    for (const KindEntry& k : kKinds) {
        if (kind == k.kind) {
            type = k.type;
            id = k.id;
            return true;
        }
    }
    return false;
}

const wchar_t* StampUsageText() {
    return L"usage: vdstamp [options] INPUT.exe OUTPUT.exe\n"
           L"Adds or replaces the distributor resources of a finished vdInstaller.exe (language 2052)\n"
           L"and writes the result to OUTPUT.exe; INPUT.exe is never changed.\n"
           L"  --biz523 FILE    \"BIZ\" 523: business DLL or token (becomes Biz.dll)\n"
           L"  --biz524 FILE    \"BIZ\" 524: second business DLL or INI text (becomes BizT.dll)\n"
           L"  --biz525 FILE    \"BIZ\" 525: build mark\n"
           L"  --biz528 FILE    \"BIZ\" 528: text starting with 0 clears the flag\n"
           L"  --channel FILE   \"CHANNEL\" 527: distributor name, ANSI text\n"
           L"  --vdpm FILE      \"VDPM\" 526: the product's complete setup package\n"
           L"  --remove KIND    removes one of the resources above (KIND: biz523, ..., vdpm)\n"
           L"  --drop-signature a signed INPUT.exe is expected: its signature is removed, exit code 0\n"
           L"Stamp first, then sign OUTPUT.exe (scripts/sign.sh): new resources void a signature.\n"
           L"Exit codes: 0 written, 1 bad command line, 2 unreadable input file,\n"
           L"3 target missing or not a PE file, 4 the resources could not be written,\n"
           L"5 written, but INPUT.exe was signed and OUTPUT.exe is not (sign it again).\n";
}

bool ParseStampArgs(const std::vector<std::wstring>& args, StampRequest& request, std::wstring& error) {
    request = StampRequest();
    std::vector<std::wstring> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& a = args[i];
        if (a == L"--help" || a == L"-h" || a == L"/?") {
            request.help = true;
            return true;
        }
        if (a == L"--drop-signature") {
            request.drop_signature = true;
            continue;
        }
        if (a.size() > 2 && a.compare(0, 2, L"--") == 0) {
            std::wstring name = a.substr(2);
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                error = L"option " + a + L" needs a value";
                return false;
            }
            const std::wstring& value = args[++i];
            StampItem item;
            if (name == L"remove") {
                item.kind = value;
            } else {
                item.kind = name;
                item.file = value;
            }
            if (!StampKindToResource(item.kind, item.type, item.id)) {
                error = name == L"remove" ? L"unknown resource to remove: " + value : L"unknown option: " + a;
                return false;
            }
            for (const StampItem& other : request.items) {
                if (other.kind == item.kind) {
                    error = L"resource " + item.kind + L" given twice";
                    return false;
                }
            }
            request.items.push_back(item);
            continue;
        }
        positional.push_back(a);
    }
    if (positional.size() != 2) {
        error = positional.size() < 2 ? L"an input and an output executable are needed"
                                      : L"too many file names: " + positional[2];
        return false;
    }
    request.input = positional[0];
    request.output = positional[1];
    if (request.input.empty() || request.output.empty()) {
        error = L"empty file name";
        return false;
    }
    if (request.items.empty()) {
        error = L"nothing to stamp: give at least one resource option";
        return false;
    }
    return true;
}

std::wstring VdpmRunFileName(unsigned long pid, const std::wstring& unique) {
    return L"vdpm_" + std::to_wstring(pid) + L"_" + unique + L".exe";
}

bool VdpmRunFileOwner(const std::wstring& fileName, unsigned long& pid) {
    const std::wstring prefix = L"vdpm_";
    if (fileName.compare(0, prefix.size(), prefix) != 0) return false;
    size_t end = fileName.find(L'_', prefix.size());
    if (end == std::wstring::npos || end == prefix.size() || end - prefix.size() > 10) return false;
    unsigned long long value = 0;
    for (size_t i = prefix.size(); i < end; ++i) {
        if (fileName[i] < L'0' || fileName[i] > L'9') return false;
        value = value * 10 + (fileName[i] - L'0');
    }
    if (value > 0xFFFFFFFFull) return false;
    size_t ext = fileName.find(L".exe", end);
    if (ext == std::wstring::npos || ext == end + 1) return false;
    const std::wstring rest = fileName.substr(ext);
    if (rest != L".exe" && rest != L".exe.tmp") return false;
    pid = (unsigned long)value;
    return true;
}
