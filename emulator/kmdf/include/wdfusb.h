/* KMDF 1.11 USB target declarations with the WDK's names, types and
 * signatures: the subset the orvoUsb driver uses. */
#ifndef ORVO_KMDF_WDFUSB_H
#define ORVO_KMDF_WDFUSB_H

#include <wdf.h>
#include <usb.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum _WDF_USB_PIPE_TYPE {
    WdfUsbPipeTypeInvalid = 0, WdfUsbPipeTypeControl, WdfUsbPipeTypeIsochronous, WdfUsbPipeTypeBulk,
    WdfUsbPipeTypeInterrupt
} WDF_USB_PIPE_TYPE;

typedef enum _WDF_USB_REQUEST_TYPE {
    WdfUsbRequestTypeInvalid = 0, WdfUsbRequestTypeNoFormat, WdfUsbRequestTypeDeviceString,
    WdfUsbRequestTypeDeviceControlTransfer, WdfUsbRequestTypeDeviceUrb, WdfUsbRequestTypePipeWrite,
    WdfUsbRequestTypePipeRead, WdfUsbRequestTypePipeAbort, WdfUsbRequestTypePipeReset, WdfUsbRequestTypePipeUrb
} WDF_USB_REQUEST_TYPE;

struct _WDF_USB_REQUEST_COMPLETION_PARAMS {
    USBD_STATUS UsbdStatus;
    WDF_USB_REQUEST_TYPE Type;
};

typedef enum _WDF_USB_DEVICE_TRAITS {
    WDF_USB_DEVICE_TRAIT_SELF_POWERED = 0x00000001, WDF_USB_DEVICE_TRAIT_REMOTE_WAKE_CAPABLE = 0x00000002,
    WDF_USB_DEVICE_TRAIT_AT_HIGH_SPEED = 0x00000004
} WDF_USB_DEVICE_TRAITS;

typedef struct _USBD_VERSION_INFORMATION {
    ULONG USBDI_Version;
    ULONG Supported_USB_Version;
} USBD_VERSION_INFORMATION;

typedef struct _WDF_USB_DEVICE_INFORMATION {
    ULONG Size;
    USBD_VERSION_INFORMATION UsbdVersionInformation;
    ULONG HcdPortCapabilities;
    ULONG Traits;
} WDF_USB_DEVICE_INFORMATION, *PWDF_USB_DEVICE_INFORMATION;

FORCEINLINE VOID WDF_USB_DEVICE_INFORMATION_INIT(PWDF_USB_DEVICE_INFORMATION Info) {
    RtlZeroMemory(Info, sizeof(WDF_USB_DEVICE_INFORMATION));
    Info->Size = sizeof(WDF_USB_DEVICE_INFORMATION);
}

typedef struct _WDF_USB_PIPE_INFORMATION {
    ULONG Size;
    ULONG MaximumPacketSize;
    UCHAR EndpointAddress;
    UCHAR Interval;
    UCHAR SettingIndex;
    WDF_USB_PIPE_TYPE PipeType;
    ULONG MaximumTransferSize;
} WDF_USB_PIPE_INFORMATION, *PWDF_USB_PIPE_INFORMATION;

FORCEINLINE VOID WDF_USB_PIPE_INFORMATION_INIT(PWDF_USB_PIPE_INFORMATION Info) {
    RtlZeroMemory(Info, sizeof(WDF_USB_PIPE_INFORMATION));
    Info->Size = sizeof(WDF_USB_PIPE_INFORMATION);
}

typedef enum _WdfUsbTargetDeviceSelectConfigType {
    WdfUsbTargetDeviceSelectConfigTypeInvalid = 0, WdfUsbTargetDeviceSelectConfigTypeDeconfig = 1,
    WdfUsbTargetDeviceSelectConfigTypeSingleInterface = 2, WdfUsbTargetDeviceSelectConfigTypeMultiInterface = 3,
    WdfUsbTargetDeviceSelectConfigTypeInterfacesPairs = 4, WdfUsbTargetDeviceSelectConfigTypeInterfacesDescriptor = 5,
    WdfUsbTargetDeviceSelectConfigTypeUrb = 6
} WdfUsbTargetDeviceSelectConfigType;

typedef struct _WDF_USB_DEVICE_SELECT_CONFIG_PARAMS {
    ULONG Size;
    WdfUsbTargetDeviceSelectConfigType Type;
    union {
        struct {
            WDFUSBINTERFACE ConfiguredUsbInterface;
            UCHAR NumberConfiguredPipes;
        } SingleInterface;
    } Types;
} WDF_USB_DEVICE_SELECT_CONFIG_PARAMS, *PWDF_USB_DEVICE_SELECT_CONFIG_PARAMS;

FORCEINLINE VOID WDF_USB_DEVICE_SELECT_CONFIG_PARAMS_INIT_SINGLE_INTERFACE(
    PWDF_USB_DEVICE_SELECT_CONFIG_PARAMS Params) {
    RtlZeroMemory(Params, sizeof(WDF_USB_DEVICE_SELECT_CONFIG_PARAMS));
    Params->Size = sizeof(WDF_USB_DEVICE_SELECT_CONFIG_PARAMS);
    Params->Type = WdfUsbTargetDeviceSelectConfigTypeSingleInterface;
}

typedef enum _WDF_USB_BMREQUEST_DIRECTION { BmRequestHostToDevice = 0, BmRequestDeviceToHost = 1 } WDF_USB_BMREQUEST_DIRECTION;
typedef enum _WDF_USB_BMREQUEST_TYPE { BmRequestStandard = 0, BmRequestClass = 1, BmRequestVendor = 2 } WDF_USB_BMREQUEST_TYPE;
typedef enum _WDF_USB_BMREQUEST_RECIPIENT {
    BmRequestToDevice = 0, BmRequestToInterface = 1, BmRequestToEndpoint = 2, BmRequestToOther = 3
} WDF_USB_BMREQUEST_RECIPIENT;

typedef union _WDF_USB_CONTROL_SETUP_PACKET {
    struct {
        union {
            struct {
                UCHAR Recipient : 2;
                UCHAR Reserved : 3;
                UCHAR Type : 2;
                UCHAR Dir : 1;
            } Request;
            UCHAR Byte;
        } bm;
        UCHAR bRequest;
        union {
            struct {
                UCHAR LowByte;
                UCHAR HiByte;
            } Bytes;
            USHORT Value;
        } wValue;
        union {
            struct {
                UCHAR LowByte;
                UCHAR HiByte;
            } Bytes;
            USHORT Value;
        } wIndex;
        USHORT wLength;
    } Packet;
    struct {
        UCHAR Bytes[8];
    } Generic;
} WDF_USB_CONTROL_SETUP_PACKET, *PWDF_USB_CONTROL_SETUP_PACKET;

FORCEINLINE VOID WDF_USB_CONTROL_SETUP_PACKET_INIT_TYPED(PWDF_USB_CONTROL_SETUP_PACKET Packet,
                                                        WDF_USB_BMREQUEST_TYPE Type,
                                                        WDF_USB_BMREQUEST_DIRECTION Direction,
                                                        WDF_USB_BMREQUEST_RECIPIENT Recipient, UCHAR Request,
                                                        USHORT Value, USHORT Index) {
    RtlZeroMemory(Packet, sizeof(WDF_USB_CONTROL_SETUP_PACKET));
    Packet->Packet.bm.Request.Dir = (UCHAR)Direction;
    Packet->Packet.bm.Request.Type = (UCHAR)Type;
    Packet->Packet.bm.Request.Recipient = (UCHAR)Recipient;
    Packet->Packet.bRequest = Request;
    Packet->Packet.wValue.Value = Value;
    Packet->Packet.wIndex.Value = Index;
}
#define WDF_USB_CONTROL_SETUP_PACKET_INIT_CLASS(p, dir, rec, req, val, idx) \
    WDF_USB_CONTROL_SETUP_PACKET_INIT_TYPED((p), BmRequestClass, (dir), (rec), (req), (val), (idx))
#define WDF_USB_CONTROL_SETUP_PACKET_INIT_VENDOR(p, dir, rec, req, val, idx) \
    WDF_USB_CONTROL_SETUP_PACKET_INIT_TYPED((p), BmRequestVendor, (dir), (rec), (req), (val), (idx))

NTSTATUS WdfUsbTargetDeviceCreate(WDFDEVICE Device, PWDF_OBJECT_ATTRIBUTES Attributes, WDFUSBDEVICE *UsbDevice);
VOID WdfUsbTargetDeviceGetDeviceDescriptor(WDFUSBDEVICE UsbDevice, PUSB_DEVICE_DESCRIPTOR UsbDeviceDescriptor);
NTSTATUS WdfUsbTargetDeviceRetrieveConfigDescriptor(WDFUSBDEVICE UsbDevice, PVOID ConfigDescriptor,
                                                    PUSHORT ConfigDescriptorLength);
NTSTATUS WdfUsbTargetDeviceQueryString(WDFUSBDEVICE UsbDevice, WDFREQUEST Request,
                                       PWDF_REQUEST_SEND_OPTIONS RequestOptions, PUSHORT String,
                                       PUSHORT NumCharacters, UCHAR StringIndex, USHORT LangID);
NTSTATUS WdfUsbTargetDeviceRetrieveInformation(WDFUSBDEVICE UsbDevice, PWDF_USB_DEVICE_INFORMATION Information);
NTSTATUS WdfUsbTargetDeviceSelectConfig(WDFUSBDEVICE UsbDevice, PWDF_OBJECT_ATTRIBUTES PipeAttributes,
                                        PWDF_USB_DEVICE_SELECT_CONFIG_PARAMS Params);
UCHAR WdfUsbTargetDeviceGetNumInterfaces(WDFUSBDEVICE UsbDevice);
NTSTATUS WdfUsbTargetDeviceIsConnectedSynchronous(WDFUSBDEVICE UsbDevice);
NTSTATUS WdfUsbTargetDeviceResetPortSynchronously(WDFUSBDEVICE UsbDevice);
NTSTATUS WdfUsbTargetDeviceSendControlTransferSynchronously(WDFUSBDEVICE UsbDevice, WDFREQUEST Request,
                                                            PWDF_REQUEST_SEND_OPTIONS RequestOptions,
                                                            PWDF_USB_CONTROL_SETUP_PACKET SetupPacket,
                                                            PWDF_MEMORY_DESCRIPTOR MemoryDescriptor,
                                                            PULONG BytesTransferred);

UCHAR WdfUsbInterfaceGetNumConfiguredPipes(WDFUSBINTERFACE UsbInterface);
WDFUSBPIPE WdfUsbInterfaceGetConfiguredPipe(WDFUSBINTERFACE UsbInterface, UCHAR PipeIndex,
                                            PWDF_USB_PIPE_INFORMATION PipeInfo);

VOID WdfUsbTargetPipeGetInformation(WDFUSBPIPE Pipe, PWDF_USB_PIPE_INFORMATION PipeInformation);
WDF_USB_PIPE_TYPE WdfUsbTargetPipeGetType(WDFUSBPIPE Pipe);
VOID WdfUsbTargetPipeSetNoMaximumPacketSizeCheck(WDFUSBPIPE Pipe);
USBD_PIPE_HANDLE WdfUsbTargetPipeWdmGetPipeHandle(WDFUSBPIPE UsbPipe);
NTSTATUS WdfUsbTargetPipeFormatRequestForUrb(WDFUSBPIPE Pipe, WDFREQUEST Request, WDFMEMORY UrbMemory,
                                             PWDFMEMORY_OFFSET UrbMemoryOffset);
NTSTATUS WdfUsbTargetPipeAbortSynchronously(WDFUSBPIPE Pipe, WDFREQUEST Request,
                                            PWDF_REQUEST_SEND_OPTIONS RequestOptions);
NTSTATUS WdfUsbTargetPipeResetSynchronously(WDFUSBPIPE Pipe, WDFREQUEST Request,
                                            PWDF_REQUEST_SEND_OPTIONS RequestOptions);

/* A USB pipe and a USB target device are I/O targets themselves. */
FORCEINLINE WDFIOTARGET WdfUsbTargetPipeGetIoTarget(WDFUSBPIPE Pipe) { return (WDFIOTARGET)Pipe; }
FORCEINLINE WDFIOTARGET WdfUsbTargetDeviceGetIoTarget(WDFUSBDEVICE UsbDevice) { return (WDFIOTARGET)UsbDevice; }

#ifdef __cplusplus
}
#endif

#endif
