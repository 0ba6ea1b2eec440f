// A saved log: "ZELLOG\1\0", then per record its kind, length and status
// (32-bit little-endian each) and `length` data bytes. zeldecode.py reads it.
#pragma once
#include <windows.h>
#include <string>

#include "support/livelog/live_log_layout.h"
#include "win32/unique_handle.h"

namespace orvo::zellog {

class SavedLogFile {
public:
    bool Create(const std::wstring& path) {
        m_file.reset(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        static const char kMagic[8] = {'Z', 'E', 'L', 'L', 'O', 'G', 1, 0};
        return m_file && Write(kMagic, sizeof(kMagic));
    }
    // Does nothing when no file was asked for.
    void Append(const LiveLogRecord& record) {
        if (!m_file) return;
        LiveLogRecord copy = record;
        if (copy.length > sizeof(copy.data)) copy.length = 0;
        Write(&copy, offsetof(LiveLogRecord, data) + copy.length);
    }

private:
    bool Write(const void* data, size_t bytes) {
        DWORD written = 0;
        return ::WriteFile(m_file.get(), data, static_cast<DWORD>(bytes), &written, nullptr) && written == bytes;
    }

    win32::UniqueFileHandle m_file;
};

}  // namespace orvo::zellog
