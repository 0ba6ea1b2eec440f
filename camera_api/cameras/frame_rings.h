// A camera's eight frame rings (buffer sets) of GDI DIB sections, and the
// protocol between the capture thread that writes frames and the client that
// takes them: the client never waits, and a frame it holds is never written.
#pragma once
#include <windows.h>
#include <cstdint>
#include <memory>

#include "camera_api/api/orvo_api.h"
#include "win32/critical_section.h"

namespace orvo {

constexpr int kMaxBufferSets = 8;
constexpr int kBufferKindVideo = 0;
constexpr int kBufferKindStill = 1;
constexpr int kPixelFormatBgra32 = 0;
constexpr int kPixelFormatBgr24 = 1;
constexpr int kPixelFormatGrey8 = 2;

struct FrameSlot {
    int32_t locked = 0;     // 1 while the writer fills it or a client holds it
    FrameDesc desc{};       // reserved 0, the DIB section and its pixels
};

struct BufferSet {
    int32_t kind = 0;
    int32_t pixelFormat = 0;
    int32_t active = 0;     // capture runs on this set
    int32_t newest = 0;     // most recently completed frame
    int32_t next = 0;       // where the writer looks first for a free frame
    int32_t frameCount = 0; // 0: the set is free
    int32_t width = 0;
    int32_t height = 0;     // negative: top-down rows
    void* context = nullptr;   // model-owned per-set object
    std::unique_ptr<FrameSlot[]> frames;
};

// Bytes per row of a DIB of that format and width (rows are 4-byte aligned).
int32_t DibStride(int pixelFormat, int width) noexcept;

class FrameRings {
public:
    FrameRings() = default;
    ~FrameRings();
    FrameRings(const FrameRings&) = delete;
    FrameRings& operator=(const FrameRings&) = delete;

    int32_t Create(int kind, int pixelFormat, int width, int height, int frameCount, int* index) noexcept;
    int32_t Delete(int index) noexcept;
    int32_t GetFrame(int index, int* frameIndex, FrameDesc* frame) noexcept;
    int32_t Release(int index, int frameIndex) noexcept;

    // Writer side: the pixels of a free frame of the set (held by the writer
    // until Publish), or null when every frame is held and the image must be dropped.
    void* Acquire(int index) noexcept;
    void Publish(int index) noexcept;

    // The lock that guards every set, its frames and their lock flags.
    win32::CriticalSection& Lock() noexcept { return m_lock; }
    // Set access for callers holding Lock(); null for an index outside 0..7 or a free set.
    BufferSet* Allocated(int index) noexcept;
    BufferSet& At(int index) noexcept { return m_sets[index]; }
    bool AnyFrameLocked(const BufferSet& set) const noexcept;
    int Count() const noexcept { return m_count; }
    int CountOfKind(int kind) const noexcept { return kind == kBufferKindVideo ? m_videoCount : m_stillCount; }

private:
    void FreeSet(BufferSet& set) noexcept;

    win32::CriticalSection m_lock;
    BufferSet m_sets[kMaxBufferSets];
    int m_count = 0;
    int m_videoCount = 0;
    int m_stillCount = 0;
};

}  // namespace orvo
