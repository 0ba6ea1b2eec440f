#include "camera_api/transport/winusb_device.h"

#include <algorithm>
#include <cwchar>
#include <iterator>

#include "camera_api/transport/alertable_wait.h"
#include "camera_api/transport/usb_descriptors.h"

namespace orvo {
namespace {

constexpr uint8_t kIsochAlternateSetting = 1;
constexpr uint32_t kStringBufferBytes = 64;
constexpr uint32_t kMaxStringChars = 31;
constexpr ULONG kPipeTypeIsochronous = 1;
constexpr ULONG kPipeTypeBulk = 2;

}  // namespace

CWinUsbDevice::CWinUsbDevice() { BindWinUsb(m_winUsb); }

CWinUsbDevice::~CWinUsbDevice() {
    Close();
    if (m_winUsb.basicAvailable) m_engine.Release();
    if (m_interface && m_winUsb.Free) m_winUsb.Free(m_interface);
    m_interface = nullptr;
    m_file.reset();
    m_winUsb = WinUsbApi{};
}

int32_t CWinUsbDevice::IsIsochronous() { return m_engine.IsIsochronous() ? 1 : 0; }

int32_t CWinUsbDevice::OpenDevice(const wchar_t* path) {
    std::fill(std::begin(m_deviceDescriptor), std::end(m_deviceDescriptor), uint8_t(0));
    if (!m_winUsb.basicAvailable || !path) return 0;
    // An open interface is kept: the data pipe's ring is bound to it.
    if (!m_interface) {
        m_file.reset(::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr));
        if (!m_file) return 0;
        WINUSB_INTERFACE_HANDLE handle = nullptr;
        if (!m_winUsb.Initialize(m_file.get(), &handle)) return 0;
        m_interface = handle;
    }
    ULONG n = 0;
    if (!m_winUsb.GetDescriptor(m_interface, kDescriptorTypeDevice, 0, 0, m_deviceDescriptor,
                                kDeviceDescriptorLength, &n) ||
        n != kDeviceDescriptorLength) {
        return 0;
    }
    const ChunkFlags flags = ChunkFlagsFromSubClass(m_deviceDescriptor[kDeviceSubClassOffset]);
    m_commandChunk = flags.commandChunk;
    m_responseChunk = flags.responseChunk;
    return 1;
}

int32_t CWinUsbDevice::GetVendorId() { return DescriptorWord(m_deviceDescriptor, kVendorIdOffset); }
int32_t CWinUsbDevice::GetProductId() { return DescriptorWord(m_deviceDescriptor, kProductIdOffset); }
int32_t CWinUsbDevice::GetReleaseMajor() { return m_deviceDescriptor[kBcdDeviceOffset + 1]; }
int32_t CWinUsbDevice::GetReleaseMinor() { return m_deviceDescriptor[kBcdDeviceOffset]; }

bool CWinUsbDevice::GetString(uint8_t index, uint32_t maxChars, wchar_t* out) {
    if (!m_winUsb.basicAvailable || !m_interface || index == 0 || !out) return false;
    uint8_t descriptor[kStringBufferBytes] = {};
    ULONG n = 0;
    if (!m_winUsb.GetDescriptor(m_interface, kDescriptorTypeString, index, kLanguageEnglishUs, descriptor,
                                sizeof(descriptor), &n)) {
        return false;
    }
    return CopyStringDescriptor(descriptor, std::min<ULONG>(n, sizeof(descriptor)), std::min(maxChars, kMaxStringChars),
                                out);
}

int32_t CWinUsbDevice::GetProductString(uint32_t maxChars, wchar_t* out) {
    return GetString(m_deviceDescriptor[kProductIndexOffset], maxChars, out) ? 1 : 0;
}

int32_t CWinUsbDevice::GetSerialNumber(uint32_t maxChars, wchar_t* out) {
    return GetString(m_deviceDescriptor[kSerialIndexOffset], maxChars, out) ? 1 : 0;
}

int32_t CWinUsbDevice::Open(const wchar_t* path, IDeviceListener* listener) {
    if (!m_winUsb.basicAvailable || !path) return 0;
    if (m_commandPipeId != kNoPipe || m_responsePipeId != kNoPipe || m_dataPipeId != kNoPipe) return 0;
    m_failed = 0;
    ::wcsncpy(m_path, path, kMaxDevicePathChars);
    m_path[kMaxDevicePathChars] = L'\0';
    if (!m_file || !m_interface) {
        if (!OpenDevice(path)) return 0;
    }
    USB_INTERFACE_DESCRIPTOR setting{};
    if (!SelectInterface(setting) || !WalkPipes(setting)) return 0;
    m_listener = listener;
    if (m_listener) m_listener->OnOpened();
    return 1;
}

bool CWinUsbDevice::SelectInterface(USB_INTERFACE_DESCRIPTOR& setting) {
    if (m_winUsb.isochAvailable) {
        return m_winUsb.QueryInterfaceSettings(m_interface, kIsochAlternateSetting, &setting) &&
               m_winUsb.SetCurrentAlternateSetting(m_interface, kIsochAlternateSetting);
    }
    return m_winUsb.QueryInterfaceSettings(m_interface, 0, &setting) != FALSE;
}

bool CWinUsbDevice::WalkPipes(const USB_INTERFACE_DESCRIPTOR& setting) {
    for (UCHAR i = 0; i < setting.bNumEndpoints; ++i) {
        WINUSB_PIPE_INFORMATION_EX pipe{};
        if (m_winUsb.isochAvailable) {
            if (!m_winUsb.QueryPipeEx(m_interface, setting.bAlternateSetting, i, &pipe)) return false;
        } else {
            WINUSB_PIPE_INFORMATION basic{};
            if (!m_winUsb.QueryPipe(m_interface, setting.bAlternateSetting, i, &basic)) return false;
            pipe.PipeType = basic.PipeType;
            pipe.PipeId = basic.PipeId;
            pipe.MaximumPacketSize = basic.MaximumPacketSize;
            pipe.Interval = basic.Interval;
        }
        const bool in = (pipe.PipeId & 0x80) != 0;
        if (i < 2) {
            (in ? m_responsePipeId : m_commandPipeId) = pipe.PipeId;
            continue;
        }
        if (!in) break;
        m_dataPipeId = pipe.PipeId;
        return SetupDataPipe(pipe);
    }
    return true;  // no data pipe: commands and responses only
}

bool CWinUsbDevice::SetupDataPipe(const WINUSB_PIPE_INFORMATION_EX& pipe) {
    if (pipe.PipeType == kPipeTypeIsochronous) {
        if (pipe.MaximumBytesPerInterval == 0 || pipe.Interval == 0) return false;
        return m_engine.SetupIsochronous(m_interface, pipe);
    }
    if (pipe.PipeType == kPipeTypeBulk) return m_engine.SetupBulk(m_interface, pipe.PipeId, pipe.MaximumPacketSize);
    return false;
}

void CWinUsbDevice::Close() {
    if (!m_winUsb.basicAvailable) return;
    m_engine.StopThreads();
    m_commandPipeId = m_responsePipeId = m_dataPipeId = kNoPipe;
    m_listener = nullptr;
}

int32_t CWinUsbDevice::StopThreads() {
    if (!m_winUsb.basicAvailable) return 0;
    m_engine.StopThreads();
    return 1;
}

int32_t CWinUsbDevice::AbortStream() {
    if (!m_winUsb.basicAvailable) return 0;
    m_engine.Abort();
    return 1;
}

void CWinUsbDevice::MarkFailed() {
    if (m_failed == 0 && m_listener) m_listener->OnDeviceLost();
    m_failed = 1;
}

// Waits for one transfer on a pipe; a transfer that times out is aborted and
// collected before the caller's buffer is given back.
bool CWinUsbDevice::WaitPipe(OVERLAPPED& overlapped, uint8_t pipeId, DWORD timeoutMs, DWORD* bytes) {
    *bytes = 0;
    if (WaitAlertable(overlapped.hEvent, timeoutMs) != WAIT_OBJECT_0) {
        m_winUsb.AbortPipe(m_interface, pipeId);
        DWORD ignored = 0;
        if (WaitAlertable(overlapped.hEvent, kTransferTimeoutMs) == WAIT_OBJECT_0) {
            m_winUsb.GetOverlappedResult(m_interface, &overlapped, &ignored, FALSE);
        }
        return false;
    }
    return m_winUsb.GetOverlappedResult(m_interface, &overlapped, bytes, FALSE) != FALSE;
}

int32_t CWinUsbDevice::Write(const uint8_t* data, uint32_t length) {
    if (!m_winUsb.basicAvailable || !ValidPipe(m_commandPipeId) || m_failed || (!data && length)) return 0;
    win32::UniqueHandle event(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    uint32_t offset = 0;
    uint32_t sent = 0;
    bool ok = event.valid();
    while (ok && offset < length) {
        const uint32_t remaining = length - offset;
        const uint32_t piece = (m_commandChunk == 0 || m_commandChunk > remaining) ? remaining : m_commandChunk;
        OVERLAPPED overlapped{};
        overlapped.hEvent = event.get();
        if (!m_winUsb.WritePipe(m_interface, m_commandPipeId, const_cast<uint8_t*>(data + offset), piece, nullptr,
                                &overlapped) &&
            ::GetLastError() != ERROR_IO_PENDING) {
            ok = false;
            break;
        }
        DWORD moved = 0;
        ok = WaitPipe(overlapped, m_commandPipeId, kTransferTimeoutMs, &moved);
        sent += std::min<DWORD>(moved, piece);
        offset += piece;
    }
    if (ok && sent == length) return 1;
    MarkFailed();
    return 0;
}

int32_t CWinUsbDevice::BeginReadResponse(uint8_t* buffer, uint32_t length, HANDLE event) {
    if (!m_winUsb.basicAvailable || !ValidPipe(m_responsePipeId) || m_failed || !event || !buffer || !length) return 0;
    m_responseOverlapped = OVERLAPPED{};
    m_responseOverlapped.hEvent = event;
    m_responseCursor = buffer;
    m_responseLength = length;
    ::ResetEvent(event);
    if (m_winUsb.ReadPipe(m_interface, m_responsePipeId, buffer, length, nullptr, &m_responseOverlapped) ||
        ::GetLastError() == ERROR_IO_PENDING) {
        return 1;
    }
    m_responseOverlapped.hEvent = nullptr;
    return 0;
}

int32_t CWinUsbDevice::WaitResponse(uint32_t* bytesRead, DWORD timeoutMs) {
    if (bytesRead) *bytesRead = 0;
    if (!m_winUsb.basicAvailable || !bytesRead || !m_responseOverlapped.hEvent) return 0;
    uint32_t total = 0;
    uint32_t asked = m_responseLength;
    for (;;) {
        DWORD got = 0;
        if (!WaitPipe(m_responseOverlapped, m_responsePipeId, timeoutMs, &got)) {
            m_responseOverlapped.hEvent = nullptr;
            return 0;
        }
        got = std::min<DWORD>(got, asked);
        total += got;
        if (total >= m_responseLength) break;
        if (m_responseChunk == 0 || got != m_responseChunk) break;
        m_responseCursor += got;
        asked = std::min(m_responseChunk, m_responseLength - total);
        HANDLE event = m_responseOverlapped.hEvent;
        m_responseOverlapped = OVERLAPPED{};
        m_responseOverlapped.hEvent = event;
        ::ResetEvent(event);
        if (!m_winUsb.ReadPipe(m_interface, m_responsePipeId, m_responseCursor, asked, nullptr,
                               &m_responseOverlapped) &&
            ::GetLastError() != ERROR_IO_PENDING) {
            m_responseOverlapped.hEvent = nullptr;
            return 0;
        }
    }
    *bytesRead = total;
    m_responseOverlapped.hEvent = nullptr;
    return 1;
}

int32_t CWinUsbDevice::ReadResponse(uint8_t* buffer, uint32_t length, uint32_t* bytesRead) {
    if (bytesRead) *bytesRead = 0;
    win32::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event || !BeginReadResponse(buffer, length, event.get())) return 0;
    return WaitResponse(bytesRead, kTransferTimeoutMs);
}

int32_t CWinUsbDevice::BeginReadData(uint8_t* buffer, uint32_t length, HANDLE event) {
    if (!m_winUsb.basicAvailable || !ValidPipe(m_dataPipeId) || m_failed || !event) return 0;
    m_dataOverlapped = OVERLAPPED{};
    m_dataOverlapped.hEvent = event;
    ::ResetEvent(event);
    if (m_engine.StartFill(buffer, length)) return 1;
    m_dataOverlapped.hEvent = nullptr;
    return 0;
}

int32_t CWinUsbDevice::WaitData(uint32_t* bytesRead, DWORD timeoutMs) {
    if (bytesRead) *bytesRead = 0;
    if (!m_winUsb.basicAvailable || !bytesRead || !ValidPipe(m_dataPipeId) || !m_dataOverlapped.hEvent || m_failed) {
        return 0;
    }
    const bool done = m_engine.FinishFill(bytesRead, timeoutMs);
    m_dataOverlapped.hEvent = nullptr;
    return done ? 1 : 0;
}

int32_t CWinUsbDevice::ReadData(uint8_t* buffer, uint32_t length, uint32_t* bytesRead) {
    if (bytesRead) *bytesRead = 0;
    win32::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event || !BeginReadData(buffer, length, event.get())) return 0;
    return WaitData(bytesRead, kTransferTimeoutMs);
}

int32_t CWinUsbDevice::Control(bool in, uint8_t type, uint8_t recipient, uint8_t request, uint16_t value,
                               uint16_t index, uint8_t* buffer, uint32_t length, uint32_t* moved) {
    *moved = 0;
    if (!m_winUsb.basicAvailable || !m_file || !m_interface || m_failed) return 0;
    if (length > 0xFFFF || (length && !buffer)) return 0;
    WINUSB_SETUP_PACKET setup{};
    setup.RequestType = RequestType(in, type, recipient);
    setup.Request = request;
    setup.Value = value;
    setup.Index = index;
    setup.Length = static_cast<USHORT>(length);
    ULONG n = 0;
    if (!m_winUsb.ControlTransfer(m_interface, setup, buffer, length, &n, nullptr)) return 0;
    *moved = std::min<ULONG>(n, length);
    return 1;
}

int32_t CWinUsbDevice::ControlIn(uint8_t type, uint8_t recipient, uint8_t request, uint16_t value, uint16_t index,
                                 uint8_t* buffer, uint32_t length) {
    uint32_t moved = 0;
    return Control(true, type, recipient, request, value, index, buffer, length, &moved) && moved == length;
}

int32_t CWinUsbDevice::ControlInCount(uint8_t type, uint8_t recipient, uint8_t request, uint16_t value,
                                      uint16_t index, uint8_t* buffer, uint32_t length) {
    uint32_t moved = 0;
    return Control(true, type, recipient, request, value, index, buffer, length, &moved) ? int32_t(moved) : 0;
}

int32_t CWinUsbDevice::ControlOut(uint8_t type, uint8_t recipient, uint8_t request, uint16_t value, uint16_t index,
                                  uint8_t* buffer, uint32_t length) {
    uint32_t moved = 0;
    return Control(false, type, recipient, request, value, index, buffer, length, &moved) && moved == length;
}

}  // namespace orvo
