// Drawing primitives over a 32-bit back buffer: images with alpha, colours, borders, text.
#pragma once
#include <windows.h>

#include <string>

#include "ui/uiparse.h"
#include "ui/uiresource.h"

namespace DuiLib {

class CPaintManagerUI;

// Clips a DC to a rectangle (optionally rounded) for one scope.
class CRenderClip {
public:
    CRenderClip(HDC hDC, const RECT& rc, int roundX = 0, int roundY = 0);
    ~CRenderClip();
    CRenderClip(const CRenderClip&) = delete;
    CRenderClip& operator=(const CRenderClip&) = delete;
private:
    HDC m_hDC;
    int m_iSaved;
};

class CRenderEngine {
public:
    static RECT ToRect(const TRectI& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

    // Draws part `rcSource` of the image into `rcDest`; `rcCorner` borders are kept unscaled.
    static void DrawImage(HDC hDC, const TImageInfo& image, const RECT& rcDest, const RECT& rcPaint,
                          const RECT& rcSource, const RECT& rcCorner, BYTE uFade, bool bHole, bool bTiledX,
                          bool bTiledY);
    // The same with the corners' size on screen given apart from their size in the picture, for
    // pictures drawn at another scale; bSmooth resamples with high-quality filtering.
    static void DrawImage(HDC hDC, const TImageInfo& image, const RECT& rcDest, const RECT& rcPaint,
                          const RECT& rcSource, const RECT& rcCorner, const RECT& rcDestCorner, BYTE uFade,
                          bool bHole, bool bTiledX, bool bTiledY, bool bSmooth);
    // The picture of an image attribute for a DPI: its "@2x" drawing above 120 DPI when the skin
    // has one (*pDensity 2), else the plain one (*pDensity 1).
    static const TImageInfo* GetImageForDpi(const TImageAttrUI& attr, UINT dpi, int* pDensity);
    // An image attribute relative to rcItem; its lengths are markup lengths, scaled to `dpi`.
    // False when nothing could be drawn.
    static bool DrawImageString(HDC hDC, const RECT& rcItem, const RECT& rcPaint, const std::wstring& image,
                                UINT dpi = 96);
    static bool DrawImageAttr(HDC hDC, const RECT& rcItem, const RECT& rcPaint, const TImageAttrUI& attr,
                              UINT dpi = 96);

    // Solid fill honouring the colour's alpha.
    static void DrawColor(HDC hDC, const RECT& rc, DWORD color);
    static void FillRoundRect(HDC hDC, const RECT& rc, int roundX, int roundY, DWORD color);
    static void DrawRect(HDC hDC, const RECT& rc, int size, DWORD color);
    static void DrawRoundRect(HDC hDC, const RECT& rc, int size, int roundX, int roundY, DWORD color);
    static void DrawLine(HDC hDC, POINT from, POINT to, int size, DWORD color);

    static void DrawText(HDC hDC, CPaintManagerUI* pManager, const RECT& rc, const std::wstring& text,
                         DWORD color, int iFont, UINT uStyle);
    // Text with {u}, {b}, {i}, {c}, {n} tags; honours DT_LEFT/DT_CENTER/DT_RIGHT and DT_VCENTER.
    static void DrawHtmlText(HDC hDC, CPaintManagerUI* pManager, const RECT& rc, const std::wstring& text,
                             DWORD color, int iFont, UINT uStyle);
    static SIZE GetTextSize(HDC hDC, CPaintManagerUI* pManager, const std::wstring& text, int iFont, UINT uStyle);
};

}  // namespace DuiLib
