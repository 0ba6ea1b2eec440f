// Owning wrapper for a module loaded with LoadLibrary.
#pragma once
#include <windows.h>
#include <utility>

namespace orvo::win32 {

class UniqueModule {
public:
    UniqueModule() noexcept = default;
    explicit UniqueModule(HMODULE m) noexcept : m_module(m) {}
    UniqueModule(const UniqueModule&) = delete;
    UniqueModule& operator=(const UniqueModule&) = delete;
    UniqueModule(UniqueModule&& other) noexcept : m_module(std::exchange(other.m_module, nullptr)) {}
    UniqueModule& operator=(UniqueModule&& other) noexcept {
        if (this != &other) reset(std::exchange(other.m_module, nullptr));
        return *this;
    }
    ~UniqueModule() { reset(); }

    HMODULE get() const noexcept { return m_module; }
    explicit operator bool() const noexcept { return m_module != nullptr; }
    void reset(HMODULE m = nullptr) noexcept {
        HMODULE old = std::exchange(m_module, m);
        if (old) ::FreeLibrary(old);
    }

    // Looks an export up by name and casts it to the caller's function type.
    template <class Fn>
    Fn proc(const char* name) const noexcept {
        if (!m_module) return nullptr;
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(m_module, name)));
    }

private:
    HMODULE m_module = nullptr;
};

}  // namespace orvo::win32
