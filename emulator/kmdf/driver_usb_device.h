// The library's CUsbDevice with its six file calls handed to the I/O
// manager imitation in front of the driver stand-in.
#pragma once
#include "camera_api/transport/usb_device.h"
#include "emulator/kmdf/io_manager.h"

namespace orvo::kmdf {

class CDriverUsbDevice : public CUsbDevice {
public:
    explicit CDriverUsbDevice(CIoManager& io) : m_io(io) {}
    ~CDriverUsbDevice() override { Close(); }

protected:
    HANDLE CreateFileW(const wchar_t* name) override { return m_io.CreateFileW(name); }
    BOOL DeviceIoControl(HANDLE file, DWORD code, void* in, DWORD inLength, void* out, DWORD outLength,
                         DWORD* returned, OVERLAPPED* overlapped) override {
        return m_io.DeviceIoControl(file, code, in, inLength, out, outLength, returned, overlapped);
    }
    BOOL ReadFile(HANDLE file, void* buffer, DWORD length, DWORD* read, OVERLAPPED* overlapped) override {
        return m_io.ReadFile(file, buffer, length, read, overlapped);
    }
    BOOL WriteFile(HANDLE file, const void* buffer, DWORD length, DWORD* written, OVERLAPPED* overlapped) override {
        return m_io.WriteFile(file, buffer, length, written, overlapped);
    }
    BOOL ReadFileEx(HANDLE file, void* buffer, DWORD length, OVERLAPPED* overlapped,
                    LPOVERLAPPED_COMPLETION_ROUTINE routine) override {
        return m_io.ReadFileEx(file, buffer, length, overlapped, routine);
    }
    BOOL CancelIo(HANDLE file) override { return m_io.CancelIo(file); }

private:
    CIoManager& m_io;
};

}  // namespace orvo::kmdf
