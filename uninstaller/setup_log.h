// The engine's log: one line per message, appended with its local time.
#pragma once
#include <string>

namespace orvo::uninstaller {

class SetupLog {
public:
    void Open(const std::wstring& path, bool enabled) {
        m_path = path;
        m_enabled = enabled && !path.empty();
    }
    // The text is data, never a format: a message is at most 999 characters.
    void Write(const std::wstring& text);
    bool Enabled() const { return m_enabled; }
    const std::wstring& Path() const { return m_path; }

private:
    std::wstring m_path;
    bool m_enabled = false;
};

}  // namespace orvo::uninstaller
