// The framework's own side of the KMDF stand-in: the objects behind the
// handles the driver holds, and the state every routine shares. One driver
// host (one device) is active in a process at a time.
#pragma once
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <wdf.h>
#include <wdfusb.h>

#include "emulator/kmdf/verifier.h"

namespace orvo::kmdf {

class CDriverHost;
class CHostController;
class CIoManager;

enum class ObjectType { Driver, Device, Queue, Request, File, Memory, Collection, SpinLock, WorkItem, Key,
                        UsbDevice, UsbInterface, UsbPipe, IoTarget };

const char* TypeName(ObjectType type);

struct Object {
    explicit Object(ObjectType t) : type(t) {}
    virtual ~Object();
    ObjectType type;
    long references = 1;  // the creation reference, dropped by deletion
    bool deleteRequested = false;
    bool destroyed = false;
    Object* parent = nullptr;
    std::list<Object*> children;
    PCWDF_OBJECT_CONTEXT_TYPE_INFO contextType = nullptr;
    void* context = nullptr;
    PFN_WDF_OBJECT_CONTEXT_CLEANUP cleanup = nullptr;
};

struct Memory : Object {
    Memory() : Object(ObjectType::Memory) {}
    std::vector<uint8_t> bytes;
};

struct Collection : Object {
    Collection() : Object(ObjectType::Collection) {}
    std::vector<Object*> items;
};

struct SpinLock : Object {
    SpinLock() : Object(ObjectType::SpinLock) {}
    std::mutex mutex;
    std::atomic<DWORD> owner{0};
    int savedIrql = 0;
};

struct IoTarget;
struct File;
struct Queue;

// What a request is formatted for when it is sent to a target.
enum class Format { None, Urb, InternalIoctl };
enum class Major { Create, Read, Write, DeviceControl, Internal };

struct Request : Object {
    Request() : Object(ObjectType::Request) {}
    ~Request() override { delete mdl; }
    bool fromUser = false;  // presented by the I/O manager, completed by the driver
    Major major = Major::Internal;
    File* file = nullptr;
    Queue* queue = nullptr;
    ULONG ioctl = 0;
    // Buffers as the I/O manager hands them over.
    std::vector<uint8_t> systemBuffer;
    size_t inputLength = 0;
    size_t outputLength = 0;
    void* userInput = nullptr;
    void* userOutput = nullptr;
    MDL* mdl = nullptr;  // direct I/O: the caller's buffer
    // Completion towards user mode.
    bool completed = false;
    NTSTATUS status = STATUS_SUCCESS;
    ULONG_PTR information = 0;
    bool cancelFlag = false;  // the IRP's cancel flag
    PFN_WDF_REQUEST_CANCEL cancelRoutine = nullptr;
    bool delivered = false;   // owned by the driver
    bool stopAcknowledged = false;
    // Sending.
    Format format = Format::None;
    IoTarget* formattedTarget = nullptr;
    WDFMEMORY urbMemory = nullptr;
    IoTarget* sentTo = nullptr;
    bool sentSynchronously = false;
    PFN_WDF_REQUEST_COMPLETION_ROUTINE completionRoutine = nullptr;
    WDFCONTEXT completionContext = nullptr;
    WDF_REQUEST_COMPLETION_PARAMS completionParams{};
    WDF_USB_REQUEST_COMPLETION_PARAMS usbParams{};
    std::shared_ptr<struct Irp> irp;  // the I/O manager's side of a request from user mode
};

struct IoTarget : Object {
    explicit IoTarget(ObjectType t = ObjectType::IoTarget) : Object(t) {}
    bool started = true;
    std::set<Request*> sent;
    int completing = 0;  // completion routines running
};

struct UsbPipe : IoTarget {
    UsbPipe() : IoTarget(ObjectType::UsbPipe) {}
    uint8_t index = 0;
    uint8_t endpoint = 0;
    WDF_USB_PIPE_TYPE pipeType = WdfUsbPipeTypeBulk;
    ULONG maxPacket = 512;
    UCHAR interval = 0;
    bool noPacketSizeCheck = false;
};

struct UsbInterface : Object {
    UsbInterface() : Object(ObjectType::UsbInterface) {}
    std::vector<UsbPipe*> pipes;
};

struct UsbDevice : IoTarget {
    UsbDevice() : IoTarget(ObjectType::UsbDevice) {}
    UsbInterface* usbInterface = nullptr;
    std::vector<uint8_t> configuration;
};

struct Queue : Object {
    Queue() : Object(ObjectType::Queue) {}
    WDF_IO_QUEUE_CONFIG config{};
    bool powerManaged = true;
    std::deque<Request*> held;      // waiting for D0
    std::set<Request*> deliveredSet;
};

struct File : Object {
    File() : Object(ObjectType::File) {}
    std::wstring name;
    UNICODE_STRING unicodeName{};
};

struct WorkItem : Object {
    WorkItem() : Object(ObjectType::WorkItem) {}
    WDF_WORKITEM_CONFIG config{};
    bool enqueued = false;
};

struct Key : Object {
    Key() : Object(ObjectType::Key) {}
};

struct Device : Object {
    Device() : Object(ObjectType::Device) {}
    WDF_PNPPOWER_EVENT_CALLBACKS pnp{};
    WDF_OBJECT_ATTRIBUTES requestAttributes{};
    bool hasRequestAttributes = false;
    WDF_FILEOBJECT_CONFIG fileConfig{};
    WDF_OBJECT_ATTRIBUTES fileAttributes{};
    bool hasFileAttributes = false;
    WDF_DEVICE_IO_TYPE ioType = WdfDeviceIoBuffered;
    WDF_DEVICE_PNP_CAPABILITIES capabilities{};
    Queue* defaultQueue = nullptr;
    IoTarget* defaultTarget = nullptr;
    std::vector<GUID> interfaces;
    bool inD0 = false;
    bool idleSettingsAssigned = false;
    bool wakeSettingsAssigned = false;
};

struct Driver : Object {
    Driver() : Object(ObjectType::Driver) {}
    WDF_DRIVER_CONFIG config{};
};


// The state every framework routine reaches: the active host's pieces.
struct Framework {
    std::recursive_mutex lock;  // objects, references, queues, targets
    std::condition_variable_any changed;
    std::set<Object*> live;
    std::deque<Object*> graveyard;  // destroyed objects kept for the verifier
    CVerifier verifier;
    CDriverHost* host = nullptr;
    CHostController* bus = nullptr;
    CIoManager* io = nullptr;
    Driver* driver = nullptr;
    Device* device = nullptr;
    std::optional<ULONG> maximumTransferSize;
    long mdlCount = 0;
    // Work items run one at a time on a worker thread, at passive level.
    std::deque<WorkItem*> work;
    bool workRunning = false;
    bool workQuit = false;
    std::thread worker;
};

Framework& Fw();
bool HasFramework();

// IRQL of the calling thread as the framework sees it.
int CurrentIrql();
void SetIrql(int irql);
void SetFramework(Framework* framework);
void FreeGraveyard(Framework& fw);
void* MapForDevice(MDL* mdl);
class IrqlScope {
public:
    explicit IrqlScope(int irql);
    ~IrqlScope();
    IrqlScope(const IrqlScope&) = delete;
    IrqlScope& operator=(const IrqlScope&) = delete;

private:
    int m_saved;
};

// Object bookkeeping (callers hold Fw().lock where noted).
void Register(Object* object, PWDF_OBJECT_ATTRIBUTES attributes, Object* defaultParent);
// Checks a handle at a routine's entry; null when the object is gone.
Object* Resolve(const void* handle, const char* routine, ObjectType expected);
template <typename T>
T* As(const void* handle, const char* routine, ObjectType expected) {
    return static_cast<T*>(Resolve(handle, routine, expected));
}
void Reference(Object* object);
void Dereference(Object* object, const char* routine);
void DeleteObject(Object* object);  // drops the creation reference
// Routines that wait must run at passive level.
void RequirePassive(const char* routine);

// Request helpers shared by the routines and the I/O manager.
Request* NewRequest(Device* device, PWDF_OBJECT_ATTRIBUTES attributes);
void CompleteSent(Request* request, NTSTATUS status, USBD_STATUS usbd, ULONG_PTR information);
bool CancelSent(Request* request);
void CancelUserRequest(Request* request);

// Queue and power.
void PresentRequest(Request* request);
void StopQueue(Queue* queue, bool purge);
void StartQueue(Queue* queue);
void EnqueueWork(WorkItem* item);
void FlushWork();

// A request from user mode as the I/O manager tracks it.
struct Irp {
    std::mutex lock;
    std::condition_variable cv;
    bool completed = false;
    bool dispatchReturned = false;
    NTSTATUS status = STATUS_PENDING;
    ULONG_PTR information = 0;
    File* file = nullptr;
    DWORD thread = 0;
    OVERLAPPED* overlapped = nullptr;
    LPOVERLAPPED_COMPLETION_ROUTINE apc = nullptr;
    HANDLE apcThread = nullptr;
    Major major = Major::Internal;
    ULONG method = 0;
    void* userOutput = nullptr;
    size_t outputLength = 0;
    Request* request = nullptr;  // until it completes
};

// Completes a request from user mode (the driver's WdfRequestComplete, or
// the framework for requests the driver never received).
void CompleteUser(Request* request, NTSTATUS status, ULONG_PTR information, const char* routine);

}  // namespace orvo::kmdf

// The device's settings gathered before WdfDeviceCreate.
struct WDFDEVICE_INIT {
    orvo::kmdf::Device settings;
};
