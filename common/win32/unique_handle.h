// Owning wrappers for kernel handles: one close per handle, on every path.
#pragma once
#include <windows.h>
#include <utility>

namespace orvo::win32 {

// Kernel handles have two "empty" spellings: CreateFile answers
// INVALID_HANDLE_VALUE, most other creators answer null.
struct NullIsEmpty {
    static HANDLE empty() noexcept { return nullptr; }
};
struct InvalidIsEmpty {
    static HANDLE empty() noexcept { return INVALID_HANDLE_VALUE; }
};

template <class Empty>
class BasicUniqueHandle {
public:
    BasicUniqueHandle() noexcept = default;
    explicit BasicUniqueHandle(HANDLE h) noexcept : m_h(h) {}
    BasicUniqueHandle(const BasicUniqueHandle&) = delete;
    BasicUniqueHandle& operator=(const BasicUniqueHandle&) = delete;
    BasicUniqueHandle(BasicUniqueHandle&& other) noexcept : m_h(other.release()) {}
    BasicUniqueHandle& operator=(BasicUniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~BasicUniqueHandle() { reset(); }

    HANDLE get() const noexcept { return m_h; }
    bool valid() const noexcept { return m_h != Empty::empty() && m_h != nullptr; }
    explicit operator bool() const noexcept { return valid(); }

    HANDLE release() noexcept { return std::exchange(m_h, Empty::empty()); }
    void reset(HANDLE h = Empty::empty()) noexcept {
        HANDLE old = std::exchange(m_h, h);
        if (old != Empty::empty() && old != nullptr) ::CloseHandle(old);
    }

private:
    HANDLE m_h = Empty::empty();
};

using UniqueHandle = BasicUniqueHandle<NullIsEmpty>;
using UniqueFileHandle = BasicUniqueHandle<InvalidIsEmpty>;

}  // namespace orvo::win32
