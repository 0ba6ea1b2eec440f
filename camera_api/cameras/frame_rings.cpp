#include "camera_api/cameras/frame_rings.h"

#include <new>

#include "win32/gdi.h"

namespace orvo {

using win32::CriticalSectionLock;

namespace {

int BitsPerPixel(int pixelFormat) noexcept {
    switch (pixelFormat) {
    case kPixelFormatBgra32: return 32;
    case kPixelFormatBgr24: return 24;
    default: return 8;   // grey, with a colour table of 256 greys
    }
}

// One frame: a DIB section on the desktop's device context.
HBITMAP CreateFrameBitmap(int pixelFormat, int width, int height, void** bits) noexcept {
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colours[256];
    } info{};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = width;
    info.header.biHeight = height;
    info.header.biPlanes = 1;
    info.header.biBitCount = static_cast<WORD>(BitsPerPixel(pixelFormat));
    info.header.biCompression = BI_RGB;
    if (info.header.biBitCount == 8) {
        info.header.biClrUsed = 256;
        info.header.biClrImportant = 256;
        for (int i = 0; i < 256; ++i) {
            info.colours[i] = RGBQUAD{static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i), 0};
        }
    }
    win32::WindowDC desktop(::GetDesktopWindow());
    if (!desktop) return nullptr;
    return ::CreateDIBSection(desktop.get(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, bits, nullptr, 0);
}

}  // namespace

int32_t DibStride(int pixelFormat, int width) noexcept {
    return ((width * BitsPerPixel(pixelFormat) + 31) / 32) * 4;
}

FrameRings::~FrameRings() {
    for (BufferSet& set : m_sets) {
        if (set.frameCount == 0) continue;
        if (set.active || AnyFrameLocked(set)) {
            // A client may still draw from these frames: leave their DIB sections alone.
            set.frames.release();
            continue;
        }
        FreeSet(set);
    }
}

void FrameRings::FreeSet(BufferSet& set) noexcept {
    for (int i = 0; i < set.frameCount; ++i) ::DeleteObject(set.frames[i].desc.bitmap);
    set = BufferSet{};
}

BufferSet* FrameRings::Allocated(int index) noexcept {
    if (index < 0 || index >= kMaxBufferSets || m_sets[index].frameCount == 0) return nullptr;
    return &m_sets[index];
}

bool FrameRings::AnyFrameLocked(const BufferSet& set) const noexcept {
    for (int i = 0; i < set.frameCount; ++i) {
        if (set.frames[i].locked) return true;
    }
    return false;
}

int32_t FrameRings::Create(int kind, int pixelFormat, int width, int height, int frameCount, int* index) noexcept {
    CriticalSectionLock lock(m_lock);
    if (kind < kBufferKindVideo || kind > kBufferKindStill) return ORVO_E_BAD_BUFFER;
    int slot = 0;
    while (slot < kMaxBufferSets && m_sets[slot].frameCount != 0) ++slot;
    if (slot == kMaxBufferSets) return ORVO_E_BUSY;
    // A ring without frames would count as free at once, and an empty
    // picture holds no frame: refuse both.
    if (frameCount <= 0 || width <= 0 || height == 0) return ORVO_E_OUT_OF_RANGE;

    BufferSet set;
    set.kind = kind;
    set.pixelFormat = pixelFormat;
    set.width = width;
    set.height = height;
    set.frames.reset(new (std::nothrow) FrameSlot[static_cast<size_t>(frameCount)]);
    if (!set.frames) return ORVO_E_OUT_OF_MEMORY;
    for (int i = 0; i < frameCount; ++i) {
        void* bits = nullptr;
        HBITMAP bitmap = CreateFrameBitmap(pixelFormat, width, height, &bits);
        if (!bitmap || !bits) {
            if (bitmap) ::DeleteObject(bitmap);
            set.frameCount = i;
            FreeSet(set);
            return ORVO_E_OUT_OF_MEMORY;
        }
        set.frames[i].desc.bitmap = bitmap;
        set.frames[i].desc.bits = bits;
    }
    set.frameCount = frameCount;
    m_sets[slot] = std::move(set);
    *index = slot;
    ++m_count;
    ++(kind == kBufferKindVideo ? m_videoCount : m_stillCount);
    return ORVO_OK;
}

int32_t FrameRings::Delete(int index) noexcept {
    CriticalSectionLock lock(m_lock);
    BufferSet* set = Allocated(index);
    if (!set) return ORVO_E_BAD_BUFFER;
    if (set->active || AnyFrameLocked(*set)) return ORVO_E_BUFFER_IN_USE;
    int& kindCount = set->kind == kBufferKindVideo ? m_videoCount : m_stillCount;
    FreeSet(*set);
    if (m_count > 0) --m_count;
    if (kindCount > 0) --kindCount;
    return ORVO_OK;
}

int32_t FrameRings::GetFrame(int index, int* frameIndex, FrameDesc* frame) noexcept {
    if (index < 0 || index >= kMaxBufferSets) return ORVO_E_BAD_BUFFER;
    CriticalSectionLock lock(m_lock);
    BufferSet& set = m_sets[index];
    if (!set.active) return ORVO_E_NO_FRAME;
    if (set.frameCount == 0) return ORVO_E_BAD_BUFFER;
    FrameSlot& slot = set.frames[set.newest];
    if (slot.locked) return ORVO_E_NO_FRAME;
    slot.locked = 1;
    *frame = slot.desc;
    *frameIndex = set.newest;
    return ORVO_OK;
}

int32_t FrameRings::Release(int index, int frameIndex) noexcept {
    CriticalSectionLock lock(m_lock);
    BufferSet* set = Allocated(index);
    if (!set) return ORVO_E_BAD_BUFFER;
    if (frameIndex >= 0 && frameIndex < set->frameCount) set->frames[frameIndex].locked = 0;
    return ORVO_OK;
}

void* FrameRings::Acquire(int index) noexcept {
    CriticalSectionLock lock(m_lock);
    BufferSet* set = Allocated(index);
    if (!set || set->next < 0 || set->next >= set->frameCount) return nullptr;
    for (int step = 0; step < set->frameCount; ++step) {
        const int candidate = (set->next + step) % set->frameCount;
        FrameSlot& slot = set->frames[candidate];
        if (slot.locked) continue;
        set->next = candidate;
        set->active = 1;
        slot.locked = 1;
        return slot.desc.bits;
    }
    return nullptr;
}

void FrameRings::Publish(int index) noexcept {
    CriticalSectionLock lock(m_lock);
    BufferSet* set = Allocated(index);
    if (!set || set->next < 0 || set->next >= set->frameCount) return;
    set->frames[set->next].locked = 0;
    set->newest = set->next;
    set->next = (set->next + 1) % set->frameCount;
}

}  // namespace orvo
