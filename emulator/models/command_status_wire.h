// The wire of the cameras with their own processor, as the emulated firmware
// reads and writes it: the two packet families, the header fields of command
// and status packets, the command and packet flags, and the item types. The
// firmware keeps this description of its own; it shares none of it with the
// host library, so that a misreading on either side shows up as a
// disagreement. Pure logic.
#pragma once
#include <cstddef>
#include <cstdint>

namespace orvo::emu {

enum class Family : uint8_t { Alder, Birch };

// Where each field sits in a family's packets. The alder family keeps flag
// and value masks apart; the birch family packs flags (bits 0..15) and values
// (bits 16..31) into one mask and its flag values into the low half of the
// command or packet-flags word.
struct PacketShape {
    char commandTag[4];
    char statusTag[4];
    size_t headerBytes;          // of command and status packets alike
    int flagBits;                // on/off settings the camera keeps
    int valueBytes;              // byte settings the camera reports
    int commandValueBytes;       // value bytes a command carries
    bool splitMasks;             // alder: separate flag and value masks
    // Command packets.
    size_t cmdDataSize, cmdMask, cmdValueMask, cmdWord, cmdFlagValues, cmdValues;
    // Status packets.
    size_t stsMask, stsValueMask, stsFlags, stsFlagValues, stsValues;
};

constexpr PacketShape kAlderShape{{'V', 'I', 'Z', ':'}, {':', 'C', 'A', 'M'}, 56, 13, 19, 32, true,
                                  4, 8, 12, 16, 20, 24,
                                  8, 12, 16, 20, 24};
constexpr PacketShape kBirchShape{{'T', 'W', 'I', 'G'}, {'B', 'A', 'R', 'K'}, 32, 16, 16, 16, false,
                                  8, 4, 0, 12, 0, 16,
                                  4, 0, 12, 0, 16};
constexpr const PacketShape& ShapeOf(Family family) { return family == Family::Alder ? kAlderShape : kBirchShape; }

// What a command asks for (its command word, high half).
namespace command {
constexpr uint32_t kHello = 0x10000000;         // first command of the opening handshake
constexpr uint32_t kSettingsOnly = 0x20000000;
constexpr uint32_t kItemsAttached = 0x40000000;
constexpr uint32_t kSendFrame = 0xA0000000;      // both bits: the data size is the frame's byte count
}  // namespace command

// What a status packet says about itself.
namespace packet {
constexpr uint32_t kHelloAnswer = 0x10000000;
constexpr uint32_t kItemsAttached = 0x40000000;
constexpr size_t kLargest = 512;                 // the host reads status packets into this much
}  // namespace packet

// Items: a type byte, a length byte counting 16-bit words, the words. A
// uint32 travels as two words, low first. The list ends at type 0.
namespace item {
enum : uint8_t {
    kEnd = 0,
    kNumberList = 1,       // words, each high byte << 16 | low byte on the host
    kNameTable = 2,        // index byte, then a wide string
    kPictureSize = 3,      // width, height
    kVideoModes = 4,       // uint32: height << 16 | width
    kModeRates = 5,        // uint32: four rates, a byte each
    kLevelValue = 6,       // the camera's first measured level (host parameter 63)
    kLevelMax = 7,
    kStepValue = 8,        // the camera's stepped setting (host parameter 65)
    kStepMax = 9,
    kLevelMin = 10,
    kStepMin = 11,
    kStepSize = 12,        // one word
    kWordList = 13,        // uint32 entries
    kModeNames = 14,       // index byte 0..7, then a wide string
    kFeatures = 15,        // birch: which optional settings it has
};
}  // namespace item

inline uint16_t Le16(const uint8_t* p) noexcept { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t Le32(const uint8_t* p) noexcept {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void PutLe32(uint8_t* p, uint32_t v) noexcept {
    p[0] = uint8_t(v), p[1] = uint8_t(v >> 8), p[2] = uint8_t(v >> 16), p[3] = uint8_t(v >> 24);
}

}  // namespace orvo::emu
