// Owning pointer to a COM interface: one Release per reference taken.
#pragma once
#include <unknwn.h>
#include <utility>

namespace orvo::win32 {

template <class T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    // Takes a new reference on p.
    explicit ComPtr(T* p) noexcept : m_p(p) {
        if (m_p) m_p->AddRef();
    }
    ComPtr(const ComPtr& other) noexcept : ComPtr(other.m_p) {}
    ComPtr(ComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(m_p, other.m_p);
        return *this;
    }
    ~ComPtr() { reset(); }

    // Adopts a reference the caller already owns.
    static ComPtr Attach(T* p) noexcept {
        ComPtr result;
        result.m_p = p;
        return result;
    }
    T* detach() noexcept { return std::exchange(m_p, nullptr); }

    T* get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }
    // For out parameters: releases what is held first.
    T** put() noexcept {
        reset();
        return &m_p;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
    void reset() noexcept {
        if (T* old = std::exchange(m_p, nullptr)) old->Release();
    }

    template <class U>
    ComPtr<U> query(REFIID iid) const noexcept {
        ComPtr<U> result;
        if (m_p) m_p->QueryInterface(iid, result.put_void());
        return result;
    }

private:
    T* m_p = nullptr;
};

}  // namespace orvo::win32
