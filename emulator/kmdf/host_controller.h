// The emulated USB target under the driver: a host controller with its own
// thread that serves the URBs of each pipe in the order they were sent, from
// an emulated device model, and fails them as the USB stack does (a stalled
// endpoint holds its URBs until an abort and a reset; a pulled device fails
// everything).
#pragma once
#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <wdf.h>
#include <wdfusb.h>

#include "common/win32/critical_section.h"
#include "emulator/usb_model.h"

namespace orvo::kmdf {

struct Request;
struct UsbPipe;

class CHostController {
public:
    explicit CHostController(emu::IUsbDeviceModel& model);
    ~CHostController();
    CHostController(const CHostController&) = delete;
    CHostController& operator=(const CHostController&) = delete;

    emu::IUsbDeviceModel& Model() noexcept { return m_model; }
    // The configuration descriptor of the model's interface settings.
    std::vector<uint8_t> ConfigurationDescriptor();

    // Queues the URB the request is formatted with on its pipe.
    void Submit(Request* request, UsbPipe* pipe);
    // Completes the request's URB with STATUS_CANCELLED; false when it holds
    // none.
    bool Cancel(Request* request);
    void Abort(UsbPipe* pipe);
    NTSTATUS ResetPipe(UsbPipe* pipe);
    NTSTATUS ResetPort();
    bool Connected();
    void Unplug();
    // timeout: the framework's form (negative: relative, 100 ns); 0 waits
    // for ever (until the device is pulled).
    NTSTATUS Control(const emu::SetupPacket& setup, uint8_t* data, uint32_t length, uint32_t* moved,
                     LONGLONG timeout);
    NTSTATUS String(uint8_t index, uint16_t language, std::vector<uint8_t>& out, LONGLONG timeout);

    // Each URB as it is served: the request carrying it, the pipe's endpoint,
    // the buffer address and the length it carried.
    using UrbObserver = std::function<void(const Request* request, uint8_t endpoint, const void* address,
                                           uint32_t length)>;
    void SetUrbObserver(UrbObserver observer);
    unsigned UrbsServed() const;

private:
    struct Urb {
        Request* request = nullptr;
        UsbPipe* pipe = nullptr;
        ULONGLONG readyAt = 0;
        bool hang = false;
        bool stall = false;
        uint32_t limit = UINT32_MAX;
        bool unplug = false;
        uint32_t unplugAfter = 0;
    };
    struct Done {
        Request* request;
        NTSTATUS status;
        USBD_STATUS usbd;
    };

    bool ServeOne(Urb& urb, ULONGLONG now, ULONGLONG& nextDue, std::vector<Done>& done);
    void Run();
    static void Finish(std::vector<Done>& done);
    bool WaitControl(LONGLONG timeout);

    // How the thread waits when it has nothing to serve.
    enum class Idle { No, OnCondition, OnEvent };
    void WakeThread();

    emu::IUsbDeviceModel& m_model;
    mutable win32::CriticalSection m_lock;
    std::map<uint8_t, std::deque<Urb>> m_queues;
    std::map<uint8_t, bool> m_halted;
    // The model sets m_wake when its state changes; the thread waits on it
    // only while a URB waits (for data, a reset, its time, the model's
    // unplugging). With every queue empty it sleeps on m_ready,
    // which needs no round trip to the Wine server: a frame's stages hand
    // over between the dispatching thread and this one several times.
    HANDLE m_wake = nullptr;
    CONDITION_VARIABLE m_ready = CONDITION_VARIABLE_INIT;
    HANDLE m_unplugged = nullptr;
    bool m_quit = false;
    // Under m_lock: whether and how the thread waits. A submission wakes it
    // only then: a stage re-sent from a completion routine runs on this
    // thread, which looks again before it waits.
    Idle m_idle = Idle::No;
    unsigned m_served = 0;
    UrbObserver m_observer;
    std::thread m_thread;
};

}  // namespace orvo::kmdf
