#include "watchdog/proxy/placeholder_frame.h"

#include <cstring>

#include "watchdog/common/bitness.h"
#include "watchdog/common/wd_trace.h"
#include "watchdog/proxy/frame_geometry.h"
#include "win32/gdi.h"

namespace orvo::watchdog {
namespace {

class MemoryDC {
public:
    MemoryDC() noexcept : m_dc(::CreateCompatibleDC(nullptr)) {}
    ~MemoryDC() {
        if (m_dc) {
            if (m_previous) ::SelectObject(m_dc, m_previous);
            ::DeleteDC(m_dc);
        }
    }
    MemoryDC(const MemoryDC&) = delete;
    MemoryDC& operator=(const MemoryDC&) = delete;
    bool Select(HGDIOBJ object) noexcept {
        HGDIOBJ previous = ::SelectObject(m_dc, object);
        if (!previous || previous == HGDI_ERROR) return false;
        if (!m_previous) m_previous = previous;
        return true;
    }
    HDC get() const noexcept { return m_dc; }

private:
    HDC m_dc;
    HGDIOBJ m_previous = nullptr;
};

}  // namespace

HRESULT RenderPlaceholder(HBITMAP placeholder, int width, int height, std::vector<uint8_t>& frame) noexcept {
    if (!placeholder) {
        WD_TRACE_ERROR(E_UNEXPECTED);
        return E_UNEXPECTED;
    }
    BITMAP image{};
    if (!::GetObjectW(placeholder, sizeof(image), &image)) return E_UNEXPECTED;

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    win32::UniqueBitmap target(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!target || !bits) {
        const HRESULT hr = HResultFromLastError();
        WD_TRACE_ERROR(hr);
        return hr;
    }
    const size_t stride = DibStride(width);
    const size_t packedRow = static_cast<size_t>(width) * 3;
    {
        MemoryDC source, dest;
        if (!source.get() || !dest.get() || !source.Select(placeholder) || !dest.Select(target.get())) {
            const HRESULT hr = HResultFromLastError();
            WD_TRACE_ERROR(hr);
            return hr;
        }
        const COLORREF corner = ::GetPixel(source.get(), 0, 0);
        HBRUSH brush = ::CreateSolidBrush(corner);
        RECT all{0, 0, width, height};
        ::FillRect(dest.get(), &all, brush);
        ::DeleteObject(brush);
        // A vertical mirror: the bottom-up DIB's memory then runs from the
        // top of the picture down, the order the proxy wants.
        ::SetGraphicsMode(dest.get(), GM_ADVANCED);
        XFORM mirror{1.0f, 0.0f, 0.0f, -1.0f, 0.0f, static_cast<float>(height)};
        ::SetWorldTransform(dest.get(), &mirror);
        ::BitBlt(dest.get(), width / 2 - image.bmWidth / 2, height / 2 - image.bmHeight / 2, image.bmWidth,
                 image.bmHeight, source.get(), 0, 0, SRCCOPY);
        ::GdiFlush();
    }
    try {
        frame.resize(packedRow * height);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    const auto* memory = static_cast<const uint8_t*>(bits);
    for (int row = 0; row < height; ++row) std::memcpy(frame.data() + row * packedRow, memory + row * stride, packedRow);
    return S_OK;
}

}  // namespace orvo::watchdog
