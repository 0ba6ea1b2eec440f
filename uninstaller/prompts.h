// Every box the engine shows: owned by a hidden disabled window of class
// "ZelInstallationUtility_HiddenWnd", brought to the foreground, and
// suppressed (counted as declined) while the engine is silent.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace orvo::uninstaller {

// "%s" in text replaced by the arguments in order ("%%" is "%"). Arguments
// are data: nothing in them is interpreted.
std::wstring FillIn(const std::wstring& text, const std::vector<std::wstring>& args);

// A string from a module's string table; empty when missing.
std::wstring LoadModuleString(HMODULE module, UINT id);

class Prompts {
public:
    Prompts();
    ~Prompts();
    Prompts(const Prompts&) = delete;
    Prompts& operator=(const Prompts&) = delete;

    void SetLanguage(HMODULE language) { m_language = language; }
    void SetPackageName(const std::wstring& name) { m_packageName = name; }
    void SetSilent(bool silent) { m_silent = silent; }
    bool Silent() const { return m_silent; }
    HMODULE Language() const { return m_language; }

    std::wstring Text(UINT id, const std::vector<std::wstring>& args = {}) const;
    // Caption: language string 1, else "<package> Setup Package Error".
    void ErrorBox(UINT id, const std::vector<std::wstring>& args = {});
    // The box's answer (IDOK, IDCANCEL, ...); IDCANCEL while silent.
    int Show(const std::wstring& text, const std::wstring& caption, UINT type);
    // Plays a WAVE resource of the language module, unless silent; Escape
    // stops it (a thread keyboard hook, installed with the first wave).
    void PlayWave(const wchar_t* name);
    // Made with the first box: a silent run never creates a window.
    HWND Owner();

private:
    HMODULE m_language = nullptr;
    std::wstring m_packageName;
    bool m_silent = false;
    HWND m_owner = nullptr;
    HHOOK m_keyboardHook = nullptr;
};

}  // namespace orvo::uninstaller
