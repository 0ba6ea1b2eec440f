// Owning wrapper for a SetupAPI device information set.
#pragma once
#include <windows.h>
#include <setupapi.h>
#include <utility>

namespace orvo::win32 {

class UniqueDevInfo {
public:
    UniqueDevInfo() noexcept = default;
    explicit UniqueDevInfo(HDEVINFO set) noexcept : m_set(set) {}
    UniqueDevInfo(const UniqueDevInfo&) = delete;
    UniqueDevInfo& operator=(const UniqueDevInfo&) = delete;
    UniqueDevInfo(UniqueDevInfo&& other) noexcept : m_set(std::exchange(other.m_set, INVALID_HANDLE_VALUE)) {}
    UniqueDevInfo& operator=(UniqueDevInfo&& other) noexcept {
        if (this != &other) reset(std::exchange(other.m_set, INVALID_HANDLE_VALUE));
        return *this;
    }
    ~UniqueDevInfo() { reset(); }

    HDEVINFO get() const noexcept { return m_set; }
    bool valid() const noexcept { return m_set != INVALID_HANDLE_VALUE && m_set != nullptr; }
    explicit operator bool() const noexcept { return valid(); }
    HDEVINFO release() noexcept { return std::exchange(m_set, INVALID_HANDLE_VALUE); }
    void reset(HDEVINFO set = INVALID_HANDLE_VALUE) noexcept {
        HDEVINFO old = std::exchange(m_set, set);
        if (old != INVALID_HANDLE_VALUE && old != nullptr) ::SetupDiDestroyDeviceInfoList(old);
    }

private:
    HDEVINFO m_set = INVALID_HANDLE_VALUE;
};

}  // namespace orvo::win32
