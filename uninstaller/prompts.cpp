#include "uninstaller/prompts.h"

#include <mmsystem.h>

#include "uninstaller/resource_ids.h"

namespace orvo::uninstaller {
namespace {

constexpr const wchar_t* kOwnerClass = L"ZelInstallationUtility_HiddenWnd";

LRESULT CALLBACK KeyboardHook(int code, WPARAM key, LPARAM flags) {
    if (code == HC_ACTION && key == VK_ESCAPE) ::PlaySoundW(nullptr, nullptr, 0);
    return ::CallNextHookEx(nullptr, code, key, flags);
}

}  // namespace

std::wstring FillIn(const std::wstring& text, const std::vector<std::wstring>& args) {
    std::wstring out;
    size_t next = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'%' && i + 1 < text.size()) {
            if (text[i + 1] == L's') {
                if (next < args.size()) out += args[next++];
                ++i;
                continue;
            }
            if (text[i + 1] == L'%') {
                out += L'%';
                ++i;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::wstring LoadModuleString(HMODULE module, UINT id) {
    if (!module) return {};
    const wchar_t* text = nullptr;
    const int length = ::LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 && text ? std::wstring(text, static_cast<size_t>(length)) : std::wstring();
}

Prompts::Prompts() = default;

Prompts::~Prompts() {
    if (m_keyboardHook) {
        ::PlaySoundW(nullptr, nullptr, 0);
        ::UnhookWindowsHookEx(m_keyboardHook);
    }
    if (m_owner) ::DestroyWindow(m_owner);
}

HWND Prompts::Owner() {
    if (m_owner) return m_owner;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kOwnerClass;
    ::RegisterClassExW(&wc);
    m_owner = ::CreateWindowExW(0, kOwnerClass, L"", WS_POPUP | WS_DISABLED, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
    return m_owner;
}

std::wstring Prompts::Text(UINT id, const std::vector<std::wstring>& args) const {
    return FillIn(LoadModuleString(m_language, id), args);
}

void Prompts::ErrorBox(UINT id, const std::vector<std::wstring>& args) {
    if (m_silent) return;
    std::wstring caption = Text(IDS_ERROR_CAPTION);
    if (caption.empty()) caption = m_packageName + L" Setup Package Error";
    std::wstring text = Text(id, args);
    if (text.empty()) text = L"There was an error during the installation process.";
    Show(text, caption, MB_OK | MB_ICONERROR);
}

int Prompts::Show(const std::wstring& text, const std::wstring& caption, UINT type) {
    if (m_silent) return IDCANCEL;
    return ::MessageBoxW(Owner(), text.c_str(), caption.c_str(), type | MB_SETFOREGROUND);
}

void Prompts::PlayWave(const wchar_t* name) {
    if (m_silent || !m_language) return;
    if (!m_keyboardHook) m_keyboardHook = ::SetWindowsHookExW(WH_KEYBOARD, KeyboardHook, nullptr, ::GetCurrentThreadId());
    HRSRC found = ::FindResourceW(m_language, name, L"WAVE");
    HGLOBAL loaded = found ? ::LoadResource(m_language, found) : nullptr;
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    // The resource stays mapped while the language module is loaded; playing
    // stops before the module goes (destructor).
    if (data) ::PlaySoundW(static_cast<LPCWSTR>(data), nullptr, SND_MEMORY | SND_ASYNC | SND_NODEFAULT);
}

}  // namespace orvo::uninstaller
