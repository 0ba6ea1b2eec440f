// Requests: completion exactly once, cancellation, formatting, sending to
// I/O targets and their completion routines, target start and stop.
#include <chrono>

#include "emulator/kmdf/framework.h"
#include "emulator/kmdf/host_controller.h"
#include "emulator/kmdf/io_manager.h"

namespace orvo::kmdf {
namespace {

constexpr auto kStopWait = std::chrono::seconds(20);

}  // namespace

Request* NewRequest(Device* device, PWDF_OBJECT_ATTRIBUTES attributes) {
    auto* request = new Request;
    Register(request, attributes, device);
    return request;
}

void CompleteUser(Request* request, NTSTATUS status, ULONG_PTR information, const char* routine) {
    Framework& fw = Fw();
    {
        std::lock_guard<std::recursive_mutex> lock(fw.lock);
        if (!request->fromUser) {
            fw.verifier.Report(std::string(routine) + ": the driver's own request is deleted, not completed");
            return;
        }
        if (request->completed) {
            fw.verifier.Report(std::string(routine) + ": second completion");
            return;
        }
        if (request->sentTo) {
            fw.verifier.Report(std::string(routine) + ": completion while the request is sent");
            return;
        }
        if (request->cancelRoutine) fw.verifier.Report(std::string(routine) + ": completion while cancelable");
        request->completed = true;
        request->status = status;
        request->information = information;
        if (request->queue) request->queue->deliveredSet.erase(request);
        fw.changed.notify_all();
    }
    if (fw.io) fw.io->Finish(request);
    DeleteObject(request);
}

void CompleteSent(Request* request, NTSTATUS status, USBD_STATUS usbd, ULONG_PTR information) {
    Framework& fw = Fw();
    PFN_WDF_REQUEST_COMPLETION_ROUTINE routine = nullptr;
    WDFCONTEXT context = nullptr;
    IoTarget* target = nullptr;
    {
        std::lock_guard<std::recursive_mutex> lock(fw.lock);
        if (!request->sentTo) {
            fw.verifier.Report("I/O target: a request completed twice by its target");
            return;
        }
        target = request->sentTo;
        target->sent.erase(request);
        request->sentTo = nullptr;
        request->status = status;
        request->information = information;
        request->usbParams = WDF_USB_REQUEST_COMPLETION_PARAMS{usbd, WdfUsbRequestTypePipeUrb};
        WDF_REQUEST_COMPLETION_PARAMS& params = request->completionParams;
        params = WDF_REQUEST_COMPLETION_PARAMS{};
        params.Size = sizeof(params);
        params.Type = request->format == Format::Urb ? WdfRequestTypeUsb : WdfRequestTypeDeviceControlInternal;
        params.IoStatus.Status = status;
        params.IoStatus.Information = information;
        params.Parameters.Usb.Completion = &request->usbParams;
        if (request->format == Format::Urb && request->urbMemory) {
            auto* memory = static_cast<Memory*>(static_cast<Object*>(static_cast<void*>(request->urbMemory)));
            if (fw.live.count(memory))
                reinterpret_cast<_URB_HEADER*>(memory->bytes.data())->Status = usbd;
        }
        routine = request->completionRoutine;
        context = request->completionContext;
        ++target->completing;
    }
    if (routine) {
        IrqlScope dispatch(DISPATCH_LEVEL);
        routine(reinterpret_cast<WDFREQUEST>(request), reinterpret_cast<WDFIOTARGET>(target),
                &request->completionParams, context);
    } else if (request->fromUser) {
        CompleteUser(request, status, information, "I/O target");
    }
    std::lock_guard<std::recursive_mutex> lock(fw.lock);
    --target->completing;
    fw.changed.notify_all();
}

bool CancelSent(Request* request) {
    Framework& fw = Fw();
    IoTarget* target;
    {
        std::lock_guard<std::recursive_mutex> lock(fw.lock);
        target = request->sentTo;
    }
    if (!target || target->type != ObjectType::UsbPipe) return false;
    return fw.bus->Cancel(request);
}

void CancelUserRequest(Request* request) {
    Framework& fw = Fw();
    PFN_WDF_REQUEST_CANCEL routine = nullptr;
    bool held = false;
    bool sent = false;
    {
        std::lock_guard<std::recursive_mutex> lock(fw.lock);
        if (request->completed || request->cancelFlag) return;
        request->cancelFlag = true;
        if (!request->delivered && request->queue) {
            auto& queue = request->queue->held;
            for (auto it = queue.begin(); it != queue.end(); ++it) {
                if (*it == request) {
                    queue.erase(it);
                    held = true;
                    break;
                }
            }
        } else if (request->cancelRoutine) {
            routine = request->cancelRoutine;
            request->cancelRoutine = nullptr;
        } else {
            sent = request->sentTo != nullptr;
        }
    }
    if (held) {
        CompleteUser(request, STATUS_CANCELLED, 0, "I/O manager");
    } else if (routine) {
        IrqlScope dispatch(DISPATCH_LEVEL);
        routine(reinterpret_cast<WDFREQUEST>(request));
    } else if (sent) {
        CancelSent(request);
    }
}

}  // namespace orvo::kmdf

using namespace orvo::kmdf;

namespace {

Request* RequestOf(WDFREQUEST handle, const char* routine) {
    return As<Request>(handle, routine, ObjectType::Request);
}

// A buffer the I/O manager handed over, as a routine retrieves it.
NTSTATUS Retrieve(Request* request, bool output, SIZE_T minimum, PVOID* buffer, SIZE_T* length) {
    if (!request->fromUser) return STATUS_INVALID_DEVICE_REQUEST;
    void* address = nullptr;
    size_t size = 0;
    const ULONG method = request->ioctl & 3;
    switch (request->major) {
    case Major::DeviceControl:
        if (!output || method == METHOD_BUFFERED) {
            address = request->systemBuffer.data();
            size = output ? request->outputLength : request->inputLength;
        } else if (request->mdl) {
            address = MmGetSystemAddressForMdlSafe(request->mdl, NormalPagePriority);
            size = request->outputLength;
        }
        break;
    case Major::Read:
        if (output && request->mdl) {
            address = MmGetSystemAddressForMdlSafe(request->mdl, NormalPagePriority);
            size = request->outputLength;
        }
        break;
    case Major::Write:
        if (!output && request->mdl) {
            address = MmGetSystemAddressForMdlSafe(request->mdl, NormalPagePriority);
            size = request->inputLength;
        }
        break;
    default: break;
    }
    if (!address || size == 0) return STATUS_BUFFER_TOO_SMALL;
    if (size < minimum) return STATUS_BUFFER_TOO_SMALL;
    *buffer = address;
    if (length) *length = size;
    return STATUS_SUCCESS;
}

}  // namespace

extern "C" {

NTSTATUS WdfRequestCreate(PWDF_OBJECT_ATTRIBUTES Attributes, WDFIOTARGET IoTarget, WDFREQUEST* RequestOut) {
    if (NTSTATUS forced = Fw().verifier.Enter("WdfRequestCreate")) return forced;
    if (IoTarget && !Resolve(IoTarget, "WdfRequestCreate", ObjectType::IoTarget)) return STATUS_INVALID_PARAMETER;
    *RequestOut = reinterpret_cast<WDFREQUEST>(NewRequest(Fw().device, Attributes));
    return STATUS_SUCCESS;
}

NTSTATUS WdfRequestReuse(WDFREQUEST Handle, PWDF_REQUEST_REUSE_PARAMS Params) {
    if (NTSTATUS forced = Fw().verifier.Enter("WdfRequestReuse")) return forced;
    Request* request = RequestOf(Handle, "WdfRequestReuse");
    if (!request) return STATUS_INVALID_PARAMETER;
    std::lock_guard<std::recursive_mutex> lock(Fw().lock);
    if (request->sentTo || request->fromUser) {
        Fw().verifier.Report("WdfRequestReuse: the request is sent or is not the driver's own");
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    request->status = Params ? Params->Status : STATUS_SUCCESS;
    request->information = 0;
    request->format = Format::None;
    request->formattedTarget = nullptr;
    request->completionRoutine = nullptr;
    request->completionContext = nullptr;
    return STATUS_SUCCESS;
}

VOID WdfRequestComplete(WDFREQUEST Handle, NTSTATUS Status) {
    Fw().verifier.Enter("WdfRequestComplete");
    Request* request = RequestOf(Handle, "WdfRequestComplete");
    if (request) CompleteUser(request, Status, request->information, "WdfRequestComplete");
}

VOID WdfRequestCompleteWithInformation(WDFREQUEST Handle, NTSTATUS Status, ULONG_PTR Information) {
    Fw().verifier.Enter("WdfRequestCompleteWithInformation");
    Request* request = RequestOf(Handle, "WdfRequestCompleteWithInformation");
    if (request) CompleteUser(request, Status, Information, "WdfRequestCompleteWithInformation");
}

NTSTATUS WdfRequestGetStatus(WDFREQUEST Handle) {
    Fw().verifier.Enter("WdfRequestGetStatus");
    Request* request = RequestOf(Handle, "WdfRequestGetStatus");
    std::lock_guard<std::recursive_mutex> lock(Fw().lock);
    return request ? request->status : STATUS_INVALID_PARAMETER;
}

NTSTATUS WdfRequestRetrieveInputBuffer(WDFREQUEST Handle, SIZE_T Minimum, PVOID* Buffer, SIZE_T* Length) {
    if (NTSTATUS forced = Fw().verifier.Enter("WdfRequestRetrieveInputBuffer")) return forced;
    Request* request = RequestOf(Handle, "WdfRequestRetrieveInputBuffer");
    return request ? Retrieve(request, false, Minimum, Buffer, Length) : STATUS_INVALID_PARAMETER;
}

NTSTATUS WdfRequestRetrieveOutputBuffer(WDFREQUEST Handle, SIZE_T Minimum, PVOID* Buffer, SIZE_T* Length) {
    if (NTSTATUS forced = Fw().verifier.Enter("WdfRequestRetrieveOutputBuffer")) return forced;
    Request* request = RequestOf(Handle, "WdfRequestRetrieveOutputBuffer");
    return request ? Retrieve(request, true, Minimum, Buffer, Length) : STATUS_INVALID_PARAMETER;
}

NTSTATUS WdfRequestRetrieveInputWdmMdl(WDFREQUEST Handle, PMDL* Mdl) {
    if (NTSTATUS forced = Fw().verifier.Enter("WdfRequestRetrieveInputWdmMdl")) return forced;
    Request* request = RequestOf(Handle, "WdfRequestRetrieveInputWdmMdl");
    if (!request || request->major != Major::Write || !request->mdl) return STATUS_INVALID_DEVICE_REQUEST;
    *Mdl = request->mdl;
    return STATUS_SUCCESS;
}

NTSTATUS WdfRequestRetrieveOutputWdmMdl(WDFREQUEST Handle, PMDL* Mdl) {
    if (NTSTATUS forced = Fw().verifier.Enter("WdfRequestRetrieveOutputWdmMdl")) return forced;
    Request* request = RequestOf(Handle, "WdfRequestRetrieveOutputWdmMdl");
    if (!request || request->major == Major::Write || !request->mdl) return STATUS_INVALID_DEVICE_REQUEST;
    *Mdl = request->mdl;
    return STATUS_SUCCESS;
}

WDFFILEOBJECT WdfRequestGetFileObject(WDFREQUEST Handle) {
    Fw().verifier.Enter("WdfRequestGetFileObject");
    Request* request = RequestOf(Handle, "WdfRequestGetFileObject");
    return request ? reinterpret_cast<WDFFILEOBJECT>(request->file) : nullptr;
}

VOID WdfRequestSetCompletionRoutine(WDFREQUEST Handle, PFN_WDF_REQUEST_COMPLETION_ROUTINE Routine,
                                    WDFCONTEXT Context) {
    Fw().verifier.Enter("WdfRequestSetCompletionRoutine");
    Request* request = RequestOf(Handle, "WdfRequestSetCompletionRoutine");
    if (!request) return;
    std::lock_guard<std::recursive_mutex> lock(Fw().lock);
    request->completionRoutine = Routine;
    request->completionContext = Context;
}

BOOLEAN WdfRequestSend(WDFREQUEST Handle, WDFIOTARGET TargetHandle, PWDF_REQUEST_SEND_OPTIONS Options) {
    Framework& fw = Fw();
    const NTSTATUS forced = fw.verifier.Enter("WdfRequestSend");
    Request* request = RequestOf(Handle, "WdfRequestSend");
    auto* target = As<IoTarget>(TargetHandle, "WdfRequestSend", ObjectType::IoTarget);
    if (!request || !target) return FALSE;
    {
        std::lock_guard<std::recursive_mutex> lock(fw.lock);
        if (request->sentTo) {
            fw.verifier.Report("WdfRequestSend: the request is already sent");
            return FALSE;
        }
        if (request->completed) {
            fw.verifier.Report("WdfRequestSend: the request is completed");
            return FALSE;
        }
        if (forced) {
            request->status = forced;
            return FALSE;
        }
        const bool ignoreState = Options && (Options->Flags & WDF_REQUEST_SEND_OPTION_IGNORE_TARGET_STATE);
        if (!target->started && !ignoreState) {
            request->status = STATUS_INVALID_DEVICE_STATE;
            return FALSE;
        }
        if (request->formattedTarget != target || request->format == Format::None) {
            fw.verifier.Report("WdfRequestSend: the request is not formatted for this target");
            request->status = STATUS_INVALID_DEVICE_REQUEST;
            return FALSE;
        }
        request->sentTo = target;
        request->status = STATUS_PENDING;
        target->sent.insert(request);
    }
    if (request->format == Format::Urb) {
        fw.bus->Submit(request, static_cast<UsbPipe*>(target));
    } else {
        // Internal requests to the device's own stack (the port cycle)
        // complete at once.
        CompleteSent(request, fw.bus->Connected() ? STATUS_SUCCESS : STATUS_NO_SUCH_DEVICE, USBD_STATUS_SUCCESS, 0);
    }
    return TRUE;
}

BOOLEAN WdfRequestCancelSentRequest(WDFREQUEST Handle) {
    Fw().verifier.Enter("WdfRequestCancelSentRequest");
    Request* request = RequestOf(Handle, "WdfRequestCancelSentRequest");
    return request && CancelSent(request) ? TRUE : FALSE;
}

NTSTATUS WdfRequestMarkCancelableEx(WDFREQUEST Handle, PFN_WDF_REQUEST_CANCEL Routine) {
    if (NTSTATUS forced = Fw().verifier.Enter("WdfRequestMarkCancelableEx")) return forced;
    Request* request = RequestOf(Handle, "WdfRequestMarkCancelableEx");
    if (!request) return STATUS_INVALID_PARAMETER;
    std::lock_guard<std::recursive_mutex> lock(Fw().lock);
    if (!request->fromUser || request->completed) {
        Fw().verifier.Report("WdfRequestMarkCancelableEx: not a request the driver owns");
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (request->cancelRoutine) Fw().verifier.Report("WdfRequestMarkCancelableEx: already cancelable");
    if (request->cancelFlag) return STATUS_CANCELLED;
    request->cancelRoutine = Routine;
    return STATUS_SUCCESS;
}

NTSTATUS WdfRequestUnmarkCancelable(WDFREQUEST Handle) {
    Fw().verifier.Enter("WdfRequestUnmarkCancelable");
    Request* request = RequestOf(Handle, "WdfRequestUnmarkCancelable");
    if (!request) return STATUS_INVALID_PARAMETER;
    std::lock_guard<std::recursive_mutex> lock(Fw().lock);
    if (request->cancelRoutine) {
        request->cancelRoutine = nullptr;
        return STATUS_SUCCESS;
    }
    if (request->cancelFlag) return STATUS_CANCELLED;
    Fw().verifier.Report("WdfRequestUnmarkCancelable: the request is not cancelable");
    return STATUS_INVALID_DEVICE_REQUEST;
}

NTSTATUS WdfIoTargetStart(WDFIOTARGET Handle) {
    if (NTSTATUS forced = Fw().verifier.Enter("WdfIoTargetStart")) return forced;
    auto* target = As<IoTarget>(Handle, "WdfIoTargetStart", ObjectType::IoTarget);
    if (!target) return STATUS_INVALID_PARAMETER;
    std::lock_guard<std::recursive_mutex> lock(Fw().lock);
    target->started = true;
    return STATUS_SUCCESS;
}

VOID WdfIoTargetStop(WDFIOTARGET Handle, WDF_IO_TARGET_SENT_IO_ACTION Action) {
    Framework& fw = Fw();
    fw.verifier.Enter("WdfIoTargetStop");
    RequirePassive("WdfIoTargetStop");
    auto* target = As<IoTarget>(Handle, "WdfIoTargetStop", ObjectType::IoTarget);
    if (!target) return;
    std::vector<Request*> sent;
    {
        std::lock_guard<std::recursive_mutex> lock(fw.lock);
        target->started = false;
        sent.assign(target->sent.begin(), target->sent.end());
        for (Request* request : sent) Reference(request);
    }
    for (Request* request : sent) {
        if (Action == WdfIoTargetCancelSentIo) CancelSent(request);
        std::lock_guard<std::recursive_mutex> lock(fw.lock);
        Dereference(request, "WdfIoTargetStop");
    }
    if (Action == WdfIoTargetLeaveSentIoPending) return;
    std::unique_lock<std::recursive_mutex> lock(fw.lock);
    if (!fw.changed.wait_for(lock, kStopWait, [&] { return target->sent.empty() && target->completing == 0; }))
        fw.verifier.Report("WdfIoTargetStop: sent requests never completed");
}

WDFDEVICE WdfIoTargetGetDevice(WDFIOTARGET Handle) {
    Fw().verifier.Enter("WdfIoTargetGetDevice");
    As<IoTarget>(Handle, "WdfIoTargetGetDevice", ObjectType::IoTarget);
    return reinterpret_cast<WDFDEVICE>(Fw().device);
}

NTSTATUS WdfIoTargetFormatRequestForInternalIoctl(WDFIOTARGET TargetHandle, WDFREQUEST Handle, ULONG,
                                                  WDFMEMORY, PWDFMEMORY_OFFSET, WDFMEMORY, PWDFMEMORY_OFFSET) {
    if (NTSTATUS forced = Fw().verifier.Enter("WdfIoTargetFormatRequestForInternalIoctl")) return forced;
    auto* target = As<IoTarget>(TargetHandle, "WdfIoTargetFormatRequestForInternalIoctl", ObjectType::IoTarget);
    Request* request = RequestOf(Handle, "WdfIoTargetFormatRequestForInternalIoctl");
    if (!target || !request) return STATUS_INVALID_PARAMETER;
    std::lock_guard<std::recursive_mutex> lock(Fw().lock);
    request->format = Format::InternalIoctl;
    request->formattedTarget = target;
    return STATUS_SUCCESS;
}

}  // extern "C"
