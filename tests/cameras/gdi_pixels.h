// Reads a picture back through GDI, which knows a DIB's orientation.
#pragma once
#include <windows.h>

namespace orvo::test {

inline COLORREF PixelOf(HBITMAP bitmap, int x, int y) {
    HDC dc = ::CreateCompatibleDC(nullptr);
    HGDIOBJ old = ::SelectObject(dc, bitmap);
    const COLORREF colour = ::GetPixel(dc, x, y);
    ::SelectObject(dc, old);
    ::DeleteDC(dc);
    return colour;
}

}  // namespace orvo::test
