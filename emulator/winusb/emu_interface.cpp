#include "emulator/winusb/emu_interface.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "win32/pinned_thread.h"

namespace orvo::emu {
namespace {

constexpr uint8_t kJunk = 0xEE;

}  // namespace

DWORD Win32ErrorFromStatus(ULONG_PTR status) {
    switch (status) {
    case 0: return ERROR_SUCCESS;
    case kStatusPending: return ERROR_IO_INCOMPLETE;
    case kStatusCancelled: return ERROR_OPERATION_ABORTED;
    case kStatusStalled: return ERROR_GEN_FAILURE;
    case kStatusNoDevice: return ERROR_DEVICE_NOT_CONNECTED;
    case kStatusTimeout: return ERROR_SEM_TIMEOUT;
    default: return ERROR_GEN_FAILURE;
    }
}

CEmuInterface::CEmuInterface(IUsbDeviceModel& model, std::unique_ptr<IUsbDeviceModel> owned)
    : m_model(model), m_owned(std::move(owned)), m_settings(model.Settings()),
      m_wake(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

CEmuInterface::~CEmuInterface() {
    ::InterlockedExchange(&m_quit, 1);
    if (m_wake) ::SetEvent(m_wake.get());
    // Waits for the thread's last touch rather than its end: an interface may
    // be freed under the loader lock (a client unloading with a device open),
    // where a thread can never finish exiting. The thread is pinned, so its
    // code stays mapped until it has.
    if (m_thread) ::WaitForSingleObject(m_finished.get(), INFINITE);
    m_model.RemoveWaker(m_wake.get());
    win32::CriticalSectionLock lock(m_lock);
    for (const Transfer& transfer : m_transfers) Complete(transfer, kStatusCancelled, 0);
    m_transfers.clear();
}

bool CEmuInterface::Start() {
    if (!m_wake) return false;
    m_model.AddWaker(m_wake.get());
    if (!m_finished) return false;
    m_thread.reset(win32::CreatePinnedThread(&ThreadMain, this, 0));
    return m_thread.valid();
}

const EndpointInfo* CEmuInterface::FindPipe(uint8_t pipe) {
    if (m_current >= m_settings.size()) return nullptr;
    for (const EndpointInfo& endpoint : m_settings[m_current].endpoints) {
        if (endpoint.address == pipe) return &endpoint;
    }
    return nullptr;
}

bool CEmuInterface::QuerySetting(uint8_t alternate, USB_INTERFACE_DESCRIPTOR* out) {
    if (alternate >= m_settings.size()) {
        ::SetLastError(ERROR_NO_MORE_ITEMS);
        return false;
    }
    *out = USB_INTERFACE_DESCRIPTOR{};
    out->bLength = sizeof(USB_INTERFACE_DESCRIPTOR);
    out->bDescriptorType = 4;
    out->bAlternateSetting = alternate;
    out->bNumEndpoints = uint8_t(m_settings[alternate].endpoints.size());
    out->bInterfaceClass = 0xFF;
    return true;
}

bool CEmuInterface::SelectSetting(uint8_t alternate) {
    if (alternate >= m_settings.size()) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    win32::CriticalSectionLock lock(m_lock);
    m_current = alternate;
    return true;
}

bool CEmuInterface::QueryPipe(uint8_t alternate, uint8_t index, WINUSB_PIPE_INFORMATION_EX* out) {
    if (alternate >= m_settings.size() || index >= m_settings[alternate].endpoints.size()) {
        ::SetLastError(ERROR_NO_MORE_ITEMS);
        return false;
    }
    const EndpointInfo& endpoint = m_settings[alternate].endpoints[index];
    *out = WINUSB_PIPE_INFORMATION_EX{};
    out->PipeType = USBD_PIPE_TYPE(endpoint.type);
    out->PipeId = endpoint.address;
    out->MaximumPacketSize = endpoint.maxPacketSize;
    out->Interval = endpoint.interval;
    out->MaximumBytesPerInterval = endpoint.bytesPerInterval;
    return true;
}

bool CEmuInterface::GetPolicy(uint8_t pipe, ULONG policy, ULONG* valueLength, void* value) {
    if (!FindPipe(pipe) || !valueLength || !value) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    ULONG result = 0;
    if (policy == MAXIMUM_TRANSFER_SIZE) {
        if (*valueLength < sizeof(ULONG)) {
            ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return false;
        }
        result = m_model.MaxTransferSize(pipe);
        std::memcpy(value, &result, sizeof(result));
        *valueLength = sizeof(result);
        return true;
    }
    win32::CriticalSectionLock lock(m_lock);
    auto it = m_policies.find({pipe, policy});
    result = it == m_policies.end() ? 0 : it->second;
    const uint8_t flag = uint8_t(result);
    std::memcpy(value, &flag, 1);
    *valueLength = 1;
    return true;
}

bool CEmuInterface::SetPolicy(uint8_t pipe, ULONG policy, ULONG valueLength, const void* value) {
    if (!FindPipe(pipe) || !value || valueLength == 0 || policy == MAXIMUM_TRANSFER_SIZE) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    ULONG stored = 0;
    std::memcpy(&stored, value, std::min<ULONG>(valueLength, sizeof(stored)));
    if (valueLength < sizeof(stored)) stored &= (1u << (8 * valueLength)) - 1;
    win32::CriticalSectionLock lock(m_lock);
    m_policies[{pipe, policy}] = stored;
    return true;
}

void CEmuInterface::ApplyFault(Transfer& transfer) {
    const Fault fault = m_model.Faults().Take(transfer.pipe);
    switch (fault.kind) {
    case FaultKind::Stall: transfer.stall = true; break;
    case FaultKind::Timeout: transfer.hang = true; break;
    case FaultKind::Short: transfer.limit = fault.value; break;
    case FaultKind::Late: transfer.readyAt = ::GetTickCount64() + fault.value; break;
    case FaultKind::Unplug:
        transfer.unplug = true;
        transfer.unplugAfter = fault.value;
        break;
    case FaultKind::None: break;
    }
}

bool CEmuInterface::Submit(Transfer transfer) {
    if (!transfer.overlapped || !transfer.overlapped->hEvent) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (!m_model.IsConnected()) {
        ::SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return false;
    }
    if (m_model.Faults().TakeRefusal(transfer.pipe)) {
        ::SetLastError(ERROR_NO_SYSTEM_RESOURCES);
        return false;
    }
    ApplyFault(transfer);
    transfer.overlapped->InternalHigh = 0;
    transfer.overlapped->Internal = kStatusPending;
    ::ResetEvent(transfer.overlapped->hEvent);
    {
        win32::CriticalSectionLock lock(m_lock);
        for (const Transfer& other : m_transfers) {
            if (other.overlapped == transfer.overlapped) m_model.OnHostError("OVERLAPPED reused while in flight");
            if (transfer.length && other.length && transfer.data < other.data + other.length &&
                other.data < transfer.data + transfer.length) {
                m_model.OnHostError("buffer reused while in flight");
            }
        }
        m_model.OnTransferCount(transfer.pipe, +1);
        m_transfers.push_back(transfer);
    }
    ::SetEvent(m_wake.get());
    ::SetLastError(ERROR_IO_PENDING);
    return false;
}

bool CEmuInterface::SubmitRead(uint8_t pipe, uint8_t* data, ULONG length, OVERLAPPED* overlapped) {
    const EndpointInfo* endpoint = FindPipe(pipe);
    if (!endpoint || !(pipe & 0x80) || endpoint->type == kPipeIsochronous || (!data && length)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    // Raw I/O takes whole packets and no more than the maximum transfer.
    ULONG raw = 0, rawLength = sizeof(raw);
    GetPolicy(pipe, RAW_IO, &rawLength, &raw);
    if ((raw & 0xFF) && (length % endpoint->maxPacketSize != 0 || length > m_model.MaxTransferSize(pipe))) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    Transfer transfer;
    transfer.kind = Kind::In;
    transfer.pipe = pipe;
    transfer.data = data;
    transfer.length = length;
    transfer.overlapped = overlapped;
    return Submit(transfer);
}

bool CEmuInterface::SubmitWrite(uint8_t pipe, uint8_t* data, ULONG length, OVERLAPPED* overlapped) {
    const EndpointInfo* endpoint = FindPipe(pipe);
    if (!endpoint || (pipe & 0x80) || (!data && length)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    Transfer transfer;
    transfer.kind = Kind::Out;
    transfer.pipe = pipe;
    transfer.data = data;
    transfer.length = length;
    transfer.overlapped = overlapped;
    return Submit(transfer);
}

bool CEmuInterface::SubmitIsoch(uint8_t pipe, uint8_t* data, ULONG length, ULONG packetCount,
                                USBD_ISO_PACKET_DESCRIPTOR* packets, OVERLAPPED* overlapped, bool continueStream) {
    const EndpointInfo* endpoint = FindPipe(pipe);
    if (!endpoint || endpoint->type != kPipeIsochronous || endpoint->bytesPerInterval == 0 || packetCount == 0 ||
        !packets || length / packetCount == 0) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    Transfer transfer;
    transfer.kind = Kind::Isoch;
    transfer.pipe = pipe;
    transfer.data = data;
    transfer.length = length;
    transfer.packetCount = packetCount;
    transfer.packets = packets;
    transfer.overlapped = overlapped;
    // Packets per millisecond: 8 / interval at high speed, at least one.
    const uint32_t perMs = std::max<uint32_t>(1, 8 / std::max<uint32_t>(1, endpoint->interval));
    const ULONGLONG duration = std::max<uint32_t>(1, packetCount / perMs);
    {
        win32::CriticalSectionLock lock(m_lock);
        ULONGLONG& scheduleEnd = m_isochScheduleEnd[pipe];
        transfer.paceAt = std::max(::GetTickCount64(), scheduleEnd) + duration;
        if (Submit(transfer)) return true;
        if (::GetLastError() != ERROR_IO_PENDING) return false;
        scheduleEnd = transfer.paceAt;
        m_model.OnIsochRead(pipe, continueStream);
    }
    ::SetLastError(ERROR_IO_PENDING);
    return false;
}

bool CEmuInterface::Abort(uint8_t pipe) {
    if (!FindPipe(pipe)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    const uint32_t delay = m_model.Faults().AbortDelay(pipe);
    {
        win32::CriticalSectionLock lock(m_lock);
        m_isochScheduleEnd.erase(pipe);
        const ULONGLONG now = ::GetTickCount64();
        for (auto it = m_transfers.begin(); it != m_transfers.end();) {
            if (it->pipe != pipe || it->aborted) {
                ++it;
            } else if (delay == 0) {
                Complete(*it, kStatusCancelled, 0);
                it = m_transfers.erase(it);
            } else {
                it->aborted = true;
                it->abortDoneAt = now + delay;
                ++it;
            }
        }
    }
    ::SetEvent(m_wake.get());
    return true;
}

bool CEmuInterface::Control(const WINUSB_SETUP_PACKET& setup, uint8_t* data, ULONG length, ULONG* moved) {
    *moved = 0;
    if (length && !data) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    const Fault fault = m_model.Faults().Take(0);
    if (fault.kind == FaultKind::Stall) {
        ::SetLastError(ERROR_GEN_FAILURE);
        return false;
    }
    if (fault.kind == FaultKind::Timeout) {
        ::SetLastError(ERROR_SEM_TIMEOUT);
        return false;
    }
    if (fault.kind == FaultKind::Late) ::Sleep(fault.value);
    if (fault.kind == FaultKind::Unplug) m_model.Unplug();
    SetupPacket packet{setup.RequestType, setup.Request, setup.Value, setup.Index, setup.Length};
    const ULONG limit = fault.kind == FaultKind::Short ? std::min<ULONG>(length, fault.value) : length;
    uint32_t n = 0;
    const UsbStatus status = m_model.Control(packet, data, std::min<ULONG>(limit, setup.Length), &n);
    if (status != UsbStatus::Ok) {
        ::SetLastError(status == UsbStatus::NoDevice ? ERROR_DEVICE_NOT_CONNECTED : ERROR_GEN_FAILURE);
        return false;
    }
    *moved = n;
    return true;
}

void CEmuInterface::Complete(const Transfer& transfer, ULONG_PTR status, ULONG bytes) {
    OVERLAPPED* overlapped = transfer.overlapped;
    overlapped->InternalHigh = bytes;
    ::MemoryBarrier();
    overlapped->Internal = status;
    ::SetEvent(overlapped->hEvent);
    m_model.OnTransferCount(transfer.pipe, -1);
}

bool CEmuInterface::ServeOne(Transfer& transfer, ULONGLONG now, ULONGLONG& nextDue) {
    if (transfer.aborted) {
        if (now < transfer.abortDoneAt) {
            nextDue = std::min(nextDue, transfer.abortDoneAt);
            return false;
        }
        // The late completion writes into the buffer it was given.
        if (transfer.data && transfer.length) std::memset(transfer.data, kJunk, transfer.length);
        Complete(transfer, kStatusCancelled, 0);
        return true;
    }
    if (!m_model.IsConnected()) {
        Complete(transfer, kStatusNoDevice, 0);
        return true;
    }
    if (transfer.hang) return false;
    if (now < transfer.readyAt) {
        nextDue = std::min(nextDue, transfer.readyAt);
        return false;
    }
    if (transfer.stall) {
        Complete(transfer, kStatusStalled, 0);
        return true;
    }
    const ULONG length = std::min<ULONG>(transfer.length, transfer.limit);
    uint32_t moved = 0;
    UsbStatus status = UsbStatus::Ok;
    switch (transfer.kind) {
    case Kind::Out: status = m_model.WriteOut(transfer.pipe, transfer.data, length, &moved); break;
    case Kind::In: status = m_model.ReadIn(transfer.pipe, transfer.data, length, &moved); break;
    case Kind::Isoch: {
        const uint32_t packetSize = transfer.length / transfer.packetCount;
        std::vector<IsoPacket> packets(transfer.packetCount);
        status = m_model.ReadIsoch(transfer.pipe, transfer.data, packetSize, transfer.packetCount, packets.data());
        if (status == UsbStatus::Pending) {
            if (now < transfer.paceAt) {
                nextDue = std::min(nextDue, transfer.paceAt);
                return false;
            }
            for (uint32_t i = 0; i < transfer.packetCount; ++i) packets[i] = IsoPacket{i * packetSize, 0, 0};
            status = UsbStatus::Ok;
        }
        for (uint32_t i = 0; i < transfer.packetCount; ++i) {
            transfer.packets[i].Offset = packets[i].offset;
            transfer.packets[i].Length = std::min(packets[i].length, packetSize);
            transfer.packets[i].Status = packets[i].status;
            moved += transfer.packets[i].Length;
        }
        break;
    }
    }
    if (status == UsbStatus::Pending) return false;
    if (transfer.unplug) {
        // Packets past the cut never arrived.
        uint32_t kept = 0;
        for (ULONG i = 0; transfer.kind == Kind::Isoch && i < transfer.packetCount; ++i) {
            USBD_ISO_PACKET_DESCRIPTOR& packet = transfer.packets[i];
            packet.Length = std::min<ULONG>(packet.Length, transfer.unplugAfter - kept);
            kept += packet.Length;
            if (packet.Length == 0) packet.Status = LONG(kStatusNoDevice);
        }
        m_model.Unplug();
        Complete(transfer, kStatusNoDevice, std::min<uint32_t>(moved, transfer.unplugAfter));
        return true;
    }
    switch (status) {
    case UsbStatus::Ok: Complete(transfer, 0, moved); break;
    case UsbStatus::Stall: Complete(transfer, kStatusStalled, 0); break;
    default: Complete(transfer, kStatusNoDevice, 0); break;
    }
    return true;
}

DWORD CEmuInterface::ServeLocked() {
    const ULONGLONG now = ::GetTickCount64();
    ULONGLONG nextDue = ~0ull;
    std::set<uint8_t> blocked;  // transfers on one pipe complete in order
    for (auto it = m_transfers.begin(); it != m_transfers.end();) {
        if (blocked.count(it->pipe)) {
            ++it;
            continue;
        }
        if (ServeOne(*it, now, nextDue)) {
            it = m_transfers.erase(it);
        } else {
            blocked.insert(it->pipe);
            ++it;
        }
    }
    if (nextDue == ~0ull) return INFINITE;
    return DWORD(nextDue > now ? nextDue - now : 0);
}

DWORD WINAPI CEmuInterface::ThreadMain(void* self) {
    static_cast<CEmuInterface*>(self)->Run();
    return 0;
}

void CEmuInterface::Run() {
    DWORD wait = INFINITE;
    bool watching = m_unplugEvent.valid();
    while (::InterlockedCompareExchange(&m_quit, 0, 0) == 0) {
        const HANDLE events[2] = {m_wake.get(), m_unplugEvent.get()};
        if (::WaitForMultipleObjects(watching ? 2 : 1, events, FALSE, wait) == WAIT_OBJECT_0 + 1) {
            watching = false;
            m_model.Unplug();
        }
        win32::CriticalSectionLock lock(m_lock);
        wait = ServeLocked();
    }
    ::SetEvent(m_finished.get());
}

}  // namespace orvo::emu
