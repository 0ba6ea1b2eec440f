// Owning wrappers for GDI objects and borrowed device contexts.
#pragma once
#include <windows.h>
#include <utility>

namespace orvo::win32 {

class UniqueBitmap {
public:
    UniqueBitmap() noexcept = default;
    explicit UniqueBitmap(HBITMAP bitmap) noexcept : m_bitmap(bitmap) {}
    UniqueBitmap(const UniqueBitmap&) = delete;
    UniqueBitmap& operator=(const UniqueBitmap&) = delete;
    UniqueBitmap(UniqueBitmap&& other) noexcept : m_bitmap(std::exchange(other.m_bitmap, nullptr)) {}
    UniqueBitmap& operator=(UniqueBitmap&& other) noexcept {
        if (this != &other) reset(std::exchange(other.m_bitmap, nullptr));
        return *this;
    }
    ~UniqueBitmap() { reset(); }

    HBITMAP get() const noexcept { return m_bitmap; }
    explicit operator bool() const noexcept { return m_bitmap != nullptr; }
    HBITMAP release() noexcept { return std::exchange(m_bitmap, nullptr); }
    void reset(HBITMAP bitmap = nullptr) noexcept {
        HBITMAP old = std::exchange(m_bitmap, bitmap);
        if (old) ::DeleteObject(old);
    }

private:
    HBITMAP m_bitmap = nullptr;
};

// A window's device context, released when the scope ends.
class WindowDC {
public:
    explicit WindowDC(HWND window) noexcept : m_window(window), m_dc(::GetDC(window)) {}
    ~WindowDC() {
        if (m_dc) ::ReleaseDC(m_window, m_dc);
    }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;

    HDC get() const noexcept { return m_dc; }
    explicit operator bool() const noexcept { return m_dc != nullptr; }

private:
    HWND m_window;
    HDC m_dc;
};

}  // namespace orvo::win32
