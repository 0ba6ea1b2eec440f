// A client process of the camera library with emulated cameras on the bus:
// the real orvoApi.dll, enumeration, transport and camera code, and the
// emulated WinUsb.dll beside it. The library's window lives on the test's
// thread, so every wait pumps its messages.
#pragma once
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "camera_api/api/orvo_api_client.h"
#include "camera_api/devices/device_manager.h"
#include "emulator/bus/emulated_bus.h"
#include "emulator/models/frame_pattern.h"
#include "support/child_process.h"
#include "win32/message_wait.h"
#include "win32/unique_handle.h"

namespace orvo::test {

constexpr int kFrameWidth = 640, kFrameHeight = 480;
constexpr DWORD kEventWaitMs = 10000;

inline std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// A serial number no other test of the session uses (at most 15 characters).
inline std::wstring UniqueSerial(const wchar_t* stem) {
    std::wstring name = UniqueName(stem);
    name.erase(std::remove(name.begin(), name.end(), L'_'), name.end());
    return name.substr(0, 15);
}

// The maker's vendor id as a description writes it.
inline std::string VendorId() {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%04X", unsigned(ORVO_VENDOR_ID));
    return text;
}

inline emu::DeviceSettings AlderCamera(const std::wstring& serial) {
    return {{"model", "alder"}, {"vid", VendorId()}, {"pid", "0x0317"}, {"serial", Narrow(serial)},
            {"product", "System camera"}};
}

inline bool WaitPumping(HANDLE event, DWORD ms = kEventWaitMs) { return win32::WaitPumpingMessages(event, ms); }

// The library loaded once per process, as a client does.
class LibraryClient {
public:
    bool Start() {
        if (!api.Load() || api.orvo_InitializeApi() != ORVO_OK) return false;
        return apiEvent && api.orvo_EnableApiEvent(0, apiEvent.get()) == ORVO_OK;
    }
    ~LibraryClient() {
        if (api.orvo_EnableApiEvent) api.orvo_EnableApiEvent(0, nullptr);
    }

    std::vector<DeviceEntry> List() {
        DeviceEntry entries[8];
        int count = 0;
        const int32_t result = api.orvo_GetDeviceList(sizeof(entries), entries, &count);
        if (result != ORVO_OK && result != ORVO_E_MORE_DATA) count = 0;
        count = std::min(std::max(count, 0), 8);  // never past the array, whatever the library says
        return std::vector<DeviceEntry>(entries, entries + count);
    }
    // The device id of the camera with this serial, or -1.
    int Find(const std::wstring& serial) {
        for (const DeviceEntry& e : List()) {
            if (serial == e.serialNumber) return e.deviceId;
        }
        return -1;
    }
    // Pumps until the camera is listed (arrivals reach the window).
    int WaitListed(const std::wstring& serial, DWORD ms = kEventWaitMs) {
        const ULONGLONG deadline = ::GetTickCount64() + ms;
        for (;;) {
            const int id = Find(serial);
            if (id >= 0 || ::GetTickCount64() > deadline) return id;
            WaitPumping(apiEvent.get(), 200);
        }
    }

    OrvoApiClient api;
    win32::UniqueHandle apiEvent{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
};

// Video streaming from an open camera at 640 x 480 into a ring of frames.
class VideoStream {
public:
    VideoStream(OrvoApiClient& api, int handle) : m_api(api), m_handle(handle) {}
    ~VideoStream() { Stop(); }

    int32_t Start(int frames = 3) {
        int32_t result = m_api.orvo_EnableCameraEvent(m_handle, 0, frameEvent.get());
        if (result == ORVO_OK) result = m_api.orvo_EnableCameraEvent(m_handle, 2, statusEvent.get());
        if (result == ORVO_OK) {
            result = m_api.orvo_CreateBuffer(m_handle, 0, 1, 0, kFrameWidth, kFrameHeight, frames, &m_buffer);
        }
        if (result == ORVO_OK) result = m_api.orvo_StartCapture(m_handle, m_buffer);
        return result;
    }
    // Waits for the next frame and checks it: a whole, upright pattern frame.
    // Returns its counter, or 0 when none came or it was not right.
    uint32_t NextFrame() {
        const ULONGLONG deadline = ::GetTickCount64() + kEventWaitMs;
        while (::GetTickCount64() < deadline) {
            if (!WaitPumping(frameEvent.get(), 1000)) continue;
            int index = -1;
            FrameDesc frame{};
            if (m_api.orvo_GetFrame(m_handle, m_buffer, &index, &frame) != ORVO_OK) continue;
            uint32_t counter = 0;
            lastCheck = emu::CheckPatternFrame(static_cast<const uint8_t*>(frame.bits), kFrameHeight,
                                               size_t(kFrameWidth) * 3, &counter);
            m_api.orvo_ReleaseFrame(m_handle, m_buffer, index);
            return lastCheck == emu::PatternCheck::Ok ? counter : 0;
        }
        return 0;
    }
    void Stop() {
        if (m_buffer < 0) return;
        m_api.orvo_StopCapture(m_handle);
        m_api.orvo_DeleteBuffer(m_handle, m_buffer);
        m_buffer = -1;
    }

    win32::UniqueHandle frameEvent{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    win32::UniqueHandle statusEvent{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    emu::PatternCheck lastCheck = emu::PatternCheck::NotAPattern;

private:
    OrvoApiClient& m_api;
    int m_handle;
    int m_buffer = -1;
};

}  // namespace orvo::test
