#include "watchdog/agent/notification_window.h"

#include <dbt.h>
#include <cwchar>

#include "watchdog/common/bitness.h"
#include "watchdog/common/wd_trace.h"

namespace orvo::watchdog {
namespace {

// Registered once per process under a name of its own.
const wchar_t* WindowClass() noexcept {
    static wchar_t name[64] = L"";
    static ATOM atom = [] {
        std::swprintf(name, 64, L"OrvoVistrelWatchdog.Notify.%lu.%p", ::GetCurrentProcessId(),
                      static_cast<void*>(&name));
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = ::DefWindowProcW;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = name;
        return ::RegisterClassExW(&wc);
    }();
    return atom ? name : nullptr;
}

}  // namespace

HRESULT NotificationWindow::Create(const wchar_t* title, Handler onDeviceChange) noexcept {
    if (m_window) return E_UNEXPECTED;
    const wchar_t* windowClass = WindowClass();
    if (!windowClass) {
        const HRESULT hr = HResultFromLastError();
        WD_TRACE_ERROR(hr);
        return hr;
    }
    m_handler = std::move(onDeviceChange);
    m_window = ::CreateWindowExW(0, windowClass, title, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                 ::GetModuleHandleW(nullptr), nullptr);
    if (!m_window) {
        const HRESULT hr = HResultFromLastError();
        WD_TRACE_ERROR(hr);
        return hr;
    }
    ::SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::SetWindowLongPtrW(m_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&NotificationWindow::WindowProc));

    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    m_notification = ::RegisterDeviceNotificationW(m_window, &filter,
                                                   DEVICE_NOTIFY_WINDOW_HANDLE | DEVICE_NOTIFY_ALL_INTERFACE_CLASSES);
    if (!m_notification) WD_TRACE_WARNING(::GetLastError());
    return S_OK;
}

void NotificationWindow::Destroy() noexcept {
    if (m_notification) ::UnregisterDeviceNotification(m_notification);
    m_notification = nullptr;
    if (m_window) ::DestroyWindow(m_window);
    m_window = nullptr;
}

LRESULT CALLBACK NotificationWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DEVICECHANGE) {
        auto* self = reinterpret_cast<NotificationWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self && self->m_handler) self->m_handler(wParam, lParam);
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace orvo::watchdog
