// Owning wrapper for a mapped view of a file mapping.
#pragma once
#include <windows.h>
#include <utility>

namespace orvo::win32 {

class MappedView {
public:
    MappedView() noexcept = default;
    explicit MappedView(void* view) noexcept : m_view(view) {}
    MappedView(const MappedView&) = delete;
    MappedView& operator=(const MappedView&) = delete;
    MappedView(MappedView&& other) noexcept : m_view(std::exchange(other.m_view, nullptr)) {}
    MappedView& operator=(MappedView&& other) noexcept {
        if (this != &other) reset(std::exchange(other.m_view, nullptr));
        return *this;
    }
    ~MappedView() { reset(); }

    void* get() const noexcept { return m_view; }
    explicit operator bool() const noexcept { return m_view != nullptr; }
    void reset(void* view = nullptr) noexcept {
        void* old = std::exchange(m_view, view);
        if (old) ::UnmapViewOfFile(old);
    }

private:
    void* m_view = nullptr;
};

}  // namespace orvo::win32
