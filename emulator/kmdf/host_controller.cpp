#include "emulator/kmdf/host_controller.h"

#include <algorithm>

#include "emulator/kmdf/framework.h"

namespace orvo::kmdf {
namespace {

constexpr DWORD kForeverCapMs = 30000;

DWORD TimeoutMs(LONGLONG timeout) {
    if (timeout == 0) return INFINITE;
    const LONGLONG units = timeout < 0 ? -timeout : timeout;
    return DWORD(std::max<LONGLONG>(1, units / 10000));
}

}  // namespace

CHostController::CHostController(emu::IUsbDeviceModel& model)
    : m_model(model), m_wake(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_unplugged(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    m_model.AddWaker(m_wake);
    m_thread = std::thread([this] { Run(); });
}

CHostController::~CHostController() {
    {
        win32::CriticalSectionLock lock(m_lock);
        m_quit = true;
    }
    WakeThread();
    m_thread.join();
    m_model.RemoveWaker(m_wake);
    std::vector<Done> done;
    {
        win32::CriticalSectionLock lock(m_lock);
        for (auto& queue : m_queues)
            for (Urb& urb : queue.second) done.push_back({urb.request, STATUS_CANCELLED, USBD_STATUS_CANCELED});
        m_queues.clear();
    }
    Finish(done);
    ::CloseHandle(m_wake);
    ::CloseHandle(m_unplugged);
}

std::vector<uint8_t> CHostController::ConfigurationDescriptor() {
    const std::vector<emu::InterfaceSetting> settings = m_model.Settings();
    std::vector<uint8_t> d = {9, USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0, 1, 1, 0, 0x80, 250};
    for (const emu::InterfaceSetting& setting : settings) {
        const uint8_t interfaceDescriptor[9] = {9, 4, 0, setting.alternate, uint8_t(setting.endpoints.size()),
                                                0xFF, 0, 0, 0};
        d.insert(d.end(), interfaceDescriptor, interfaceDescriptor + 9);
        for (const emu::EndpointInfo& endpoint : setting.endpoints) {
            const uint8_t e[7] = {7, 5, endpoint.address, endpoint.type, uint8_t(endpoint.maxPacketSize),
                                  uint8_t(endpoint.maxPacketSize >> 8), endpoint.interval};
            d.insert(d.end(), e, e + 7);
        }
    }
    d[2] = uint8_t(d.size());
    d[3] = uint8_t(d.size() >> 8);
    return d;
}

void CHostController::SetUrbObserver(UrbObserver observer) {
    win32::CriticalSectionLock lock(m_lock);
    m_observer = std::move(observer);
}

unsigned CHostController::UrbsServed() const {
    win32::CriticalSectionLock lock(m_lock);
    return m_served;
}

void CHostController::Submit(Request* request, UsbPipe* pipe) {
    Urb urb;
    urb.request = request;
    urb.pipe = pipe;
    const emu::Fault fault = m_model.Faults().Take(pipe->endpoint);
    switch (fault.kind) {
    case emu::FaultKind::Stall: urb.stall = true; break;
    case emu::FaultKind::Timeout: urb.hang = true; break;
    case emu::FaultKind::Short: urb.limit = fault.value; break;
    case emu::FaultKind::Late: urb.readyAt = ::GetTickCount64() + fault.value; break;
    case emu::FaultKind::Unplug:
        urb.unplug = true;
        urb.unplugAfter = fault.value;
        break;
    case emu::FaultKind::None: break;
    }
    Idle idle;
    {
        win32::CriticalSectionLock lock(m_lock);
        m_queues[pipe->endpoint].push_back(urb);
        idle = m_idle;
        m_idle = Idle::No;
        if (idle == Idle::OnCondition) ::WakeConditionVariable(&m_ready);
    }
    m_model.OnTransferCount(pipe->endpoint, +1);
    if (idle == Idle::OnEvent) ::SetEvent(m_wake);
}

// For anything but a submission: rare, so both ways of waiting are woken.
void CHostController::WakeThread() {
    {
        win32::CriticalSectionLock lock(m_lock);
        m_idle = Idle::No;
        ::WakeConditionVariable(&m_ready);
    }
    ::SetEvent(m_wake);
}

bool CHostController::Cancel(Request* request) {
    std::vector<Done> done;
    {
        win32::CriticalSectionLock lock(m_lock);
        for (auto& queue : m_queues) {
            for (auto it = queue.second.begin(); it != queue.second.end(); ++it) {
                if (it->request != request) continue;
                done.push_back({request, STATUS_CANCELLED, USBD_STATUS_CANCELED});
                m_model.OnTransferCount(queue.first, -1);
                queue.second.erase(it);
                break;
            }
            if (!done.empty()) break;
        }
    }
    WakeThread();
    const bool found = !done.empty();
    Finish(done);
    return found;
}

void CHostController::Abort(UsbPipe* pipe) {
    std::vector<Done> done;
    {
        win32::CriticalSectionLock lock(m_lock);
        for (Urb& urb : m_queues[pipe->endpoint]) {
            done.push_back({urb.request, STATUS_CANCELLED, USBD_STATUS_CANCELED});
            m_model.OnTransferCount(pipe->endpoint, -1);
        }
        m_queues[pipe->endpoint].clear();
    }
    Finish(done);
}

NTSTATUS CHostController::ResetPipe(UsbPipe* pipe) {
    if (!m_model.IsConnected()) return STATUS_NO_SUCH_DEVICE;
    {
        win32::CriticalSectionLock lock(m_lock);
        m_halted[pipe->endpoint] = false;
    }
    WakeThread();
    return STATUS_SUCCESS;
}

NTSTATUS CHostController::ResetPort() {
    if (!m_model.IsConnected()) return STATUS_NO_SUCH_DEVICE;
    {
        win32::CriticalSectionLock lock(m_lock);
        m_halted.clear();
    }
    WakeThread();
    return STATUS_SUCCESS;
}

bool CHostController::Connected() { return m_model.IsConnected(); }

void CHostController::Unplug() {
    m_model.Unplug();
    ::SetEvent(m_unplugged);
    WakeThread();
}

// A control transfer the device does not answer waits for the time-out, or
// for ever; "for ever" is capped and reported, so that a test ends.
bool CHostController::WaitControl(LONGLONG timeout) {
    const DWORD ms = TimeoutMs(timeout);
    const DWORD wait = ::WaitForSingleObject(m_unplugged, ms == INFINITE ? kForeverCapMs : ms);
    if (ms == INFINITE && wait == WAIT_TIMEOUT)
        Fw().verifier.Report("control transfer: the device never answered and no time-out was given");
    return wait == WAIT_OBJECT_0;
}

NTSTATUS CHostController::Control(const emu::SetupPacket& setup, uint8_t* data, uint32_t length, uint32_t* moved,
                                  LONGLONG timeout) {
    *moved = 0;
    const emu::Fault fault = m_model.Faults().Take(0);
    switch (fault.kind) {
    case emu::FaultKind::Stall: return STATUS_UNSUCCESSFUL;
    case emu::FaultKind::Timeout: return WaitControl(timeout) ? STATUS_NO_SUCH_DEVICE : STATUS_IO_TIMEOUT;
    case emu::FaultKind::Late: ::Sleep(fault.value); break;
    case emu::FaultKind::Unplug: Unplug(); break;
    default: break;
    }
    if (!m_model.IsConnected()) return STATUS_NO_SUCH_DEVICE;
    const uint32_t limit = fault.kind == emu::FaultKind::Short ? std::min<uint32_t>(length, fault.value) : length;
    uint32_t n = 0;
    const emu::UsbStatus status = m_model.Control(setup, data, limit, &n);
    if (status == emu::UsbStatus::NoDevice) return STATUS_NO_SUCH_DEVICE;
    if (status != emu::UsbStatus::Ok) return STATUS_UNSUCCESSFUL;
    *moved = n;
    return STATUS_SUCCESS;
}

NTSTATUS CHostController::String(uint8_t index, uint16_t language, std::vector<uint8_t>& out, LONGLONG timeout) {
    const emu::Fault fault = m_model.Faults().Take(0);
    if (fault.kind == emu::FaultKind::Timeout) return WaitControl(timeout) ? STATUS_NO_SUCH_DEVICE : STATUS_IO_TIMEOUT;
    if (fault.kind == emu::FaultKind::Stall) return STATUS_UNSUCCESSFUL;
    if (!m_model.IsConnected()) return STATUS_NO_SUCH_DEVICE;
    if (!m_model.StringDescriptor(index, language, out) || out.size() < 2) return STATUS_UNSUCCESSFUL;
    out.resize(std::min<size_t>(out.size(), out[0]));
    return STATUS_SUCCESS;
}

bool CHostController::ServeOne(Urb& urb, ULONGLONG now, ULONGLONG& nextDue, std::vector<Done>& done) {
    Request* request = urb.request;
    auto* transfer = static_cast<_URB_BULK_OR_INTERRUPT_TRANSFER*>(
        static_cast<void*>(static_cast<Memory*>(static_cast<Object*>(static_cast<void*>(request->urbMemory)))->bytes.data()));
    if (!m_model.IsConnected()) {
        transfer->TransferBufferLength = 0;
        done.push_back({request, STATUS_NO_SUCH_DEVICE, USBD_STATUS_DEVICE_GONE});
        return true;
    }
    if (request->cancelFlag) {
        done.push_back({request, STATUS_CANCELLED, USBD_STATUS_CANCELED});
        return true;
    }
    if (m_halted[urb.pipe->endpoint] || urb.hang) return false;
    if (now < urb.readyAt) {
        nextDue = std::min(nextDue, urb.readyAt);
        return false;
    }
    if (urb.stall) {
        m_halted[urb.pipe->endpoint] = true;
        transfer->TransferBufferLength = 0;
        done.push_back({request, STATUS_UNSUCCESSFUL, USBD_STATUS_STALL_PID});
        return true;
    }
    // The URB as the stack checks it.
    const bool in = (urb.pipe->endpoint & 0x80) != 0;
    MDL* mdl = transfer->TransferBufferMDL;
    const char* fault = nullptr;
    if (transfer->Hdr.Length != sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER)) fault = "URB header length";
    else if (transfer->Hdr.Function != URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER) fault = "URB function";
    else if (transfer->PipeHandle != urb.pipe) fault = "URB pipe handle";
    else if (bool(transfer->TransferFlags & USBD_TRANSFER_DIRECTION_IN) != in) fault = "URB direction";
    else if (transfer->TransferBufferLength && (!mdl || MmGetMdlByteCount(mdl) < transfer->TransferBufferLength))
        fault = "URB buffer";
    if (fault) {
        Fw().verifier.Report(std::string("host controller: bad ") + fault);
        transfer->TransferBufferLength = 0;
        done.push_back({request, STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PARAMETER});
        return true;
    }
    uint8_t* data = transfer->TransferBufferLength
                        ? static_cast<uint8_t*>(MapForDevice(mdl))
                        : nullptr;
    const uint32_t length = std::min<uint32_t>(transfer->TransferBufferLength, urb.limit);
    uint32_t moved = 0;
    const emu::UsbStatus status = in ? m_model.ReadIn(urb.pipe->endpoint, data, length, &moved)
                                     : m_model.WriteOut(urb.pipe->endpoint, data, length, &moved);
    if (status == emu::UsbStatus::Pending) return false;
    ++m_served;
    if (m_observer) m_observer(request, urb.pipe->endpoint, data, moved);
    if (urb.unplug) {
        m_model.Unplug();
        ::SetEvent(m_unplugged);
        transfer->TransferBufferLength = std::min(moved, urb.unplugAfter);
        done.push_back({request, STATUS_NO_SUCH_DEVICE, USBD_STATUS_DEVICE_GONE});
        return true;
    }
    switch (status) {
    case emu::UsbStatus::Ok:
        transfer->TransferBufferLength = moved;
        done.push_back({request, STATUS_SUCCESS, USBD_STATUS_SUCCESS});
        break;
    case emu::UsbStatus::Stall:
        m_halted[urb.pipe->endpoint] = true;
        transfer->TransferBufferLength = 0;
        done.push_back({request, STATUS_UNSUCCESSFUL, USBD_STATUS_STALL_PID});
        break;
    default:
        transfer->TransferBufferLength = 0;
        done.push_back({request, STATUS_NO_SUCH_DEVICE, USBD_STATUS_DEVICE_GONE});
        break;
    }
    return true;
}

void CHostController::Finish(std::vector<Done>& done) {
    for (const Done& d : done) CompleteSent(d.request, d.status, d.usbd, 0);
    done.clear();
}

void CHostController::Run() {
    std::vector<Done> done;
    for (;;) {
        DWORD waitMs = INFINITE;
        bool onEvent = false;
        {
            win32::CriticalSectionLock lock(m_lock);
            if (m_quit) return;
            const ULONGLONG now = ::GetTickCount64();
            ULONGLONG nextDue = ~0ull;
            bool waiting = false;  // a URB waits for the model, a reset or its time
            for (auto& queue : m_queues) {
                while (!queue.second.empty() && ServeOne(queue.second.front(), now, nextDue, done)) {
                    m_model.OnTransferCount(queue.first, -1);
                    queue.second.pop_front();
                }
                waiting = waiting || !queue.second.empty();
            }
            if (nextDue != ~0ull) waitMs = DWORD(nextDue > now ? nextDue - now : 0);
            // After completions, look again before waiting: their routines
            // may have submitted more.
            if (done.empty()) {
                if (waiting) {
                    m_idle = Idle::OnEvent;
                    onEvent = true;
                } else {
                    m_idle = Idle::OnCondition;
                    ::SleepConditionVariableCS(&m_ready, m_lock.native(), waitMs);
                    m_idle = Idle::No;
                    continue;
                }
            }
        }
        // Completion routines run outside the lock, on this thread, as a
        // host controller's DPC would run them.
        Finish(done);
        if (onEvent) ::WaitForSingleObject(m_wake, waitMs);
    }
}

}  // namespace orvo::kmdf
