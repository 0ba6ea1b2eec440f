// The driver and device objects, the device's settings before creation, the
// default queue with its power management, registry parameters, work items
// and file objects.
#include <chrono>
#include <cwchar>

#include "emulator/kmdf/framework.h"

namespace orvo::kmdf {
namespace {

constexpr auto kQueueStopWait = std::chrono::seconds(20);

void Dispatch(Queue* queue, Request* request) {
    auto queueHandle = reinterpret_cast<WDFQUEUE>(queue);
    auto requestHandle = reinterpret_cast<WDFREQUEST>(request);
    IrqlScope passive(PASSIVE_LEVEL);
    switch (request->major) {
    case Major::Read:
        if (queue->config.EvtIoRead) return queue->config.EvtIoRead(queueHandle, requestHandle, request->outputLength);
        break;
    case Major::Write:
        if (queue->config.EvtIoWrite) return queue->config.EvtIoWrite(queueHandle, requestHandle, request->inputLength);
        break;
    case Major::DeviceControl:
        if (queue->config.EvtIoDeviceControl)
            return queue->config.EvtIoDeviceControl(queueHandle, requestHandle, request->outputLength,
                                                    request->inputLength, request->ioctl);
        break;
    default: break;
    }
    CompleteUser(request, STATUS_INVALID_DEVICE_REQUEST, 0, "queue");
}

void WorkerMain() {
    Framework& fw = Fw();
    for (;;) {
        WorkItem* item;
        {
            std::unique_lock<std::recursive_mutex> lock(fw.lock);
            fw.changed.wait(lock, [&] { return fw.workQuit || !fw.work.empty(); });
            if (fw.work.empty()) return;
            item = fw.work.front();
            fw.work.pop_front();
            item->enqueued = false;
            fw.workRunning = true;
        }
        {
            IrqlScope passive(PASSIVE_LEVEL);
            item->config.EvtWorkItemFunc(reinterpret_cast<WDFWORKITEM>(item));
        }
        std::lock_guard<std::recursive_mutex> lock(fw.lock);
        Dereference(item, "work item");
        fw.workRunning = false;
        fw.changed.notify_all();
    }
}

}  // namespace

void PresentRequest(Request* request) {
    Framework& fw = Fw();
    Queue* queue = nullptr;
    NTSTATUS failure = STATUS_SUCCESS;
    {
        std::lock_guard<std::recursive_mutex> lock(fw.lock);
        queue = fw.device && fw.live.count(fw.device) ? fw.device->defaultQueue : nullptr;
        request->queue = queue;
        const bool zeroLength = (request->major == Major::Read && request->outputLength == 0) ||
                                (request->major == Major::Write && request->inputLength == 0);
        if (!queue) {
            failure = STATUS_NO_SUCH_DEVICE;
        } else if (zeroLength && !queue->config.AllowZeroLengthRequests) {
            failure = STATUS_SUCCESS;
            request->queue = nullptr;
        } else if (queue->powerManaged && !fw.device->inD0) {
            queue->held.push_back(request);
            return;
        } else {
            request->delivered = true;
            queue->deliveredSet.insert(request);
        }
    }
    if (!queue || !request->delivered) {
        CompleteUser(request, failure, 0, "queue");
        return;
    }
    Dispatch(queue, request);
}

void StopQueue(Queue* queue, bool purge) {
    Framework& fw = Fw();
    std::vector<Request*> delivered;
    std::deque<Request*> held;
    {
        std::lock_guard<std::recursive_mutex> lock(fw.lock);
        delivered.assign(queue->deliveredSet.begin(), queue->deliveredSet.end());
        for (Request* request : delivered) Reference(request);
        if (purge) held.swap(queue->held);
    }
    for (Request* request : held) CompleteUser(request, STATUS_CANCELLED, 0, "queue");
    for (Request* request : delivered) {
        bool owned;
        {
            std::lock_guard<std::recursive_mutex> lock(fw.lock);
            owned = !request->completed;
        }
        if (owned && queue->config.EvtIoStop) {
            ULONG flags = purge ? WdfRequestStopActionPurge : WdfRequestStopActionSuspend;
            if (request->cancelRoutine) flags |= WdfRequestStopRequestCancelable;
            IrqlScope dispatch(DISPATCH_LEVEL);
            queue->config.EvtIoStop(reinterpret_cast<WDFQUEUE>(queue), reinterpret_cast<WDFREQUEST>(request), flags);
        }
        std::lock_guard<std::recursive_mutex> lock(fw.lock);
        Dereference(request, "queue stop");
    }
    // Without EvtIoStop the framework waits for every delivered request.
    std::unique_lock<std::recursive_mutex> lock(fw.lock);
    if (!fw.changed.wait_for(lock, kQueueStopWait, [&] {
            for (Request* request : queue->deliveredSet)
                if (!request->stopAcknowledged) return false;
            return true;
        })) {
        fw.verifier.Report("queue stop: a delivered request was never completed");
    }
}

void StartQueue(Queue* queue) {
    std::deque<Request*> held;
    {
        std::lock_guard<std::recursive_mutex> lock(Fw().lock);
        held.swap(queue->held);
    }
    for (Request* request : held) PresentRequest(request);
}

void EnqueueWork(WorkItem* item) {
    Framework& fw = Fw();
    std::lock_guard<std::recursive_mutex> lock(fw.lock);
    if (item->enqueued) return;
    item->enqueued = true;
    ++item->references;
    fw.work.push_back(item);
    if (!fw.worker.joinable()) fw.worker = std::thread(WorkerMain);
    fw.changed.notify_all();
}

void FlushWork() {
    Framework& fw = Fw();
    std::unique_lock<std::recursive_mutex> lock(fw.lock);
    fw.changed.wait(lock, [&] { return fw.work.empty() && !fw.workRunning; });
}

}  // namespace orvo::kmdf

using namespace orvo::kmdf;

extern "C" {

NTSTATUS WdfDriverCreate(PDRIVER_OBJECT, PCUNICODE_STRING, PWDF_OBJECT_ATTRIBUTES Attributes,
                         PWDF_DRIVER_CONFIG Config, WDFDRIVER* DriverOut) {
    Framework& fw = Fw();
    if (NTSTATUS forced = fw.verifier.Enter("WdfDriverCreate")) return forced;
    if (fw.driver) return STATUS_INVALID_DEVICE_STATE;
    auto* driver = new Driver;
    driver->config = *Config;
    Register(driver, Attributes, nullptr);
    fw.driver = driver;
    if (DriverOut) *DriverOut = reinterpret_cast<WDFDRIVER>(driver);
    return STATUS_SUCCESS;
}

WDFDRIVER WdfDeviceGetDriver(WDFDEVICE) {
    Fw().verifier.Enter("WdfDeviceGetDriver");
    return reinterpret_cast<WDFDRIVER>(Fw().driver);
}

NTSTATUS WdfDriverOpenParametersRegistryKey(WDFDRIVER DriverHandle, ACCESS_MASK, PWDF_OBJECT_ATTRIBUTES Attributes,
                                            WDFKEY* KeyOut) {
    if (NTSTATUS forced = Fw().verifier.Enter("WdfDriverOpenParametersRegistryKey")) return forced;
    auto* driver = As<Driver>(DriverHandle, "WdfDriverOpenParametersRegistryKey", ObjectType::Driver);
    if (!driver) return STATUS_INVALID_PARAMETER;
    auto* key = new Key;
    Register(key, Attributes, driver);
    *KeyOut = reinterpret_cast<WDFKEY>(key);
    return STATUS_SUCCESS;
}

NTSTATUS WdfRegistryQueryULong(WDFKEY KeyHandle, PCUNICODE_STRING ValueName, PULONG Value) {
    if (NTSTATUS forced = Fw().verifier.Enter("WdfRegistryQueryULong")) return forced;
    if (!As<Key>(KeyHandle, "WdfRegistryQueryULong", ObjectType::Key) || !ValueName || !Value)
        return STATUS_INVALID_PARAMETER;
    const std::wstring name(reinterpret_cast<const wchar_t*>(ValueName->Buffer), ValueName->Length / 2);
    if (name != L"MaximumTransferSize" || !Fw().maximumTransferSize) return STATUS_OBJECT_NAME_NOT_FOUND;
    *Value = *Fw().maximumTransferSize;
    return STATUS_SUCCESS;
}

VOID WdfRegistryClose(WDFKEY KeyHandle) {
    Fw().verifier.Enter("WdfRegistryClose");
    if (auto* key = As<Key>(KeyHandle, "WdfRegistryClose", ObjectType::Key)) DeleteObject(key);
}

VOID WdfDeviceInitSetPnpPowerEventCallbacks(PWDFDEVICE_INIT DeviceInit, PWDF_PNPPOWER_EVENT_CALLBACKS Callbacks) {
    Fw().verifier.Enter("WdfDeviceInitSetPnpPowerEventCallbacks");
    DeviceInit->settings.pnp = *Callbacks;
}

VOID WdfDeviceInitSetRequestAttributes(PWDFDEVICE_INIT DeviceInit, PWDF_OBJECT_ATTRIBUTES Attributes) {
    Fw().verifier.Enter("WdfDeviceInitSetRequestAttributes");
    DeviceInit->settings.requestAttributes = *Attributes;
    DeviceInit->settings.hasRequestAttributes = true;
}

VOID WdfDeviceInitSetFileObjectConfig(PWDFDEVICE_INIT DeviceInit, PWDF_FILEOBJECT_CONFIG Config,
                                      PWDF_OBJECT_ATTRIBUTES Attributes) {
    Fw().verifier.Enter("WdfDeviceInitSetFileObjectConfig");
    DeviceInit->settings.fileConfig = *Config;
    if (Attributes) {
        DeviceInit->settings.fileAttributes = *Attributes;
        DeviceInit->settings.hasFileAttributes = true;
    }
}

VOID WdfDeviceInitSetIoType(PWDFDEVICE_INIT DeviceInit, WDF_DEVICE_IO_TYPE IoType) {
    Fw().verifier.Enter("WdfDeviceInitSetIoType");
    DeviceInit->settings.ioType = IoType;
}

NTSTATUS WdfDeviceCreate(PWDFDEVICE_INIT* DeviceInit, PWDF_OBJECT_ATTRIBUTES Attributes, WDFDEVICE* DeviceOut) {
    Framework& fw = Fw();
    if (NTSTATUS forced = fw.verifier.Enter("WdfDeviceCreate")) return forced;
    RequirePassive("WdfDeviceCreate");
    if (!DeviceInit || !*DeviceInit) return STATUS_INVALID_PARAMETER;
    const Device& settings = (*DeviceInit)->settings;
    auto* device = new Device;
    device->pnp = settings.pnp;
    device->requestAttributes = settings.requestAttributes;
    device->hasRequestAttributes = settings.hasRequestAttributes;
    device->fileConfig = settings.fileConfig;
    device->fileAttributes = settings.fileAttributes;
    device->hasFileAttributes = settings.hasFileAttributes;
    device->ioType = settings.ioType;
    Register(device, Attributes, fw.driver);
    auto* target = new IoTarget;
    Register(target, nullptr, device);
    device->defaultTarget = target;
    fw.device = device;
    *DeviceInit = nullptr;  // the framework owns it now
    *DeviceOut = reinterpret_cast<WDFDEVICE>(device);
    return STATUS_SUCCESS;
}

VOID WdfDeviceSetPnpCapabilities(WDFDEVICE DeviceHandle, PWDF_DEVICE_PNP_CAPABILITIES Capabilities) {
    Fw().verifier.Enter("WdfDeviceSetPnpCapabilities");
    if (auto* device = As<Device>(DeviceHandle, "WdfDeviceSetPnpCapabilities", ObjectType::Device))
        device->capabilities = *Capabilities;
}

NTSTATUS WdfDeviceCreateDeviceInterface(WDFDEVICE DeviceHandle, const GUID* InterfaceClassGUID, PCUNICODE_STRING) {
    if (NTSTATUS forced = Fw().verifier.Enter("WdfDeviceCreateDeviceInterface")) return forced;
    auto* device = As<Device>(DeviceHandle, "WdfDeviceCreateDeviceInterface", ObjectType::Device);
    if (!device || !InterfaceClassGUID) return STATUS_INVALID_PARAMETER;
    device->interfaces.push_back(*InterfaceClassGUID);
    return STATUS_SUCCESS;
}

WDFIOTARGET WdfDeviceGetIoTarget(WDFDEVICE DeviceHandle) {
    Fw().verifier.Enter("WdfDeviceGetIoTarget");
    auto* device = As<Device>(DeviceHandle, "WdfDeviceGetIoTarget", ObjectType::Device);
    return device ? reinterpret_cast<WDFIOTARGET>(device->defaultTarget) : nullptr;
}

NTSTATUS WdfDeviceAssignS0IdleSettings(WDFDEVICE DeviceHandle, PWDF_DEVICE_POWER_POLICY_IDLE_SETTINGS Settings) {
    if (NTSTATUS forced = Fw().verifier.Enter("WdfDeviceAssignS0IdleSettings")) return forced;
    auto* device = As<Device>(DeviceHandle, "WdfDeviceAssignS0IdleSettings", ObjectType::Device);
    if (!device || !Settings || Settings->Size != sizeof(*Settings)) return STATUS_INVALID_PARAMETER;
    device->idleSettingsAssigned = true;
    return STATUS_SUCCESS;
}

NTSTATUS WdfDeviceAssignSxWakeSettings(WDFDEVICE DeviceHandle, PWDF_DEVICE_POWER_POLICY_WAKE_SETTINGS Settings) {
    if (NTSTATUS forced = Fw().verifier.Enter("WdfDeviceAssignSxWakeSettings")) return forced;
    auto* device = As<Device>(DeviceHandle, "WdfDeviceAssignSxWakeSettings", ObjectType::Device);
    if (!device || !Settings || Settings->Size != sizeof(*Settings)) return STATUS_INVALID_PARAMETER;
    device->wakeSettingsAssigned = true;
    return STATUS_SUCCESS;
}

NTSTATUS WdfIoQueueCreate(WDFDEVICE DeviceHandle, PWDF_IO_QUEUE_CONFIG Config, PWDF_OBJECT_ATTRIBUTES Attributes,
                          WDFQUEUE* QueueOut) {
    if (NTSTATUS forced = Fw().verifier.Enter("WdfIoQueueCreate")) return forced;
    auto* device = As<Device>(DeviceHandle, "WdfIoQueueCreate", ObjectType::Device);
    if (!device || !Config || Config->DispatchType != WdfIoQueueDispatchParallel) return STATUS_INVALID_PARAMETER;
    auto* queue = new Queue;
    queue->config = *Config;
    queue->powerManaged = Config->PowerManaged != WdfFalse;
    Register(queue, Attributes, device);
    if (Config->DefaultQueue) device->defaultQueue = queue;
    if (QueueOut) *QueueOut = reinterpret_cast<WDFQUEUE>(queue);
    return STATUS_SUCCESS;
}

WDFDEVICE WdfIoQueueGetDevice(WDFQUEUE QueueHandle) {
    Fw().verifier.Enter("WdfIoQueueGetDevice");
    auto* queue = As<Queue>(QueueHandle, "WdfIoQueueGetDevice", ObjectType::Queue);
    return queue ? reinterpret_cast<WDFDEVICE>(queue->parent) : nullptr;
}

PUNICODE_STRING WdfFileObjectGetFileName(WDFFILEOBJECT FileHandle) {
    Fw().verifier.Enter("WdfFileObjectGetFileName");
    auto* file = As<File>(FileHandle, "WdfFileObjectGetFileName", ObjectType::File);
    return file ? &file->unicodeName : nullptr;
}

NTSTATUS WdfWorkItemCreate(PWDF_WORKITEM_CONFIG Config, PWDF_OBJECT_ATTRIBUTES Attributes, WDFWORKITEM* ItemOut) {
    if (NTSTATUS forced = Fw().verifier.Enter("WdfWorkItemCreate")) return forced;
    if (!Config || !Config->EvtWorkItemFunc) return STATUS_INVALID_PARAMETER;
    if (!Attributes || !Attributes->ParentObject) {
        Fw().verifier.Report("WdfWorkItemCreate: a work item needs a parent object");
        return STATUS_INVALID_PARAMETER;
    }
    auto* item = new WorkItem;
    item->config = *Config;
    Register(item, Attributes, nullptr);
    *ItemOut = reinterpret_cast<WDFWORKITEM>(item);
    return STATUS_SUCCESS;
}

VOID WdfWorkItemEnqueue(WDFWORKITEM ItemHandle) {
    Fw().verifier.Enter("WdfWorkItemEnqueue");
    if (auto* item = As<WorkItem>(ItemHandle, "WdfWorkItemEnqueue", ObjectType::WorkItem)) EnqueueWork(item);
}

WDFOBJECT WdfWorkItemGetParentObject(WDFWORKITEM ItemHandle) {
    Fw().verifier.Enter("WdfWorkItemGetParentObject");
    auto* item = As<WorkItem>(ItemHandle, "WdfWorkItemGetParentObject", ObjectType::WorkItem);
    return item ? item->parent : nullptr;
}

}  // extern "C"
