// One buffer set of a camera with its own processor as a client streams from
// it: frames are taken when the camera's event says so and read back as the
// emulated pattern.
#pragma once
#include <gtest/gtest.h>

#include "command_status_rig.h"
#include "emulator/models/frame_pattern.h"
#include "win32/unique_handle.h"

namespace orvo::test {

class Stream {
public:
    Stream(CommandStatusRig& rig, int width, int height, int frames, int kind = kBufferKindVideo)
        : rig(rig), width(width), height(height) {
        EXPECT_EQ(rig.camera->CreateBuffer(kind, kPixelFormatBgr24, 0, width, height, frames, &set), ORVO_OK);
        EXPECT_TRUE(rig.camera->EnableCameraEvent(kind == kBufferKindVideo ? kEventVideoFrame : kEventStillFrame,
                                                  event.get()));
    }
    // Waits for the next frame and takes it; checks its pattern.
    bool Take(int* index, uint32_t* counter, emu::PatternCheck* check, DWORD timeoutMs = 5000) {
        // The event may stand for a frame already taken: then the newest is
        // ours and GetFrame says so; wait for the next one.
        FrameDesc desc{};
        int32_t result = ORVO_E_NO_FRAME;
        for (int tries = 0; tries < 10 && result == ORVO_E_NO_FRAME; ++tries) {
            if (::WaitForSingleObject(event.get(), timeoutMs) != WAIT_OBJECT_0) return false;
            result = rig.camera->GetFrame(set, index, &desc);
        }
        if (result != ORVO_OK) return false;
        bits = static_cast<const uint8_t*>(desc.bits);
        bitmap = desc.bitmap;
        *check = Check(counter);
        return true;
    }
    // Takes the next frame and gives it back at once.
    bool TakeAndRelease(emu::PatternCheck* check = nullptr) {
        int index = -1;
        uint32_t counter = 0;
        emu::PatternCheck seen;
        if (!Take(&index, &counter, &seen)) return false;
        if (check) *check = seen;
        return rig.camera->ReleaseFrame(set, index) == ORVO_OK;
    }
    emu::PatternCheck Check(uint32_t* counter) const {
        return emu::CheckPatternFrame(bits, uint32_t(height), size_t(DibStride(kPixelFormatBgr24, width)), counter);
    }

    CommandStatusRig& rig;
    int width, height;
    int set = -1;
    const uint8_t* bits = nullptr;
    HBITMAP bitmap = nullptr;
    win32::UniqueHandle event{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
};

}  // namespace orvo::test
