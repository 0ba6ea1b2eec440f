/* The orvoUsb driver's object contexts and the routines its two sources
 * share. */
#ifndef ORVOUSB_PRIVATE_H
#define ORVOUSB_PRIVATE_H

#include <ntddk.h>
#include <wdf.h>
#include <usb.h>
#include <usbdlib.h>
#include <wdfusb.h>

#include "public.h"

/* Pool tag of every allocation: reads "OUsb" in pool listings. */
#define ORVOUSB_POOL_TAG 'bsUO'

/* Bulk transfers longer than this go down in stages of this size, at most
 * ORVOUSB_MAX_STAGE_REQUESTS of them in flight. */
#define ORVOUSB_STAGE_SIZE 262144
#define ORVOUSB_MAX_STAGE_REQUESTS 3

#define ORVOUSB_CONTROL_TIMEOUT_SEC 1
#define ORVOUSB_ABORT_TIMEOUT_SEC 1
#define ORVOUSB_RESET_TIMEOUT_SEC 15
#define ORVOUSB_IDLE_TIMEOUT_MS 10000
#define ORVOUSB_DEFAULT_MAXIMUM_TRANSFER 65536
#define ORVOUSB_MAX_PIPE_INDEX 255

typedef struct _DEVICE_CONTEXT {
    USB_DEVICE_DESCRIPTOR deviceDescriptor;
    PUSB_CONFIGURATION_DESCRIPTOR configDescriptor;
    WDFUSBDEVICE usbDevice;
    ULONG remoteWakeCapable;
    UCHAR highSpeed;
    WDFUSBINTERFACE usbInterface;
    UCHAR pipeCount;
    ULONG maximumTransferSize;
    WDFMEMORY languageIds;
    WDFMEMORY manufacturerString;
    WDFMEMORY productString;
    WDFMEMORY serialNumberString;
    /* Orders EvtIoStop against a transfer's start: guards each request's
     * stopped mark and the publishing of its stage lock. */
    WDFSPINLOCK transferLock;
} DEVICE_CONTEXT, *PDEVICE_CONTEXT;
WDF_DECLARE_CONTEXT_TYPE_WITH_NAME(DEVICE_CONTEXT, GetDeviceContext)

typedef struct _FILE_CONTEXT {
    WDFUSBPIPE pipe;
} FILE_CONTEXT, *PFILE_CONTEXT;
WDF_DECLARE_CONTEXT_TYPE_WITH_NAME(FILE_CONTEXT, GetFileContext)

typedef struct _REQUEST_CONTEXT {
    WDFMEMORY urbBuffer;
    PMDL dataMdl;
    ULONG bytesLeft;
    ULONG bytesDone;
    PUCHAR nextAddress;
    WDFCOLLECTION stageRequests;
    WDFSPINLOCK stageLock;
    UCHAR isRead;
    NTSTATUS failStatus;
    USBD_STATUS failUsbdStatus;
    /* Under stageLock: set once the transfer is being cancelled or stopped;
     * no stage is sent or re-sent after it. */
    BOOLEAN cancelled;
    /* Under stageLock: a pipe recovery was queued for this transfer. */
    BOOLEAN recoveryQueued;
    /* Under stageLock: stages given their piece and waiting to be sent, in
     * address order, and whether a thread is sending them. */
    LIST_ENTRY readyStages;
    BOOLEAN sending;
    /* Under the device's transferLock: EvtIoStop ran for the request. A
     * single URB is not sent after it; a staged start cancels its stages. */
    BOOLEAN stopped;
    /* The caller's request was marked cancelable (with an extra reference). */
    BOOLEAN cancelable;
    WDFUSBPIPE pipe;
} REQUEST_CONTEXT, *PREQUEST_CONTEXT;
WDF_DECLARE_CONTEXT_TYPE_WITH_NAME(REQUEST_CONTEXT, GetRequestContext)

typedef struct _SUB_REQUEST_CONTEXT {
    WDFREQUEST parentRequest;
    WDFMEMORY urbBuffer;
    PMDL pieceMdl;
    /* Chains the stage while it waits to be sent. */
    LIST_ENTRY link;
    /* Chains the stage on a cancel's local list: a separate entry, since a
     * cancel may run while the start still holds its list. */
    LIST_ENTRY cancelLink;
} SUB_REQUEST_CONTEXT, *PSUB_REQUEST_CONTEXT;
WDF_DECLARE_CONTEXT_TYPE_WITH_NAME(SUB_REQUEST_CONTEXT, GetSubRequestContext)

typedef struct _WORKITEM_CONTEXT {
    WDFDEVICE device;
    WDFUSBPIPE pipe;
} WORKITEM_CONTEXT, *PWORKITEM_CONTEXT;
WDF_DECLARE_CONTEXT_TYPE_WITH_NAME(WORKITEM_CONTEXT, GetWorkItemContext)

DRIVER_INITIALIZE DriverEntry;
EVT_WDF_DRIVER_DEVICE_ADD OrvoUsbEvtDeviceAdd;
EVT_WDF_DEVICE_PREPARE_HARDWARE OrvoUsbEvtDevicePrepareHardware;
EVT_WDF_DEVICE_D0_ENTRY OrvoUsbEvtDeviceD0Entry;
EVT_WDF_DEVICE_D0_EXIT OrvoUsbEvtDeviceD0Exit;
EVT_WDF_DEVICE_SURPRISE_REMOVAL OrvoUsbEvtDeviceSurpriseRemoval;
EVT_WDF_DEVICE_FILE_CREATE OrvoUsbEvtDeviceFileCreate;
EVT_WDF_IO_QUEUE_IO_DEVICE_CONTROL OrvoUsbEvtIoDeviceControl;
EVT_WDF_IO_QUEUE_IO_READ OrvoUsbEvtIoRead;
EVT_WDF_IO_QUEUE_IO_WRITE OrvoUsbEvtIoWrite;
EVT_WDF_IO_QUEUE_IO_STOP OrvoUsbEvtIoStop;

NTSTATUS OrvoUsbResetOnePipe(WDFUSBPIPE pipe);
NTSTATUS OrvoUsbResetPort(PDEVICE_CONTEXT deviceContext);
VOID OrvoUsbStopAllPipes(PDEVICE_CONTEXT deviceContext);
VOID OrvoUsbStartAllPipes(PDEVICE_CONTEXT deviceContext);
VOID OrvoUsbQueuePipeRecovery(WDFDEVICE device, WDFUSBPIPE pipe);

#endif
