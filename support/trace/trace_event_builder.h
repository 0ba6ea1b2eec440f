// Builds one message event in place, argument by argument, with the room
// rules of the argument area: strings that do not fit are cut, anything else
// that does not fit fails the event, and a full area skips what follows.
// Pure: no system calls.
#pragma once
#include <cstring>
#include <type_traits>

#include "support/trace/trace_event.h"

namespace orvo {

// A value whose bytes are traced as they lie in memory (type 9).
struct ZelInlineArg {
    const void* data;
    size_t bytes;
};
template <class T>
ZelInlineArg ZelTraceInline(const T& value) noexcept {
    static_assert(std::is_trivially_copyable_v<T>, "only plain values can be traced inline");
    return {&value, sizeof(T)};
}

// Bytes traced from a pointer (type 10).
struct ZelBytesArg {
    const void* data;
    size_t bytes;
};
inline ZelBytesArg ZelTraceBytes(const void* data, size_t bytes) noexcept { return {data, bytes}; }

class TraceEventBuilder {
public:
    TraceEventBuilder(uint8_t level, uint32_t messageNumber, uint64_t loadAddress, uint32_t processId) noexcept;
    TraceEventBuilder(const TraceEventBuilder&) = delete;
    TraceEventBuilder& operator=(const TraceEventBuilder&) = delete;

    // Appends in order; false at the first argument that cannot be appended.
    template <class... Args>
    bool Append(const Args&... args) noexcept {
        return (Add(args) && ...);
    }

    // One typed argument; false when it cannot be appended.
    bool AppendRaw(uint8_t type, const void* data, size_t bytes) noexcept;

    TraceEventBuffer& Event() noexcept { return m_event; }
    size_t ArgumentLength() const noexcept { return m_length; }

private:
    bool Add(const char* text) noexcept;
    bool Add(const wchar_t* text) noexcept;
    bool Add(char* text) noexcept { return Add(static_cast<const char*>(text)); }
    bool Add(wchar_t* text) noexcept { return Add(static_cast<const wchar_t*>(text)); }
    bool Add(const GUID& guid) noexcept;
    bool Add(const ZelInlineArg& arg) noexcept { return AppendRaw(kZelArgInline, arg.data, arg.bytes); }
    bool Add(const ZelBytesArg& arg) noexcept { return AppendRaw(kZelArgBytes, arg.data, arg.bytes); }
    bool Add(bool value) noexcept { return AddInt32(value ? 1 : 0); }

    template <class T>
    bool Add(const T& value) noexcept {
        if constexpr (std::is_enum_v<T>) {
            return Add(static_cast<std::underlying_type_t<T>>(value));
        } else if constexpr (std::is_pointer_v<T> || std::is_null_pointer_v<T>) {
            const uint64_t wide = reinterpret_cast<uintptr_t>(static_cast<const volatile void*>(value));
            return AppendRaw(kZelArgPointer, &wide, sizeof(wide));
        } else {
            static_assert(std::is_integral_v<T>, "trace arguments are integers, strings, pointers, GUIDs or bytes");
            if constexpr (sizeof(T) > 4) {
                const uint64_t wide = static_cast<uint64_t>(value);
                return AppendRaw(kZelArgUInt64, &wide, sizeof(wide));
            } else if constexpr (std::is_signed_v<T>) {
                return AddInt32(static_cast<int32_t>(value));
            } else {
                const uint32_t narrow = static_cast<uint32_t>(value);
                return AppendRaw(kZelArgUInt32, &narrow, sizeof(narrow));
            }
        }
    }
    bool AddInt32(int32_t value) noexcept { return AppendRaw(kZelArgInt32, &value, sizeof(value)); }

    TraceEventBuffer m_event;  // the argument area is written, never cleared
    size_t m_length = 0;
};

}  // namespace orvo
