// The stand-in proxy for a test: the driver installed and started, its helper
// serving, and the driver's private codes for reading what feeders sent.
#pragma once
#include <windows.h>
#include <cstring>
#include <string>
#include <vector>

#include "emulator/ksproxy/ksproxy_protocol.h"
#include "support/child_process.h"
#include "win32/unique_handle.h"

namespace orvo::test {

class KsProxyRig {
public:
    bool Start() {
        const std::wstring bin = ExeFolder();
        // A fresh driver: nothing left from an earlier run.
        ChildProcess uninstall;
        if (uninstall.Start(bin + L"orvo_ksproxy.exe", L"uninstall")) uninstall.Wait();
        ChildProcess install;
        if (!install.Start(bin + L"orvo_ksproxy.exe", L"install \"" + bin + L"zelksproxy.sys\"") || install.Wait() != 0)
            return false;
        control.reset(CreateFileW(L"\\\\.\\ZelKernelStreamingProxy", GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
        SetFaults(0);
        return control && m_serve.Start(bin + L"orvo_ksproxy.exe", L"serve");
    }
    ~KsProxyRig() {
        if (control) SetFaults(0);
        ChildProcess stop;
        if (stop.Start(ExeFolder() + L"orvo_ksproxy.exe", L"stop-serve")) stop.Wait();
        m_serve.Wait(30000);
    }

    bool SetFaults(ULONG faults) {
        DWORD got = 0;
        return DeviceIoControl(control.get(), ZKSP_IOCTL_FAULTS, &faults, sizeof(faults), nullptr, 0, &got, nullptr);
    }
    std::vector<uint8_t> LastRecord() {
        std::vector<uint8_t> record(ZKSP_MAX_RECORD);
        DWORD got = 0;
        if (!DeviceIoControl(control.get(), ZKSP_IOCTL_LAST_RECORD, nullptr, 0, record.data(), DWORD(record.size()),
                             &got, nullptr))
            got = 0;
        record.resize(got);
        return record;
    }
    // The camera's newest frame; false when the driver does not know it.
    bool ReadFrame(const GUID& camera, ZKSP_FRAME& frame, std::vector<uint8_t>& pixels) {
        std::vector<uint8_t> buffer(sizeof(ZKSP_FRAME) + 1920 * 1080 * 3);
        DWORD got = 0;
        if (!DeviceIoControl(control.get(), ZKSP_IOCTL_READ_FRAME, const_cast<GUID*>(&camera), sizeof(GUID),
                             buffer.data(), DWORD(buffer.size()), &got, nullptr))
            return false;
        std::memcpy(&frame, buffer.data(), sizeof(frame));
        pixels.assign(buffer.begin() + sizeof(frame), buffer.begin() + sizeof(frame) + frame.bytes);
        return true;
    }
    // Sends a raw ADD record and returns the int32 status, or 1 when the call failed.
    int Add(const std::vector<uint8_t>& record) {
        int status = 0;
        DWORD got = 0;
        if (!DeviceIoControl(control.get(), ZKSP_IOCTL_ADD_CAMERA, const_cast<uint8_t*>(record.data()),
                             DWORD(record.size()), &status, sizeof(status), &got, nullptr) ||
            got != sizeof(status))
            return 1;
        return status;
    }
    int Remove(const GUID& camera) {
        int status = 0;
        DWORD got = 0;
        if (!DeviceIoControl(control.get(), ZKSP_IOCTL_REMOVE_CAMERA, const_cast<GUID*>(&camera), sizeof(GUID),
                             &status, sizeof(status), &got, nullptr))
            return 1;
        return status;
    }

    win32::UniqueFileHandle control;

private:
    ChildProcess m_serve;
};

}  // namespace orvo::test
