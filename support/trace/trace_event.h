// Binary layouts of the trace events: a message event (header, message
// number, module load address, typed arguments) and the module-information
// event sent when a session enables a provider. Shared with the live log and
// with the viewer, so every offset is pinned.
#pragma once
#include <windows.h>
#include <evntrace.h>
#include <cstddef>
#include <cstdint>

namespace orvo {

// Control GUIDs of the two providers every tracing module carries, and the
// trace GUIDs of the two event classes.
constexpr GUID kZelProviderAGuid = {0x9CD51A95, 0xC1C6, 0x451E, {0xA4, 0xBD, 0x50, 0x8A, 0x8B, 0xFE, 0x1F, 0xC6}};
constexpr GUID kZelProviderBGuid = {0xC242ABD3, 0xC6C3, 0x49CD, {0x89, 0xFA, 0x4F, 0x05, 0x0F, 0xE5, 0xC5, 0xBA}};
constexpr GUID kZelMessageEventGuid = {0x9724D1BF, 0xA313, 0x4873, {0x93, 0x75, 0x35, 0x7F, 0x9B, 0x96, 0xDD, 0xE7}};
constexpr GUID kZelModuleInfoEventGuid = {0x751A5335, 0x8420, 0x478C, {0xA9, 0xBF, 0x3E, 0x9F, 0xED, 0x2A, 0x88, 0x40}};

// Statement levels.
constexpr uint8_t kZelLevelError = 2;
constexpr uint8_t kZelLevelWarning = 3;
constexpr uint8_t kZelLevelInformation = 4;

constexpr uint32_t kZelTracedGuidFlag = 0x20000;  // WNODE_FLAG_TRACED_GUID

// Argument type bytes.
enum ZelArgType : uint8_t {
    kZelArgInt32 = 1,
    kZelArgUInt32 = 2,
    kZelArgUInt64 = 4,
    kZelArgString = 5,
    kZelArgWideString = 6,
    kZelArgPointer = 8,
    kZelArgInline = 9,
    kZelArgBytes = 10,
};

constexpr size_t kZelArgumentBytes = 8192;
constexpr size_t kZelPathChars = 260;

// Offsets 0..47 are the system's EVENT_TRACE_HEADER; our own names for the
// fields keep the layout independent of that header's unions.
struct ZelEventHeader {
    uint16_t size;
    uint16_t fieldTypeFlags;
    uint8_t type;
    uint8_t level;
    uint16_t version;
    uint32_t threadId;
    uint32_t processId;
    int64_t timeStamp;  // FILETIME, UTC
    GUID guid;
    uint32_t clientContext;
    uint32_t flags;
};
static_assert(sizeof(ZelEventHeader) == 48 && sizeof(ZelEventHeader) == sizeof(EVENT_TRACE_HEADER));
static_assert(offsetof(ZelEventHeader, threadId) == 8 && offsetof(ZelEventHeader, processId) == 12);
static_assert(offsetof(ZelEventHeader, timeStamp) == 16 && offsetof(ZelEventHeader, guid) == 24);
static_assert(offsetof(ZelEventHeader, flags) == 44 && offsetof(EVENT_TRACE_HEADER, Flags) == 44);

struct TraceEventBuffer {
    ZelEventHeader header;
    uint32_t processId;
    uint32_t messageNumber;
    uint64_t loadAddress;  // sign-extended in a 32-bit build
    uint8_t arguments[kZelArgumentBytes];
};
static_assert(offsetof(TraceEventBuffer, processId) == 48 && offsetof(TraceEventBuffer, messageNumber) == 52);
static_assert(offsetof(TraceEventBuffer, loadAddress) == 56 && offsetof(TraceEventBuffer, arguments) == 64);
static_assert(sizeof(TraceEventBuffer) == 8256);

constexpr size_t kZelMessageEventHeaderBytes = offsetof(TraceEventBuffer, arguments);

struct ModuleInfoEvent {
    ZelEventHeader header;
    uint32_t processId;
    wchar_t executablePath[kZelPathChars];
    uint64_t loadAddress;
    GUID debugGuid;
    uint32_t debugAge;
    wchar_t modulePath[kZelPathChars];
    wchar_t debugPath[kZelPathChars];
};
static_assert(offsetof(ModuleInfoEvent, processId) == 48 && offsetof(ModuleInfoEvent, executablePath) == 52);
static_assert(offsetof(ModuleInfoEvent, loadAddress) == 576 && offsetof(ModuleInfoEvent, debugGuid) == 584);
static_assert(offsetof(ModuleInfoEvent, debugAge) == 600 && offsetof(ModuleInfoEvent, modulePath) == 604);
static_assert(offsetof(ModuleInfoEvent, debugPath) == 1124 && sizeof(ModuleInfoEvent) == 1648);

// A load address as the events carry it: 64 bits in every build.
inline uint64_t EventLoadAddress(const void* base) noexcept {
    return static_cast<uint64_t>(static_cast<int64_t>(reinterpret_cast<intptr_t>(base)));
}

}  // namespace orvo
