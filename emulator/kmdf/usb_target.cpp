// The USB target routines: the target device, its configuration, interface
// and pipes, over the emulated host controller.
#include <cstring>

#include "emulator/kmdf/framework.h"
#include "emulator/kmdf/host_controller.h"

using namespace orvo::kmdf;

namespace {

UsbDevice* UsbDeviceOf(WDFUSBDEVICE handle, const char* routine) {
    return As<UsbDevice>(handle, routine, ObjectType::UsbDevice);
}

UsbPipe* PipeOf(WDFUSBPIPE handle, const char* routine) { return As<UsbPipe>(handle, routine, ObjectType::UsbPipe); }

LONGLONG TimeoutOf(PWDF_REQUEST_SEND_OPTIONS options) {
    return options && (options->Flags & WDF_REQUEST_SEND_OPTION_TIMEOUT) ? options->Timeout : 0;
}

void FillPipeInformation(const UsbPipe* pipe, PWDF_USB_PIPE_INFORMATION info) {
    if (!info) return;
    info->MaximumPacketSize = pipe->maxPacket;
    info->EndpointAddress = pipe->endpoint;
    info->Interval = pipe->interval;
    info->SettingIndex = 0;
    info->PipeType = pipe->pipeType;
    info->MaximumTransferSize = 0x400000;
}

}  // namespace

extern "C" {

NTSTATUS WdfUsbTargetDeviceCreate(WDFDEVICE DeviceHandle, PWDF_OBJECT_ATTRIBUTES Attributes, WDFUSBDEVICE* Out) {
    Framework& fw = Fw();
    if (NTSTATUS forced = fw.verifier.Enter("WdfUsbTargetDeviceCreate")) return forced;
    RequirePassive("WdfUsbTargetDeviceCreate");
    auto* device = As<Device>(DeviceHandle, "WdfUsbTargetDeviceCreate", ObjectType::Device);
    if (!device) return STATUS_INVALID_PARAMETER;
    if (!fw.bus->Connected()) return STATUS_NO_SUCH_DEVICE;
    auto* usb = new UsbDevice;
    usb->configuration = fw.bus->ConfigurationDescriptor();
    Register(usb, Attributes, device);
    *Out = reinterpret_cast<WDFUSBDEVICE>(usb);
    return STATUS_SUCCESS;
}

VOID WdfUsbTargetDeviceGetDeviceDescriptor(WDFUSBDEVICE Handle, PUSB_DEVICE_DESCRIPTOR Descriptor) {
    Fw().verifier.Enter("WdfUsbTargetDeviceGetDeviceDescriptor");
    if (!UsbDeviceOf(Handle, "WdfUsbTargetDeviceGetDeviceDescriptor")) return;
    uint8_t bytes[18] = {};
    Fw().bus->Model().DeviceDescriptor(bytes);
    std::memcpy(Descriptor, bytes, sizeof(bytes));
}

NTSTATUS WdfUsbTargetDeviceRetrieveConfigDescriptor(WDFUSBDEVICE Handle, PVOID Buffer, PUSHORT Length) {
    if (NTSTATUS forced = Fw().verifier.Enter("WdfUsbTargetDeviceRetrieveConfigDescriptor")) return forced;
    UsbDevice* usb = UsbDeviceOf(Handle, "WdfUsbTargetDeviceRetrieveConfigDescriptor");
    if (!usb || !Length) return STATUS_INVALID_PARAMETER;
    const USHORT size = USHORT(usb->configuration.size());
    if (!Buffer || *Length < size) {
        *Length = size;
        return STATUS_BUFFER_TOO_SMALL;
    }
    std::memcpy(Buffer, usb->configuration.data(), size);
    *Length = size;
    return STATUS_SUCCESS;
}

NTSTATUS WdfUsbTargetDeviceQueryString(WDFUSBDEVICE Handle, WDFREQUEST Request, PWDF_REQUEST_SEND_OPTIONS Options,
                                       PUSHORT String, PUSHORT NumCharacters, UCHAR StringIndex, USHORT LangID) {
    if (NTSTATUS forced = Fw().verifier.Enter("WdfUsbTargetDeviceQueryString")) return forced;
    RequirePassive("WdfUsbTargetDeviceQueryString");
    if (!UsbDeviceOf(Handle, "WdfUsbTargetDeviceQueryString") || !NumCharacters) return STATUS_INVALID_PARAMETER;
    if (Request) Fw().verifier.Report("WdfUsbTargetDeviceQueryString: only the synchronous form is emulated");
    std::vector<uint8_t> descriptor;
    const NTSTATUS status = Fw().bus->String(StringIndex, LangID, descriptor, TimeoutOf(Options));
    if (!NT_SUCCESS(status)) return status;
    const USHORT characters = USHORT((descriptor.size() - 2) / 2);
    if (!String) {
        *NumCharacters = characters;
        return STATUS_SUCCESS;
    }
    if (*NumCharacters < characters) {
        *NumCharacters = characters;
        return STATUS_BUFFER_OVERFLOW;
    }
    std::memcpy(String, descriptor.data() + 2, characters * 2u);
    *NumCharacters = characters;
    return STATUS_SUCCESS;
}

NTSTATUS WdfUsbTargetDeviceRetrieveInformation(WDFUSBDEVICE Handle, PWDF_USB_DEVICE_INFORMATION Information) {
    if (NTSTATUS forced = Fw().verifier.Enter("WdfUsbTargetDeviceRetrieveInformation")) return forced;
    UsbDevice* usb = UsbDeviceOf(Handle, "WdfUsbTargetDeviceRetrieveInformation");
    if (!usb || !Information || Information->Size != sizeof(*Information)) return STATUS_INVALID_PARAMETER;
    Information->Traits = WDF_USB_DEVICE_TRAIT_AT_HIGH_SPEED;
    // bmAttributes bit 5: remote wake-up.
    if (usb->configuration.size() > 7 && (usb->configuration[7] & 0x20))
        Information->Traits |= WDF_USB_DEVICE_TRAIT_REMOTE_WAKE_CAPABLE;
    Information->UsbdVersionInformation.USBDI_Version = 0x600;
    Information->UsbdVersionInformation.Supported_USB_Version = 0x200;
    return STATUS_SUCCESS;
}

NTSTATUS WdfUsbTargetDeviceSelectConfig(WDFUSBDEVICE Handle, PWDF_OBJECT_ATTRIBUTES,
                                        PWDF_USB_DEVICE_SELECT_CONFIG_PARAMS Params) {
    if (NTSTATUS forced = Fw().verifier.Enter("WdfUsbTargetDeviceSelectConfig")) return forced;
    RequirePassive("WdfUsbTargetDeviceSelectConfig");
    UsbDevice* usb = UsbDeviceOf(Handle, "WdfUsbTargetDeviceSelectConfig");
    if (!usb || !Params || Params->Type != WdfUsbTargetDeviceSelectConfigTypeSingleInterface)
        return STATUS_INVALID_PARAMETER;
    if (usb->usbInterface) {
        Fw().verifier.Report("WdfUsbTargetDeviceSelectConfig: configuration selected twice");
        DeleteObject(usb->usbInterface);
        usb->usbInterface = nullptr;
    }
    const std::vector<orvo::emu::InterfaceSetting> settings = Fw().bus->Model().Settings();
    if (settings.empty()) return STATUS_INVALID_DEVICE_STATE;
    auto* usbInterface = new UsbInterface;
    Register(usbInterface, nullptr, usb);
    uint8_t index = 0;
    for (const orvo::emu::EndpointInfo& endpoint : settings[0].endpoints) {
        auto* pipe = new UsbPipe;
        pipe->index = index++;
        pipe->endpoint = endpoint.address;
        pipe->pipeType = WDF_USB_PIPE_TYPE(endpoint.type + 1);
        pipe->maxPacket = endpoint.maxPacketSize;
        pipe->interval = endpoint.interval;
        Register(pipe, nullptr, usbInterface);
        usbInterface->pipes.push_back(pipe);
    }
    usb->usbInterface = usbInterface;
    Params->Types.SingleInterface.ConfiguredUsbInterface = reinterpret_cast<WDFUSBINTERFACE>(usbInterface);
    Params->Types.SingleInterface.NumberConfiguredPipes = UCHAR(usbInterface->pipes.size());
    return STATUS_SUCCESS;
}

UCHAR WdfUsbTargetDeviceGetNumInterfaces(WDFUSBDEVICE Handle) {
    Fw().verifier.Enter("WdfUsbTargetDeviceGetNumInterfaces");
    UsbDevice* usb = UsbDeviceOf(Handle, "WdfUsbTargetDeviceGetNumInterfaces");
    return usb && usb->usbInterface ? 1 : 0;
}

NTSTATUS WdfUsbTargetDeviceIsConnectedSynchronous(WDFUSBDEVICE Handle) {
    if (NTSTATUS forced = Fw().verifier.Enter("WdfUsbTargetDeviceIsConnectedSynchronous")) return forced;
    RequirePassive("WdfUsbTargetDeviceIsConnectedSynchronous");
    if (!UsbDeviceOf(Handle, "WdfUsbTargetDeviceIsConnectedSynchronous")) return STATUS_INVALID_PARAMETER;
    return Fw().bus->Connected() ? STATUS_SUCCESS : STATUS_DEVICE_NOT_CONNECTED;
}

NTSTATUS WdfUsbTargetDeviceResetPortSynchronously(WDFUSBDEVICE Handle) {
    if (NTSTATUS forced = Fw().verifier.Enter("WdfUsbTargetDeviceResetPortSynchronously")) return forced;
    RequirePassive("WdfUsbTargetDeviceResetPortSynchronously");
    if (!UsbDeviceOf(Handle, "WdfUsbTargetDeviceResetPortSynchronously")) return STATUS_INVALID_PARAMETER;
    return Fw().bus->ResetPort();
}

NTSTATUS WdfUsbTargetDeviceSendControlTransferSynchronously(WDFUSBDEVICE Handle, WDFREQUEST,
                                                            PWDF_REQUEST_SEND_OPTIONS Options,
                                                            PWDF_USB_CONTROL_SETUP_PACKET SetupPacket,
                                                            PWDF_MEMORY_DESCRIPTOR MemoryDescriptor,
                                                            PULONG BytesTransferred) {
    if (BytesTransferred) *BytesTransferred = 0;
    if (NTSTATUS forced = Fw().verifier.Enter("WdfUsbTargetDeviceSendControlTransferSynchronously")) return forced;
    RequirePassive("WdfUsbTargetDeviceSendControlTransferSynchronously");
    if (!UsbDeviceOf(Handle, "WdfUsbTargetDeviceSendControlTransferSynchronously") || !SetupPacket)
        return STATUS_INVALID_PARAMETER;
    uint8_t* data = nullptr;
    ULONG length = 0;
    if (MemoryDescriptor) {
        if (MemoryDescriptor->Type != WdfMemoryDescriptorTypeBuffer) return STATUS_INVALID_PARAMETER;
        data = static_cast<uint8_t*>(MemoryDescriptor->u.BufferType.Buffer);
        length = MemoryDescriptor->u.BufferType.Length;
    }
    if (length > 0xFFFF) return STATUS_INVALID_PARAMETER;
    orvo::emu::SetupPacket setup;
    setup.requestType = SetupPacket->Generic.Bytes[0];
    setup.request = SetupPacket->Packet.bRequest;
    setup.value = SetupPacket->Packet.wValue.Value;
    setup.index = SetupPacket->Packet.wIndex.Value;
    setup.length = USHORT(length);
    uint32_t moved = 0;
    const NTSTATUS status = Fw().bus->Control(setup, data, length, &moved, TimeoutOf(Options));
    if (BytesTransferred) *BytesTransferred = moved;
    return status;
}

UCHAR WdfUsbInterfaceGetNumConfiguredPipes(WDFUSBINTERFACE Handle) {
    Fw().verifier.Enter("WdfUsbInterfaceGetNumConfiguredPipes");
    auto* usbInterface = As<UsbInterface>(Handle, "WdfUsbInterfaceGetNumConfiguredPipes", ObjectType::UsbInterface);
    return usbInterface ? UCHAR(usbInterface->pipes.size()) : 0;
}

WDFUSBPIPE WdfUsbInterfaceGetConfiguredPipe(WDFUSBINTERFACE Handle, UCHAR PipeIndex, PWDF_USB_PIPE_INFORMATION Info) {
    Fw().verifier.Enter("WdfUsbInterfaceGetConfiguredPipe");
    auto* usbInterface = As<UsbInterface>(Handle, "WdfUsbInterfaceGetConfiguredPipe", ObjectType::UsbInterface);
    if (!usbInterface || PipeIndex >= usbInterface->pipes.size()) return nullptr;
    UsbPipe* pipe = usbInterface->pipes[PipeIndex];
    FillPipeInformation(pipe, Info);
    return reinterpret_cast<WDFUSBPIPE>(pipe);
}

VOID WdfUsbTargetPipeGetInformation(WDFUSBPIPE Handle, PWDF_USB_PIPE_INFORMATION Info) {
    Fw().verifier.Enter("WdfUsbTargetPipeGetInformation");
    if (UsbPipe* pipe = PipeOf(Handle, "WdfUsbTargetPipeGetInformation")) FillPipeInformation(pipe, Info);
}

WDF_USB_PIPE_TYPE WdfUsbTargetPipeGetType(WDFUSBPIPE Handle) {
    Fw().verifier.Enter("WdfUsbTargetPipeGetType");
    UsbPipe* pipe = PipeOf(Handle, "WdfUsbTargetPipeGetType");
    return pipe ? pipe->pipeType : WdfUsbPipeTypeInvalid;
}

VOID WdfUsbTargetPipeSetNoMaximumPacketSizeCheck(WDFUSBPIPE Handle) {
    Fw().verifier.Enter("WdfUsbTargetPipeSetNoMaximumPacketSizeCheck");
    if (UsbPipe* pipe = PipeOf(Handle, "WdfUsbTargetPipeSetNoMaximumPacketSizeCheck")) pipe->noPacketSizeCheck = true;
}

USBD_PIPE_HANDLE WdfUsbTargetPipeWdmGetPipeHandle(WDFUSBPIPE Handle) {
    Fw().verifier.Enter("WdfUsbTargetPipeWdmGetPipeHandle");
    return PipeOf(Handle, "WdfUsbTargetPipeWdmGetPipeHandle");
}

NTSTATUS WdfUsbTargetPipeFormatRequestForUrb(WDFUSBPIPE Handle, WDFREQUEST RequestHandle, WDFMEMORY UrbMemory,
                                             PWDFMEMORY_OFFSET) {
    if (NTSTATUS forced = Fw().verifier.Enter("WdfUsbTargetPipeFormatRequestForUrb")) return forced;
    UsbPipe* pipe = PipeOf(Handle, "WdfUsbTargetPipeFormatRequestForUrb");
    auto* request = As<Request>(RequestHandle, "WdfUsbTargetPipeFormatRequestForUrb", ObjectType::Request);
    auto* memory = As<Memory>(UrbMemory, "WdfUsbTargetPipeFormatRequestForUrb", ObjectType::Memory);
    if (!pipe || !request || !memory) return STATUS_INVALID_PARAMETER;
    if (memory->bytes.size() < sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER)) return STATUS_BUFFER_TOO_SMALL;
    std::lock_guard<std::recursive_mutex> lock(Fw().lock);
    if (request->sentTo) {
        Fw().verifier.Report("WdfUsbTargetPipeFormatRequestForUrb: the request is sent");
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    request->format = Format::Urb;
    request->formattedTarget = pipe;
    request->urbMemory = UrbMemory;
    return STATUS_SUCCESS;
}

NTSTATUS WdfUsbTargetPipeAbortSynchronously(WDFUSBPIPE Handle, WDFREQUEST, PWDF_REQUEST_SEND_OPTIONS) {
    if (NTSTATUS forced = Fw().verifier.Enter("WdfUsbTargetPipeAbortSynchronously")) return forced;
    RequirePassive("WdfUsbTargetPipeAbortSynchronously");
    UsbPipe* pipe = PipeOf(Handle, "WdfUsbTargetPipeAbortSynchronously");
    if (!pipe) return STATUS_INVALID_PARAMETER;
    if (!Fw().bus->Connected()) return STATUS_NO_SUCH_DEVICE;
    Fw().bus->Abort(pipe);
    return STATUS_SUCCESS;
}

NTSTATUS WdfUsbTargetPipeResetSynchronously(WDFUSBPIPE Handle, WDFREQUEST, PWDF_REQUEST_SEND_OPTIONS) {
    if (NTSTATUS forced = Fw().verifier.Enter("WdfUsbTargetPipeResetSynchronously")) return forced;
    RequirePassive("WdfUsbTargetPipeResetSynchronously");
    UsbPipe* pipe = PipeOf(Handle, "WdfUsbTargetPipeResetSynchronously");
    if (!pipe) return STATUS_INVALID_PARAMETER;
    return Fw().bus->ResetPipe(pipe);
}

}  // extern "C"
