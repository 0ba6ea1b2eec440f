// The settings file read with the Windows profile functions.
#pragma once
#include <string>

#include "setup_engine/profile_source.h"

namespace orvo::uninstaller {

class WinProfileSource final : public setup::ProfileSource {
public:
    explicit WinProfileSource(std::wstring path) : m_path(std::move(path)) {}

    std::optional<std::wstring> ReadString(const std::wstring& section, const std::wstring& key) const override;
    int ReadInt(const std::wstring& section, const std::wstring& key, int fallback) const override;
    bool SectionHasContent(const std::wstring& section) const override;

private:
    std::wstring m_path;
};

}  // namespace orvo::uninstaller
