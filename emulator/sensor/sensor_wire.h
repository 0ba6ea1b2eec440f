// The raw-sensor camera's wire as the emulated camera reads and writes it:
// "PLUM" command packets and their opcodes, register runs and echoes, the
// sensor's register map and fields, and the layout of the camera's small
// non-volatile memory. The camera keeps this description of its own and
// shares none of it with the host library, so that a misreading on either
// side shows up as a disagreement. Pure logic.
#pragma once
#include <cstddef>
#include <cstdint>

namespace orvo::emu::plum {

// Command packets: the tag, an opcode byte, the body.
constexpr char kTag[4] = {'P', 'L', 'U', 'M'};
constexpr size_t kHeaderBytes = 5;
enum Opcode : uint8_t {
    kReadAll = 0x01,        // answer: every register, big-endian
    kWrite = 0x02,          // register runs; answer: their echo
    kUpdate = 0x03,
    kLightMode = 0x04,      // three big-endian words; answer: the same six bytes
    kStopStream = 0x05,     // forget frames asked for and not sent
    kFrame = 0x80,          // big-endian byte count; the frame on the data pipe
    kFrameAndWrite = 0x83,  // byte count, then runs: frame and echo
    kReset = 0xFE,
    kWriteNow = 0xFF,
};
// A run: byte count (two per register), first register, the values
// big-endian; consecutive registers. The echo holds the values the
// registers took, in the order written.

// The sensor's registers.
constexpr int kRegisterCount = 256;
constexpr uint16_t kChipVersion = 0x1801;
enum Register : uint8_t {
    kChipId = 0x00,
    kFirstRow = 1,
    kFirstColumn = 2,
    kRowsMinus1 = 3,          // rows read, before skipping
    kColumnsMinus1 = 4,
    kLineBlanking = 5,        // pixel-clock pairs after each row, less one
    kFrameBlanking = 6,       // rows after each frame
    kShutterRowsHigh = 8,
    kShutterRowsLow = 9,
    kPllMode = 16,
    kPllMultiplyDivide = 17,  // multiplier high byte, input divider - 1 low byte
    kPllOutputDivide = 18,    // output divider - 1
    kReadout = 32,
    kRowAddressing = 34,
    kColumnAddressing = 35,
    kGainGreenOnRed = 43,
    kGainBlue = 44,
    kGainRed = 45,
    kGainGreenOnBlue = 46,
    kChipIdCopy = 0xFF,
};
constexpr uint16_t kPllPowered = 0x0001;
constexpr uint16_t kPllInUse = 0x0002;
constexpr uint16_t kReadoutRowsReversed = 0x8000;
constexpr uint16_t kReadoutColumnsReversed = 0x4000;
// Addressing registers: skip (factor - 1) in bits 0..2, bin in bits 4..5.
constexpr uint16_t kSkipField = 0x0007;
constexpr int kBinShift = 4;
constexpr uint16_t kBinField = 0x0030;
constexpr double kInputClockHz = 24e6;

struct RegisterFile {
    uint16_t value[kRegisterCount] = {};
};

// Non-volatile memory behind vendor control requests with this value.
constexpr uint16_t kMemoryValue = 0x151;
constexpr uint8_t kMemoryWrite = 0x20;     // index 0; body: address (high, low), data
constexpr uint8_t kMemoryReadOn = 0x21;    // from where the last access ended
constexpr uint8_t kMemoryReadAt = 0x22;    // index: the address
constexpr uint32_t kMemoryBytes = 0x4000;
constexpr uint32_t kMaxMemoryTransfer = 255;
constexpr uint32_t kWhiteBalanceRecord = 0x3000;   // "LiWb", red ratio, blue ratio
constexpr uint32_t kDefectHeader = 0x3040;         // "BadP", count, first six entries
constexpr uint32_t kDefectMore = 0x3060;           // the further entries
constexpr uint32_t kMaxDefects = 1006;

inline uint32_t Be32(const uint8_t* p) noexcept {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline uint16_t Be16(const uint8_t* p) noexcept { return uint16_t(p[0] << 8 | p[1]); }

}  // namespace orvo::emu::plum
