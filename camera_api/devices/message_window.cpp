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
    DestroyHidden();
}

bool CMessageWindow::CreateHidden(const wchar_t* title) noexcept {
    if (m_window) return true;
    const HINSTANCE module = ThisModule();
    if (!m_class) {
        // A generated name: two copies of the library (x64 and x86 builds
        // never meet, but two differently named copies could) never collide.
        std::swprintf(m_className, sizeof(m_className) / sizeof(m_className[0]), L"OrvoApiWindow_%p",
                      static_cast<void*>(this));
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

void CMessageWindow::DestroyHidden() noexcept {
    if (m_window) {
        if (::GetCurrentThreadId() == m_thread) {
            ::DestroyWindow(m_window);
        } else {
            ::SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
            ::SetWindowLongPtrW(m_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&::DefWindowProcW));
        }
        m_window = nullptr;
    }
    if (m_class && ::UnregisterClassW(m_className, ThisModule())) m_class = 0;
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
