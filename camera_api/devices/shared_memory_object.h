// A record of type T in a named, page-file-backed mapping, guarded by a named
// mutex. Both names are shared by all processes of the logon session.
#pragma once
#include <windows.h>
#include <cstring>
#include <type_traits>

#include "win32/mapped_view.h"
#include "win32/mutex_lock.h"
#include "win32/unique_handle.h"

namespace orvo {

template <class T>
class CSharedMemoryObject {
    static_assert(std::is_trivially_copyable<T>::value, "shared records are plain data");

public:
    // Creates (or opens) the guarding mutex, not owned. The mapping waits for Open.
    explicit CSharedMemoryObject(const wchar_t* mutexName) noexcept
        : m_mutex(::CreateMutexW(nullptr, FALSE, mutexName)) {}
    virtual ~CSharedMemoryObject() = default;
    CSharedMemoryObject(const CSharedMemoryObject&) = delete;
    CSharedMemoryObject& operator=(const CSharedMemoryObject&) = delete;

    // Creates or opens the mapping and maps all of it; true when the record is
    // open (also when it already was). The process that creates the mapping
    // zero-fills it and lets the derived class initialise it.
    bool Open(const wchar_t* mappingName) noexcept {
        Access access(*this, /*requireView=*/false);
        if (!access.locked()) return false;
        if (m_view) return true;

        win32::UniqueHandle mapping(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                         static_cast<DWORD>(sizeof(T)), mappingName));
        if (!mapping) return false;
        const bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
        // A mapping of the same name but smaller than T (made by a stranger)
        // cannot be mapped at full size: the open fails instead of overrunning.
        win32::MappedView view(::MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, sizeof(T)));
        if (!view) return false;

        T* data = static_cast<T*>(view.get());
        if (!existed) {
            std::memset(data, 0, sizeof(T));
            OnCreated(*data);
        }
        m_mapping = std::move(mapping);
        m_view = std::move(view);
        return true;
    }

    bool IsOpen() const noexcept { return static_cast<bool>(m_view); }

protected:
    // Holds the mutex (waiting without a time limit) for one operation on the
    // record. Recursive use by nested operations is fine: it is a Win32 mutex.
    class Access {
    public:
        explicit Access(CSharedMemoryObject& owner, bool requireView = true) noexcept
            : m_lock(owner.m_mutex.get(), INFINITE),
              m_data(m_lock.owns() ? static_cast<T*>(owner.m_view.get()) : nullptr) {
            if (m_data) owner.Validate(*m_data, m_lock.abandoned());
            m_ok = m_lock.owns() && (m_data || !requireView);
        }
        Access(const Access&) = delete;
        Access& operator=(const Access&) = delete;

        bool locked() const noexcept { return m_lock.owns(); }
        explicit operator bool() const noexcept { return m_ok; }
        T& operator*() const noexcept { return *m_data; }
        T* operator->() const noexcept { return m_data; }

    private:
        win32::MutexLock m_lock;
        T* m_data;
        bool m_ok = false;
    };

    // Called once by the process that created the mapping, on zeroed memory.
    virtual void OnCreated(T&) noexcept {}
    // Called under the mutex before every operation: the record is written by
    // other processes and must be checked before it is trusted. abandoned is
    // true when the previous owner of the mutex died while holding it.
    virtual void Validate(T&, bool /*abandoned*/) noexcept {}

private:
    win32::UniqueHandle m_mutex;
    win32::UniqueHandle m_mapping;
    win32::MappedView m_view;   // declared last: unmapped before the mapping is closed
};

}  // namespace orvo
