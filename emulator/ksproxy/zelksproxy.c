/* zelksproxy.sys: a stand-in for the kernel-streaming proxy device, a legacy
 * WDM driver. It keeps the cameras the watchdog registers, hands each
 * registration to its user-mode helper (orvo_ksproxy.exe serve), which makes
 * the device node and interface, and gives every published camera a device
 * object linked under its interface path tail, so that opening the interface
 * path opens the camera. Frames written there are kept for readers.
 *
 * Faults for tests: ADD rejected, ADD/REMOVE held, writes held (held
 * requests complete only when cancelled). */
#include <ntddk.h>

#include "ksproxy_protocol.h"

#define ZKSP_TAG 'pskZ'
#define ZKSP_MAX_HELD 32
#define ZKSP_QUEUE 64
#define ZKSP_HEADER_BYTES 64

typedef struct DEVICE_EXTENSION {
    int isCamera;
    int slot;
} DEVICE_EXTENSION;

typedef struct CAMERA {
    BOOLEAN used;
    BOOLEAN published;
    GUID id;
    PUCHAR record;
    ULONG recordBytes;
    LONG width;
    LONG height;
    ULONG frameBytes;
    PUCHAR frame;
    ULONGLONG frames;
    ULONG badWrites;
    WCHAR name[64];
    WCHAR linkName[ZKSP_MAX_TAIL + 16];
    BOOLEAN linked;
    PDEVICE_OBJECT device;  /* kept for the slot's next camera */
} CAMERA;

typedef struct REQUEST {
    ULONG kind;
    GUID camera;
} REQUEST;

static PDEVICE_OBJECT g_control;
static KSPIN_LOCK g_lock;
static CAMERA g_cameras[ZKSP_MAX_CAMERAS];
static REQUEST g_queue[ZKSP_QUEUE];
static ULONG g_queueHead, g_queueCount;
static ULONG g_faults;
static PIRP g_held[ZKSP_MAX_HELD];
static UCHAR g_lastRecord[ZKSP_MAX_RECORD];
static ULONG g_lastRecordBytes;

static const WCHAR kControlName[] = L"\\Device\\ZelKernelStreamingProxy";
static const WCHAR kControlLink[] = L"\\DosDevices\\ZelKernelStreamingProxy";

static LONG ReadLong(const UCHAR* p) { LONG v; RtlCopyMemory(&v, p, sizeof(v)); return v; }
static ULONG ReadULong(const UCHAR* p) { ULONG v; RtlCopyMemory(&v, p, sizeof(v)); return v; }
static USHORT ReadUShort(const UCHAR* p) { USHORT v; RtlCopyMemory(&v, p, sizeof(v)); return v; }


/* dst = prefix + text (+ decimal number when number >= 0), bounded, NUL-ended. */
static void Compose(WCHAR* dst, size_t capacity, const WCHAR* prefix, const WCHAR* text, int number) {
    size_t at = 0;
    WCHAR digits[12];
    int n = 0;
    while (prefix && *prefix && at + 1 < capacity) dst[at++] = *prefix++;
    while (text && *text && at + 1 < capacity) dst[at++] = *text++;
    if (number >= 0) {
        do {
            digits[n++] = (WCHAR)(L'0' + number % 10);
            number /= 10;
        } while (number && n < 11);
        while (n && at + 1 < capacity) dst[at++] = digits[--n];
    }
    dst[at] = 0;
}

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* Answers a public code: the call succeeds, the int32 status says how it went. */
static NTSTATUS CompleteWithStatus(PIRP irp, ULONG outputBytes, int status) {
    if (outputBytes < sizeof(int)) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, &status, sizeof(status));
    return Complete(irp, STATUS_SUCCESS, sizeof(status));
}

static int FindCamera(const GUID* id) {
    int i;
    for (i = 0; i < ZKSP_MAX_CAMERAS; ++i) {
        if (g_cameras[i].used && RtlCompareMemory(&g_cameras[i].id, id, sizeof(GUID)) == sizeof(GUID)) return i;
    }
    return -1;
}

static void Enqueue(ULONG kind, const GUID* camera) {
    ULONG at;
    if (g_queueCount == ZKSP_QUEUE) return;
    at = (g_queueHead + g_queueCount) % ZKSP_QUEUE;
    g_queue[at].kind = kind;
    g_queue[at].camera = *camera;
    ++g_queueCount;
}

/* --- held requests -------------------------------------------------------- */

static VOID NTAPI CancelHeld(PDEVICE_OBJECT device, PIRP irp) {
    KIRQL irql;
    int i;
    (void)device;
    IoReleaseCancelSpinLock(irp->CancelIrql);
    KeAcquireSpinLock(&g_lock, &irql);
    for (i = 0; i < ZKSP_MAX_HELD; ++i) {
        if (g_held[i] == irp) g_held[i] = NULL;
    }
    KeReleaseSpinLock(&g_lock, irql);
    Complete(irp, STATUS_CANCELLED, 0);
}

/* Keeps the request until it is cancelled; called under the lock. */
static NTSTATUS Hold(PIRP irp) {
    int i;
    for (i = 0; i < ZKSP_MAX_HELD; ++i) {
        if (!g_held[i]) {
            g_held[i] = irp;
            IoMarkIrpPending(irp);
            IoSetCancelRoutine(irp, CancelHeld);
            return STATUS_PENDING;
        }
    }
    return STATUS_INSUFFICIENT_RESOURCES;
}

/* --- registration ----------------------------------------------------------- */

/* The record: 64-byte header, instance id and display name, each with its
 * NUL, lengths as stated, a 24-bit BI_RGB format whose image size fits. */
static BOOLEAN RecordValid(const UCHAR* record, ULONG bytes) {
    ULONG n, m;
    LONG width, height;
    const WCHAR* instance;
    const WCHAR* name;
    if (bytes < ZKSP_HEADER_BYTES || bytes > ZKSP_MAX_RECORD) return FALSE;
    n = ReadULong(record + 56);
    m = ReadULong(record + 60);
    if (n < 2 * sizeof(WCHAR) || m < 2 * sizeof(WCHAR) || (n & 1) || (m & 1)) return FALSE;
    if (n > bytes || m > bytes || ZKSP_HEADER_BYTES + n + m != bytes) return FALSE;
    width = ReadLong(record + 20);
    height = ReadLong(record + 24);
    if (ReadULong(record + 16) != 40 || width <= 0 || height <= 0 || width > 16384 || height > 16384) return FALSE;
    if (ReadUShort(record + 28) != 1 || ReadUShort(record + 30) != 24 || ReadULong(record + 32) != 0) return FALSE;
    if (ReadULong(record + 36) != (ULONG)width * (ULONG)height * 3) return FALSE;
    instance = (const WCHAR*)(record + ZKSP_HEADER_BYTES);
    name = (const WCHAR*)(record + ZKSP_HEADER_BYTES + n);
    if (instance[n / sizeof(WCHAR) - 1] != 0 || name[m / sizeof(WCHAR) - 1] != 0) return FALSE;
    /* Exactly one NUL each: the strings end where their lengths say. */
    if (instance[n / sizeof(WCHAR) - 2] == 0 || name[m / sizeof(WCHAR) - 2] == 0) return FALSE;
    return TRUE;
}

static NTSTATUS AddCamera(PIRP irp, const UCHAR* input, ULONG inputBytes, ULONG outputBytes) {
    KIRQL irql;
    int slot, i, status = 0;
    PUCHAR record = NULL, frame = NULL;
    ULONG frameBytes = 0;
    NTSTATUS result;

    KeAcquireSpinLock(&g_lock, &irql);
    g_lastRecordBytes = inputBytes < ZKSP_MAX_RECORD ? inputBytes : ZKSP_MAX_RECORD;
    RtlCopyMemory(g_lastRecord, input, g_lastRecordBytes);
    if (g_faults & ZKSP_FAULT_HOLD_ADD) {
        result = Hold(irp);
        KeReleaseSpinLock(&g_lock, irql);
        return result == STATUS_PENDING ? result : Complete(irp, result, 0);
    }
    KeReleaseSpinLock(&g_lock, irql);

    if (g_faults & ZKSP_FAULT_REJECT_ADD) return CompleteWithStatus(irp, outputBytes, ZKSP_STATUS_REJECTED);
    if (!RecordValid(input, inputBytes)) return CompleteWithStatus(irp, outputBytes, ZKSP_STATUS_INVALIDARG);

    frameBytes = ReadULong(input + 36);
    record = ExAllocatePoolWithTag(NonPagedPool, inputBytes, ZKSP_TAG);
    frame = ExAllocatePoolWithTag(NonPagedPool, frameBytes, ZKSP_TAG);
    if (!record || !frame) {
        if (record) ExFreePoolWithTag(record, ZKSP_TAG);
        if (frame) ExFreePoolWithTag(frame, ZKSP_TAG);
        return CompleteWithStatus(irp, outputBytes, (int)0x8007000E);
    }
    RtlCopyMemory(record, input, inputBytes);

    KeAcquireSpinLock(&g_lock, &irql);
    slot = FindCamera((const GUID*)input);
    if (slot < 0) {
        for (i = 0; i < ZKSP_MAX_CAMERAS; ++i) {
            if (!g_cameras[i].used) {
                slot = i;
                break;
            }
        }
    } else {
        status = ZKSP_STATUS_INVALIDARG;  /* registered already */
    }
    if (slot < 0) status = (int)0x8007000E;
    if (status == 0) {
        CAMERA* c = &g_cameras[slot];
        const WCHAR* name = (const WCHAR*)(record + ZKSP_HEADER_BYTES + ReadULong(record + 56));
        c->used = TRUE;
        c->published = FALSE;
        RtlCopyMemory(&c->id, input, sizeof(GUID));
        c->record = record;
        c->recordBytes = inputBytes;
        c->width = ReadLong(record + 20);
        c->height = ReadLong(record + 24);
        c->frameBytes = frameBytes;
        c->frame = frame;
        c->frames = 0;
        c->badWrites = 0;
        for (i = 0; i < 63 && name[i]; ++i) c->name[i] = name[i];
        c->name[i] = 0;
        Enqueue(ZKSP_REQUEST_ADD, &c->id);
        record = frame = NULL;
    }
    KeReleaseSpinLock(&g_lock, irql);
    if (record) ExFreePoolWithTag(record, ZKSP_TAG);
    if (frame) ExFreePoolWithTag(frame, ZKSP_TAG);
    return CompleteWithStatus(irp, outputBytes, status);
}

static void Unlink(CAMERA* c) {
    UNICODE_STRING link;
    if (!c->linked) return;
    RtlInitUnicodeString(&link, c->linkName);
    IoDeleteSymbolicLink(&link);
    c->linked = FALSE;
}

static NTSTATUS RemoveCamera(PIRP irp, const UCHAR* input, ULONG inputBytes, ULONG outputBytes) {
    KIRQL irql;
    int slot, status = 0;
    PUCHAR record = NULL, frame = NULL;
    NTSTATUS result;
    if (inputBytes != sizeof(GUID)) return CompleteWithStatus(irp, outputBytes, ZKSP_STATUS_INVALIDARG);
    KeAcquireSpinLock(&g_lock, &irql);
    if (g_faults & ZKSP_FAULT_HOLD_ADD) {
        result = Hold(irp);
        KeReleaseSpinLock(&g_lock, irql);
        return result == STATUS_PENDING ? result : Complete(irp, result, 0);
    }
    slot = FindCamera((const GUID*)input);
    if (slot < 0) {
        status = ZKSP_STATUS_INVALIDARG;
    } else {
        CAMERA* c = &g_cameras[slot];
        record = c->record;
        frame = c->frame;
        c->record = c->frame = NULL;
        c->used = c->published = FALSE;
        Enqueue(ZKSP_REQUEST_REMOVE, &c->id);
    }
    KeReleaseSpinLock(&g_lock, irql);
    /* Links are made and deleted at passive level, outside the lock. */
    if (slot >= 0) Unlink(&g_cameras[slot]);
    if (record) ExFreePoolWithTag(record, ZKSP_TAG);
    if (frame) ExFreePoolWithTag(frame, ZKSP_TAG);
    return CompleteWithStatus(irp, outputBytes, status);
}

/* --- helper and test codes -------------------------------------------------- */

static NTSTATUS NextRequest(PIRP irp, ULONG outputBytes) {
    KIRQL irql;
    ZKSP_REQUEST request;
    PUCHAR out = irp->AssociatedIrp.SystemBuffer;
    ULONG total = sizeof(request);
    int slot;
    if (outputBytes < sizeof(request) + ZKSP_MAX_RECORD) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    RtlZeroMemory(&request, sizeof(request));
    KeAcquireSpinLock(&g_lock, &irql);
    if (g_queueCount) {
        request.kind = g_queue[g_queueHead].kind;
        request.camera = g_queue[g_queueHead].camera;
        g_queueHead = (g_queueHead + 1) % ZKSP_QUEUE;
        --g_queueCount;
        slot = FindCamera(&request.camera);
        if (request.kind == ZKSP_REQUEST_ADD) {
            if (slot < 0) {
                request.kind = ZKSP_REQUEST_NONE;  /* removed before it was published */
            } else {
                request.recordBytes = g_cameras[slot].recordBytes;
                RtlCopyMemory(out + sizeof(request), g_cameras[slot].record, request.recordBytes);
                total += request.recordBytes;
            }
        }
    }
    KeReleaseSpinLock(&g_lock, irql);
    RtlCopyMemory(out, &request, sizeof(request));
    return Complete(irp, STATUS_SUCCESS, total);
}

static NTSTATUS Publish(PIRP irp, ULONG inputBytes) {
    ZKSP_PUBLISH* in = irp->AssociatedIrp.SystemBuffer;
    KIRQL irql;
    int slot;
    CAMERA* c;
    UNICODE_STRING deviceName, link;
    WCHAR nameBuffer[64];
    NTSTATUS status = STATUS_SUCCESS;
    DEVICE_EXTENSION* ext;
    int i;
    if (inputBytes != sizeof(ZKSP_PUBLISH)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    in->tail[ZKSP_MAX_TAIL - 1] = 0;
    KeAcquireSpinLock(&g_lock, &irql);
    slot = FindCamera(&in->camera);
    KeReleaseSpinLock(&g_lock, irql);
    if (slot < 0) return Complete(irp, STATUS_NOT_FOUND, 0);
    c = &g_cameras[slot];
    if (!c->device) {
        RtlZeroMemory(nameBuffer, sizeof(nameBuffer));
        Compose(nameBuffer, 64, L"\\Device\\ZelKsProxyCamera", NULL, slot);
        RtlInitUnicodeString(&deviceName, nameBuffer);
        status = IoCreateDevice(g_control->DriverObject, sizeof(DEVICE_EXTENSION), &deviceName, FILE_DEVICE_UNKNOWN,
                                0, FALSE, &c->device);
        if (!NT_SUCCESS(status)) return Complete(irp, status, 0);
        ext = c->device->DeviceExtension;
        ext->isCamera = 1;
        ext->slot = slot;
        c->device->Flags |= DO_BUFFERED_IO;
        c->device->Flags &= ~DO_DEVICE_INITIALIZING;
    }
    Unlink(c);
    RtlZeroMemory(c->linkName, sizeof(c->linkName));
    Compose(c->linkName, ZKSP_MAX_TAIL + 16, L"\\DosDevices\\", in->tail, -1);
    /* A node path is used again once its node is gone: the link goes to the new camera. */
    for (i = 0; i < ZKSP_MAX_CAMERAS; ++i) {
        if (i != slot && g_cameras[i].linked && _wcsicmp(g_cameras[i].linkName, c->linkName) == 0) {
            Unlink(&g_cameras[i]);
            g_cameras[i].published = FALSE;
        }
    }
    RtlInitUnicodeString(&link, c->linkName);
    RtlInitUnicodeString(&deviceName, NULL);
    {
        WCHAR target[64];
        RtlZeroMemory(target, sizeof(target));
        Compose(target, 64, L"\\Device\\ZelKsProxyCamera", NULL, slot);
        RtlInitUnicodeString(&deviceName, target);
        status = IoCreateSymbolicLink(&link, &deviceName);
    }
    if (!NT_SUCCESS(status)) return Complete(irp, status, 0);
    c->linked = TRUE;
    c->published = TRUE;
    return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS ReadFrame(PIRP irp, ULONG inputBytes, ULONG outputBytes) {
    PUCHAR buffer = irp->AssociatedIrp.SystemBuffer;
    GUID id;
    KIRQL irql;
    int slot;
    ZKSP_FRAME frame;
    ULONG total = sizeof(frame);
    if (inputBytes != sizeof(GUID) || outputBytes < sizeof(frame)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    RtlCopyMemory(&id, buffer, sizeof(id));
    RtlZeroMemory(&frame, sizeof(frame));
    KeAcquireSpinLock(&g_lock, &irql);
    slot = FindCamera(&id);
    if (slot >= 0) {
        CAMERA* c = &g_cameras[slot];
        frame.frames = c->frames;
        frame.badWrites = c->badWrites;
        frame.width = c->width;
        frame.height = c->height;
        if (c->frames && outputBytes >= sizeof(frame) + c->frameBytes) {
            frame.bytes = c->frameBytes;
            RtlCopyMemory(buffer + sizeof(frame), c->frame, c->frameBytes);
            total += c->frameBytes;
        }
    }
    KeReleaseSpinLock(&g_lock, irql);
    if (slot < 0) return Complete(irp, STATUS_NOT_FOUND, 0);
    RtlCopyMemory(buffer, &frame, sizeof(frame));
    return Complete(irp, STATUS_SUCCESS, total);
}

static NTSTATUS LastRecord(PIRP irp, ULONG outputBytes) {
    KIRQL irql;
    ULONG bytes;
    KeAcquireSpinLock(&g_lock, &irql);
    bytes = g_lastRecordBytes < outputBytes ? g_lastRecordBytes : outputBytes;
    RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, g_lastRecord, bytes);
    KeReleaseSpinLock(&g_lock, irql);
    return Complete(irp, STATUS_SUCCESS, bytes);
}

static NTSTATUS List(PIRP irp, ULONG outputBytes) {
    ZKSP_LIST* list = irp->AssociatedIrp.SystemBuffer;
    KIRQL irql;
    int i;
    if (outputBytes < sizeof(ZKSP_LIST)) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    RtlZeroMemory(list, sizeof(*list));
    KeAcquireSpinLock(&g_lock, &irql);
    for (i = 0; i < ZKSP_MAX_CAMERAS; ++i) {
        CAMERA* c = &g_cameras[i];
        ZKSP_CAMERA_INFO* info;
        if (!c->used) continue;
        info = &list->cameras[list->count++];
        info->camera = c->id;
        info->published = c->published;
        info->badWrites = c->badWrites;
        info->frames = c->frames;
        RtlCopyMemory(info->name, c->name, sizeof(info->name));
    }
    KeReleaseSpinLock(&g_lock, irql);
    return Complete(irp, STATUS_SUCCESS, sizeof(ZKSP_LIST));
}

/* --- dispatch --------------------------------------------------------------- */

static NTSTATUS NTAPI DispatchCreateClose(PDEVICE_OBJECT device, PIRP irp) {
    (void)device;
    return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchControl(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const ULONG in = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG out = stack->Parameters.DeviceIoControl.OutputBufferLength;
    const UCHAR* input = irp->AssociatedIrp.SystemBuffer;
    DEVICE_EXTENSION* ext = device->DeviceExtension;
    if (ext->isCamera) return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    switch (code) {
    case ZKSP_IOCTL_ADD_CAMERA: return AddCamera(irp, input, in, out);
    case ZKSP_IOCTL_REMOVE_CAMERA: return RemoveCamera(irp, input, in, out);
    case ZKSP_IOCTL_NEXT_REQUEST: return NextRequest(irp, out);
    case ZKSP_IOCTL_PUBLISH: return Publish(irp, in);
    case ZKSP_IOCTL_READ_FRAME: return ReadFrame(irp, in, out);
    case ZKSP_IOCTL_LAST_RECORD: return LastRecord(irp, out);
    case ZKSP_IOCTL_LIST: return List(irp, out);
    case ZKSP_IOCTL_FAULTS:
        if (in != sizeof(ULONG)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
        g_faults = ReadULong(input);
        return Complete(irp, STATUS_SUCCESS, 0);
    default:
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

static NTSTATUS NTAPI DispatchWrite(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG length = stack->Parameters.Write.Length;
    DEVICE_EXTENSION* ext = device->DeviceExtension;
    CAMERA* c;
    KIRQL irql;
    NTSTATUS status = STATUS_SUCCESS;
    if (!ext->isCamera) return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    c = &g_cameras[ext->slot];
    KeAcquireSpinLock(&g_lock, &irql);
    if (!c->used || !c->published) {
        status = STATUS_DEVICE_REMOVED;
    } else if (g_faults & ZKSP_FAULT_HOLD_WRITES) {
        status = Hold(irp);
        KeReleaseSpinLock(&g_lock, irql);
        return status == STATUS_PENDING ? status : Complete(irp, status, 0);
    } else if (length != c->frameBytes || !irp->AssociatedIrp.SystemBuffer) {
        ++c->badWrites;
        status = STATUS_INVALID_PARAMETER;
    } else {
        RtlCopyMemory(c->frame, irp->AssociatedIrp.SystemBuffer, length);
        ++c->frames;
    }
    KeReleaseSpinLock(&g_lock, irql);
    return Complete(irp, status, NT_SUCCESS(status) ? length : 0);
}

static VOID NTAPI Unload(PDRIVER_OBJECT driver) {
    UNICODE_STRING link;
    int i;
    (void)driver;
    for (i = 0; i < ZKSP_MAX_CAMERAS; ++i) {
        CAMERA* c = &g_cameras[i];
        Unlink(c);
        if (c->record) ExFreePoolWithTag(c->record, ZKSP_TAG);
        if (c->frame) ExFreePoolWithTag(c->frame, ZKSP_TAG);
        c->record = c->frame = NULL;
        if (c->device) IoDeleteDevice(c->device);
        c->device = NULL;
    }
    RtlInitUnicodeString(&link, kControlLink);
    IoDeleteSymbolicLink(&link);
    if (g_control) IoDeleteDevice(g_control);
    g_control = NULL;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    UNICODE_STRING name, link;
    NTSTATUS status;
    DEVICE_EXTENSION* ext;
    (void)registryPath;
    KeInitializeSpinLock(&g_lock);
    RtlInitUnicodeString(&name, kControlName);
    status = IoCreateDevice(driver, sizeof(DEVICE_EXTENSION), &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &g_control);
    if (!NT_SUCCESS(status)) return status;
    ext = g_control->DeviceExtension;
    ext->isCamera = 0;
    ext->slot = -1;
    g_control->Flags |= DO_BUFFERED_IO;
    RtlInitUnicodeString(&link, kControlLink);
    status = IoCreateSymbolicLink(&link, &name);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(g_control);
        return status;
    }
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
    driver->MajorFunction[IRP_MJ_WRITE] = DispatchWrite;
    driver->DriverUnload = Unload;
    g_control->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}
