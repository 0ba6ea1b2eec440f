// CPU time per megabyte of 5-megapixel frames read through CUsbDevice, the
// driver on its stand-in and an emulated bulk pipe, against a memcpy of the
// same bytes in the same run. Run by hand: wine driver_benchmark.exe [frames]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "emulator/kmdf/driver_host.h"
#include "emulator/kmdf/driver_usb_device.h"
#include "emulator/scripted_model.h"

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) {
        return double((ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Enough frames that the process clock's 10 ms ticks stay a few per cent.
    const int frames = argc > 1 ? _wtoi(argv[1]) : 1500;
    const uint32_t frameBytes = 2592 * 1944;  // 5 megapixels, 8 bits each
    const double megabytes = double(frameBytes) * frames / (1024.0 * 1024.0);

    orvo::emu::DeviceIdentity identity;
    identity.vendorId = 0x2D4E;
    identity.productId = 0x0308;
    orvo::emu::CScriptedUsbModel camera(identity, orvo::emu::PipeLayout{});
    std::vector<uint8_t> frame(frameBytes);
    for (uint32_t i = 0; i < frameBytes; ++i) frame[i] = uint8_t(i * 7 + (i >> 11));
    camera.LoopFrame(frame);

    orvo::kmdf::HostOptions options;
    options.driverEntry = &DriverEntry;
    orvo::kmdf::CDriverHost host(camera, options);
    if (host.Start() != 0) return 1;
    double driverSeconds = 0;
    {
        orvo::kmdf::CDriverUsbDevice device(host.Io());
        if (!device.Open(host.InterfacePath().c_str(), nullptr)) return 1;
        std::vector<uint8_t> buffer(frameBytes);
        uint32_t got = 0;
        device.ReadData(buffer.data(), frameBytes, &got);  // warm up
        const double start = ProcessCpuSeconds();
        for (int i = 0; i < frames; ++i) {
            if (!device.ReadData(buffer.data(), frameBytes, &got) || got != frameBytes) {
                std::printf("error: frame %d: %u bytes\n", i, got);
                return 1;
            }
        }
        driverSeconds = ProcessCpuSeconds() - start;
        if (std::memcmp(buffer.data(), frame.data(), frameBytes) != 0) std::printf("error: frame content\n");
    }
    host.Remove();

    std::vector<uint8_t> target(frameBytes);
    const double start = ProcessCpuSeconds();
    for (int i = 0; i < frames; ++i) {
        std::memcpy(target.data(), frame.data(), frameBytes);
        frame[i % frameBytes] ^= target[(i * 4099) % frameBytes];  // keep the copies
    }
    const double copySeconds = ProcessCpuSeconds() - start;

    std::printf("%d frames of %u bytes (%.0f MB)\n", frames, frameBytes, megabytes);
    std::printf("driver path: %.3f ms CPU per MB\n", driverSeconds * 1000 / megabytes);
    std::printf("memcpy:      %.3f ms CPU per MB\n", copySeconds * 1000 / megabytes);
    std::printf("ratio:       %.2f x memcpy\n", copySeconds > 0 ? driverSeconds / copySeconds : 0.0);
    for (const std::string& finding : host.Verifier().Findings()) std::printf("verifier: %s\n", finding.c_str());
    return 0;
}
