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
static VOID FinishTransfer(WDFREQUEST request, PREQUEST_CONTEXT requestContext) {
    NTSTATUS status = NT_SUCCESS(requestContext->failStatus) ? STATUS_SUCCESS : requestContext->failStatus;
    ULONG done = requestContext->bytesDone;
    /* When the cancel routine already runs it drops the extra reference. */
    if (requestContext->cancelable && NT_SUCCESS(WdfRequestUnmarkCancelable(request)))
        WdfObjectDereference(request);
    WdfRequestCompleteWithInformation(request, status, done);
}

/* A stage that will not be sent again leaves the transfer; the last one
 * completes it. */
static VOID FinishStage(PREQUEST_CONTEXT requestContext, WDFREQUEST stage, WDFREQUEST parent) {
    PSUB_REQUEST_CONTEXT subContext = GetSubRequestContext(stage);
    ULONG count;
    IoFreeMdl(subContext->pieceMdl);
    subContext->pieceMdl = NULL;
    WdfSpinLockAcquire(requestContext->stageLock);
    WdfCollectionRemove(requestContext->stageRequests, stage);
    count = WdfCollectionGetCount(requestContext->stageRequests);
    WdfSpinLockRelease(requestContext->stageLock);
    if (count == 0) FinishTransfer(parent, requestContext);
    WdfObjectDelete(stage);
}

/* Sends the stages waiting in readyStages, in order, by one thread at a
 * time: the pipe then serves them in address order even when a stage
 * completes (and comes back for its next piece) before the start has sent
 * the others. The reference keeps the caller's request and its context
 * while the last stage may complete it. */
static VOID DrainStages(PREQUEST_CONTEXT requestContext, WDFREQUEST parent) {
    WdfObjectReference(parent);
    for (;;) {
        PSUB_REQUEST_CONTEXT subContext;
        WDFREQUEST stage;
        BOOLEAN drop;
        NTSTATUS status;

        WdfSpinLockAcquire(requestContext->stageLock);
        if (IsListEmpty(&requestContext->readyStages)) {
            requestContext->sending = FALSE;
            WdfSpinLockRelease(requestContext->stageLock);
            break;
        }
        subContext = CONTAINING_RECORD(RemoveHeadList(&requestContext->readyStages), SUB_REQUEST_CONTEXT, link);
        drop = requestContext->cancelled || !NT_SUCCESS(requestContext->failStatus);
        WdfSpinLockRelease(requestContext->stageLock);
        stage = (WDFREQUEST)WdfObjectContextGetObject(subContext);
        if (!drop) {
            status = SendStage(requestContext, stage, parent);
            if (NT_SUCCESS(status)) continue;
            /* A stage that cannot be sent loses its piece: the transfer fails. */
            WdfSpinLockAcquire(requestContext->stageLock);
            RecordFailure(requestContext, status, USBD_STATUS_SUCCESS);
            WdfSpinLockRelease(requestContext->stageLock);
        }
        FinishStage(requestContext, stage, parent);
    }
    WdfObjectDereference(parent);
}

/* Gives a stage its piece at nextAddress and readies the request for it.
 * Called under stageLock, so that pieces join readyStages in address
 * order; everything here may run at dispatch level. */
static NTSTATUS PrepareStage(PREQUEST_CONTEXT requestContext, WDFREQUEST stage, PSUB_REQUEST_CONTEXT subContext,
                             BOOLEAN reuse) {
    struct _URB_BULK_OR_INTERRUPT_TRANSFER *urb = UrbOf(subContext->urbBuffer);
    ULONG stageLength = requestContext->bytesLeft < ORVOUSB_STAGE_SIZE ? requestContext->bytesLeft : ORVOUSB_STAGE_SIZE;
    WDF_REQUEST_REUSE_PARAMS reuseParams;
    NTSTATUS status = STATUS_SUCCESS;

    /* A piece the host controller mapped must be unmapped before rebuilding. */
    MmPrepareMdlForReuse(subContext->pieceMdl);
    IoBuildPartialMdl(requestContext->dataMdl, subContext->pieceMdl, requestContext->nextAddress, stageLength);
    urb->TransferBufferLength = stageLength;
    urb->TransferBufferMDL = subContext->pieceMdl;
    if (reuse) {
        WDF_REQUEST_REUSE_PARAMS_INIT(&reuseParams, WDF_REQUEST_REUSE_NO_FLAGS, STATUS_SUCCESS);
        status = WdfRequestReuse(stage, &reuseParams);
    }
    if (NT_SUCCESS(status))
        status = WdfUsbTargetPipeFormatRequestForUrb(requestContext->pipe, stage, subContext->urbBuffer, NULL);
    if (!NT_SUCCESS(status)) return status;
    WdfRequestSetCompletionRoutine(stage, OnStageDone, requestContext);
    requestContext->bytesLeft -= stageLength;
    requestContext->nextAddress += stageLength;
    return STATUS_SUCCESS;
}

/* Sends a finished stage again for the next unassigned piece; FALSE when
 * nothing is left to do or the transfer is ending. */
static BOOLEAN RestartStage(PREQUEST_CONTEXT requestContext, WDFREQUEST stage, PSUB_REQUEST_CONTEXT subContext) {
    BOOLEAN sender;
    NTSTATUS status;
    WdfSpinLockAcquire(requestContext->stageLock);
    if (requestContext->cancelled || !NT_SUCCESS(requestContext->failStatus) || requestContext->bytesLeft == 0) {
        WdfSpinLockRelease(requestContext->stageLock);
        return FALSE;
    }
    status = PrepareStage(requestContext, stage, subContext, TRUE);
    if (!NT_SUCCESS(status)) {
        /* The piece was never assigned, but the transfer cannot finish it. */
        RecordFailure(requestContext, status, USBD_STATUS_SUCCESS);
        WdfSpinLockRelease(requestContext->stageLock);
        return FALSE;
    }
    InsertTailList(&requestContext->readyStages, &subContext->link);
    sender = !requestContext->sending;
    requestContext->sending = TRUE;
    WdfSpinLockRelease(requestContext->stageLock);
    if (sender) DrainStages(requestContext, subContext->parentRequest);
    return TRUE;
}

static VOID OnStageDone(WDFREQUEST Stage, WDFIOTARGET Target, PWDF_REQUEST_COMPLETION_PARAMS Params,
                        WDFCONTEXT Context) {
    PREQUEST_CONTEXT requestContext = (PREQUEST_CONTEXT)Context;
    PSUB_REQUEST_CONTEXT subContext = GetSubRequestContext(Stage);
    struct _URB_BULK_OR_INTERRUPT_TRANSFER *urb = UrbOf(subContext->urbBuffer);
    WDFREQUEST parent = subContext->parentRequest;
    NTSTATUS status = Params->IoStatus.Status;
    USBD_STATUS usbdStatus = urb->Hdr.Status;
    BOOLEAN recover = FALSE;

    if (NT_SUCCESS(status) && USBD_SUCCESS(usbdStatus)) {
        WdfSpinLockAcquire(requestContext->stageLock);
        requestContext->bytesDone += urb->TransferBufferLength;
        WdfSpinLockRelease(requestContext->stageLock);
        if (RestartStage(requestContext, Stage, subContext)) return;
    } else {
        WdfSpinLockAcquire(requestContext->stageLock);
        RecordFailure(requestContext, status, usbdStatus);
        /* A stalled or failed stage leaves the pipe to recovery, once per
         * transfer; the stages queued behind it would otherwise wait. */
        if (status != STATUS_CANCELLED && !requestContext->cancelled && !requestContext->recoveryQueued) {
            requestContext->recoveryQueued = TRUE;
            recover = TRUE;
        }
        WdfSpinLockRelease(requestContext->stageLock);
        if (recover) OrvoUsbQueuePipeRecovery(WdfIoTargetGetDevice(Target), requestContext->pipe);
    }
    FinishStage(requestContext, Stage, parent);
}

/* Creates one stage with its MDL and URB, gives it the next piece and adds
 * it to the collection. */
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
    status = BuildUrb(stage, stageLength, subContext->pieceMdl, requestContext->pipe, TransferFlags(requestContext),
                      &subContext->urbBuffer);
    if (NT_SUCCESS(status)) {
        WdfSpinLockAcquire(requestContext->stageLock);
        status = PrepareStage(requestContext, stage, subContext, FALSE);
        if (NT_SUCCESS(status)) status = WdfCollectionAdd(requestContext->stageRequests, stage);
        WdfSpinLockRelease(requestContext->stageLock);
    }
    if (!NT_SUCCESS(status)) {
        IoFreeMdl(subContext->pieceMdl);
        WdfObjectDelete(stage);
        return status;
    }
    *stageOut = stage;
    return STATUS_SUCCESS;
}

static VOID StartStagedTransfer(WDFREQUEST request, PREQUEST_CONTEXT requestContext) {
    PDEVICE_CONTEXT deviceContext =
        GetDeviceContext(WdfIoTargetGetDevice(WdfUsbTargetPipeGetIoTarget(requestContext->pipe)));
    WDFUSBDEVICE usbDevice = deviceContext->usbDevice;
    WDFSPINLOCK transferLock = deviceContext->transferLock;
    BOOLEAN stopped;
    WDF_OBJECT_ATTRIBUTES attributes;
    WDFCOLLECTION collection;
    WDFSPINLOCK lock;
    LIST_ENTRY built;
    ULONG stages;
    ULONG i;
    NTSTATUS status;

    InitializeListHead(&built);
    InitializeListHead(&requestContext->readyStages);
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
    /* Published together under the device's lock: EvtIoStop either sees
     * them and cancels the stages, or has marked the request before. */
    WdfSpinLockAcquire(transferLock);
    requestContext->stageLock = lock;
    requestContext->stageRequests = collection;
    stopped = requestContext->stopped;
    WdfSpinLockRelease(transferLock);
    if (stopped) {
        WdfSpinLockAcquire(requestContext->stageLock);
        requestContext->cancelled = TRUE;
        RecordFailure(requestContext, STATUS_CANCELLED, USBD_STATUS_CANCELED);
        WdfSpinLockRelease(requestContext->stageLock);
    }

    stages = (requestContext->bytesLeft + ORVOUSB_STAGE_SIZE - 1) / ORVOUSB_STAGE_SIZE;
    if (stages > ORVOUSB_MAX_STAGE_REQUESTS) stages = ORVOUSB_MAX_STAGE_REQUESTS;
    requestContext->nextAddress = (PUCHAR)MmGetMdlVirtualAddress(requestContext->dataMdl);
    for (i = 0; i < stages; ++i) {
        WDFREQUEST stage;
        status = BuildStage(request, requestContext, usbDevice, &stage);
        if (!NT_SUCCESS(status)) break;
        InsertTailList(&built, &GetSubRequestContext(stage)->link);
    }

    if (NT_SUCCESS(status)) {
        WdfObjectReference(request);
        status = WdfRequestMarkCancelableEx(request, OnTransferCancel);
        /* Already cancelled: nothing is sent and the stages complete the
         * request with the cancellation. */
        if (!NT_SUCCESS(status)) WdfObjectDereference(request);
    }
    WdfSpinLockAcquire(requestContext->stageLock);
    if (NT_SUCCESS(status)) {
        requestContext->cancelable = TRUE;
    } else {
        requestContext->cancelled = TRUE;
        RecordFailure(requestContext, status, USBD_STATUS_SUCCESS);
    }
    while (!IsListEmpty(&built)) InsertTailList(&requestContext->readyStages, RemoveHeadList(&built));
    requestContext->sending = TRUE;
    stages = WdfCollectionGetCount(requestContext->stageRequests);
    WdfSpinLockRelease(requestContext->stageLock);

    if (stages == 0) FinishTransfer(request, requestContext);  /* not one stage could be built */
    else DrainStages(requestContext, request);
}

static BOOLEAN IsStopped(WDFSPINLOCK transferLock, PREQUEST_CONTEXT requestContext) {
    BOOLEAN stopped;
    WdfSpinLockAcquire(transferLock);
    stopped = requestContext->stopped;
    WdfSpinLockRelease(transferLock);
    return stopped;
}

/* Sends the caller's request with its URB unless EvtIoStop has marked it.
 * A stop that ran between the check and the send found nothing sent to
 * cancel: the second check cancels it. The reference keeps the request and
 * its context while the pipe may complete it. */
static VOID SendSingleUrb(WDFREQUEST request, PREQUEST_CONTEXT requestContext) {
    WDFIOTARGET target = WdfUsbTargetPipeGetIoTarget(requestContext->pipe);
    WDFSPINLOCK transferLock = GetDeviceContext(WdfIoTargetGetDevice(target))->transferLock;

    if (IsStopped(transferLock, requestContext)) {
        WdfRequestComplete(request, STATUS_CANCELLED);
        return;
    }
    WdfObjectReference(request);
    if (!WdfRequestSend(request, target, WDF_NO_SEND_OPTIONS))
        WdfRequestComplete(request, WdfRequestGetStatus(request));
    else if (IsStopped(transferLock, requestContext))
        (VOID)WdfRequestCancelSentRequest(request);
    WdfObjectDereference(request);
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
    SendSingleUrb(request, requestContext);
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
    /* The framework zeroes the context; EvtIoStop may already have marked it. */
    requestContext = GetRequestContext(Request);
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
    WDFSPINLOCK transferLock = GetDeviceContext(WdfIoQueueGetDevice(Queue))->transferLock;
    BOOLEAN staged;
    UNREFERENCED_PARAMETER(ActionFlags);
    /* The mark stops a transfer that has not been sent yet; one already
     * sent is cancelled here. */
    WdfSpinLockAcquire(transferLock);
    requestContext->stopped = TRUE;
    staged = requestContext->stageLock != NULL;
    WdfSpinLockRelease(transferLock);
    if (staged) CancelStages(requestContext);
    else (VOID)WdfRequestCancelSentRequest(Request);
}
