#include "ui/uirender.h"

#include <gdiplus.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "ui/uimanager.h"

namespace DuiLib {

CRenderClip::CRenderClip(HDC hDC, const RECT& rc, int roundX, int roundY) : m_hDC(hDC), m_iSaved(SaveDC(hDC)) {
    if (roundX > 0 && roundY > 0) {
        CScopedGdiObject<HRGN> rgn(CreateRoundRectRgn(rc.left, rc.top, rc.right + 1, rc.bottom + 1, roundX, roundY));
        ExtSelectClipRgn(hDC, rgn.Get(), RGN_AND);
    } else {
        IntersectClipRect(hDC, rc.left, rc.top, rc.right, rc.bottom);
    }
}

CRenderClip::~CRenderClip() { RestoreDC(m_hDC, m_iSaved); }

namespace {

COLORREF ToColorRef(DWORD argb) { return RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF); }

bool Intersects(const RECT& a, const RECT& b) {
    RECT t;
    return IntersectRect(&t, &a, &b) != FALSE;
}

void BlendPart(HDC hDC, HDC hSrc, const RECT& d, const RECT& s, BYTE fade, Gdiplus::Bitmap* smooth = nullptr) {
    if (d.right <= d.left || d.bottom <= d.top || s.right <= s.left || s.bottom <= s.top) return;
    const bool sameSize = d.right - d.left == s.right - s.left && d.bottom - d.top == s.bottom - s.top;
    if (smooth && !sameSize) {
        // GDI stretches by dropping or repeating pixels; a scaled skin needs real filtering
        Gdiplus::Graphics g(hDC);
        g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
        g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
        g.SetCompositingMode(Gdiplus::CompositingModeSourceOver);
        Gdiplus::ImageAttributes ia;
        // edges are not blended with transparent pixels outside the source
        ia.SetWrapMode(Gdiplus::WrapModeTileFlipXY);
        if (fade != 255) {
            Gdiplus::ColorMatrix cm = {{{1, 0, 0, 0, 0}, {0, 1, 0, 0, 0}, {0, 0, 1, 0, 0}, {0, 0, 0, fade / 255.0f, 0},
                                        {0, 0, 0, 0, 1}}};
            ia.SetColorMatrix(&cm);
        }
        g.DrawImage(smooth, Gdiplus::Rect(d.left, d.top, d.right - d.left, d.bottom - d.top), s.left, s.top,
                    s.right - s.left, s.bottom - s.top, Gdiplus::UnitPixel, &ia);
        return;
    }
    BLENDFUNCTION bf = {AC_SRC_OVER, 0, fade, AC_SRC_ALPHA};
    AlphaBlend(hDC, d.left, d.top, d.right - d.left, d.bottom - d.top, hSrc, s.left, s.top, s.right - s.left,
               s.bottom - s.top, bf);
}

void TilePart(HDC hDC, HDC hSrc, const RECT& d, const RECT& s, BYTE fade, bool tx, bool ty, const RECT& rcPaint,
              int stepW = 0, int stepH = 0, Gdiplus::Bitmap* smooth = nullptr) {
    const int sw = s.right - s.left, sh = s.bottom - s.top;
    if (sw <= 0 || sh <= 0) return;
    const int dw = d.right - d.left, dh = d.bottom - d.top;
    const int stepX = tx ? (stepW > 0 ? stepW : sw) : dw, stepY = ty ? (stepH > 0 ? stepH : sh) : dh;
    if (stepX <= 0 || stepY <= 0) return;
    CRenderClip clip(hDC, d);
    for (int y = d.top; y < d.bottom; y += stepY) {
        for (int x = d.left; x < d.right; x += stepX) {
            RECT piece = {x, y, x + stepX, y + stepY};
            if (Intersects(piece, rcPaint)) BlendPart(hDC, hSrc, piece, s, fade, smooth);
        }
    }
}

Gdiplus::Color ToGdiColor(DWORD argb) {
    return Gdiplus::Color(static_cast<BYTE>(argb >> 24), static_cast<BYTE>(argb >> 16), static_cast<BYTE>(argb >> 8),
                          static_cast<BYTE>(argb));
}

void AddRoundRect(Gdiplus::GraphicsPath& path, float x, float y, float w, float h, float rx, float ry) {
    rx = std::min(rx, w / 2), ry = std::min(ry, h / 2);
    if (rx <= 0 || ry <= 0) {
        path.AddRectangle(Gdiplus::RectF(x, y, w, h));
        return;
    }
    const float dx = rx * 2, dy = ry * 2;
    path.AddArc(x, y, dx, dy, 180, 90);
    path.AddArc(x + w - dx, y, dx, dy, 270, 90);
    path.AddArc(x + w - dx, y + h - dy, dx, dy, 0, 90);
    path.AddArc(x, y + h - dy, dx, dy, 90, 90);
    path.CloseFigure();
}

}  // namespace

void CRenderEngine::DrawImage(HDC hDC, const TImageInfo& image, const RECT& rcDest, const RECT& rcPaint,
                              const RECT& rcSource, const RECT& rcCorner, BYTE uFade, bool bHole, bool bTiledX,
                              bool bTiledY) {
    DrawImage(hDC, image, rcDest, rcPaint, rcSource, rcCorner, rcCorner, uFade, bHole, bTiledX, bTiledY, false);
}

void CRenderEngine::DrawImage(HDC hDC, const TImageInfo& image, const RECT& rcDest, const RECT& rcPaint,
                              const RECT& rcSourceIn, const RECT& rcCorner, const RECT& rcDestCorner, BYTE uFade,
                              bool bHole, bool bTiledX, bool bTiledY, bool bSmooth) {
    if (!image.hBitmap || uFade == 0 || !Intersects(rcDest, rcPaint)) return;
    // A source outside the bitmap is cut to it, so a wrong number never reads past the pixels.
    RECT s = rcSourceIn;
    if (s.left == 0 && s.top == 0 && s.right == 0 && s.bottom == 0) s = RECT{0, 0, image.nX, image.nY};
    s.left = std::max<LONG>(0, std::min<LONG>(s.left, image.nX));
    s.right = std::max<LONG>(s.left, std::min<LONG>(s.right, image.nX));
    s.top = std::max<LONG>(0, std::min<LONG>(s.top, image.nY));
    s.bottom = std::max<LONG>(s.top, std::min<LONG>(s.bottom, image.nY));
    if (s.right <= s.left || s.bottom <= s.top) return;

    CScopedMemDC mem(CreateCompatibleDC(hDC));
    if (!mem.Get()) return;
    CScopedSelect sel(mem.Get(), image.hBitmap);
    std::unique_ptr<Gdiplus::Bitmap> smooth;
    if (bSmooth) {
        DIBSECTION ds = {};
        // the cache makes every picture top-down (GetObject reports its height as positive all
        // the same), so the first row in memory is the top one
        if (GetObjectW(image.hBitmap, sizeof(ds), &ds) == sizeof(ds) && ds.dsBm.bmBits && ds.dsBm.bmBitsPixel == 32) {
            // the image's pixels for GDI+ without a copy: the cached DIB is top-down premultiplied BGRA
            smooth.reset(new Gdiplus::Bitmap(image.nX, image.nY, ds.dsBm.bmWidthBytes, PixelFormat32bppPARGB,
                                             static_cast<BYTE*>(ds.dsBm.bmBits)));
            if (smooth->GetLastStatus() != Gdiplus::Ok) smooth.reset();
        }
    }
    const RECT& d = rcDest;
    RECT c = rcCorner;
    const int sw = s.right - s.left, sh = s.bottom - s.top;
    const int dw = d.right - d.left, dh = d.bottom - d.top;
    c.left = std::max<LONG>(0, std::min<LONG>(c.left, sw));
    c.right = std::max<LONG>(0, std::min<LONG>(c.right, sw - c.left));
    c.top = std::max<LONG>(0, std::min<LONG>(c.top, sh));
    c.bottom = std::max<LONG>(0, std::min<LONG>(c.bottom, sh - c.top));
    const bool corners = c.left || c.top || c.right || c.bottom;
    // a tile keeps the picture's scale: its size on screen follows the corners' scale
    const int stepW = rcCorner.left > 0 && rcDestCorner.left > 0 ? MulDiv(sw, rcDestCorner.left, rcCorner.left)
                                                                 : (bSmooth ? 0 : sw);
    const int stepH = rcCorner.top > 0 && rcDestCorner.top > 0 ? MulDiv(sh, rcDestCorner.top, rcCorner.top)
                                                               : (bSmooth ? 0 : sh);
    if (!corners) {
        if (bTiledX || bTiledY) TilePart(hDC, mem.Get(), d, s, uFade, bTiledX, bTiledY, rcPaint, stepW, stepH, smooth.get());
        else BlendPart(hDC, mem.Get(), d, s, uFade, smooth.get());
        return;
    }
    // corners on screen at their own scale, within the source's cut
    const RECT dc = {rcCorner.left ? MulDiv(c.left, rcDestCorner.left, rcCorner.left) : 0,
                     rcCorner.top ? MulDiv(c.top, rcDestCorner.top, rcCorner.top) : 0,
                     rcCorner.right ? MulDiv(c.right, rcDestCorner.right, rcCorner.right) : 0,
                     rcCorner.bottom ? MulDiv(c.bottom, rcDestCorner.bottom, rcCorner.bottom) : 0};
    // nine pieces: corners keep their size, edges stretch one way, the middle both ways
    const int dl = std::min<int>(dc.left, dw), dr = std::min<int>(dc.right, dw - dl);
    const int dt = std::min<int>(dc.top, dh), db = std::min<int>(dc.bottom, dh - dt);
    const LONG dxs[4] = {d.left, d.left + dl, d.right - dr, d.right};
    const LONG dys[4] = {d.top, d.top + dt, d.bottom - db, d.bottom};
    const LONG sxs[4] = {s.left, s.left + c.left, s.right - c.right, s.right};
    const LONG sys[4] = {s.top, s.top + c.top, s.bottom - c.bottom, s.bottom};
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            if (bHole && row == 1 && col == 1) continue;
            RECT dp = {dxs[col], dys[row], dxs[col + 1], dys[row + 1]};
            RECT sp = {sxs[col], sys[row], sxs[col + 1], sys[row + 1]};
            if (!Intersects(dp, rcPaint)) continue;
            if (row == 1 && col == 1 && (bTiledX || bTiledY))
                TilePart(hDC, mem.Get(), dp, sp, uFade, bTiledX, bTiledY, rcPaint, 0, 0, smooth.get());
            else BlendPart(hDC, mem.Get(), dp, sp, uFade, smooth.get());
        }
    }
}

const TImageInfo* CRenderEngine::GetImageForDpi(const TImageAttrUI& attr, UINT dpi, int* pDensity) {
    if (pDensity) *pDensity = 1;
    if (dpi > 120 && !attr.bRes) {
        // "name.png" -> "name@2x.png"
        std::wstring hi = attr.sFile;
        size_t dot = hi.find_last_of(L'.');
        size_t slash = hi.find_last_of(L"\\/");
        if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) dot = hi.size();
        hi.insert(dot, L"@2x");
        if (const TImageInfo* img = GetCachedImage(hi, false, attr.sResType, attr.bMask, attr.dwMask)) {
            if (pDensity) *pDensity = 2;
            return img;
        }
    }
    return GetCachedImage(attr.sFile, attr.bRes, attr.sResType, attr.bMask, attr.dwMask);
}

bool CRenderEngine::DrawImageAttr(HDC hDC, const RECT& rcItem, const RECT& rcPaint, const TImageAttrUI& attr, UINT dpi) {
    if (dpi < 96) dpi = 96;
    auto px = [dpi](LONG v) { return dpi == 96 ? v : static_cast<LONG>(MulDiv(v, static_cast<int>(dpi), 96)); };
    RECT dest = rcItem;
    if (attr.bDest) {
        dest = RECT{rcItem.left + px(attr.rcDest.left), rcItem.top + px(attr.rcDest.top),
                    rcItem.left + px(attr.rcDest.right), rcItem.top + px(attr.rcDest.bottom)};
        // a destination is kept inside its control
        dest.right = std::min(dest.right, rcItem.right);
        dest.bottom = std::min(dest.bottom, rcItem.bottom);
        if (dest.right <= dest.left || dest.bottom <= dest.top) return false;
    }
    if (attr.bColor && attr.sFile.empty()) {
        RECT r;
        if (IntersectRect(&r, &dest, &rcPaint)) DrawColor(hDC, r, attr.dwColor);
        return true;
    }
    if (dpi == 96) {
        const TImageInfo* img = GetCachedImage(attr.sFile, attr.bRes, attr.sResType, attr.bMask, attr.dwMask);
        if (!img) return false;
        DrawImage(hDC, *img, dest, rcPaint, ToRect(attr.rcSource), ToRect(attr.rcCorner), attr.uFade, attr.bHole,
                  attr.bTiledX, attr.bTiledY);
        return true;
    }
    int density = 1;
    const TImageInfo* img = GetImageForDpi(attr, dpi, &density);
    if (!img) return false;
    // source and corners are written in the plain picture's pixels
    const RECT src = ToRect(attr.rcSource), corner = ToRect(attr.rcCorner);
    const RECT srcD = {src.left * density, src.top * density, src.right * density, src.bottom * density};
    const RECT cornerD = {corner.left * density, corner.top * density, corner.right * density, corner.bottom * density};
    const RECT cornerScreen = {px(corner.left), px(corner.top), px(corner.right), px(corner.bottom)};
    DrawImage(hDC, *img, dest, rcPaint, srcD, cornerD, cornerScreen, attr.uFade, attr.bHole, attr.bTiledX, attr.bTiledY,
              true);
    return true;
}

bool CRenderEngine::DrawImageString(HDC hDC, const RECT& rcItem, const RECT& rcPaint, const std::wstring& image,
                                    UINT dpi) {
    TImageAttrUI attr;
    if (!ParseImageString(image, attr)) return false;
    return DrawImageAttr(hDC, rcItem, rcPaint, attr, dpi);
}

void CRenderEngine::DrawColor(HDC hDC, const RECT& rc, DWORD color) {
    if (rc.right <= rc.left || rc.bottom <= rc.top) return;
    const BYTE a = static_cast<BYTE>(color >> 24);
    if (a == 0) return;
    if (a == 255) {
        CScopedGdiObject<HBRUSH> brush(CreateSolidBrush(ToColorRef(color)));
        FillRect(hDC, &rc, brush.Get());
        return;
    }
    // one premultiplied pixel stretched over the rectangle
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = 1;
    bi.bmiHeader.biHeight = 1;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    CScopedGdiObject<HBITMAP> bmp(CreateDIBSection(hDC, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bmp.Get() || !bits) return;
    const DWORD r = ((color >> 16) & 0xFF) * a / 255, g = ((color >> 8) & 0xFF) * a / 255, b = (color & 0xFF) * a / 255;
    *static_cast<DWORD*>(bits) = (static_cast<DWORD>(a) << 24) | (r << 16) | (g << 8) | b;
    CScopedMemDC mem(CreateCompatibleDC(hDC));
    CScopedSelect sel(mem.Get(), bmp.Get());
    BLENDFUNCTION bf = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    AlphaBlend(hDC, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, mem.Get(), 0, 0, 1, 1, bf);
}

void CRenderEngine::FillRoundRect(HDC hDC, const RECT& rc, int roundX, int roundY, DWORD color) {
    if ((color >> 24) == 0 || rc.right <= rc.left || rc.bottom <= rc.top) return;
    if (roundX <= 0 || roundY <= 0) return DrawColor(hDC, rc, color);
    Gdiplus::Graphics g(hDC);
    g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
    Gdiplus::GraphicsPath path;
    // markup radii are given as ellipse sizes, as for CreateRoundRectRgn
    AddRoundRect(path, static_cast<float>(rc.left), static_cast<float>(rc.top), static_cast<float>(rc.right - rc.left),
                 static_cast<float>(rc.bottom - rc.top), roundX / 2.0f, roundY / 2.0f);
    Gdiplus::SolidBrush brush(ToGdiColor(color));
    g.FillPath(&brush, &path);
}

void CRenderEngine::DrawRect(HDC hDC, const RECT& rc, int size, DWORD color) {
    if (size <= 0 || (color >> 24) == 0) return;
    DrawColor(hDC, RECT{rc.left, rc.top, rc.right, rc.top + size}, color);
    DrawColor(hDC, RECT{rc.left, rc.bottom - size, rc.right, rc.bottom}, color);
    DrawColor(hDC, RECT{rc.left, rc.top + size, rc.left + size, rc.bottom - size}, color);
    DrawColor(hDC, RECT{rc.right - size, rc.top + size, rc.right, rc.bottom - size}, color);
}

void CRenderEngine::DrawRoundRect(HDC hDC, const RECT& rc, int size, int roundX, int roundY, DWORD color) {
    if (size <= 0 || (color >> 24) == 0) return;
    if (roundX <= 0 || roundY <= 0) return DrawRect(hDC, rc, size, color);
    Gdiplus::Graphics g(hDC);
    g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    Gdiplus::GraphicsPath path;
    const float half = size / 2.0f;
    AddRoundRect(path, rc.left + half, rc.top + half, rc.right - rc.left - size, rc.bottom - rc.top - size,
                 roundX / 2.0f, roundY / 2.0f);
    Gdiplus::Pen pen(ToGdiColor(color), static_cast<float>(size));
    g.DrawPath(&pen, &path);
}

void CRenderEngine::DrawLine(HDC hDC, POINT from, POINT to, int size, DWORD color) {
    if (from.y == to.y) {
        DrawColor(hDC, RECT{std::min(from.x, to.x), from.y, std::max(from.x, to.x), from.y + size}, color);
    } else if (from.x == to.x) {
        DrawColor(hDC, RECT{from.x, std::min(from.y, to.y), from.x + size, std::max(from.y, to.y)}, color);
    } else {
        Gdiplus::Graphics g(hDC);
        g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
        Gdiplus::Pen pen(ToGdiColor(color), static_cast<float>(size));
        g.DrawLine(&pen, static_cast<int>(from.x), static_cast<int>(from.y), static_cast<int>(to.x), static_cast<int>(to.y));
    }
}

void CRenderEngine::DrawText(HDC hDC, CPaintManagerUI* pManager, const RECT& rc, const std::wstring& text,
                             DWORD color, int iFont, UINT uStyle) {
    if (text.empty() || !pManager || rc.right <= rc.left || rc.bottom <= rc.top) return;
    SetBkMode(hDC, TRANSPARENT);
    SetTextColor(hDC, ToColorRef(color));
    CScopedSelect font(hDC, pManager->GetFont(iFont));
    RECT r = rc;
    ::DrawTextW(hDC, text.c_str(), static_cast<int>(text.size()), &r, uStyle | DT_NOPREFIX);
}

SIZE CRenderEngine::GetTextSize(HDC hDC, CPaintManagerUI* pManager, const std::wstring& text, int iFont, UINT) {
    SIZE sz = {0, 0};
    if (!pManager) return sz;
    CScopedSelect font(hDC, pManager->GetFont(iFont));
    GetTextExtentPoint32W(hDC, text.c_str(), static_cast<int>(text.size()), &sz);
    return sz;
}

void CRenderEngine::DrawHtmlText(HDC hDC, CPaintManagerUI* pManager, const RECT& rc, const std::wstring& text,
                                 DWORD color, int iFont, UINT uStyle) {
    if (text.empty() || !pManager || rc.right <= rc.left || rc.bottom <= rc.top) return;
    std::vector<THtmlRunUI> runs = ParseHtmlText(text);
    // lines of runs with their measured sizes
    struct TPiece {
        const THtmlRunUI* run;
        HFONT font;
        SIZE size;
    };
    std::vector<std::vector<TPiece>> lines(1);
    for (const auto& run : runs) {
        if (run.bNewLine) lines.emplace_back();
        HFONT f = pManager->GetFontVariant(iFont, run.bBold, run.bUnderline, run.bItalic);
        SIZE sz = {0, 0};
        CScopedSelect sel(hDC, f);
        GetTextExtentPoint32W(hDC, run.sText.c_str(), static_cast<int>(run.sText.size()), &sz);
        if (sz.cy == 0) {
            TEXTMETRICW tm;
            GetTextMetricsW(hDC, &tm);
            sz.cy = tm.tmHeight;
        }
        lines.back().push_back({&run, f, sz});
    }
    int totalH = 0;
    std::vector<int> lineH, lineW;
    for (const auto& line : lines) {
        int h = 0, w = 0;
        for (const auto& p : line) h = std::max<int>(h, p.size.cy), w += p.size.cx;
        lineH.push_back(h);
        lineW.push_back(w);
        totalH += h;
    }
    int y = rc.top;
    if (uStyle & DT_VCENTER) y = rc.top + (rc.bottom - rc.top - totalH) / 2;
    else if (uStyle & DT_BOTTOM) y = rc.bottom - totalH;
    SetBkMode(hDC, TRANSPARENT);
    CRenderClip clip(hDC, rc);
    for (size_t li = 0; li < lines.size(); ++li) {
        int x = rc.left;
        if (uStyle & DT_CENTER) x = rc.left + (rc.right - rc.left - lineW[li]) / 2;
        else if (uStyle & DT_RIGHT) x = rc.right - lineW[li];
        for (const auto& p : lines[li]) {
            CScopedSelect sel(hDC, p.font);
            SetTextColor(hDC, ToColorRef(p.run->bColor ? p.run->dwColor : color));
            int baseY = y + (lineH[li] - p.size.cy) / 2;
            TextOutW(hDC, x, baseY, p.run->sText.c_str(), static_cast<int>(p.run->sText.size()));
            x += p.size.cx;
        }
        y += lineH[li];
    }
}

}  // namespace DuiLib
