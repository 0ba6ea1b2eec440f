// The engine's working folder for one run: made fresh inside the user's
// temporary folder (never an existing one), open to Administrators and
// SYSTEM only, and removed with what it holds when the run ends. The elevated
// engine writes, loads and starts files here; nobody else can plant or swap
// them.
#pragma once
#include <string>
#include <vector>

namespace orvo::uninstaller {

class RunFolder {
public:
    RunFolder() = default;
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;
    ~RunFolder();

    bool Create(const std::wstring& parent);
    // With a trailing backslash; empty when not created.
    const std::wstring& Path() const { return m_path; }
    // Writes a new file (fails when the name exists); false on any error.
    bool WriteNewFile(const std::wstring& name, const void* data, size_t size);

private:
    std::wstring m_path;
};

// Writes data to a file that must not exist yet.
bool WriteNewFile(const std::wstring& path, const void* data, size_t size);

}  // namespace orvo::uninstaller
