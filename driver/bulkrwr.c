/* orvoUsb: reads and writes on bulk and interrupt pipes. Transfers up to one
 * stage go down as a single URB on the caller's request; longer ones are cut
 * into stages carried by at most three stage requests, each re-sent for the
 * next unassigned piece of the caller's buffer when it completes. */
#include "private.h"

static EVT_WDF_REQUEST_COMPLETION_ROUTINE OnTransferDone;
static EVT_WDF_REQUEST_COMPLETION_ROUTINE OnStageDone;
static EVT_WDF_REQUEST_CANCEL OnTransferCancel;
static EVT_WDF_WORKITEM OnPipeRecovery;

static NTSTATUS BuildUrb(WDFREQUEST request, ULONG length, PMDL mdl, WDFUSBPIPE pipe, ULONG flags,
                         WDFMEMORY *urbMemory) {
    WDF_OBJECT_ATTRIBUTES attributes;
    struct _URB_BULK_OR_INTERRUPT_TRANSFER *urb = NULL;
    WDFMEMORY memory;
    NTSTATUS status;

    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    attributes.ParentObject = request;
    status = WdfMemoryCreate(&attributes, NonPagedPool, ORVOUSB_POOL_TAG, sizeof(*urb), &memory, (PVOID *)&urb);
    if (!NT_SUCCESS(status)) return STATUS_INSUFFICIENT_RESOURCES;
    RtlZeroMemory(urb, sizeof(*urb));
    urb->Hdr.Length = (USHORT)sizeof(*urb);
    urb->Hdr.Function = URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER;
    urb->PipeHandle = WdfUsbTargetPipeWdmGetPipeHandle(pipe);
    urb->TransferFlags = flags;
    urb->TransferBufferLength = length;
    urb->TransferBuffer = NULL;
    urb->TransferBufferMDL = mdl;
    urb->UrbLink = NULL;
    status = WdfUsbTargetPipeFormatRequestForUrb(pipe, request, memory, NULL);
    if (!NT_SUCCESS(status)) {
        WdfObjectDelete(memory);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    *urbMemory = memory;
    return STATUS_SUCCESS;
}

static struct _URB_BULK_OR_INTERRUPT_TRANSFER *UrbOf(WDFMEMORY memory) {
    return (struct _URB_BULK_OR_INTERRUPT_TRANSFER *)WdfMemoryGetBuffer(memory, NULL);
}

static ULONG TransferFlags(PREQUEST_CONTEXT requestContext) {
    return requestContext->isRead ? (USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK) : USBD_SHORT_TRANSFER_OK;
}

/* --- pipe recovery ------------------------------------------------------------ */

static VOID OnPipeRecovery(WDFWORKITEM WorkItem) {
    PWORKITEM_CONTEXT workContext = GetWorkItemContext(WorkItem);
    if (!NT_SUCCESS(OrvoUsbResetOnePipe(workContext->pipe)))
        (VOID)OrvoUsbResetPort(GetDeviceContext(workContext->device));
    WdfObjectDelete(WorkItem);
}

VOID OrvoUsbQueuePipeRecovery(WDFDEVICE device, WDFUSBPIPE pipe) {
    WDF_WORKITEM_CONFIG config;
    WDF_OBJECT_ATTRIBUTES attributes;
    WDFWORKITEM workItem;
    PWORKITEM_CONTEXT workContext;

    WDF_WORKITEM_CONFIG_INIT(&config, OnPipeRecovery);
    WDF_OBJECT_ATTRIBUTES_INIT_CONTEXT_TYPE(&attributes, WORKITEM_CONTEXT);
    attributes.ParentObject = device;
    if (!NT_SUCCESS(WdfWorkItemCreate(&config, &attributes, &workItem))) return;
    workContext = GetWorkItemContext(workItem);
    workContext->device = device;
    workContext->pipe = pipe;
    WdfWorkItemEnqueue(workItem);
}

/* --- single-URB transfers ------------------------------------------------------ */

static VOID OnTransferDone(WDFREQUEST Request, WDFIOTARGET Target, PWDF_REQUEST_COMPLETION_PARAMS Params,
                           WDFCONTEXT Context) {
    PREQUEST_CONTEXT requestContext = GetRequestContext(Request);
    struct _URB_BULK_OR_INTERRUPT_TRANSFER *urb = UrbOf(requestContext->urbBuffer);
    NTSTATUS status = Params->IoStatus.Status;
    ULONG bytes = urb->TransferBufferLength;
    UNREFERENCED_PARAMETER(Context);

    if (!NT_SUCCESS(status) && status != STATUS_CANCELLED) {
        requestContext->failStatus = status;
        requestContext->failUsbdStatus = urb->Hdr.Status;
        OrvoUsbQueuePipeRecovery(WdfIoTargetGetDevice(Target), requestContext->pipe);
    }
    WdfRequestCompleteWithInformation(Request, status, bytes);
}

/* --- staged transfers ------------------------------------------------------------ */

/* Records the first failure of a staged transfer. Called under stageLock. */
static VOID RecordFailure(PREQUEST_CONTEXT requestContext, NTSTATUS status, USBD_STATUS usbdStatus) {
    if (NT_SUCCESS(requestContext->failStatus)) {
        requestContext->failStatus = NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;
        requestContext->failUsbdStatus = usbdStatus;
    }
}

/* Sends a stage unless the transfer is being cancelled. A cancel that ran
 * between the check and the send found the stage not yet sent: the second
 * check cancels it. The references keep the stage and the caller's request
 * (with its context) alive while other stages may finish the transfer. */
static NTSTATUS SendStage(PREQUEST_CONTEXT requestContext, WDFREQUEST stage, WDFREQUEST parent) {
    NTSTATUS status = STATUS_SUCCESS;
    BOOLEAN cancelled;

    WdfSpinLockAcquire(requestContext->stageLock);
    cancelled = requestContext->cancelled;
    WdfSpinLockRelease(requestContext->stageLock);
    if (cancelled) return STATUS_CANCELLED;

    WdfObjectReference(parent);
    WdfObjectReference(stage);
    if (!WdfRequestSend(stage, WdfUsbTargetPipeGetIoTarget(requestContext->pipe), WDF_NO_SEND_OPTIONS)) {
        status = WdfRequestGetStatus(stage);
        if (NT_SUCCESS(status)) status = STATUS_UNSUCCESSFUL;
    } else {
        WdfSpinLockAcquire(requestContext->stageLock);
        cancelled = requestContext->cancelled;
        WdfSpinLockRelease(requestContext->stageLock);
        if (cancelled) (VOID)WdfRequestCancelSentRequest(stage);
    }
    WdfObjectDereference(stage);
    WdfObjectDereference(parent);
    return status;
}

/* Cancels every stage in flight, once per transfer; later sends see the
 * flag. Stages complete through OnStageDone, the last one the transfer. */
static VOID CancelStages(PREQUEST_CONTEXT requestContext) {
    LIST_ENTRY cancelList;
    ULONG count;
    ULONG i;

    InitializeListHead(&cancelList);
    WdfSpinLockAcquire(requestContext->stageLock);
    if (requestContext->cancelled) {
        WdfSpinLockRelease(requestContext->stageLock);
        return;
    }
    requestContext->cancelled = TRUE;
    RecordFailure(requestContext, STATUS_CANCELLED, USBD_STATUS_CANCELED);
    count = WdfCollectionGetCount(requestContext->stageRequests);
    for (i = 0; i < count; ++i) {
        WDFREQUEST stage = (WDFREQUEST)WdfCollectionGetItem(requestContext->stageRequests, i);
        WdfObjectReference(stage);
        InsertTailList(&cancelList, &GetSubRequestContext(stage)->cancelLink);
    }
    WdfSpinLockRelease(requestContext->stageLock);

    while (!IsListEmpty(&cancelList)) {
        PSUB_REQUEST_CONTEXT subContext = CONTAINING_RECORD(RemoveHeadList(&cancelList), SUB_REQUEST_CONTEXT, cancelLink);
        WDFREQUEST stage = (WDFREQUEST)WdfObjectContextGetObject(subContext);
        (VOID)WdfRequestCancelSentRequest(stage);
        WdfObjectDereference(stage);
    }
}

static VOID OnTransferCancel(WDFREQUEST Request) {
    CancelStages(GetRequestContext(Request));
    WdfObjectDereference(Request);
}

/* Completes the caller's request once its last stage has left. */
static VOID FinishTransfer(WDFREQUEST request, PREQUEST_CONTEXT requestContext, BOOLEAN cancelable) {
    NTSTATUS status = NT_SUCCESS(requestContext->failStatus) ? STATUS_SUCCESS : requestContext->failStatus;
    ULONG done = requestContext->bytesDone;
    /* When the cancel routine already runs it drops the extra reference. */
    if (cancelable && NT_SUCCESS(WdfRequestUnmarkCancelable(request))) WdfObjectDereference(request);
    WdfRequestCompleteWithInformation(request, status, done);
}

/* Points a finished stage at the next unassigned piece and sends it again. */
static NTSTATUS RestartStage(PREQUEST_CONTEXT requestContext, WDFREQUEST stage, PSUB_REQUEST_CONTEXT subContext) {
    struct _URB_BULK_OR_INTERRUPT_TRANSFER *urb = UrbOf(subContext->urbBuffer);
    WDF_REQUEST_REUSE_PARAMS reuse;
    ULONG stageLength;
    PUCHAR address;
    NTSTATUS status;

    WdfSpinLockAcquire(requestContext->stageLock);
    if (requestContext->cancelled || !NT_SUCCESS(requestContext->failStatus) || requestContext->bytesLeft == 0) {
        WdfSpinLockRelease(requestContext->stageLock);
        return STATUS_CANCELLED;
    }
    stageLength = requestContext->bytesLeft < ORVOUSB_STAGE_SIZE ? requestContext->bytesLeft : ORVOUSB_STAGE_SIZE;
    address = requestContext->nextAddress;
    requestContext->bytesLeft -= stageLength;
    requestContext->nextAddress += stageLength;
    WdfSpinLockRelease(requestContext->stageLock);

    MmPrepareMdlForReuse(subContext->pieceMdl);
    IoBuildPartialMdl(requestContext->dataMdl, subContext->pieceMdl, address, stageLength);
    urb->TransferBufferLength = stageLength;
    urb->TransferBufferMDL = subContext->pieceMdl;
    WDF_REQUEST_REUSE_PARAMS_INIT(&reuse, WDF_REQUEST_REUSE_NO_FLAGS, STATUS_SUCCESS);
    status = WdfRequestReuse(stage, &reuse);
    if (NT_SUCCESS(status)) status = WdfUsbTargetPipeFormatRequestForUrb(requestContext->pipe, stage, subContext->urbBuffer, NULL);
    if (!NT_SUCCESS(status)) return status;
    WdfRequestSetCompletionRoutine(stage, OnStageDone, requestContext);
    return SendStage(requestContext, stage, subContext->parentRequest);
}

static VOID OnStageDone(WDFREQUEST Stage, WDFIOTARGET Target, PWDF_REQUEST_COMPLETION_PARAMS Params,
                        WDFCONTEXT Context) {
    PREQUEST_CONTEXT requestContext = (PREQUEST_CONTEXT)Context;
    PSUB_REQUEST_CONTEXT subContext = GetSubRequestContext(Stage);
    struct _URB_BULK_OR_INTERRUPT_TRANSFER *urb = UrbOf(subContext->urbBuffer);
    WDFREQUEST parent = subContext->parentRequest;
    NTSTATUS status = Params->IoStatus.Status;
    USBD_STATUS usbdStatus = urb->Hdr.Status;
    BOOLEAN transferFailed = !NT_SUCCESS(status) || !USBD_SUCCESS(usbdStatus);
    BOOLEAN recover = FALSE;
    WDFUSBPIPE pipe = requestContext->pipe;
    ULONG count;

    if (!transferFailed) {
        WdfSpinLockAcquire(requestContext->stageLock);
        requestContext->bytesDone += urb->TransferBufferLength;
        WdfSpinLockRelease(requestContext->stageLock);
        status = RestartStage(requestContext, Stage, subContext);
        if (NT_SUCCESS(status)) return;
    }

    IoFreeMdl(subContext->pieceMdl);
    subContext->pieceMdl = NULL;
    WdfSpinLockAcquire(requestContext->stageLock);
    if (transferFailed) {
        RecordFailure(requestContext, status, usbdStatus);
        /* A stalled or failed stage leaves the pipe to recovery, once per
         * transfer; the stages queued behind it would otherwise wait. */
        if (status != STATUS_CANCELLED && !requestContext->cancelled && !requestContext->recoveryQueued) {
            requestContext->recoveryQueued = TRUE;
            recover = TRUE;
        }
    } else if (status != STATUS_CANCELLED) {
        /* The stage could not be sent for its next piece: that piece is lost. */
        RecordFailure(requestContext, status, USBD_STATUS_SUCCESS);
    }
    WdfCollectionRemove(requestContext->stageRequests, Stage);
    count = WdfCollectionGetCount(requestContext->stageRequests);
    WdfSpinLockRelease(requestContext->stageLock);

    if (recover) OrvoUsbQueuePipeRecovery(WdfIoTargetGetDevice(Target), pipe);
    if (count == 0) FinishTransfer(parent, requestContext, TRUE);
    WdfObjectDelete(Stage);
}

/* Builds one stage for the next unassigned piece, in the collection. */
static NTSTATUS BuildStage(WDFREQUEST request, PREQUEST_CONTEXT requestContext, WDFUSBDEVICE usbDevice,
                           WDFREQUEST *stageOut) {
    WDF_OBJECT_ATTRIBUTES attributes;
    PSUB_REQUEST_CONTEXT subContext;
    WDFREQUEST stage;
    ULONG stageLength =
        requestContext->bytesLeft < ORVOUSB_STAGE_SIZE ? requestContext->bytesLeft : ORVOUSB_STAGE_SIZE;
    NTSTATUS status;

    WDF_OBJECT_ATTRIBUTES_INIT_CONTEXT_TYPE(&attributes, SUB_REQUEST_CONTEXT);
    status = WdfRequestCreate(&attributes, WdfUsbTargetDeviceGetIoTarget(usbDevice), &stage);
    if (!NT_SUCCESS(status)) return status;
    subContext = GetSubRequestContext(stage);
    subContext->parentRequest = request;
    subContext->pieceMdl = IoAllocateMdl(requestContext->nextAddress, stageLength, FALSE, FALSE, NULL);
    if (subContext->pieceMdl == NULL) {
        WdfObjectDelete(stage);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    IoBuildPartialMdl(requestContext->dataMdl, subContext->pieceMdl, requestContext->nextAddress, stageLength);
    status = BuildUrb(stage, stageLength, subContext->pieceMdl, requestContext->pipe, TransferFlags(requestContext),
                      &subContext->urbBuffer);
    if (NT_SUCCESS(status)) {
        WdfRequestSetCompletionRoutine(stage, OnStageDone, requestContext);
        WdfSpinLockAcquire(requestContext->stageLock);
        status = WdfCollectionAdd(requestContext->stageRequests, stage);
        WdfSpinLockRelease(requestContext->stageLock);
    }
    if (!NT_SUCCESS(status)) {
        IoFreeMdl(subContext->pieceMdl);
        WdfObjectDelete(stage);
        return status;
    }
    requestContext->bytesLeft -= stageLength;
    requestContext->nextAddress += stageLength;
    *stageOut = stage;
    return STATUS_SUCCESS;
}

/* Deletes the stages that were never sent; returns how many stages remain
 * in flight, counted in the same hold of the lock. */
static ULONG DropUnsent(PREQUEST_CONTEXT requestContext, PLIST_ENTRY unsent) {
    ULONG count;
    LIST_ENTRY dropped;
    InitializeListHead(&dropped);
    WdfSpinLockAcquire(requestContext->stageLock);
    while (!IsListEmpty(unsent)) {
        PLIST_ENTRY entry = RemoveHeadList(unsent);
        PSUB_REQUEST_CONTEXT subContext = CONTAINING_RECORD(entry, SUB_REQUEST_CONTEXT, link);
        WdfCollectionRemove(requestContext->stageRequests, WdfObjectContextGetObject(subContext));
        InsertTailList(&dropped, entry);
    }
    count = WdfCollectionGetCount(requestContext->stageRequests);
    WdfSpinLockRelease(requestContext->stageLock);
    while (!IsListEmpty(&dropped)) {
        PSUB_REQUEST_CONTEXT subContext = CONTAINING_RECORD(RemoveHeadList(&dropped), SUB_REQUEST_CONTEXT, link);
        IoFreeMdl(subContext->pieceMdl);
        subContext->pieceMdl = NULL;
        WdfObjectDelete(WdfObjectContextGetObject(subContext));
    }
    return count;
}

static VOID StartStagedTransfer(WDFREQUEST request, PREQUEST_CONTEXT requestContext) {
    WDFUSBDEVICE usbDevice =
        GetDeviceContext(WdfIoTargetGetDevice(WdfUsbTargetPipeGetIoTarget(requestContext->pipe)))->usbDevice;
    WDF_OBJECT_ATTRIBUTES attributes;
    WDFCOLLECTION collection;
    WDFSPINLOCK lock;
    LIST_ENTRY unsent;
    BOOLEAN cancelable = FALSE;
    ULONG stages;
    ULONG i;
    NTSTATUS status;

    InitializeListHead(&unsent);
    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    attributes.ParentObject = request;
    status = WdfCollectionCreate(&attributes, &collection);
    if (!NT_SUCCESS(status)) {
        WdfRequestComplete(request, status);
        return;
    }
    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    attributes.ParentObject = collection;
    status = WdfSpinLockCreate(&attributes, &lock);
    if (!NT_SUCCESS(status)) {
        WdfRequestComplete(request, status);
        return;
    }
    /* Published together: EvtIoStop looks at them. */
    requestContext->stageLock = lock;
    requestContext->stageRequests = collection;

    stages = (requestContext->bytesLeft + ORVOUSB_STAGE_SIZE - 1) / ORVOUSB_STAGE_SIZE;
    if (stages > ORVOUSB_MAX_STAGE_REQUESTS) stages = ORVOUSB_MAX_STAGE_REQUESTS;
    requestContext->nextAddress = (PUCHAR)MmGetMdlVirtualAddress(requestContext->dataMdl);
    for (i = 0; i < stages; ++i) {
        WDFREQUEST stage;
        status = BuildStage(request, requestContext, usbDevice, &stage);
        if (!NT_SUCCESS(status)) break;
        InsertTailList(&unsent, &GetSubRequestContext(stage)->link);
    }

    if (NT_SUCCESS(status)) {
        WdfObjectReference(request);
        status = WdfRequestMarkCancelableEx(request, OnTransferCancel);
        if (NT_SUCCESS(status)) {
            cancelable = TRUE;
        } else {
            /* Already cancelled: nothing is sent and the request completes
             * here with the cancellation. */
            WdfObjectDereference(request);
        }
    }
    while (NT_SUCCESS(status) && !IsListEmpty(&unsent)) {
        PLIST_ENTRY entry = RemoveHeadList(&unsent);
        PSUB_REQUEST_CONTEXT subContext = CONTAINING_RECORD(entry, SUB_REQUEST_CONTEXT, link);
        status = SendStage(requestContext, (WDFREQUEST)WdfObjectContextGetObject(subContext), request);
        if (!NT_SUCCESS(status)) InsertHeadList(&unsent, entry);
    }
    if (NT_SUCCESS(status)) return;

    /* Stages still in flight finish the transfer; the failure is theirs to
     * report. */
    WdfSpinLockAcquire(requestContext->stageLock);
    RecordFailure(requestContext, status, USBD_STATUS_SUCCESS);
    WdfSpinLockRelease(requestContext->stageLock);
    if (DropUnsent(requestContext, &unsent) == 0) FinishTransfer(request, requestContext, cancelable);
}

static VOID StartTransfer(WDFREQUEST request, PREQUEST_CONTEXT requestContext) {
    NTSTATUS status;
    requestContext->failStatus = STATUS_SUCCESS;
    requestContext->failUsbdStatus = USBD_STATUS_SUCCESS;
    if (requestContext->bytesLeft > ORVOUSB_STAGE_SIZE) {
        StartStagedTransfer(request, requestContext);
        return;
    }
    status = BuildUrb(request, requestContext->bytesLeft, requestContext->dataMdl, requestContext->pipe,
                      TransferFlags(requestContext), &requestContext->urbBuffer);
    if (!NT_SUCCESS(status)) {
        WdfRequestComplete(request, STATUS_INSUFFICIENT_RESOURCES);
        return;
    }
    WdfRequestSetCompletionRoutine(request, OnTransferDone, NULL);
    if (!WdfRequestSend(request, WdfUsbTargetPipeGetIoTarget(requestContext->pipe), WDF_NO_SEND_OPTIONS))
        WdfRequestComplete(request, WdfRequestGetStatus(request));
}

static VOID StartReadWrite(WDFREQUEST Request, SIZE_T Length, BOOLEAN isRead) {
    PFILE_CONTEXT fileContext = GetFileContext(WdfRequestGetFileObject(Request));
    PREQUEST_CONTEXT requestContext;
    WDF_USB_PIPE_TYPE type;
    PMDL mdl = NULL;
    NTSTATUS status;

    if (fileContext->pipe == NULL) {
        WdfRequestComplete(Request, STATUS_INVALID_PARAMETER);
        return;
    }
    type = WdfUsbTargetPipeGetType(fileContext->pipe);
    if (type != WdfUsbPipeTypeBulk && type != WdfUsbPipeTypeInterrupt) {
        WdfRequestComplete(Request, STATUS_INVALID_DEVICE_REQUEST);
        return;
    }
    requestContext = GetRequestContext(Request);
    RtlZeroMemory(requestContext, sizeof(*requestContext));
    status = isRead ? WdfRequestRetrieveOutputWdmMdl(Request, &mdl) : WdfRequestRetrieveInputWdmMdl(Request, &mdl);
    if (!NT_SUCCESS(status)) {
        WdfRequestComplete(Request, status);
        return;
    }
    requestContext->dataMdl = mdl;
    requestContext->bytesLeft = (ULONG)Length;
    requestContext->isRead = isRead;
    requestContext->pipe = fileContext->pipe;
    StartTransfer(Request, requestContext);
}

VOID OrvoUsbEvtIoRead(WDFQUEUE Queue, WDFREQUEST Request, SIZE_T Length) {
    UNREFERENCED_PARAMETER(Queue);
    StartReadWrite(Request, Length, TRUE);
}

VOID OrvoUsbEvtIoWrite(WDFQUEUE Queue, WDFREQUEST Request, SIZE_T Length) {
    UNREFERENCED_PARAMETER(Queue);
    StartReadWrite(Request, Length, FALSE);
}

/* The device leaves D0 or goes away: a read waiting for data would hold the
 * power transition for ever, so transfers in flight are cancelled. */
VOID OrvoUsbEvtIoStop(WDFQUEUE Queue, WDFREQUEST Request, ULONG ActionFlags) {
    PREQUEST_CONTEXT requestContext = GetRequestContext(Request);
    UNREFERENCED_PARAMETER(Queue);
    UNREFERENCED_PARAMETER(ActionFlags);
    if (requestContext->stageRequests != NULL && requestContext->stageLock != NULL) CancelStages(requestContext);
    else (VOID)WdfRequestCancelSentRequest(Request);
}
