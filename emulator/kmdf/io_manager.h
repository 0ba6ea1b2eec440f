// An imitation of the I/O manager between user-mode file calls and the
// framework: names to file objects (the remainder after the interface path
// goes to EvtDeviceFileCreate), one system buffer for METHOD_BUFFERED, MDLs
// for direct I/O, completion written into the caller's OVERLAPPED (the
// real GetOverlappedResult reads it), CancelIo per thread and handle,
// ReadFileEx completions by APC, and NTSTATUS to Win32 errors by ntdll.
#pragma once
#include <windows.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "emulator/kmdf/framework.h"

namespace orvo::kmdf {

class CIoManager {
public:
    CIoManager() = default;
    ~CIoManager();
    CIoManager(const CIoManager&) = delete;
    CIoManager& operator=(const CIoManager&) = delete;

    void SetInterfacePath(const std::wstring& path);
    const std::wstring& InterfacePath() const noexcept { return m_path; }
    void DeviceRemoved();

    HANDLE CreateFileW(const wchar_t* name);
    // The status the last create completed with.
    NTSTATUS LastCreateStatus() const noexcept { return m_lastCreate; }
    BOOL DeviceIoControl(HANDLE file, DWORD code, void* in, DWORD inLength, void* out, DWORD outLength,
                         DWORD* returned, OVERLAPPED* overlapped);
    BOOL ReadFile(HANDLE file, void* buffer, DWORD length, DWORD* read, OVERLAPPED* overlapped);
    BOOL WriteFile(HANDLE file, const void* buffer, DWORD length, DWORD* written, OVERLAPPED* overlapped);
    BOOL ReadFileEx(HANDLE file, void* buffer, DWORD length, OVERLAPPED* overlapped,
                    LPOVERLAPPED_COMPLETION_ROUTINE routine);
    BOOL CancelIo(HANDLE file);
    // Any thread's requests on the handle, or the one with this OVERLAPPED.
    BOOL CancelIoEx(HANDLE file, OVERLAPPED* overlapped);
    // Requests not completed yet.
    size_t Outstanding();

    // Called by the framework when a request from user mode completes.
    void Finish(Request* request);

    static DWORD Win32Error(NTSTATUS status);

private:
    File* FileOf(HANDLE handle);
    // Presents the request and reports as the Win32 call would.
    BOOL Issue(Request* request, const std::shared_ptr<Irp>& irp, DWORD* transferred);
    BOOL Cancel(HANDLE file, bool anyThread, OVERLAPPED* overlapped);
    Request* NewUserRequest(File* file, Major major, OVERLAPPED* overlapped, std::shared_ptr<Irp>& irp);

    std::mutex m_lock;
    std::wstring m_path;
    bool m_removed = false;
    std::map<HANDLE, File*> m_files;
    std::set<std::shared_ptr<Irp>> m_outstanding;
    std::atomic<NTSTATUS> m_lastCreate{STATUS_SUCCESS};
};

}  // namespace orvo::kmdf
