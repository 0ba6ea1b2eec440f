// The agent's hidden window: its title names the agent in the session, and it
// receives WM_DEVICECHANGE for every device-interface class.
#pragma once
#include <windows.h>
#include <functional>

namespace orvo::watchdog {

class NotificationWindow {
public:
    using Handler = std::function<void(WPARAM, LPARAM)>;

    NotificationWindow() = default;
    ~NotificationWindow() { Destroy(); }
    NotificationWindow(const NotificationWindow&) = delete;
    NotificationWindow& operator=(const NotificationWindow&) = delete;

    // E_UNEXPECTED when created already.
    HRESULT Create(const wchar_t* title, Handler onDeviceChange) noexcept;
    void Destroy() noexcept;
    HWND Handle() const noexcept { return m_window; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_window = nullptr;
    HDEVNOTIFY m_notification = nullptr;
    Handler m_handler;
};

}  // namespace orvo::watchdog
