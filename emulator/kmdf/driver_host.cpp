#include "emulator/kmdf/driver_host.h"

#include <cstdio>

namespace orvo::kmdf {
namespace {

std::wstring PathFor(emu::IUsbDeviceModel& model, const GUID& guid) {
    uint8_t d[18] = {};
    model.DeviceDescriptor(d);
    wchar_t text[160];
    std::swprintf(text, 160,
                  L"\\\\?\\usb#vid_%04x&pid_%04x#drvsim#{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                  d[8] | d[9] << 8, d[10] | d[11] << 8, guid.Data1, guid.Data2, guid.Data3, guid.Data4[0],
                  guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6],
                  guid.Data4[7]);
    return text;
}

}  // namespace

CDriverHost::CDriverHost(emu::IUsbDeviceModel& model, HostOptions options) {
    if (HasFramework()) std::abort();  // one host per process at a time
    SetFramework(&m_framework);
    m_framework.maximumTransferSize = options.maximumTransferSize;
    m_entry = options.driverEntry;
    m_bus = std::make_unique<CHostController>(model);
    m_framework.bus = m_bus.get();
    m_framework.io = &m_io;
}

CDriverHost::~CDriverHost() {
    if (m_started) Remove();
    m_framework.verifier.JoinSteps();
    {
        std::lock_guard<std::recursive_mutex> lock(m_framework.lock);
        m_framework.workQuit = true;
        m_framework.changed.notify_all();
    }
    if (m_framework.worker.joinable()) m_framework.worker.join();
    m_bus.reset();
    if (m_framework.driver) DeleteObject(m_framework.driver);
    FreeGraveyard(m_framework);
    SetFramework(nullptr);
}

long CDriverHost::LiveMdls() {
    std::lock_guard<std::recursive_mutex> lock(m_framework.lock);
    return m_framework.mdlCount;
}

void CDriverHost::StartPipes() {
    std::lock_guard<std::recursive_mutex> lock(m_framework.lock);
    for (Object* object : m_framework.live)
        if (object->type == ObjectType::UsbPipe) static_cast<UsbPipe*>(object)->started = true;
}

NTSTATUS CDriverHost::Start() {
    Framework& fw = m_framework;
    IrqlScope passive(PASSIVE_LEVEL);
    NTSTATUS status = STATUS_SUCCESS;
    if (!fw.driver) {
        UNICODE_STRING registryPath{};
        if (!m_entry) return STATUS_OBJECT_NAME_NOT_FOUND;
        status = m_entry(nullptr, &registryPath);
        if (!NT_SUCCESS(status)) return status;
    }
    WDFDEVICE_INIT init;
    status = fw.driver->config.EvtDriverDeviceAdd(reinterpret_cast<WDFDRIVER>(fw.driver), &init);
    if (NT_SUCCESS(status) && !fw.device) status = STATUS_INVALID_DEVICE_STATE;
    if (NT_SUCCESS(status) && fw.device->pnp.EvtDevicePrepareHardware)
        status = fw.device->pnp.EvtDevicePrepareHardware(reinterpret_cast<WDFDEVICE>(fw.device), nullptr, nullptr);
    if (NT_SUCCESS(status) && fw.device->pnp.EvtDeviceD0Entry)
        status = fw.device->pnp.EvtDeviceD0Entry(reinterpret_cast<WDFDEVICE>(fw.device), WdfPowerDeviceD3Final);
    if (!NT_SUCCESS(status)) {
        if (fw.device) RemoveDevice();
        return status;
    }
    {
        std::lock_guard<std::recursive_mutex> lock(fw.lock);
        fw.device->inD0 = true;
    }
    if (!fw.device->interfaces.empty()) m_io.SetInterfacePath(PathFor(m_bus->Model(), fw.device->interfaces[0]));
    m_started = true;
    return STATUS_SUCCESS;
}

NTSTATUS CDriverHost::EnterDx(WDF_POWER_DEVICE_STATE target) {
    Framework& fw = m_framework;
    IrqlScope passive(PASSIVE_LEVEL);
    if (!m_started || !fw.device->inD0) return STATUS_INVALID_DEVICE_STATE;
    {
        std::lock_guard<std::recursive_mutex> lock(fw.lock);
        fw.device->inD0 = false;  // new requests wait in the queue
    }
    if (fw.device->defaultQueue && fw.device->defaultQueue->powerManaged) StopQueue(fw.device->defaultQueue, false);
    NTSTATUS status = STATUS_SUCCESS;
    if (fw.device->pnp.EvtDeviceD0Exit)
        status = fw.device->pnp.EvtDeviceD0Exit(reinterpret_cast<WDFDEVICE>(fw.device), target);
    return status;
}

NTSTATUS CDriverHost::ReturnToD0() {
    Framework& fw = m_framework;
    IrqlScope passive(PASSIVE_LEVEL);
    if (!m_started || fw.device->inD0) return STATUS_INVALID_DEVICE_STATE;
    NTSTATUS status = STATUS_SUCCESS;
    if (fw.device->pnp.EvtDeviceD0Entry)
        status = fw.device->pnp.EvtDeviceD0Entry(reinterpret_cast<WDFDEVICE>(fw.device), WdfPowerDeviceD3);
    if (!NT_SUCCESS(status)) return status;
    StartPipes();
    {
        std::lock_guard<std::recursive_mutex> lock(fw.lock);
        fw.device->inD0 = true;
    }
    if (fw.device->defaultQueue) StartQueue(fw.device->defaultQueue);
    return STATUS_SUCCESS;
}

void CDriverHost::SurpriseRemove() {
    m_bus->Unplug();
    if (!m_started) return;
    IrqlScope passive(PASSIVE_LEVEL);
    Framework& fw = m_framework;
    if (fw.device->pnp.EvtDeviceSurpriseRemoval)
        fw.device->pnp.EvtDeviceSurpriseRemoval(reinterpret_cast<WDFDEVICE>(fw.device));
    Remove();
}

void CDriverHost::Remove() {
    Framework& fw = m_framework;
    IrqlScope passive(PASSIVE_LEVEL);
    if (!m_started) return;
    m_io.DeviceRemoved();
    bool wasInD0;
    {
        std::lock_guard<std::recursive_mutex> lock(fw.lock);
        wasInD0 = fw.device->inD0;
        fw.device->inD0 = false;
    }
    if (fw.device->defaultQueue) StopQueue(fw.device->defaultQueue, true);
    if (wasInD0 && fw.device->pnp.EvtDeviceD0Exit)
        fw.device->pnp.EvtDeviceD0Exit(reinterpret_cast<WDFDEVICE>(fw.device), WdfPowerDeviceD3Final);
    RemoveDevice();
    m_started = false;
}

void CDriverHost::RemoveDevice() {
    Framework& fw = m_framework;
    FlushWork();
    fw.verifier.JoinSteps();
    Device* device = fw.device;
    {
        std::lock_guard<std::recursive_mutex> lock(fw.lock);
        for (Object* object : fw.live) {
            auto* request = static_cast<Request*>(object);
            if (object->type == ObjectType::Request && request->fromUser && !request->completed)
                fw.verifier.Report("removal: a request from user mode was never completed");
        }
    }
    DeleteObject(device);
    std::lock_guard<std::recursive_mutex> lock(fw.lock);
    fw.device = nullptr;
    // Everything the device owned is gone; what is left was leaked.
    for (Object* object : fw.live) {
        if (object == fw.driver) continue;
        fw.verifier.Report(std::string("removal: leaked ") + TypeName(object->type) + " (" +
                           std::to_string(object->references) + " reference(s) left)");
    }
    if (fw.mdlCount) fw.verifier.Report("removal: leaked " + std::to_string(fw.mdlCount) + " MDL(s)");
}

}  // namespace orvo::kmdf
