// Turns live-log records into readable lines: time (UTC), process and thread
// ids, level, module, message number and the typed arguments. Records come
// from other processes, so every length, type and terminator is checked.
// Pure: no system calls.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>

namespace orvo::zellog {

class EventFormatter {
public:
    // One line (no newline) for a record as stored in the ring.
    std::string FormatRecord(uint32_t kind, uint32_t length, uint32_t status, const uint8_t* data, size_t available);

private:
    std::string FormatMessageEvent(const uint8_t* event, size_t size);
    std::string FormatModuleInfo(const uint8_t* event, size_t size);
    std::string ModuleName(uint32_t processId, uint64_t loadAddress) const;

    // Module file names by (process, load address), learnt from the
    // module-information events.
    std::map<std::pair<uint32_t, uint64_t>, std::string> m_modules;
};

// Typed arguments as text, "i32 -5, str \"abc\", ...". Pure.
std::string FormatArguments(const uint8_t* arguments, size_t length);

// UTF-16 (little-endian bytes, at most `units` units, up to a NUL) as UTF-8
// with control characters escaped.
std::string Utf16ToUtf8(const uint8_t* bytes, size_t units);

}  // namespace orvo::zellog
