// Streams 1280 x 720 frames from an emulated camera with its own processor
// and reports the process's CPU time per delivered frame as a ratio to one
// memcpy of a frame, both measured in this run. With "paced" the camera takes
// its frame time (30 fps) per frame, and the delivered rate is what counts;
// "winusb" plugs the camera on the emulated bus and streams through the
// emulated WinUsb.dll (always paced). Not a test: run it by hand,
//   tests/harness/wine-run.sh build/x64/bin/cameras_command_status_bench.exe [frames] [paced|winusb]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "camera_api/cameras/command_status_camera.h"
#include "camera_api/transport/orvo_usb_ioctl.h"
#include "camera_api/transport/winusb_device.h"
#include "emulator/bus/emulated_bus.h"
#include "emulator/models/frame_pattern.h"
#include "emulator/model_device.h"
#include "emulator/models/command_status_usb_model.h"
#include "support/child_process.h"
#include "win32/unique_handle.h"

using namespace orvo;

namespace {

constexpr int kWidth = 1280, kHeight = 720;
constexpr size_t kFrameBytes = size_t(kWidth) * kHeight * 3;

double ProcessCpuMs() {
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME& t) { return double(uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e4; };
    return ms(kernel) + ms(user);
}

double NowMs() {
    LARGE_INTEGER now, frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return double(now.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::atoi(argv[1]) : 300;
    const char* mode = argc > 2 ? argv[2] : "";
    const bool winUsb = std::strcmp(mode, "winusb") == 0;
    const bool paced = winUsb || std::strcmp(mode, "paced") == 0;
    emu::CCommandStatusUsbModel model(emu::Family::Alder, emu::DeviceIdentity{}, emu::PipeLayout{});
    model.FirmwareUnlocked().stampOnly = true;
    model.FirmwareUnlocked().SetFrameRate(30);
    // Unpaced: the host side's cost, not the camera's frame time.
    model.SetPaced(paced);
    emu::CModelDevice inProcess(model, false);
    // On the bus the firmware runs inside the emulated WinUsb.dll, from this description.
    emu::CEmulatedUsbBus bus;
    emu::PluggedDevice plugged;
    CWinUsbDevice pluggedDevice;
    CDevice* device = &inProcess;
    if (winUsb) {
        char vendor[16];
        std::snprintf(vendor, sizeof(vendor), "0x%04X", unsigned(ORVO_VENDOR_ID));
        const std::wstring unique = test::UniqueName(L"B");
        std::string serial;
        for (wchar_t c : unique) {
            if (c != L'_' && serial.size() < 15) serial.push_back(char(c));
        }
        if (!bus.Plug(kUsbDeviceInterfaceClass,
                      {{"model", "alder"}, {"vid", vendor}, {"pid", "0x0317"}, {"serial", serial}, {"rate", "30"}},
                      &plugged) ||
            !pluggedDevice.Open(plugged.path.c_str(), nullptr)) {
            std::printf("could not plug the emulated camera\n");
            return 1;
        }
        device = &pluggedDevice;
    } else if (!inProcess.Open(L"in-process", nullptr)) {
        return 1;
    }
    auto camera = std::make_unique<CZelAlder>(device);
    DeviceRecord record{};
    int set = -1;
    win32::UniqueHandle event(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!camera->Initialize(record) ||
        camera->CreateBuffer(kBufferKindVideo, kPixelFormatBgr24, 0, kWidth, kHeight, 3, &set) != ORVO_OK ||
        !camera->EnableCameraEvent(kEventVideoFrame, event.get()) || camera->StartCapture(set) != ORVO_OK) {
        std::printf("could not start the emulated camera\n");
        return 1;
    }
    auto take = [&](uint32_t* counter) {
        for (int tries = 0; tries < 10; ++tries) {
            if (::WaitForSingleObject(event.get(), 5000) != WAIT_OBJECT_0) return false;
            int index = -1;
            FrameDesc desc{};
            if (camera->GetFrame(set, &index, &desc) != ORVO_OK) continue;
            const auto check = emu::CheckPatternFrame(static_cast<const uint8_t*>(desc.bits), kHeight,
                                                      size_t(kWidth) * 3, counter);
            camera->ReleaseFrame(set, index);
            return check == emu::PatternCheck::Ok;
        }
        return false;
    };
    uint32_t first = 0, last = 0;
    for (int n = 0; n < 10; ++n) {
        if (!take(&first)) return 1;
    }
    const double cpu0 = ProcessCpuMs(), wall0 = NowMs();
    // The longest wait for a new frame: what a viewer sees as a stutter.
    double lastNew = wall0, longestGap = 0;
    uint32_t seen = first;
    for (int n = 0; n < frames; ++n) {
        if (!take(&last)) return 1;
        if (last == seen) continue;
        const double now = NowMs();
        longestGap = std::max(longestGap, now - lastNew);
        lastNew = now, seen = last;
    }
    const double cpu = ProcessCpuMs() - cpu0, wall = NowMs() - wall0;
    camera->StopCapture();
    camera.reset();
    if (winUsb) bus.Unplug(plugged.path);
    const uint32_t delivered = last - first;   // frames the camera sent, taken or not

    std::vector<uint8_t> from(kFrameBytes, 1), to(kFrameBytes);
    const int copies = 200;
    const double copy0 = NowMs();
    for (int n = 0; n < copies; ++n) {
        from[n] = uint8_t(n);
        std::memcpy(to.data(), from.data(), kFrameBytes);
    }
    const double copyMs = (NowMs() - copy0) / copies + (to[7] == 255 ? 1e-9 : 0.0);

    const double perFrame = cpu / delivered;
    std::printf("frames delivered %u (taken %d) in %.0f ms: %.1f per second\n", delivered, frames, wall,
                delivered * 1000.0 / wall);
    std::printf("longest wait for a new frame %.0f ms\n", longestGap);
    std::printf("process CPU per frame %.3f ms, memcpy of one frame %.3f ms, ratio %.2f\n", perFrame, copyMs,
                perFrame / copyMs);
    return 0;
}
