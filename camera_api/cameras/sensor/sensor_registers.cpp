#include "camera_api/cameras/sensor/sensor_registers.h"

#include <algorithm>
#include <cstring>

namespace orvo {

std::vector<uint8_t> SensorPacket(uint8_t opcode, const uint8_t* body, size_t length) {
    std::vector<uint8_t> packet(kPacketHeader + (body ? length : 0));
    packet[0] = 'P';
    packet[1] = 'L';
    packet[2] = 'U';
    packet[3] = 'M';
    packet[4] = opcode;
    if (body && length) std::memcpy(packet.data() + kPacketHeader, body, length);
    return packet;
}

void AppendBigEndian32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void AppendRun(const SensorRegisters& desired, int first, int count, std::vector<uint8_t>& out) {
    out.push_back(static_cast<uint8_t>(2 * count));
    out.push_back(static_cast<uint8_t>(first));
    for (int r = first; r < first + count; ++r) {
        out.push_back(static_cast<uint8_t>(desired.value[r] >> 8));
        out.push_back(static_cast<uint8_t>(desired.value[r]));
    }
}

int AppendChangedRuns(const SensorRegisters& desired, const SensorRegisters& confirmed, std::vector<uint8_t>& out) {
    int written = 0;
    int r = 0;
    while (r < kSensorRegisterCount) {
        if (desired.value[r] == confirmed.value[r]) {
            ++r;
            continue;
        }
        int end = r;
        while (end < kSensorRegisterCount && end - r < kMaxRunRegisters && desired.value[end] != confirmed.value[end])
            ++end;
        AppendRun(desired, r, end - r, out);
        written += end - r;
        r = end;
    }
    return written;
}

bool ConfirmEcho(const uint8_t* runs, size_t runsLength, const uint8_t* answer, size_t answerLength,
                 SensorRegisters& confirmed) {
    // First pass: the whole answer must match before anything is confirmed.
    size_t pos = 0, echoed = 0;
    while (pos < runsLength) {
        if (runsLength - pos < 2) return false;
        const size_t bytes = runs[pos];
        const size_t first = runs[pos + 1];
        if (bytes % 2 || runsLength - pos - 2 < bytes || first + bytes / 2 > kSensorRegisterCount) return false;
        if (answerLength - echoed < bytes || std::memcmp(runs + pos + 2, answer + echoed, bytes) != 0) return false;
        echoed += bytes;
        pos += 2 + bytes;
    }
    for (pos = 0; pos < runsLength; pos += 2 + runs[pos]) {
        const uint8_t* v = runs + pos + 2;
        for (size_t i = 0; i < runs[pos] / 2u; ++i)
            confirmed.value[runs[pos + 1] + i] = static_cast<uint16_t>(v[2 * i] << 8 | v[2 * i + 1]);
    }
    return true;
}

bool ParseRegisterDump(const uint8_t* answer, size_t length, SensorRegisters& out) {
    if (!answer || length < 2 * kSensorRegisterCount) return false;
    for (int r = 0; r < kSensorRegisterCount; ++r)
        out.value[r] = static_cast<uint16_t>(answer[2 * r] << 8 | answer[2 * r + 1]);
    return true;
}

uint16_t EncodeGain(int32_t gain, int32_t maxGain, GainMode mode) {
    gain = std::min(gain, maxGain);
    if (gain <= 0) return 0;
    uint32_t v;
    if (mode.digital) v = gain < 9 ? 8u : (static_cast<uint32_t>(gain - 8) << 8 | 8u);
    else v = static_cast<uint32_t>(gain + 7) & 0x3F;
    if (mode.doubling) v |= 0x40;
    return static_cast<uint16_t>(v & 0x7F7F);
}

int32_t DecodeGain(uint16_t value, GainMode mode) {
    if (mode.digital) return (value >> 8) + 8;
    const int32_t low = value & 0x3F;
    return low >= 8 ? low - 7 : low;
}

}  // namespace orvo
