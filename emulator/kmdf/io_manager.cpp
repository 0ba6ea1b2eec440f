#include "emulator/kmdf/io_manager.h"

#include <algorithm>
#include <cstring>
#include <cwctype>

namespace orvo::kmdf {
namespace {

using RtlNtStatusToDosErrorFn = ULONG(WINAPI*)(NTSTATUS);

bool IsError(NTSTATUS status) { return ULONG(status) >= 0xC0000000u; }
bool IsWarning(NTSTATUS status) { return ULONG(status) >= 0x80000000u && !IsError(status); }

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = wchar_t(std::towlower(c));
    return text;
}

struct ApcData {
    LPOVERLAPPED_COMPLETION_ROUTINE routine;
    DWORD error;
    DWORD bytes;
    OVERLAPPED* overlapped;
};

VOID CALLBACK RunApc(ULONG_PTR parameter) {
    std::unique_ptr<ApcData> data(reinterpret_cast<ApcData*>(parameter));
    data->routine(data->error, data->bytes, data->overlapped);
}

MDL* MdlFor(void* buffer, size_t length) {
    auto* mdl = new MDL{};
    mdl->Size = CSHORT(sizeof(MDL));
    mdl->StartVa = PAGE_ALIGN(buffer);
    mdl->ByteOffset = BYTE_OFFSET(buffer);
    mdl->ByteCount = ULONG(length);
    mdl->MdlFlags = MDL_PAGES_LOCKED;
    return mdl;
}

}  // namespace

CIoManager::~CIoManager() {
    for (auto& file : m_files) ::CloseHandle(file.first);
}

DWORD CIoManager::Win32Error(NTSTATUS status) {
    static const auto convert = reinterpret_cast<RtlNtStatusToDosErrorFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlNtStatusToDosError")));
    return convert ? convert(status) : ERROR_GEN_FAILURE;
}

void CIoManager::SetInterfacePath(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_path = path;
    m_removed = false;
}

void CIoManager::DeviceRemoved() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_removed = true;
}

size_t CIoManager::Outstanding() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_outstanding.size();
}

File* CIoManager::FileOf(HANDLE handle) {
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = m_files.find(handle);
    return it == m_files.end() || m_removed ? nullptr : it->second;
}

Request* CIoManager::NewUserRequest(File* file, Major major, OVERLAPPED* overlapped, std::shared_ptr<Irp>& irp) {
    Framework& fw = Fw();
    Device* device = fw.device;
    auto* request = NewRequest(device, device && device->hasRequestAttributes ? &device->requestAttributes : nullptr);
    request->fromUser = true;
    request->major = major;
    request->file = file;
    irp = std::make_shared<Irp>();
    irp->file = file;
    irp->thread = ::GetCurrentThreadId();
    irp->overlapped = overlapped;
    irp->major = major;
    irp->request = request;
    request->irp = irp;
    if (overlapped) {
        overlapped->Internal = ULONG_PTR(ULONG(STATUS_PENDING));
        overlapped->InternalHigh = 0;
        if (overlapped->hEvent) ::ResetEvent(overlapped->hEvent);
    }
    return request;
}

HANDLE CIoManager::CreateFileW(const wchar_t* name) {
    Framework& fw = Fw();
    std::wstring path;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        path = m_path;
        if (m_removed || path.empty()) {
            m_lastCreate = STATUS_OBJECT_NAME_NOT_FOUND;
            ::SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
    }
    const std::wstring full = name ? name : L"";
    if (full.size() < path.size() || Lower(full.substr(0, path.size())) != Lower(path)) {
        m_lastCreate = STATUS_OBJECT_NAME_NOT_FOUND;
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    Device* device = fw.device;
    auto* file = new File;
    file->name = full.substr(path.size());
    file->unicodeName.Length = USHORT(file->name.size() * sizeof(wchar_t));
    file->unicodeName.MaximumLength = file->unicodeName.Length;
    file->unicodeName.Buffer = const_cast<PWSTR>(reinterpret_cast<const WCHAR*>(file->name.c_str()));
    Register(file, device->hasFileAttributes ? &device->fileAttributes : nullptr, device);

    std::shared_ptr<Irp> irp;
    Request* request = NewUserRequest(file, Major::Create, nullptr, irp);
    if (device->fileConfig.EvtDeviceFileCreate) {
        IrqlScope passive(PASSIVE_LEVEL);
        request->delivered = true;
        device->fileConfig.EvtDeviceFileCreate(reinterpret_cast<WDFDEVICE>(device),
                                               reinterpret_cast<WDFREQUEST>(request),
                                               reinterpret_cast<WDFFILEOBJECT>(file));
    } else {
        CompleteUser(request, STATUS_SUCCESS, 0, "I/O manager");
    }
    NTSTATUS status;
    {
        std::unique_lock<std::mutex> lock(irp->lock);
        irp->cv.wait(lock, [&] { return irp->completed; });
        status = irp->status;
    }
    m_lastCreate = status;
    if (!NT_SUCCESS(status)) {
        DeleteObject(file);
        ::SetLastError(Win32Error(status));
        return INVALID_HANDLE_VALUE;
    }
    // A real handle stands for the file, so that callers may close it.
    HANDLE handle = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::lock_guard<std::mutex> lock(m_lock);
    m_files[handle] = file;
    return handle;
}

void CIoManager::Finish(Request* request) {
    std::shared_ptr<Irp> irp = request->irp;
    if (!irp) return;
    request->irp.reset();
    const NTSTATUS status = request->status;
    const ULONG_PTR information = request->information;
    // METHOD_BUFFERED output goes back from the system buffer, also for
    // warnings such as STATUS_BUFFER_OVERFLOW.
    if (irp->major == Major::DeviceControl && irp->method == METHOD_BUFFERED && !IsError(status) && irp->userOutput) {
        const size_t n = std::min<size_t>(information, std::min(irp->outputLength, request->systemBuffer.size()));
        std::memcpy(irp->userOutput, request->systemBuffer.data(), n);
    }
    {
        std::lock_guard<std::mutex> lock(irp->lock);
        irp->status = status;
        irp->information = information;
        irp->completed = true;
        irp->request = nullptr;
        irp->cv.notify_all();
    }
    {
        // Off the books before the caller can see the completion.
        std::lock_guard<std::mutex> lock(m_lock);
        m_outstanding.erase(irp);
    }
    if (irp->overlapped) {
        irp->overlapped->InternalHigh = information;
        ::MemoryBarrier();
        irp->overlapped->Internal = ULONG_PTR(ULONG(status));
        if (irp->overlapped->hEvent && !irp->apc) ::SetEvent(irp->overlapped->hEvent);
    }
    if (irp->apc) {
        auto* data = new ApcData{irp->apc, IsError(status) || IsWarning(status) ? Win32Error(status) : 0,
                                 DWORD(information), irp->overlapped};
        if (!::QueueUserAPC(&RunApc, irp->apcThread, reinterpret_cast<ULONG_PTR>(data))) delete data;
    }
    if (irp->apcThread) {
        ::CloseHandle(irp->apcThread);
        irp->apcThread = nullptr;
    }
}

// The framework pends every request it presents through a queue, so an
// overlapped caller always sees ERROR_IO_PENDING (ReadFileEx: TRUE) and
// learns the result from the OVERLAPPED, even when the driver completed the
// request before the dispatch returned.
BOOL CIoManager::Issue(Request* request, const std::shared_ptr<Irp>& irp, DWORD* transferred) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_outstanding.insert(irp);
    }
    PresentRequest(request);
    std::unique_lock<std::mutex> lock(irp->lock);
    irp->dispatchReturned = true;
    if (irp->apc) return TRUE;
    if (irp->overlapped) {
        ::SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    irp->cv.wait(lock, [&] { return irp->completed; });
    if (transferred) *transferred = DWORD(irp->information);
    if (IsError(irp->status) || IsWarning(irp->status)) {
        ::SetLastError(Win32Error(irp->status));
        return FALSE;
    }
    return TRUE;
}

BOOL CIoManager::DeviceIoControl(HANDLE handle, DWORD code, void* in, DWORD inLength, void* out, DWORD outLength,
                                 DWORD* returned, OVERLAPPED* overlapped) {
    if (returned) *returned = 0;
    File* file = FileOf(handle);
    if (!file) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::shared_ptr<Irp> irp;
    Request* request = NewUserRequest(file, Major::DeviceControl, overlapped, irp);
    const ULONG method = code & 3;
    request->ioctl = code;
    request->inputLength = in ? inLength : 0;
    request->outputLength = out ? outLength : 0;
    irp->method = method;
    irp->userOutput = out;
    irp->outputLength = request->outputLength;
    if (method == METHOD_BUFFERED) {
        request->systemBuffer.assign(std::max(request->inputLength, request->outputLength), 0);
    } else {
        request->systemBuffer.assign(request->inputLength, 0);
        if (request->outputLength) request->mdl = MdlFor(out, request->outputLength);
    }
    if (request->inputLength) std::memcpy(request->systemBuffer.data(), in, request->inputLength);
    return Issue(request, irp, returned);
}

BOOL CIoManager::ReadFile(HANDLE handle, void* buffer, DWORD length, DWORD* read, OVERLAPPED* overlapped) {
    if (read) *read = 0;
    File* file = FileOf(handle);
    if (!file) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::shared_ptr<Irp> irp;
    Request* request = NewUserRequest(file, Major::Read, overlapped, irp);
    request->outputLength = length;
    if (length) request->mdl = MdlFor(buffer, length);
    return Issue(request, irp, read);
}

BOOL CIoManager::WriteFile(HANDLE handle, const void* buffer, DWORD length, DWORD* written, OVERLAPPED* overlapped) {
    if (written) *written = 0;
    File* file = FileOf(handle);
    if (!file) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::shared_ptr<Irp> irp;
    Request* request = NewUserRequest(file, Major::Write, overlapped, irp);
    request->inputLength = length;
    if (length) request->mdl = MdlFor(const_cast<void*>(buffer), length);
    return Issue(request, irp, written);
}

BOOL CIoManager::ReadFileEx(HANDLE handle, void* buffer, DWORD length, OVERLAPPED* overlapped,
                            LPOVERLAPPED_COMPLETION_ROUTINE routine) {
    File* file = FileOf(handle);
    if (!file || !routine || !overlapped) {
        ::SetLastError(file ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::shared_ptr<Irp> irp;
    Request* request = NewUserRequest(file, Major::Read, overlapped, irp);
    irp->apc = routine;
    ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &irp->apcThread, 0, FALSE,
                      DUPLICATE_SAME_ACCESS);
    request->outputLength = length;
    if (length) request->mdl = MdlFor(buffer, length);
    return Issue(request, irp, nullptr);
}

BOOL CIoManager::CancelIo(HANDLE handle) { return Cancel(handle, false, nullptr); }

BOOL CIoManager::CancelIoEx(HANDLE handle, OVERLAPPED* overlapped) { return Cancel(handle, true, overlapped); }

BOOL CIoManager::Cancel(HANDLE handle, bool anyThread, OVERLAPPED* overlapped) {
    File* file = FileOf(handle);
    if (!file) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::vector<Request*> mine;
    {
        std::lock_guard<std::recursive_mutex> fwLock(Fw().lock);
        std::lock_guard<std::mutex> lock(m_lock);
        for (const std::shared_ptr<Irp>& irp : m_outstanding) {
            std::lock_guard<std::mutex> irpLock(irp->lock);
            const bool match = anyThread ? (!overlapped || irp->overlapped == overlapped)
                                        : irp->thread == ::GetCurrentThreadId();
            if (irp->file == file && match && irp->request && !irp->completed) {
                Reference(irp->request);
                mine.push_back(irp->request);
            }
        }
    }
    for (Request* request : mine) {
        CancelUserRequest(request);
        std::lock_guard<std::recursive_mutex> lock(Fw().lock);
        Dereference(request, "CancelIo");
    }
    return TRUE;
}

}  // namespace orvo::kmdf
