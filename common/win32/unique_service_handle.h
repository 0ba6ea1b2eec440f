// Owning wrapper for a service-manager or service handle.
#pragma once
#include <windows.h>
#include <utility>

namespace orvo::win32 {

class UniqueServiceHandle {
public:
    UniqueServiceHandle() noexcept = default;
    explicit UniqueServiceHandle(SC_HANDLE handle) noexcept : m_handle(handle) {}
    UniqueServiceHandle(const UniqueServiceHandle&) = delete;
    UniqueServiceHandle& operator=(const UniqueServiceHandle&) = delete;
    UniqueServiceHandle(UniqueServiceHandle&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}
    UniqueServiceHandle& operator=(UniqueServiceHandle&& other) noexcept {
        if (this != &other) reset(std::exchange(other.m_handle, nullptr));
        return *this;
    }
    ~UniqueServiceHandle() { reset(); }

    SC_HANDLE get() const noexcept { return m_handle; }
    explicit operator bool() const noexcept { return m_handle != nullptr; }
    void reset(SC_HANDLE handle = nullptr) noexcept {
        SC_HANDLE old = std::exchange(m_handle, handle);
        if (old) ::CloseServiceHandle(old);
    }

private:
    SC_HANDLE m_handle = nullptr;
};

}  // namespace orvo::win32
