// A hidden top-level window whose procedure dispatches to a C++ object:
// receives device-change broadcasts and timer messages on the thread that
// created it.
#pragma once
#include <windows.h>

namespace orvo {

class CMessageWindow {
public:
    CMessageWindow() = default;
    virtual ~CMessageWindow();
    CMessageWindow(const CMessageWindow&) = delete;
    CMessageWindow& operator=(const CMessageWindow&) = delete;

    // Creates the window (style WS_POPUP, not visible, no size, no parent)
    // under a class registered once per object; true when it exists.
    bool CreateHidden(const wchar_t* title) noexcept;
    // Destroys the window and unregisters its class. From a thread other than
    // its creator, the procedure is detached first and the creator is asked
    // to destroy the window; the call returns once the creator has left the
    // procedure (it answers the request from its message loop, outside this
    // module) or after waitMs. Nothing reaches this object afterwards.
    void DestroyHidden(DWORD waitMs = 0) noexcept;
    // The process is ending: detaches the procedure without destroying
    // anything, so that no message reaches this object again.
    void AbandonHidden() noexcept;
    HWND Window() const noexcept { return m_window; }

protected:
    // Returns true when the message was handled, with its result in result.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) noexcept = 0;

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Detach() noexcept;

    HWND m_window = nullptr;
    DWORD m_thread = 0;
    ATOM m_class = 0;
    wchar_t m_className[64] = L"";
};

}  // namespace orvo
