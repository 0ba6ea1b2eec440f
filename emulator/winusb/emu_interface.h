// One WinUSB interface handle of the emulated WinUsb.dll: the model behind
// it, its current alternate setting and pipe policies, and the transfers in
// flight, completed by the interface's own thread as a host controller would.
#pragma once
#include <windows.h>
#include <winusb.h>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <vector>

#include "emulator/usb_model.h"
#include "win32/critical_section.h"
#include "win32/unique_handle.h"

namespace orvo::emu {

// NTSTATUS values a transfer completes with.
constexpr ULONG_PTR kStatusPending = 0x103;
constexpr ULONG_PTR kStatusCancelled = 0xC0000120;
constexpr ULONG_PTR kStatusStalled = 0xC0000001;
constexpr ULONG_PTR kStatusNoDevice = 0xC000009D;
constexpr ULONG_PTR kStatusTimeout = 0xC00000B5;

DWORD Win32ErrorFromStatus(ULONG_PTR status);

class CEmuInterface {
public:
    // owned may be null when the model belongs to someone else.
    CEmuInterface(IUsbDeviceModel& model, std::unique_ptr<IUsbDeviceModel> owned);
    ~CEmuInterface();
    CEmuInterface(const CEmuInterface&) = delete;
    CEmuInterface& operator=(const CEmuInterface&) = delete;

    // A manual-reset event the bus sets when the device is pulled out: the
    // model is then unplugged and transfers fail as on real hardware. Given
    // before Start; the interface owns it.
    void WatchUnplug(HANDLE event) noexcept { m_unplugEvent.reset(event); }
    bool Start();
    IUsbDeviceModel& Model() noexcept { return m_model; }

    bool QuerySetting(uint8_t alternate, USB_INTERFACE_DESCRIPTOR* out);
    bool SelectSetting(uint8_t alternate);
    bool QueryPipe(uint8_t alternate, uint8_t index, WINUSB_PIPE_INFORMATION_EX* out);
    bool GetPolicy(uint8_t pipe, ULONG policy, ULONG* valueLength, void* value);
    bool SetPolicy(uint8_t pipe, ULONG policy, ULONG valueLength, const void* value);

    // Queue a transfer; false with the Win32 error set when it cannot start.
    bool SubmitRead(uint8_t pipe, uint8_t* data, ULONG length, OVERLAPPED* overlapped);
    bool SubmitWrite(uint8_t pipe, uint8_t* data, ULONG length, OVERLAPPED* overlapped);
    bool SubmitIsoch(uint8_t pipe, uint8_t* data, ULONG length, ULONG packetCount,
                     USBD_ISO_PACKET_DESCRIPTOR* packets, OVERLAPPED* overlapped, bool continueStream);
    bool Abort(uint8_t pipe);
    bool Control(const WINUSB_SETUP_PACKET& setup, uint8_t* data, ULONG length, ULONG* moved);

    // An isochronous IN pipe of the current setting, for buffer registration.
    const EndpointInfo* FindPipe(uint8_t pipe);

private:
    enum class Kind { In, Out, Isoch };
    struct Transfer {
        Kind kind = Kind::In;
        uint8_t pipe = 0;
        uint8_t* data = nullptr;
        ULONG length = 0;
        ULONG packetCount = 0;
        USBD_ISO_PACKET_DESCRIPTOR* packets = nullptr;
        OVERLAPPED* overlapped = nullptr;
        ULONGLONG readyAt = 0;  // late completion
        ULONGLONG paceAt = 0;   // an idle isochronous read ends after its real time
        bool hang = false;
        bool stall = false;
        uint32_t limit = UINT32_MAX;
        bool unplug = false;
        uint32_t unplugAfter = 0;
        bool aborted = false;
        ULONGLONG abortDoneAt = 0;
    };

    bool Submit(Transfer transfer);
    void ApplyFault(Transfer& transfer);
    void Complete(const Transfer& transfer, ULONG_PTR status, ULONG bytes);
    // Serves what can be served; returns the wait until the next due time.
    DWORD ServeLocked();
    bool ServeOne(Transfer& transfer, ULONGLONG now, ULONGLONG& nextDue);
    static DWORD WINAPI ThreadMain(void* self);
    void Run();

    IUsbDeviceModel& m_model;
    std::unique_ptr<IUsbDeviceModel> m_owned;
    std::vector<InterfaceSetting> m_settings;
    uint8_t m_current = 0;
    std::map<std::pair<uint8_t, ULONG>, ULONG> m_policies;
    win32::CriticalSection m_lock;
    std::list<Transfer> m_transfers;
    // Per isochronous pipe, when the last read scheduled on it ends: the
    // controller serves reads back to back, each over its own microframes.
    std::map<uint8_t, ULONGLONG> m_isochScheduleEnd;
    win32::UniqueHandle m_wake;
    win32::UniqueHandle m_unplugEvent;
    win32::UniqueHandle m_thread;
    // Set by the thread as its last touch of this object (see the destructor).
    win32::UniqueHandle m_finished{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    volatile LONG m_quit = 0;
};

}  // namespace orvo::emu
