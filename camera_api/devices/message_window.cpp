#include "camera_api/devices/message_window.h"

#include <cwchar>

namespace orvo {
namespace {

HINSTANCE ThisModule() noexcept {
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

}  // namespace

CMessageWindow::~CMessageWindow() {
    // By now the derived part is gone: whatever happens below must not
    // dispatch to it.
    DestroyHidden();
}

bool CMessageWindow::CreateHidden(const wchar_t* title) noexcept {
    if (m_window) return true;
    const HINSTANCE module = ThisModule();
    if (!m_class) {
        // A generated name: two copies of the library never collide, nor does
        // a copy loaded again at the same address with a class that an
        // earlier copy could not unregister.
        LARGE_INTEGER stamp{};
        ::QueryPerformanceCounter(&stamp);
        std::swprintf(m_className, sizeof(m_className) / sizeof(m_className[0]), L"OrvoApiWindow_%p_%llx",
                      static_cast<void*>(this), static_cast<unsigned long long>(stamp.QuadPart));
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = &CMessageWindow::Procedure;
        wc.hInstance = module;
        wc.lpszClassName = m_className;
        m_class = ::RegisterClassExW(&wc);
        if (!m_class) return false;
    }
    m_window = ::CreateWindowExW(0, m_className, title, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, module, this);
    if (m_window) m_thread = ::GetCurrentThreadId();
    return m_window != nullptr;
}

void CMessageWindow::Detach() noexcept {
    ::SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
    ::SetWindowLongPtrW(m_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&::DefWindowProcW));
}

void CMessageWindow::DestroyHidden(DWORD waitMs) noexcept {
    if (m_window) {
        Detach();
        if (::GetCurrentThreadId() == m_thread) {
            ::DestroyWindow(m_window);
        } else {
            // The detached window answers WM_CLOSE by destroying itself on
            // its own thread. A sent message is taken only from the message
            // loop, so its answer also proves that thread has returned from
            // any message this module was handling. A thread that has ended
            // took its windows along, and the call fails at once.
            DWORD_PTR ignored = 0;
            ::SendMessageTimeoutW(m_window, WM_CLOSE, 0, 0, SMTO_NORMAL, waitMs, &ignored);
        }
        m_window = nullptr;
    }
    if (m_class && ::UnregisterClassW(m_className, ThisModule())) m_class = 0;
}

void CMessageWindow::AbandonHidden() noexcept {
    if (m_window) Detach();
    m_window = nullptr;
    m_class = 0;
}

LRESULT CALLBACK CMessageWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<CMessageWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    LRESULT result = 0;
    if (self && self->OnMessage(message, wParam, lParam, result)) return result;
    if (message == WM_NCDESTROY) ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace orvo
