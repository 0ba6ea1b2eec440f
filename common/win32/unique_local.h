// Owning wrapper for memory the system allocated with LocalAlloc (security
// descriptors from SDDL, FormatMessage buffers): released with LocalFree.
#pragma once
#include <windows.h>
#include <utility>

namespace orvo::win32 {

class UniqueLocal {
public:
    UniqueLocal() noexcept = default;
    explicit UniqueLocal(void* memory) noexcept : m_memory(memory) {}
    UniqueLocal(const UniqueLocal&) = delete;
    UniqueLocal& operator=(const UniqueLocal&) = delete;
    UniqueLocal(UniqueLocal&& other) noexcept : m_memory(std::exchange(other.m_memory, nullptr)) {}
    UniqueLocal& operator=(UniqueLocal&& other) noexcept {
        if (this != &other) reset(std::exchange(other.m_memory, nullptr));
        return *this;
    }
    ~UniqueLocal() { reset(); }

    void* get() const noexcept { return m_memory; }
    explicit operator bool() const noexcept { return m_memory != nullptr; }
    void reset(void* memory = nullptr) noexcept {
        void* old = std::exchange(m_memory, memory);
        if (old) ::LocalFree(old);
    }

private:
    void* m_memory = nullptr;
};

}  // namespace orvo::win32
