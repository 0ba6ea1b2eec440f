/* orvoUsb: driver entry, device add, hardware preparation, power
 * transitions, pipe files and the I/O control requests. */
#include <ntddk.h>
#include <initguid.h>

#include "private.h"

static EVT_WDF_REQUEST_COMPLETION_ROUTINE OnCyclePortDone;

NTSTATUS DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath) {
    WDF_DRIVER_CONFIG config;
    WDF_DRIVER_CONFIG_INIT(&config, OrvoUsbEvtDeviceAdd);
    return WdfDriverCreate(DriverObject, RegistryPath, WDF_NO_OBJECT_ATTRIBUTES, &config, WDF_NO_HANDLE);
}

static NTSTATUS ReadMaximumTransferSize(WDFDRIVER Driver, PDEVICE_CONTEXT deviceContext) {
    DECLARE_CONST_UNICODE_STRING(valueName, L"MaximumTransferSize");
    WDFKEY key;
    ULONG value = 0;
    NTSTATUS status = WdfDriverOpenParametersRegistryKey(Driver, KEY_READ, WDF_NO_OBJECT_ATTRIBUTES, &key);
    if (!NT_SUCCESS(status)) return status;
    status = WdfRegistryQueryULong(key, &valueName, &value);
    WdfRegistryClose(key);
    if (!NT_SUCCESS(status)) return status;
    deviceContext->maximumTransferSize = value != 0 ? value : ORVOUSB_DEFAULT_MAXIMUM_TRANSFER;
    return STATUS_SUCCESS;
}

NTSTATUS OrvoUsbEvtDeviceAdd(WDFDRIVER Driver, PWDFDEVICE_INIT DeviceInit) {
    WDF_PNPPOWER_EVENT_CALLBACKS pnpPower;
    WDF_OBJECT_ATTRIBUTES attributes;
    WDF_FILEOBJECT_CONFIG fileConfig;
    WDF_DEVICE_PNP_CAPABILITIES capabilities;
    WDF_IO_QUEUE_CONFIG queueConfig;
    WDFDEVICE device;
    WDFQUEUE queue;
    NTSTATUS status;

    WDF_PNPPOWER_EVENT_CALLBACKS_INIT(&pnpPower);
    pnpPower.EvtDevicePrepareHardware = OrvoUsbEvtDevicePrepareHardware;
    pnpPower.EvtDeviceD0Entry = OrvoUsbEvtDeviceD0Entry;
    pnpPower.EvtDeviceD0Exit = OrvoUsbEvtDeviceD0Exit;
    pnpPower.EvtDeviceSurpriseRemoval = OrvoUsbEvtDeviceSurpriseRemoval;
    WdfDeviceInitSetPnpPowerEventCallbacks(DeviceInit, &pnpPower);

    WDF_OBJECT_ATTRIBUTES_INIT_CONTEXT_TYPE(&attributes, REQUEST_CONTEXT);
    WdfDeviceInitSetRequestAttributes(DeviceInit, &attributes);

    WDF_FILEOBJECT_CONFIG_INIT(&fileConfig, OrvoUsbEvtDeviceFileCreate, NULL, NULL);
    WDF_OBJECT_ATTRIBUTES_INIT_CONTEXT_TYPE(&attributes, FILE_CONTEXT);
    WdfDeviceInitSetFileObjectConfig(DeviceInit, &fileConfig, &attributes);

    WdfDeviceInitSetIoType(DeviceInit, WdfDeviceIoDirect);

    WDF_OBJECT_ATTRIBUTES_INIT_CONTEXT_TYPE(&attributes, DEVICE_CONTEXT);
    status = WdfDeviceCreate(&DeviceInit, &attributes, &device);
    if (!NT_SUCCESS(status)) return status;

    status = ReadMaximumTransferSize(Driver, GetDeviceContext(device));
    if (!NT_SUCCESS(status)) return status;

    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    attributes.ParentObject = device;
    status = WdfSpinLockCreate(&attributes, &GetDeviceContext(device)->transferLock);
    if (!NT_SUCCESS(status)) return status;

    WDF_DEVICE_PNP_CAPABILITIES_INIT(&capabilities);
    capabilities.SurpriseRemovalOK = WdfTrue;
    WdfDeviceSetPnpCapabilities(device, &capabilities);

    WDF_IO_QUEUE_CONFIG_INIT_DEFAULT_QUEUE(&queueConfig, WdfIoQueueDispatchParallel);
    queueConfig.EvtIoRead = OrvoUsbEvtIoRead;
    queueConfig.EvtIoWrite = OrvoUsbEvtIoWrite;
    queueConfig.EvtIoDeviceControl = OrvoUsbEvtIoDeviceControl;
    /* Frees forwarded reads that wait for data before the device leaves D0:
     * without it the framework would wait for them to finish on their own. */
    queueConfig.EvtIoStop = OrvoUsbEvtIoStop;
    status = WdfIoQueueCreate(device, &queueConfig, WDF_NO_OBJECT_ATTRIBUTES, &queue);
    if (!NT_SUCCESS(status)) return status;

    return WdfDeviceCreateDeviceInterface(device, &GUID_DEVINTERFACE_ORVOUSB, NULL);
}

/* --- prepare hardware ------------------------------------------------------ */

static NTSTATUS SelectSingleInterface(PDEVICE_CONTEXT deviceContext) {
    WDF_USB_DEVICE_SELECT_CONFIG_PARAMS params;
    NTSTATUS status;
    WDF_USB_DEVICE_SELECT_CONFIG_PARAMS_INIT_SINGLE_INTERFACE(&params);
    status = WdfUsbTargetDeviceSelectConfig(deviceContext->usbDevice, WDF_NO_OBJECT_ATTRIBUTES, &params);
    if (NT_SUCCESS(status) && WdfUsbTargetDeviceGetNumInterfaces(deviceContext->usbDevice) > 0) {
        deviceContext->usbInterface = params.Types.SingleInterface.ConfiguredUsbInterface;
        deviceContext->pipeCount = params.Types.SingleInterface.NumberConfiguredPipes;
    }
    return status;
}

static NTSTATUS ReadConfiguration(WDFDEVICE Device, PDEVICE_CONTEXT deviceContext) {
    WDF_OBJECT_ATTRIBUTES attributes;
    WDFMEMORY memory;
    PVOID buffer = NULL;
    USHORT size = 0;
    NTSTATUS status = WdfUsbTargetDeviceRetrieveConfigDescriptor(deviceContext->usbDevice, NULL, &size);
    if (status != STATUS_BUFFER_TOO_SMALL || size == 0) {
        /* A device that claims a configuration of no bytes has none. */
        return NT_SUCCESS(status) ? STATUS_INVALID_DEVICE_STATE : status;
    }
    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    attributes.ParentObject = Device;
    status = WdfMemoryCreate(&attributes, NonPagedPool, ORVOUSB_POOL_TAG, size, &memory, &buffer);
    if (!NT_SUCCESS(status)) return status;
    status = WdfUsbTargetDeviceRetrieveConfigDescriptor(deviceContext->usbDevice, buffer, &size);
    if (!NT_SUCCESS(status)) {
        WdfObjectDelete(memory);
        return status;
    }
    deviceContext->configDescriptor = (PUSB_CONFIGURATION_DESCRIPTOR)buffer;
    return SelectSingleInterface(deviceContext);
}

/* A string descriptor's characters in framework memory owned by the device,
 * or NULL. A device that never answers would hold prepare-hardware for ever:
 * the query gets the control transfers' time-out. */
static WDFMEMORY QueryString(WDFDEVICE Device, PDEVICE_CONTEXT deviceContext, UCHAR index, USHORT languageId) {
    WDF_REQUEST_SEND_OPTIONS options;
    WDF_OBJECT_ATTRIBUTES attributes;
    WDFMEMORY memory;
    PVOID buffer = NULL;
    USHORT characters = 0;
    USHORT delivered;
    NTSTATUS status;

    WDF_REQUEST_SEND_OPTIONS_INIT(&options, 0);
    WDF_REQUEST_SEND_OPTIONS_SET_TIMEOUT(&options, WDF_REL_TIMEOUT_IN_SEC(ORVOUSB_CONTROL_TIMEOUT_SEC));
    status = WdfUsbTargetDeviceQueryString(deviceContext->usbDevice, WDF_NO_HANDLE, &options, NULL, &characters,
                                           index, languageId);
    if (!NT_SUCCESS(status) || characters == 0) return NULL;
    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    attributes.ParentObject = Device;
    status = WdfMemoryCreate(&attributes, NonPagedPool, ORVOUSB_POOL_TAG, characters * sizeof(USHORT), &memory,
                             &buffer);
    if (!NT_SUCCESS(status)) return NULL;
    delivered = characters;
    status = WdfUsbTargetDeviceQueryString(deviceContext->usbDevice, WDF_NO_HANDLE, &options, (PUSHORT)buffer,
                                           &delivered, index, languageId);
    if (!NT_SUCCESS(status) || delivered != characters) {
        WdfObjectDelete(memory);
        return NULL;
    }
    return memory;
}

static VOID ReadStrings(WDFDEVICE Device, PDEVICE_CONTEXT deviceContext) {
    WDFMEMORY *strings[4];
    const USB_DEVICE_DESCRIPTOR *descriptor = &deviceContext->deviceDescriptor;
    SIZE_T size = 0;
    USHORT language;
    ULONG i;

    strings[0] = &deviceContext->languageIds;
    strings[1] = &deviceContext->manufacturerString;
    strings[2] = &deviceContext->productString;
    strings[3] = &deviceContext->serialNumberString;
    for (i = 0; i < 4; ++i) {
        if (*strings[i] != NULL) WdfObjectDelete(*strings[i]);
        *strings[i] = NULL;
    }
    deviceContext->languageIds = QueryString(Device, deviceContext, 0, 0);
    if (deviceContext->languageIds == NULL) return;
    language = *(PUSHORT)WdfMemoryGetBuffer(deviceContext->languageIds, &size);
    if (size < 2) return;
    if (descriptor->iManufacturer != 0)
        deviceContext->manufacturerString = QueryString(Device, deviceContext, descriptor->iManufacturer, language);
    if (descriptor->iProduct != 0)
        deviceContext->productString = QueryString(Device, deviceContext, descriptor->iProduct, language);
    if (descriptor->iSerialNumber != 0)
        deviceContext->serialNumberString = QueryString(Device, deviceContext, descriptor->iSerialNumber, language);
}

static NTSTATUS ReadDescriptors(WDFDEVICE Device, PDEVICE_CONTEXT deviceContext) {
    NTSTATUS status;
    if (deviceContext->usbDevice == NULL) {
        status = WdfUsbTargetDeviceCreate(Device, WDF_NO_OBJECT_ATTRIBUTES, &deviceContext->usbDevice);
        if (!NT_SUCCESS(status)) return status;
    }
    WdfUsbTargetDeviceGetDeviceDescriptor(deviceContext->usbDevice, &deviceContext->deviceDescriptor);
    if (deviceContext->configDescriptor == NULL) {
        status = ReadConfiguration(Device, deviceContext);
        if (!NT_SUCCESS(status)) return status;
    }
    ReadStrings(Device, deviceContext);
    return STATUS_SUCCESS;
}

static NTSTATUS ApplyPowerPolicy(WDFDEVICE Device) {
    WDF_DEVICE_POWER_POLICY_IDLE_SETTINGS idle;
    WDF_DEVICE_POWER_POLICY_WAKE_SETTINGS wake;
    NTSTATUS status;
    WDF_DEVICE_POWER_POLICY_IDLE_SETTINGS_INIT(&idle, IdleUsbSelectiveSuspend);
    idle.IdleTimeout = ORVOUSB_IDLE_TIMEOUT_MS;
    status = WdfDeviceAssignS0IdleSettings(Device, &idle);
    if (!NT_SUCCESS(status)) return status;
    WDF_DEVICE_POWER_POLICY_WAKE_SETTINGS_INIT(&wake);
    return WdfDeviceAssignSxWakeSettings(Device, &wake);
}

NTSTATUS OrvoUsbEvtDevicePrepareHardware(WDFDEVICE Device, WDFCMRESLIST ResourcesRaw,
                                         WDFCMRESLIST ResourcesTranslated) {
    PDEVICE_CONTEXT deviceContext = GetDeviceContext(Device);
    WDF_USB_DEVICE_INFORMATION information;
    NTSTATUS status;
    UNREFERENCED_PARAMETER(ResourcesRaw);
    UNREFERENCED_PARAMETER(ResourcesTranslated);

    status = ReadDescriptors(Device, deviceContext);
    if (!NT_SUCCESS(status)) return status;

    deviceContext->highSpeed = 0;
    deviceContext->remoteWakeCapable = 0;
    WDF_USB_DEVICE_INFORMATION_INIT(&information);
    status = WdfUsbTargetDeviceRetrieveInformation(deviceContext->usbDevice, &information);
    if (!NT_SUCCESS(status)) return status;
    deviceContext->highSpeed = (information.Traits & WDF_USB_DEVICE_TRAIT_AT_HIGH_SPEED) ? 1 : 0;
    deviceContext->remoteWakeCapable = information.Traits & WDF_USB_DEVICE_TRAIT_REMOTE_WAKE_CAPABLE;

    if (deviceContext->remoteWakeCapable) return ApplyPowerPolicy(Device);
    return STATUS_SUCCESS;
}

/* --- power ----------------------------------------------------------------- */

NTSTATUS OrvoUsbEvtDeviceD0Entry(WDFDEVICE Device, WDF_POWER_DEVICE_STATE PreviousState) {
    UNREFERENCED_PARAMETER(Device);
    UNREFERENCED_PARAMETER(PreviousState);
    return STATUS_SUCCESS;
}

static VOID OnCyclePortDone(WDFREQUEST Request, WDFIOTARGET Target, PWDF_REQUEST_COMPLETION_PARAMS Params,
                            WDFCONTEXT Context) {
    UNREFERENCED_PARAMETER(Target);
    UNREFERENCED_PARAMETER(Params);
    UNREFERENCED_PARAMETER(Context);
    WdfObjectDelete(Request);
}

static VOID CyclePort(WDFDEVICE Device) {
    WDFIOTARGET target = WdfDeviceGetIoTarget(Device);
    WDFREQUEST request;
    NTSTATUS status = WdfRequestCreate(WDF_NO_OBJECT_ATTRIBUTES, target, &request);
    if (!NT_SUCCESS(status)) return;
    status = WdfIoTargetFormatRequestForInternalIoctl(target, request, IOCTL_INTERNAL_USB_CYCLE_PORT, NULL, NULL,
                                                      NULL, NULL);
    if (NT_SUCCESS(status)) {
        WdfRequestSetCompletionRoutine(request, OnCyclePortDone, NULL);
        if (WdfRequestSend(request, target, WDF_NO_SEND_OPTIONS)) return;
    }
    WdfObjectDelete(request);
}

VOID OrvoUsbStopAllPipes(PDEVICE_CONTEXT deviceContext) {
    UCHAR i;
    for (i = 0; i < deviceContext->pipeCount; ++i) {
        WDFUSBPIPE pipe = WdfUsbInterfaceGetConfiguredPipe(deviceContext->usbInterface, i, NULL);
        if (pipe != NULL) WdfIoTargetStop(WdfUsbTargetPipeGetIoTarget(pipe), WdfIoTargetCancelSentIo);
    }
}

VOID OrvoUsbStartAllPipes(PDEVICE_CONTEXT deviceContext) {
    UCHAR i;
    for (i = 0; i < deviceContext->pipeCount; ++i) {
        WDFUSBPIPE pipe = WdfUsbInterfaceGetConfiguredPipe(deviceContext->usbInterface, i, NULL);
        if (pipe != NULL) (VOID)WdfIoTargetStart(WdfUsbTargetPipeGetIoTarget(pipe));
    }
}

NTSTATUS OrvoUsbEvtDeviceD0Exit(WDFDEVICE Device, WDF_POWER_DEVICE_STATE TargetState) {
    PDEVICE_CONTEXT deviceContext = GetDeviceContext(Device);
    OrvoUsbStopAllPipes(deviceContext);
    if (deviceContext->usbDevice != NULL && NT_SUCCESS(WdfUsbTargetDeviceIsConnectedSynchronous(deviceContext->usbDevice)))
        (VOID)WdfUsbTargetDeviceResetPortSynchronously(deviceContext->usbDevice);
    if (TargetState == WdfPowerDeviceD3) CyclePort(Device);
    return STATUS_SUCCESS;
}

VOID OrvoUsbEvtDeviceSurpriseRemoval(WDFDEVICE Device) { UNREFERENCED_PARAMETER(Device); }

/* --- resets ---------------------------------------------------------------- */

NTSTATUS OrvoUsbResetOnePipe(WDFUSBPIPE pipe) {
    WDFIOTARGET target = WdfUsbTargetPipeGetIoTarget(pipe);
    WDF_REQUEST_SEND_OPTIONS options;
    NTSTATUS status;
    NTSTATUS startStatus;

    WdfIoTargetStop(target, WdfIoTargetCancelSentIo);
    WDF_REQUEST_SEND_OPTIONS_INIT(&options, WDF_REQUEST_SEND_OPTION_IGNORE_TARGET_STATE);
    WDF_REQUEST_SEND_OPTIONS_SET_TIMEOUT(&options, WDF_REL_TIMEOUT_IN_SEC(ORVOUSB_ABORT_TIMEOUT_SEC));
    (VOID)WdfUsbTargetPipeAbortSynchronously(pipe, WDF_NO_HANDLE, &options);

    WdfIoTargetStop(target, WdfIoTargetCancelSentIo);
    WDF_REQUEST_SEND_OPTIONS_INIT(&options, WDF_REQUEST_SEND_OPTION_IGNORE_TARGET_STATE);
    WDF_REQUEST_SEND_OPTIONS_SET_TIMEOUT(&options, WDF_REL_TIMEOUT_IN_SEC(ORVOUSB_RESET_TIMEOUT_SEC));
    status = WdfUsbTargetPipeResetSynchronously(pipe, WDF_NO_HANDLE, &options);

    startStatus = WdfIoTargetStart(target);
    if (!NT_SUCCESS(status)) return status;
    return startStatus;
}

NTSTATUS OrvoUsbResetPort(PDEVICE_CONTEXT deviceContext) {
    NTSTATUS status;
    OrvoUsbStopAllPipes(deviceContext);
    status = WdfUsbTargetDeviceIsConnectedSynchronous(deviceContext->usbDevice);
    if (NT_SUCCESS(status)) status = WdfUsbTargetDeviceResetPortSynchronously(deviceContext->usbDevice);
    OrvoUsbStartAllPipes(deviceContext);
    return status;
}

/* --- files ----------------------------------------------------------------- */

/* The pipe a file name binds: the last run of decimal digits is the index
 * among the configured pipes. Indexes above 255 are refused rather than
 * wrapped, so "orvoUsb256" does not open pipe 0. */
static NTSTATUS PipeFromFileName(PDEVICE_CONTEXT deviceContext, PCUNICODE_STRING name, WDFUSBPIPE *pipe) {
    ULONG end = name->Length / sizeof(WCHAR);
    ULONG start;
    ULONG index = 0;
    *pipe = NULL;
    while (end > 0 && !(name->Buffer[end - 1] >= L'0' && name->Buffer[end - 1] <= L'9')) --end;
    if (end == 0) return STATUS_INVALID_DEVICE_REQUEST;
    start = end;
    while (start > 0 && name->Buffer[start - 1] >= L'0' && name->Buffer[start - 1] <= L'9') --start;
    for (; start < end; ++start) {
        index = index * 10 + (ULONG)(name->Buffer[start] - L'0');
        if (index > ORVOUSB_MAX_PIPE_INDEX) return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (deviceContext->usbInterface == NULL || index >= deviceContext->pipeCount) return STATUS_INVALID_DEVICE_REQUEST;
    *pipe = WdfUsbInterfaceGetConfiguredPipe(deviceContext->usbInterface, (UCHAR)index, NULL);
    return *pipe != NULL ? STATUS_SUCCESS : STATUS_INVALID_DEVICE_REQUEST;
}

VOID OrvoUsbEvtDeviceFileCreate(WDFDEVICE Device, WDFREQUEST Request, WDFFILEOBJECT FileObject) {
    PFILE_CONTEXT fileContext = GetFileContext(FileObject);
    PUNICODE_STRING name = WdfFileObjectGetFileName(FileObject);
    WDFUSBPIPE pipe;
    NTSTATUS status;

    fileContext->pipe = NULL;
    if (name == NULL || name->Length == 0) {
        WdfRequestComplete(Request, STATUS_SUCCESS);
        return;
    }
    status = PipeFromFileName(GetDeviceContext(Device), name, &pipe);
    if (NT_SUCCESS(status)) {
        fileContext->pipe = pipe;
        WdfUsbTargetPipeSetNoMaximumPacketSizeCheck(pipe);
    }
    WdfRequestComplete(Request, status);
}

/* --- I/O control ----------------------------------------------------------- */

/* Serves the device's own strings from the copies read at prepare-hardware.
 * Returns FALSE when the string must come from the device. */
static BOOLEAN LookupCachedString(PDEVICE_CONTEXT deviceContext, UCHAR index, USHORT languageId, PUSHORT buffer,
                                  USHORT capacity, PUSHORT characters, NTSTATUS *status) {
    const USB_DEVICE_DESCRIPTOR *descriptor = &deviceContext->deviceDescriptor;
    WDFMEMORY memory = NULL;
    SIZE_T size = 0;
    PUSHORT languages;
    PUSHORT text;
    USHORT count;

    if (deviceContext->languageIds == NULL) return FALSE;
    languages = (PUSHORT)WdfMemoryGetBuffer(deviceContext->languageIds, &size);
    if (size < 2) return FALSE;
    if (index == 0) {
        memory = deviceContext->languageIds;
    } else if (languageId == languages[0]) {
        if (index == descriptor->iManufacturer) memory = deviceContext->manufacturerString;
        else if (index == descriptor->iProduct) memory = deviceContext->productString;
        else if (index == descriptor->iSerialNumber) memory = deviceContext->serialNumberString;
    }
    if (memory == NULL) return FALSE;
    text = (PUSHORT)WdfMemoryGetBuffer(memory, &size);
    if (size < 2) return FALSE;
    count = (USHORT)(size / sizeof(USHORT));
    *characters = count;
    if (buffer != NULL) {
        if (count > capacity) {
            *status = STATUS_BUFFER_OVERFLOW;
            return TRUE;
        }
        RtlCopyMemory(buffer, text, count * sizeof(USHORT));
    }
    *status = STATUS_SUCCESS;
    return TRUE;
}

/* The buffered request's input and output share one system buffer: the
 * request is copied before the output is written. */
static NTSTATUS GetDescriptor(PDEVICE_CONTEXT deviceContext, const ORVOUSB_DESCRIPTOR_REQUEST *input, PUCHAR output,
                              SIZE_T outputLength, ULONG_PTR *information) {
    ORVOUSB_DESCRIPTOR_REQUEST request = *input;
    WDF_REQUEST_SEND_OPTIONS options;
    PUSHORT buffer = NULL;
    USHORT capacity = 0;
    USHORT characters = 0;
    NTSTATUS status;

    switch (request.descriptorType) {
    case USB_DEVICE_DESCRIPTOR_TYPE:
        if (outputLength < sizeof(USB_DEVICE_DESCRIPTOR)) return STATUS_INVALID_PARAMETER;
        RtlCopyMemory(output, &deviceContext->deviceDescriptor, sizeof(USB_DEVICE_DESCRIPTOR));
        *information = sizeof(USB_DEVICE_DESCRIPTOR);
        return STATUS_SUCCESS;
    case USB_STRING_DESCRIPTOR_TYPE:
        /* The header alone needs 4 bytes; a smaller output gets nothing. */
        if (outputLength < 4) return STATUS_BUFFER_TOO_SMALL;
        if (outputLength > 4) {
            SIZE_T room = (outputLength - 2) / sizeof(USHORT);
            buffer = (PUSHORT)(output + 2);
            capacity = (USHORT)(room > 0xFFFF ? 0xFFFF : room);
        }
        if (!LookupCachedString(deviceContext, request.index, request.languageId, buffer, capacity, &characters,
                                &status)) {
            WDF_REQUEST_SEND_OPTIONS_INIT(&options, 0);
            WDF_REQUEST_SEND_OPTIONS_SET_TIMEOUT(&options, WDF_REL_TIMEOUT_IN_SEC(ORVOUSB_CONTROL_TIMEOUT_SEC));
            characters = capacity;
            status = WdfUsbTargetDeviceQueryString(deviceContext->usbDevice, WDF_NO_HANDLE, &options, buffer,
                                                   &characters, request.index, request.languageId);
        }
        if (!NT_SUCCESS(status)) return status;
        output[0] = (UCHAR)((characters + 1) * 2);
        output[1] = USB_STRING_DESCRIPTOR_TYPE;
        *information = buffer != NULL ? output[0] : 4;
        return STATUS_SUCCESS;
    default:
        return STATUS_INVALID_PARAMETER;
    }
}

static NTSTATUS SendControl(PDEVICE_CONTEXT deviceContext, const ORVOUSB_CONTROL_REQUEST *input, PVOID buffer,
                            SIZE_T length, WDF_USB_BMREQUEST_DIRECTION direction, ULONG_PTR *information) {
    ORVOUSB_CONTROL_REQUEST request = *input;
    WDF_USB_CONTROL_SETUP_PACKET packet;
    WDF_MEMORY_DESCRIPTOR memory;
    WDF_REQUEST_SEND_OPTIONS options;
    WDF_USB_BMREQUEST_TYPE type;
    ULONG transferred = 0;
    NTSTATUS status;

    if (request.recipient > BmRequestToOther) return STATUS_INVALID_PARAMETER;
    if (request.type == ORVOUSB_REQUEST_TYPE_CLASS) type = BmRequestClass;
    else if (request.type == ORVOUSB_REQUEST_TYPE_VENDOR) type = BmRequestVendor;
    else return STATUS_INVALID_PARAMETER;
    /* wLength is 16 bits: a longer data stage cannot be described. */
    if (length > 0xFFFF) return STATUS_INVALID_PARAMETER;

    WDF_USB_CONTROL_SETUP_PACKET_INIT_TYPED(&packet, type, direction, (WDF_USB_BMREQUEST_RECIPIENT)request.recipient,
                                            request.request, request.value, request.index);
    packet.Packet.wLength = (USHORT)length;
    WDF_MEMORY_DESCRIPTOR_INIT_BUFFER(&memory, buffer, (ULONG)length);
    WDF_REQUEST_SEND_OPTIONS_INIT(&options, 0);
    WDF_REQUEST_SEND_OPTIONS_SET_TIMEOUT(&options, WDF_REL_TIMEOUT_IN_SEC(ORVOUSB_CONTROL_TIMEOUT_SEC));
    status = WdfUsbTargetDeviceSendControlTransferSynchronously(deviceContext->usbDevice, WDF_NO_HANDLE, &options,
                                                                &packet, length != 0 ? &memory : NULL,
                                                                &transferred);
    *information = transferred;
    return status;
}

VOID OrvoUsbEvtIoDeviceControl(WDFQUEUE Queue, WDFREQUEST Request, SIZE_T OutputBufferLength,
                               SIZE_T InputBufferLength, ULONG IoControlCode) {
    PDEVICE_CONTEXT deviceContext = GetDeviceContext(WdfIoQueueGetDevice(Queue));
    PVOID output = NULL;
    PVOID input = NULL;
    SIZE_T length = 0;
    ULONG_PTR information = 0;
    PFILE_CONTEXT fileContext;
    NTSTATUS status = STATUS_SUCCESS;

    if (OutputBufferLength != 0) {
        status = WdfRequestRetrieveOutputBuffer(Request, OutputBufferLength, &output, &length);
        if (!NT_SUCCESS(status)) {
            WdfRequestComplete(Request, status);
            return;
        }
    }
    if (InputBufferLength != 0) {
        status = WdfRequestRetrieveInputBuffer(Request, InputBufferLength, &input, &length);
        if (!NT_SUCCESS(status)) {
            WdfRequestComplete(Request, status);
            return;
        }
    }

    switch (IoControlCode) {
    case IOCTL_ORVOUSB_GET_CONFIG_DESCRIPTOR:
        if (OutputBufferLength == 0) {
            status = STATUS_INVALID_PARAMETER;
        } else if (deviceContext->configDescriptor == NULL) {
            status = STATUS_INVALID_DEVICE_STATE;
        } else {
            SIZE_T total = deviceContext->configDescriptor->wTotalLength;
            information = OutputBufferLength < total ? OutputBufferLength : total;
            RtlCopyMemory(output, deviceContext->configDescriptor, information);
            status = STATUS_SUCCESS;
        }
        break;
    case IOCTL_ORVOUSB_RESET_DEVICE:
        status = OrvoUsbResetPort(deviceContext);
        break;
    case IOCTL_ORVOUSB_RESET_PIPE:
        fileContext = GetFileContext(WdfRequestGetFileObject(Request));
        status = fileContext->pipe == NULL ? STATUS_INVALID_PARAMETER : OrvoUsbResetOnePipe(fileContext->pipe);
        break;
    case IOCTL_ORVOUSB_GET_DESCRIPTOR:
        if (InputBufferLength != sizeof(ORVOUSB_DESCRIPTOR_REQUEST)) {
            status = STATUS_INVALID_PARAMETER;
        } else {
            status = GetDescriptor(deviceContext, (const ORVOUSB_DESCRIPTOR_REQUEST *)input, (PUCHAR)output,
                                   OutputBufferLength, &information);
        }
        break;
    case IOCTL_ORVOUSB_CONTROL_IN:
    case IOCTL_ORVOUSB_CONTROL_OUT:
        if (InputBufferLength != sizeof(ORVOUSB_CONTROL_REQUEST)) {
            status = STATUS_INVALID_PARAMETER;
        } else {
            status = SendControl(deviceContext, (const ORVOUSB_CONTROL_REQUEST *)input, output, OutputBufferLength,
                                 IoControlCode == IOCTL_ORVOUSB_CONTROL_IN ? BmRequestDeviceToHost
                                                                           : BmRequestHostToDevice,
                                 &information);
        }
        break;
    default:
        status = STATUS_INVALID_DEVICE_REQUEST;
        break;
    }
    WdfRequestCompleteWithInformation(Request, status, information);
}
