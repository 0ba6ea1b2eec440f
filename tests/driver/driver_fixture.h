// The orvoUsb driver on the KMDF stand-in over an emulated camera: a host
// per test, file handles through the I/O manager imitation, and helpers
// that issue requests as user mode does.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "emulator/kmdf/driver_host.h"
#include "emulator/scripted_model.h"
#include "win32/unique_handle.h"

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace orvo::test {

constexpr uint8_t kDataPipe = 2;  // orvoUsb2: bulk IN 0x82
constexpr uint8_t kResponsePipe = 1;
constexpr uint8_t kCommandPipe = 0;
constexpr uint32_t kStage = 262144;

inline std::unique_ptr<emu::CScriptedUsbModel> MakeCamera(uint16_t productId = 0x0317) {
    emu::DeviceIdentity identity;
    identity.vendorId = 0x2D4E;
    identity.productId = productId;
    identity.manufacturer = L"Quenlow";
    identity.product = L"Test camera";
    identity.serial = L"SN0001";
    return std::make_unique<emu::CScriptedUsbModel>(identity, emu::PipeLayout{});
}

inline std::vector<uint8_t> Pattern(size_t size, uint32_t seed = 1) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        bytes[i] = uint8_t(x >> 16);
    }
    return bytes;
}

// One request in flight with its own event.
struct Pending {
    Pending() : event(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) { overlapped.hEvent = event.get(); }
    win32::UniqueHandle event;
    OVERLAPPED overlapped{};
    BOOL started = FALSE;
    DWORD error = 0;
};

struct Result {
    bool ok = false;
    DWORD error = 0;
    DWORD bytes = 0;
};

class DriverTest : public ::testing::Test {
public:
    void SetUp() override { camera = MakeCamera(); }
    void TearDown() override {
        files.clear();
        host.reset();
    }

    NTSTATUS StartHost(kmdf::HostOptions options = {}) {
        options.driverEntry = &DriverEntry;
        host = std::make_unique<kmdf::CDriverHost>(*camera, options);
        return host->Start();
    }
    kmdf::CIoManager& Io() { return host->Io(); }

    // Opens the device (pipe < 0) or a pipe file; INVALID_HANDLE_VALUE on
    // failure.
    HANDLE Open(int pipe) {
        std::wstring name = host->InterfacePath();
        if (pipe >= 0) name += L"\\\\.\\orvoUsb" + std::to_wstring(pipe);
        return OpenName(name);
    }
    HANDLE OpenName(const std::wstring& name) {
        HANDLE handle = Io().CreateFileW(name.c_str());
        if (handle != INVALID_HANDLE_VALUE) files.emplace_back(handle);
        return handle;
    }

    void BeginRead(HANDLE file, void* buffer, DWORD length, Pending& pending) {
        DWORD n = 0;
        pending.started = Io().ReadFile(file, buffer, length, &n, &pending.overlapped);
        pending.error = pending.started ? 0 : ::GetLastError();
    }
    void BeginWrite(HANDLE file, const void* buffer, DWORD length, Pending& pending) {
        DWORD n = 0;
        pending.started = Io().WriteFile(file, buffer, length, &n, &pending.overlapped);
        pending.error = pending.started ? 0 : ::GetLastError();
    }
    // Waits (generously) and collects through the real GetOverlappedResult.
    Result Wait(HANDLE file, Pending& pending, DWORD timeoutMs = 20000) {
        Result result;
        if (!pending.started && pending.error != ERROR_IO_PENDING) {
            result.error = pending.error;
            return result;
        }
        if (::WaitForSingleObject(pending.event.get(), timeoutMs) != WAIT_OBJECT_0) {
            result.error = WAIT_TIMEOUT;
            return result;
        }
        result.ok = ::GetOverlappedResult(file, &pending.overlapped, &result.bytes, FALSE) != FALSE;
        result.error = result.ok ? 0 : ::GetLastError();
        return result;
    }
    Result Read(HANDLE file, void* buffer, DWORD length) {
        Pending pending;
        BeginRead(file, buffer, length, pending);
        return Wait(file, pending);
    }
    Result Write(HANDLE file, const void* buffer, DWORD length) {
        Pending pending;
        BeginWrite(file, buffer, length, pending);
        return Wait(file, pending);
    }
    Result Ioctl(HANDLE file, DWORD code, const void* in, DWORD inLength, void* out, DWORD outLength) {
        Pending pending;
        DWORD n = 0;
        pending.started = Io().DeviceIoControl(file, code, const_cast<void*>(in), inLength, out, outLength, &n,
                                               &pending.overlapped);
        pending.error = pending.started ? 0 : ::GetLastError();
        if (pending.started) return Result{true, 0, n};
        return Wait(file, pending);
    }

    std::vector<std::string> Findings() { return host->Verifier().Findings(); }

    std::unique_ptr<emu::CScriptedUsbModel> camera;
    std::unique_ptr<kmdf::CDriverHost> host;
    std::vector<win32::UniqueHandle> files;
};

#define EXPECT_VERIFIER_CLEAN() EXPECT_EQ(Findings(), std::vector<std::string>{})

}  // namespace orvo::test
