// A stand-in for the orvoUsb driver: CUsbDevice's pipe files are named pipes
// served by the test, and its I/O controls are answered from a descriptor
// table and recorded.
#pragma once
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "camera_api/transport/orvo_usb_ioctl.h"
#include "camera_api/transport/usb_device.h"
#include "support/child_process.h"
#include "win32/unique_handle.h"

namespace orvo::test {

inline std::vector<uint8_t> StringDescriptor(const std::wstring& text) {
    std::vector<uint8_t> d(2 + 2 * text.size());
    d[0] = uint8_t(d.size());
    d[1] = 3;
    for (size_t i = 0; i < text.size(); ++i) {
        d[2 + 2 * i] = uint8_t(text[i]);
        d[3 + 2 * i] = uint8_t(text[i] >> 8);
    }
    return d;
}

// A driver stand-in: pipe files are named pipes, I/O controls answer from
// tables and are recorded.
class SeamDevice : public CUsbDevice {
public:
    explicit SeamDevice(std::wstring pipeStem) : m_stem(std::move(pipeStem)) {}
    ~SeamDevice() override { Close(); }

    std::vector<std::wstring> opened;
    struct Call {
        DWORD code;
        std::vector<uint8_t> in;
        DWORD outLength;
    };
    std::vector<Call> calls;
    uint8_t device[18] = {18, 1, 0, 2, 0, 0, 0, 64, 0x4E, 0x2D, 0x03, 0x01, 0x07, 0x02, 0, 2, 3, 1};
    std::vector<uint8_t> product = StringDescriptor(std::wstring(40, L'p'));
    std::vector<uint8_t> serial = StringDescriptor(L"S123");
    bool answerDescriptors = true;
    std::vector<uint8_t> controlAnswer = {1, 2, 3, 4};

protected:
    HANDLE CreateFileW(const wchar_t* name) override {
        opened.emplace_back(name);
        std::wstring n(name);
        const size_t at = n.rfind(L"orvoUsb");
        // The device handle carries only I/O controls, which this seam answers.
        if (at == std::wstring::npos) return ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        std::wstring target = m_stem + n.substr(at + 7);
        return ::CreateFileW(target.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
    }
    // Answers at once, as a driver completing the request in its dispatch
    // routine does: the OVERLAPPED carries the result too.
    BOOL DeviceIoControl(HANDLE file, DWORD code, void* in, DWORD inLength, void* out, DWORD outLength,
                         DWORD* returned, OVERLAPPED* overlapped) override {
        const BOOL ok = Answer(file, code, in, inLength, out, outLength, returned);
        if (overlapped) {
            overlapped->InternalHigh = *returned;
            overlapped->Internal = ok ? 0 : 0xC0000001;  // STATUS_UNSUCCESSFUL
            if (overlapped->hEvent) ::SetEvent(overlapped->hEvent);
        }
        if (!ok) ::SetLastError(ERROR_GEN_FAILURE);
        return ok;
    }

private:
    BOOL Answer(HANDLE, DWORD code, void* in, DWORD inLength, void* out, DWORD outLength, DWORD* returned) {
        *returned = 0;
        auto* bytes = static_cast<uint8_t*>(in);
        calls.push_back({code, std::vector<uint8_t>(bytes, bytes + inLength), outLength});
        if (code == IOCTL_ORVOUSB_GET_DESCRIPTOR && answerDescriptors && inLength == 4) {
            const std::vector<uint8_t> d = bytes[0] == 1   ? std::vector<uint8_t>(device, device + 18)
                                           : bytes[1] == 2 ? product
                                           : bytes[1] == 3 ? serial
                                                           : std::vector<uint8_t>{};
            if (d.empty()) return FALSE;
            const DWORD n = std::min<DWORD>(outLength, DWORD(d.size()));
            std::memcpy(out, d.data(), n);
            *returned = n;
            return TRUE;
        }
        if (code == IOCTL_ORVOUSB_CONTROL_IN) {
            const DWORD n = std::min<DWORD>(outLength, DWORD(controlAnswer.size()));
            std::memcpy(out, controlAnswer.data(), n);
            *returned = n;
            return TRUE;
        }
        if (code == IOCTL_ORVOUSB_CONTROL_OUT) {
            *returned = outLength;
            return TRUE;
        }
        return code == IOCTL_ORVOUSB_RESET_PIPE;
    }

    std::wstring m_stem;
};

// Server ends of the three pipes and the device file.
class DriverStandIn {
public:
    DriverStandIn() : stem(L"\\\\.\\pipe\\" + UniqueName(L"orvousb") + L"_") {
        for (int i = 0; i < 3; ++i) {
            pipes[i].reset(::CreateNamedPipeW((stem + std::to_wstring(i)).c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE,
                                              1, 65536, 65536, 0, nullptr));
        }
    }
    bool Send(int pipe, const std::vector<uint8_t>& bytes) {
        DWORD n = 0;
        return ::WriteFile(pipes[pipe].get(), bytes.data(), DWORD(bytes.size()), &n, nullptr) && n == bytes.size();
    }
    std::vector<uint8_t> Receive(int pipe, DWORD max) {
        std::vector<uint8_t> bytes(max);
        DWORD n = 0;
        ::ReadFile(pipes[pipe].get(), bytes.data(), max, &n, nullptr);
        bytes.resize(n);
        return bytes;
    }
    std::wstring stem;
    win32::UniqueFileHandle pipes[3];
};

}  // namespace orvo::test
