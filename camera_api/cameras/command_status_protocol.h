// Command and status packets of the cameras with their own processor, and the
// items they carry, for both packet layouts. Pure logic: no Win32, so that the
// parsers can be built natively and fuzzed. Wire data is untrusted throughout.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvo::cmdstat {

enum class Family : uint8_t { Alder, Birch };

// Command flags (host to camera).
constexpr uint32_t kCommandHandshake = 0x10000000;
constexpr uint32_t kCommandParamsOnly = 0x20000000;
constexpr uint32_t kCommandItemsFollow = 0x40000000;
constexpr uint32_t kCommandFrameRequest = 0xA0000000;
// Packet flags (camera to host).
constexpr uint32_t kPacketHandshake = 0x10000000;
constexpr uint32_t kPacketItemsFollow = 0x40000000;

constexpr size_t kStatusPacketCapacity = 512;

// Status word bits raised by what the camera reports.
constexpr uint32_t kStatusSettingsChanged = 0x800;
constexpr uint32_t kStatusParam63Changed = 0x4000;
constexpr uint32_t kStatusParam65Changed = 0x8000;
constexpr uint32_t kStatusList2Changed = 0x10000;

// Item types.
enum ItemType : uint8_t {
    kItemEnd = 0, kItemList1 = 1, kItemText1 = 2, kItemFrameSize = 3, kItemVideoModes = 4, kItemFrameRates = 5,
    kItem63Value = 6, kItem63Max = 7, kItem65Value = 8, kItem65Max = 9, kItem63Min = 10, kItem65Min = 11,
    kItem65Step = 12, kItemList2 = 13, kItemText2 = 14, kItemCapabilities = 15,
};

constexpr int kMaxModes = 16;
constexpr int kText1Entries = 256;
constexpr int kText2Entries = 8;
// Frame sizes beyond this are taken as corrupt: they would size the staging buffers.
constexpr uint32_t kMaxFrameDimension = 4096;

struct Layout {
    Family family;
    char commandTag[4];
    char statusTag[4];
    uint32_t headerSize;     // of command and status packets alike
    int flagCount;           // device flags mirrored
    int valueCount;          // device value bytes mirrored
    int commandValueCount;   // value bytes carried by a command
};
const Layout& LayoutOf(Family family) noexcept;

// Outgoing state: what the host changed and has not sent yet.
struct PendingCommand {
    uint32_t flagMask = 0;
    uint32_t flagValues = 0;
    uint32_t valueMask = 0;   // bit n: value byte n changed
    uint8_t values[32] = {};
    std::vector<uint16_t> items;   // request items, each a 16-bit word

    bool Empty() const noexcept { return flagMask == 0 && valueMask == 0 && items.empty(); }
    void SetFlag(int bit, bool on) noexcept;
    void SetValue(int index, uint8_t value) noexcept;
};

// Builds a command packet into out. The pending masks, flag values and value
// bytes are copied in and cleared; with withItems the queued request items
// follow the header (flag 0x40000000) and are cleared too.
void BuildCommand(const Layout& layout, PendingCommand& pending, uint32_t commandFlags, uint32_t dataSize,
                  bool withItems, std::vector<uint8_t>& out);

// The request items of the opening exchanges: queued one list at a time.
std::vector<uint16_t> HandshakeRequestItems(const Layout& layout, int step);

// The camera's state as the host mirrors it.
struct DeviceState {
    bool handshakeSeen = false;
    uint32_t flags = 0;
    uint8_t values[32] = {};
    // Reported and not yet drained through parameter 46. The single-mask
    // layout keeps everything in reportedFlags (flags low, values high).
    uint32_t reportedFlags = 0;
    uint32_t reportedValues = 0;
    uint32_t flagCursor = 0;
    uint32_t valueCursor = 0;

    uint32_t cameraWidth = 640;    // the maximum size on the single-mask layout
    uint32_t cameraHeight = 480;
    uint32_t videoWidth = 640;
    uint32_t videoHeight = 480;

    std::vector<uint32_t> list1;
    std::vector<uint32_t> list2;
    std::vector<std::u16string> text1 = std::vector<std::u16string>(kText1Entries);
    std::vector<bool> text1Present = std::vector<bool>(kText1Entries);
    std::u16string text2[kText2Entries];
    bool text2Present[kText2Entries] = {};
    std::vector<uint32_t> modes;
    std::vector<uint32_t> frameRates;

    int32_t p63Min = 1, p63Max = 0x7FFFFFFF, p63Value = 0;
    int32_t p65Min = 1, p65Max = 0x7FFFFFFF, p65Step = 256, p65Value = 1;
    uint32_t capabilities = 0;
};

// Applies one status packet: false (and nothing changed) for a packet that is
// too short or has the wrong tag. statusBits receives the bits to raise.
bool ApplyStatusPacket(const Layout& layout, DeviceState& state, const uint8_t* data, size_t size,
                       uint32_t* statusBits);

// Applies a run of items; stops at a type-0 item or where the bytes end. An
// item whose length runs past the end is ignored whole.
uint32_t ApplyItems(const Layout& layout, DeviceState& state, const uint8_t* data, size_t size);

// Parameter 46: the id of the next reported change, 47 when none is left.
constexpr int kNoChangedParam = 47;
int NextChangedParam(const Layout& layout, DeviceState& state) noexcept;

// Little-endian access shared by the packet code.
inline uint32_t LoadU32(const uint8_t* p) noexcept {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint16_t LoadU16(const uint8_t* p) noexcept {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline void StoreU32(uint8_t* p, uint32_t v) noexcept {
    p[0] = uint8_t(v), p[1] = uint8_t(v >> 8), p[2] = uint8_t(v >> 16), p[3] = uint8_t(v >> 24);
}
inline void StoreU16(uint8_t* p, uint16_t v) noexcept {
    p[0] = uint8_t(v), p[1] = uint8_t(v >> 8);
}

}  // namespace orvo::cmdstat
