// Pure text rules of the skin language: numbers, colours, image strings, attribute lists and
// the inline tags of showhtml texts. No windows.h here: these run natively under the fuzzer.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "base/utf8text.h"

namespace DuiLib {

struct TRectI {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool IsZero() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

using ::Utf8ToWide;
using ::WideToUtf8;

// ASCII-only case-insensitive comparison (class names, keys, member names).
bool EqualsNoCase(const std::wstring& a, const std::wstring& b);
bool EqualsNoCase(const wchar_t* a, const wchar_t* b);

// Up to `count` decimal integers, each followed by exactly one separator character.
// Returns how many were read; missing ones stay 0.
int ParseIntList(const wchar_t* text, int* values, int count);
TRectI ParseRect(const wchar_t* text);
// "#AARRGGBB" (the '#' optional). Six digits mean an opaque colour. 0 when not a number.
uint32_t ParseColor(const wchar_t* text);
bool ParseBool(const wchar_t* text);

// key="value" pairs separated by blanks, as in Default elements and attribute lists.
// Stops at the first malformed pair; returns the pairs read so far.
std::vector<std::pair<std::wstring, std::wstring>> ParseAttributeList(const std::wstring& text);

// An image attribute: a bare member name or key='value' pairs.
struct TImageAttrUI {
    std::wstring sFile;      // member name, or resource id when bRes
    std::wstring sResType;
    bool bRes = false;
    bool bColor = false;
    uint32_t dwColor = 0;
    bool bDest = false;
    TRectI rcDest;
    TRectI rcSource;         // all zero: the whole image
    TRectI rcCorner;
    bool bMask = false;
    uint32_t dwMask = 0;
    uint8_t uFade = 255;
    bool bHole = false;
    bool bTiledX = false;
    bool bTiledY = false;
    // Names an image or a colour.
    bool IsEmpty() const { return sFile.empty() && !bColor; }
};
// Returns false when the string names nothing (empty, blanks only, no file and no colour).
bool ParseImageString(const std::wstring& text, TImageAttrUI& out);

// A run of a showhtml text with its look.
struct THtmlRunUI {
    std::wstring sText;
    bool bUnderline = false;
    bool bBold = false;
    bool bItalic = false;
    bool bColor = false;
    uint32_t dwColor = 0;
    bool bNewLine = false;   // a line break before this run
};
// Tags: {u}{/u} {b}{/b} {i}{/i} {c #AARRGGBB}{/c} {n}; "{{" is a literal brace. Anything else
// in braces stays as text, so a stray brace never swallows the rest of the label.
std::vector<THtmlRunUI> ParseHtmlText(const std::wstring& text);

}  // namespace DuiLib
