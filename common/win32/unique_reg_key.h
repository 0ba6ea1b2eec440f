// Owning wrapper for an open registry key.
#pragma once
#include <windows.h>
#include <utility>

namespace orvo::win32 {

class UniqueRegKey {
public:
    UniqueRegKey() noexcept = default;
    explicit UniqueRegKey(HKEY key) noexcept : m_key(key) {}
    UniqueRegKey(const UniqueRegKey&) = delete;
    UniqueRegKey& operator=(const UniqueRegKey&) = delete;
    UniqueRegKey(UniqueRegKey&& other) noexcept : m_key(std::exchange(other.m_key, nullptr)) {}
    UniqueRegKey& operator=(UniqueRegKey&& other) noexcept {
        if (this != &other) reset(std::exchange(other.m_key, nullptr));
        return *this;
    }
    ~UniqueRegKey() { reset(); }

    HKEY get() const noexcept { return m_key; }
    HKEY* put() noexcept {
        reset();
        return &m_key;
    }
    explicit operator bool() const noexcept { return m_key != nullptr; }
    void reset(HKEY key = nullptr) noexcept {
        HKEY old = std::exchange(m_key, key);
        if (old) ::RegCloseKey(old);
    }

private:
    HKEY m_key = nullptr;
};

}  // namespace orvo::win32
