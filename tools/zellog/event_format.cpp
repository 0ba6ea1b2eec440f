#include "tools/zellog/event_format.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "support/livelog/live_log_layout.h"
#include "support/trace/trace_event.h"

namespace orvo::zellog {
namespace {

template <class T>
T Load(const uint8_t* p) noexcept {
    T value;
    std::memcpy(&value, p, sizeof(T));
    return value;
}

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* format, ...) {
    char buffer[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    return buffer;
}

void AppendEscaped(std::string& out, uint32_t c) {
    if (c == '"' || c == '\\') {
        out += '\\';
        out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
        out += Printf("\\x%02X", static_cast<unsigned>(c));
    } else if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string Hex(const uint8_t* bytes, size_t count) {
    std::string out;
    for (size_t i = 0; i < count; ++i) out += Printf(i ? " %02X" : "%02X", bytes[i]);
    return out;
}

std::string GuidText(const uint8_t* p) {
    const GUID g = Load<GUID>(p);
    return Printf("{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned long>(g.Data1),
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5],
                  g.Data4[6], g.Data4[7]);
}

// FILETIME (100 ns since 1601, UTC) as "YYYY-MM-DD hh:mm:ss.mmm UTC".
std::string TimeText(int64_t fileTime) {
    if (fileTime <= 0) return "(no time)";
    const int64_t ms = fileTime / 10000;
    int64_t days = ms / 86400000;
    const int64_t dayMs = ms % 86400000;
    // Days since 1601-01-01 to a civil date (proleptic Gregorian).
    days -= 134774;  // to 1970-01-01
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yoe + era * 400 + (month <= 2);
    return Printf("%04" PRId64 "-%02" PRId64 "-%02" PRId64 " %02" PRId64 ":%02" PRId64 ":%02" PRId64 ".%03" PRId64
                  " UTC",
                  year, month, day, dayMs / 3600000, dayMs / 60000 % 60, dayMs / 1000 % 60, dayMs % 1000);
}

const char* LevelText(uint8_t level) {
    switch (level) {
    case 1: return "critical";
    case kZelLevelError: return "error";
    case kZelLevelWarning: return "warning";
    case kZelLevelInformation: return "info";
    case 5: return "verbose";
    default: return "level?";
    }
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string Utf16ToUtf8(const uint8_t* bytes, size_t units) {
    std::string out;
    for (size_t i = 0; i < units; ++i) {
        uint32_t c = Load<uint16_t>(bytes + 2 * i);
        if (c == 0) break;
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units) {
            const uint32_t low = Load<uint16_t>(bytes + 2 * (i + 1));
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;  // a lone surrogate
        AppendEscaped(out, c);
    }
    return out;
}

std::string FormatArguments(const uint8_t* arguments, size_t length) {
    std::string out;
    size_t at = 0;
    while (at < length) {
        if (!out.empty()) out += ", ";
        const uint8_t type = arguments[at++];
        const size_t left = length - at;
        const uint8_t* value = arguments + at;
        switch (type) {
        case kZelArgInt32:
        case kZelArgUInt32:
            if (left < 4) return out + "(cut)";
            out += type == kZelArgInt32 ? Printf("i32 %d", Load<int32_t>(value))
                                        : Printf("u32 %u (0x%X)", Load<uint32_t>(value), Load<uint32_t>(value));
            at += 4;
            break;
        case kZelArgUInt64:
        case kZelArgPointer:
            if (left < 8) return out + "(cut)";
            out += type == kZelArgUInt64 ? Printf("u64 %" PRIu64, Load<uint64_t>(value))
                                         : Printf("ptr 0x%" PRIX64, Load<uint64_t>(value));
            at += 8;
            break;
        case kZelArgString: {
            const void* end = std::memchr(value, 0, left);
            const size_t n = end ? static_cast<const uint8_t*>(end) - value : left;
            std::string text;
            for (size_t i = 0; i < n; ++i) AppendEscaped(text, value[i]);  // the writer's code page, shown as Latin-1
            out += "str \"" + text + (end ? "\"" : "\" (cut)");
            at += end ? n + 1 : n;
            break;
        }
        case kZelArgWideString: {
            size_t units = 0;
            while (units < left / 2 && Load<uint16_t>(value + 2 * units) != 0) ++units;
            const bool terminated = units < left / 2;
            out += "wstr \"" + Utf16ToUtf8(value, units) + (terminated ? "\"" : "\" (cut)");
            at += terminated ? 2 * (units + 1) : 2 * units;
            if (!terminated && left % 2) ++at;  // a stray odd byte ends the area
            break;
        }
        case kZelArgInline:
        case kZelArgBytes:
            // No length on the wire: only the statement knows it, so the
            // rest of the area is shown as it lies.
            out += Printf("%s[%" PRIu64 "] ", type == kZelArgInline ? "inline" : "bytes", static_cast<uint64_t>(left)) +
                   Hex(value, left);
            at = length;
            break;
        default:
            return out + Printf("(unknown type %u)", type);
        }
    }
    return out;
}

std::string EventFormatter::FormatRecord(uint32_t kind, uint32_t length, uint32_t status, const uint8_t* data,
                                         size_t available) {
    if (kind != kZelRecordKindTraceEvent) return Printf("record of unknown kind %u", kind);
    if (status == kZelRecordTooLarge) return "event larger than a record (not stored)";
    if (status != kZelRecordComplete) return Printf("record with unknown status %u", status);
    if (length > available || length < sizeof(ZelEventHeader)) return Printf("record with bad length %u", length);
    const auto size = Load<uint16_t>(data);
    if (size > length || size < sizeof(ZelEventHeader)) return Printf("event with bad size %u", size);
    const GUID guid = Load<GUID>(data + offsetof(ZelEventHeader, guid));
    if (guid == kZelMessageEventGuid) return FormatMessageEvent(data, size);
    if (guid == kZelModuleInfoEventGuid) return FormatModuleInfo(data, size);
    return "event of unknown class " + GuidText(data + offsetof(ZelEventHeader, guid));
}

std::string EventFormatter::FormatMessageEvent(const uint8_t* event, size_t size) {
    const auto header = Load<ZelEventHeader>(event);
    std::string line = TimeText(header.timeStamp) + Printf(" pid %u tid %u %-7s ", header.processId, header.threadId,
                                                          LevelText(header.level));
    if (size < kZelMessageEventHeaderBytes) return line + "message event cut short";
    const auto messageNumber = Load<uint32_t>(event + offsetof(TraceEventBuffer, messageNumber));
    const auto loadAddress = Load<uint64_t>(event + offsetof(TraceEventBuffer, loadAddress));
    line += ModuleName(header.processId, loadAddress) + Printf(" msg 0x%08X", messageNumber);
    const std::string arguments =
        FormatArguments(event + kZelMessageEventHeaderBytes, size - kZelMessageEventHeaderBytes);
    return arguments.empty() ? line : line + ": " + arguments;
}

std::string EventFormatter::FormatModuleInfo(const uint8_t* event, size_t size) {
    const auto header = Load<ZelEventHeader>(event);
    std::string line = TimeText(header.timeStamp) + Printf(" pid %u tid %u module  ", header.processId, header.threadId);
    if (size < sizeof(ModuleInfoEvent)) return line + "module information cut short";
    const uint8_t* at = event;
    const std::string exe = Utf16ToUtf8(at + offsetof(ModuleInfoEvent, executablePath), kZelPathChars);
    const std::string module = Utf16ToUtf8(at + offsetof(ModuleInfoEvent, modulePath), kZelPathChars);
    const std::string debug = Utf16ToUtf8(at + offsetof(ModuleInfoEvent, debugPath), kZelPathChars);
    const auto loadAddress = Load<uint64_t>(at + offsetof(ModuleInfoEvent, loadAddress));
    const auto age = Load<uint32_t>(at + offsetof(ModuleInfoEvent, debugAge));
    m_modules[{header.processId, loadAddress}] = BaseName(module);
    return line + "\"" + module + Printf("\" at 0x%" PRIX64 " in \"", loadAddress) + exe + "\", debug " +
           GuidText(at + offsetof(ModuleInfoEvent, debugGuid)) + Printf(" age %u", age) +
           (debug.empty() ? "" : " \"" + debug + "\"");
}

std::string EventFormatter::ModuleName(uint32_t processId, uint64_t loadAddress) const {
    const auto found = m_modules.find({processId, loadAddress});
    return found != m_modules.end() ? found->second : Printf("module@0x%" PRIX64, loadAddress);
}

}  // namespace orvo::zellog
