#include "camera_api/transport/usb_device.h"

#include <algorithm>
#include <cwchar>
#include <iterator>

#include "camera_api/transport/orvo_usb_ioctl.h"
#include "camera_api/transport/alertable_wait.h"
#include "camera_api/transport/usb_descriptors.h"
#include "win32/pinned_thread.h"

namespace orvo {
namespace {

constexpr DWORD kListenerWaitMs = 10000;
constexpr DWORD kListenerJoinMs = 10000;
constexpr DWORD kListenerPiece = 512;
constexpr unsigned kPipeCount = 3;

}  // namespace

std::wstring PipeFileName(const wchar_t* path, unsigned pipe) {
    std::wstring name(path ? path : L"", path ? ::wcsnlen(path, kMaxDevicePathChars) : 0);
    name += L"\\\\.\\orvoUsb";
    name += wchar_t(L'0' + pipe % 10);
    return name;
}

CUsbDevice::CUsbDevice() : m_stopEvent(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

CUsbDevice::~CUsbDevice() {
    Close();
    m_stopEvent.reset();
    m_deviceHandle.reset();
}

HANDLE CUsbDevice::CreateFileW(const wchar_t* name) {
    return ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
}

BOOL CUsbDevice::DeviceIoControl(HANDLE file, DWORD code, void* in, DWORD inLength, void* out, DWORD outLength,
                                 DWORD* returned, OVERLAPPED* overlapped) {
    return ::DeviceIoControl(file, code, in, inLength, out, outLength, returned, overlapped);
}

BOOL CUsbDevice::ReadFile(HANDLE file, void* buffer, DWORD length, DWORD* read, OVERLAPPED* overlapped) {
    return ::ReadFile(file, buffer, length, read, overlapped);
}

BOOL CUsbDevice::WriteFile(HANDLE file, const void* buffer, DWORD length, DWORD* written, OVERLAPPED* overlapped) {
    return ::WriteFile(file, buffer, length, written, overlapped);
}

BOOL CUsbDevice::ReadFileEx(HANDLE file, void* buffer, DWORD length, OVERLAPPED* overlapped,
                            LPOVERLAPPED_COMPLETION_ROUTINE routine) {
    return ::ReadFileEx(file, buffer, length, overlapped, routine);
}

BOOL CUsbDevice::CancelIo(HANDLE file) { return ::CancelIo(file); }

// The handles are opened for overlapped I/O, so even the requests the driver
// answers at once go through an OVERLAPPED and are waited for.
BOOL CUsbDevice::DeviceControl(HANDLE file, DWORD code, void* in, DWORD inLength, void* out, DWORD outLength,
                               DWORD* returned) {
    *returned = 0;
    win32::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event) return FALSE;
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();
    if (!DeviceIoControl(file, code, in, inLength, out, outLength, returned, &overlapped) &&
        ::GetLastError() != ERROR_IO_PENDING) {
        return FALSE;
    }
    return ::GetOverlappedResult(file, &overlapped, returned, TRUE);
}

int32_t CUsbDevice::OpenDevice(const wchar_t* path) {
    if (!path) return 0;
    std::fill(std::begin(m_deviceDescriptor), std::end(m_deviceDescriptor), uint8_t(0));
    m_deviceHandle.reset(CreateFileW(path));
    if (!m_deviceHandle) return 0;
    OrvoUsbDescriptorRequest request{kDescriptorTypeDevice, 0, 0};
    uint8_t descriptor[kDeviceDescriptorLength] = {};
    DWORD returned = 0;
    if (!DeviceControl(m_deviceHandle.get(), IOCTL_ORVOUSB_GET_DESCRIPTOR, &request, sizeof(request), descriptor,
                       sizeof(descriptor), &returned) ||
        returned != kDeviceDescriptorLength) {
        return 0;
    }
    std::copy(std::begin(descriptor), std::end(descriptor), m_deviceDescriptor);
    return 1;
}

int32_t CUsbDevice::GetVendorId() { return DescriptorWord(m_deviceDescriptor, kVendorIdOffset); }
int32_t CUsbDevice::GetProductId() { return DescriptorWord(m_deviceDescriptor, kProductIdOffset); }
int32_t CUsbDevice::GetReleaseMajor() { return m_deviceDescriptor[kBcdDeviceOffset + 1]; }
int32_t CUsbDevice::GetReleaseMinor() { return m_deviceDescriptor[kBcdDeviceOffset]; }

bool CUsbDevice::GetString(uint8_t index, uint32_t maxChars, wchar_t* out) {
    if (!m_deviceHandle || index == 0 || !out) return false;
    OrvoUsbDescriptorRequest request{kDescriptorTypeString, index, kLanguageEnglishUs};
    uint8_t header[4] = {};
    DWORD returned = 0;
    if (!DeviceControl(m_deviceHandle.get(), IOCTL_ORVOUSB_GET_DESCRIPTOR, &request, sizeof(request), header,
                       sizeof(header), &returned) ||
        returned == 0 || header[0] == 0) {
        return false;
    }
    uint8_t descriptor[256] = {};
    const DWORD length = header[0];
    if (!DeviceControl(m_deviceHandle.get(), IOCTL_ORVOUSB_GET_DESCRIPTOR, &request, sizeof(request), descriptor,
                       length, &returned)) {
        return false;
    }
    return CopyStringDescriptor(descriptor, std::min<DWORD>(returned, length), maxChars, out);
}

int32_t CUsbDevice::GetProductString(uint32_t maxChars, wchar_t* out) {
    return GetString(m_deviceDescriptor[kProductIndexOffset], maxChars, out) ? 1 : 0;
}

int32_t CUsbDevice::GetSerialNumber(uint32_t maxChars, wchar_t* out) {
    return GetString(m_deviceDescriptor[kSerialIndexOffset], maxChars, out) ? 1 : 0;
}

int32_t CUsbDevice::Open(const wchar_t* path, IDeviceListener* listener) {
    if (!path || m_commandPipe || m_responsePipe || m_dataPipe) return 0;
    m_failed = 0;
    ::wcsncpy(m_path, path, kMaxDevicePathChars);
    m_path[kMaxDevicePathChars] = L'\0';
    if (!m_deviceHandle && !OpenDevice(path)) return 0;
    win32::UniqueFileHandle* pipes[kPipeCount] = {&m_commandPipe, &m_responsePipe, &m_dataPipe};
    for (unsigned i = 0; i < kPipeCount; ++i) {
        pipes[i]->reset(CreateFileW(PipeFileName(m_path, i).c_str()));
        if (!*pipes[i]) return 0;  // the pipes opened so far stay open until Close
    }
    m_listener = listener;
    if (m_listener) m_listener->OnOpened();
    return 1;
}

void CUsbDevice::Close() {
    StopThreads();
    m_dataPipe.reset();
    m_responsePipe.reset();
    m_commandPipe.reset();
    m_listener = nullptr;
}

void CUsbDevice::MarkFailed() {
    if (m_failed.exchange(1) == 0 && m_listener) m_listener->OnDeviceLost();
}

int32_t CUsbDevice::Write(const uint8_t* data, uint32_t length) {
    if (!m_commandPipe || m_failed || (!data && length)) return 0;
    win32::UniqueHandle event(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    bool ok = false;
    if (event) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = event.get();
        DWORD written = 0;
        bool started = WriteFile(m_commandPipe.get(), data, length, &written, &overlapped) != FALSE;
        if (!started && ::GetLastError() == ERROR_IO_PENDING) {
            started = true;
            if (WaitAlertable(event.get(), kTransferTimeoutMs) != WAIT_OBJECT_0) {
                CancelIo(m_commandPipe.get());
                DWORD ignored = 0;
                DeviceControl(m_commandPipe.get(), IOCTL_ORVOUSB_RESET_PIPE, nullptr, 0, nullptr, 0, &ignored);
            }
        }
        // Collected with a wait: a cancelled write may still be finishing, and
        // its OVERLAPPED lives on this stack.
        ok = started && ::GetOverlappedResult(m_commandPipe.get(), &overlapped, &written, TRUE) && written == length;
    }
    if (ok) return 1;
    MarkFailed();
    return 0;
}

bool CUsbDevice::ListenerRunning() const noexcept {
    return m_listenerThread && ::WaitForSingleObject(m_listenerThread.get(), 0) == WAIT_TIMEOUT;
}

bool CUsbDevice::BeginRead(win32::UniqueFileHandle& pipe, OVERLAPPED& overlapped, uint8_t* buffer,
                           uint32_t length, HANDLE event) {
    if (!pipe || m_failed || ListenerRunning() || !event || (!buffer && length)) return false;
    overlapped = OVERLAPPED{};
    overlapped.hEvent = event;
    ::ResetEvent(event);
    DWORD n = 0;
    if (ReadFile(pipe.get(), buffer, length, &n, &overlapped) || ::GetLastError() == ERROR_IO_PENDING) return true;
    overlapped.hEvent = nullptr;
    return false;
}

bool CUsbDevice::WaitRead(win32::UniqueFileHandle& pipe, OVERLAPPED& overlapped, uint32_t* bytesRead,
                          DWORD timeoutMs) {
    if (bytesRead) *bytesRead = 0;
    if (!pipe || !bytesRead) return false;
    if (!overlapped.hEvent) return true;  // nothing was started
    if (m_failed) return false;
    DWORD n = 0;
    bool ok;
    if (::WaitForSingleObject(overlapped.hEvent, timeoutMs) != WAIT_OBJECT_0) {
        DWORD ignored = 0;
        DeviceControl(pipe.get(), IOCTL_ORVOUSB_RESET_PIPE, nullptr, 0, nullptr, 0, &ignored);
        CancelIo(pipe.get());
        ::GetOverlappedResult(pipe.get(), &overlapped, &n, TRUE);
        ok = false;
    } else {
        // A read that completed with an error is not reported as data.
        ok = ::GetOverlappedResult(pipe.get(), &overlapped, &n, FALSE) != FALSE;
        *bytesRead = ok ? n : 0;
    }
    overlapped.hEvent = nullptr;
    return ok;
}

int32_t CUsbDevice::BeginReadResponse(uint8_t* buffer, uint32_t length, HANDLE event) {
    return BeginRead(m_responsePipe, m_responseOverlapped, buffer, length, event) ? 1 : 0;
}

int32_t CUsbDevice::WaitResponse(uint32_t* bytesRead, DWORD timeoutMs) {
    return WaitRead(m_responsePipe, m_responseOverlapped, bytesRead, timeoutMs) ? 1 : 0;
}

int32_t CUsbDevice::ReadResponse(uint8_t* buffer, uint32_t length, uint32_t* bytesRead) {
    if (bytesRead) *bytesRead = 0;
    win32::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event || !BeginReadResponse(buffer, length, event.get())) return 0;
    return WaitResponse(bytesRead, kTransferTimeoutMs);
}

int32_t CUsbDevice::BeginReadData(uint8_t* buffer, uint32_t length, HANDLE event) {
    return BeginRead(m_dataPipe, m_dataOverlapped, buffer, length, event) ? 1 : 0;
}

int32_t CUsbDevice::WaitData(uint32_t* bytesRead, DWORD timeoutMs) {
    return WaitRead(m_dataPipe, m_dataOverlapped, bytesRead, timeoutMs) ? 1 : 0;
}

int32_t CUsbDevice::ReadData(uint8_t* buffer, uint32_t length, uint32_t* bytesRead) {
    if (bytesRead) *bytesRead = 0;
    win32::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event || !BeginReadData(buffer, length, event.get())) return 0;
    return WaitData(bytesRead, kTransferTimeoutMs);
}

bool CUsbDevice::Control(DWORD code, uint8_t type, uint8_t recipient, uint8_t request, uint16_t value,
                         uint16_t index, uint8_t* buffer, uint32_t length, uint32_t* moved) {
    *moved = 0;
    if (!m_deviceHandle || m_failed || (!buffer && length)) return false;
    OrvoUsbControlRequest setup{type, recipient, 0, request, value, index};
    DWORD returned = 0;
    if (!DeviceControl(m_deviceHandle.get(), code, &setup, sizeof(setup), buffer, length, &returned)) return false;
    *moved = std::min<DWORD>(returned, length);
    return true;
}

int32_t CUsbDevice::ControlIn(uint8_t type, uint8_t recipient, uint8_t request, uint16_t value, uint16_t index,
                              uint8_t* buffer, uint32_t length) {
    uint32_t moved = 0;
    return Control(IOCTL_ORVOUSB_CONTROL_IN, type, recipient, request, value, index, buffer, length, &moved) &&
           moved == length;
}

int32_t CUsbDevice::ControlInCount(uint8_t type, uint8_t recipient, uint8_t request, uint16_t value, uint16_t index,
                                   uint8_t* buffer, uint32_t length) {
    uint32_t moved = 0;
    return Control(IOCTL_ORVOUSB_CONTROL_IN, type, recipient, request, value, index, buffer, length, &moved)
               ? int32_t(moved)
               : 0;
}

int32_t CUsbDevice::ControlOut(uint8_t type, uint8_t recipient, uint8_t request, uint16_t value, uint16_t index,
                               uint8_t* buffer, uint32_t length) {
    uint32_t moved = 0;
    return Control(IOCTL_ORVOUSB_CONTROL_OUT, type, recipient, request, value, index, buffer, length, &moved) &&
           moved == length;
}

// --- listener ---------------------------------------------------------------

int32_t CUsbDevice::StartListener() {
    if (!m_dataPipe || !m_stopEvent || ListenerRunning()) return 0;
    m_listenerThread.reset(win32::CreatePinnedThread(&ListenerThread, this, 0));
    return m_listenerThread ? 1 : 0;
}

int32_t CUsbDevice::StopThreads() {
    if (!m_listenerThread) return 1;
    ::SetEvent(m_stopEvent.get());
    if (::WaitForSingleObject(m_listenerThread.get(), kListenerJoinMs) == WAIT_OBJECT_0) {
        m_listenerThread.reset();
        return 1;
    }
    return 0;
}

DWORD WINAPI CUsbDevice::ListenerThread(void* self) {
    static_cast<CUsbDevice*>(self)->RunListener();
    return 0;
}

// ReadFileEx leaves hEvent to the caller: it carries the device object.
VOID CALLBACK CUsbDevice::ListenerReadDone(DWORD error, DWORD bytes, LPOVERLAPPED overlapped) {
    auto* self = static_cast<CUsbDevice*>(overlapped->hEvent);
    self->m_completionError = error;
    self->m_completionBytes = bytes;
    self->m_completionSeen = 1;
}

void CUsbDevice::RunListener() {
    uint8_t piece[kListenerPiece];
    for (;;) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = this;
        m_completionSeen = 0;
        if (!ReadFileEx(m_dataPipe.get(), piece, sizeof(piece), &overlapped, &ListenerReadDone)) {
            MarkFailed();
            break;
        }
        bool stop = false;
        while (!m_completionSeen && !stop) {
            const DWORD wait = ::WaitForSingleObjectEx(m_stopEvent.get(), kListenerWaitMs, TRUE);
            if (wait == WAIT_OBJECT_0 || wait == WAIT_FAILED) stop = true;
        }
        if (stop) {
            DWORD ignored = 0;
            DeviceControl(m_dataPipe.get(), IOCTL_ORVOUSB_RESET_PIPE, nullptr, 0, nullptr, 0, &ignored);
            CancelIo(m_dataPipe.get());
            // The cancelled read reports through its completion routine.
            while (!m_completionSeen) ::SleepEx(kListenerWaitMs, TRUE);
            if (m_listener) m_listener->OnData(nullptr, 0);
            break;
        }
        if (m_completionError != 0 || m_completionBytes == 0) {
            MarkFailed();
            break;
        }
        if (m_listener) m_listener->OnData(piece, std::min<DWORD>(m_completionBytes, sizeof(piece)));
    }
    m_dataPipe.reset();
}

}  // namespace orvo
