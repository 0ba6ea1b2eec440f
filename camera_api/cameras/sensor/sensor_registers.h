// The sensor's 256 16-bit registers as the library mirrors them, the register
// runs that carry changes over the wire, their echo check, the command packet
// framing and the gain encodings. Pure logic.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvo {

constexpr int kSensorRegisterCount = 256;
constexpr uint16_t kChipVersion = 0x1801;

// Register numbers.
enum SensorRegister : uint8_t {
    kRegChipVersion = 0x00,
    kRegRowStart = 1,
    kRegColumnStart = 2,
    kRegRowSize = 3,
    kRegColumnSize = 4,
    kRegHorizontalBlanking = 5,
    kRegVerticalBlanking = 6,
    kRegShutterHigh = 8,
    kRegShutterLow = 9,
    kRegPllControl = 16,
    kRegPllConfig = 17,
    kRegPllDivider = 18,
    kRegReadMode = 32,
    kRegRowAddressMode = 34,
    kRegColumnAddressMode = 35,
    kRegGreen1Gain = 43,
    kRegBlueGain = 44,
    kRegRedGain = 45,
    kRegGreen2Gain = 46,
    kRegChipVersionMirror = 0xFF,
};

constexpr uint16_t kReadModeRowMirror = 0x8000;
constexpr uint16_t kReadModeColumnMirror = 0x4000;
constexpr uint16_t kPllPower = 0x1;
constexpr uint16_t kPllUse = 0x2;

// Command opcodes after the "PLUM" tag.
enum SensorOpcode : uint8_t {
    kOpReadRegisters = 0x01,
    kOpWriteRegisters = 0x02,
    kOpUpdateRegisters = 0x03,
    kOpLightMode = 0x04,
    kOpStopStream = 0x05,
    kOpFrame = 0x80,
    kOpFrameWithRegisters = 0x83,
    kOpReset = 0xFE,
    kOpWriteRegistersNow = 0xFF,
};

constexpr size_t kPacketHeader = 5;  // "PLUM" and the opcode
// One run carries at most this many registers (its byte count is a uint8).
constexpr int kMaxRunRegisters = 127;

struct SensorRegisters {
    uint16_t value[kSensorRegisterCount] = {};
};

// "PLUM", the opcode, then the body.
std::vector<uint8_t> SensorPacket(uint8_t opcode, const uint8_t* body = nullptr, size_t length = 0);
void AppendBigEndian32(std::vector<uint8_t>& out, uint32_t value);

// Appends the runs for every maximal stretch of registers whose desired value
// differs from the confirmed one; returns the number of registers written.
int AppendChangedRuns(const SensorRegisters& desired, const SensorRegisters& confirmed, std::vector<uint8_t>& out);
// Appends one run of `count` registers from `first` with their desired values.
void AppendRun(const SensorRegisters& desired, int first, int count, std::vector<uint8_t>& out);

// Checks an answer against the runs that were sent (each run's values, in
// order, concatenated). On a match the values become confirmed.
bool ConfirmEcho(const uint8_t* runs, size_t runsLength, const uint8_t* answer, size_t answerLength,
                 SensorRegisters& confirmed);

// Reads the answer of a register read: 512 bytes, big-endian.
bool ParseRegisterDump(const uint8_t* answer, size_t length, SensorRegisters& out);

struct GainMode {
    bool digital = false;   // digital gain mode
    bool doubling = false;  // analog gain doubling
};
uint16_t EncodeGain(int32_t gain, int32_t maxGain, GainMode mode);
int32_t DecodeGain(uint16_t value, GainMode mode);

}  // namespace orvo
