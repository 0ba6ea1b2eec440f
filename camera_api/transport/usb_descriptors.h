// Pure helpers over the USB descriptors both transports read.
#pragma once
#include <cstdint>
#include <cstring>

#include "camera_api/transport/device.h"

namespace orvo {

constexpr uint8_t kDescriptorTypeDevice = 1;
constexpr uint8_t kDescriptorTypeString = 3;
constexpr uint16_t kLanguageEnglishUs = 0x0409;

// Field offsets of the 18-byte device descriptor.
constexpr size_t kDeviceSubClassOffset = 5;
constexpr size_t kVendorIdOffset = 8;
constexpr size_t kProductIdOffset = 10;
constexpr size_t kBcdDeviceOffset = 12;
constexpr size_t kProductIndexOffset = 15;
constexpr size_t kSerialIndexOffset = 16;

inline uint16_t DescriptorWord(const uint8_t* descriptor, size_t offset) noexcept {
    return uint16_t(descriptor[offset] | (descriptor[offset + 1] << 8));
}

// Copies the characters of a string descriptor: at most maxChars, and never
// more than the descriptor (bLength, clamped to the bytes available) holds.
// No terminator is added. Returns false when the descriptor is empty.
inline bool CopyStringDescriptor(const uint8_t* descriptor, uint32_t available, uint32_t maxChars,
                                 wchar_t* out) noexcept {
    if (!descriptor || available == 0 || descriptor[0] == 0) return false;
    uint32_t length = descriptor[0] < available ? descriptor[0] : available;
    const uint32_t chars = length < 2 ? 0 : (length - 2) / 2;
    const uint32_t n = chars < maxChars ? chars : maxChars;
    for (uint32_t i = 0; i < n && out; ++i) {
        out[i] = wchar_t(descriptor[2 + 2 * i] | (descriptor[3 + 2 * i] << 8));
    }
    return true;
}

// bDeviceSubClass of a WinUSB camera is a flag byte: bit 7 says the flags
// are meant, bit 0 asks for 64-byte command pieces, bit 1 for 64-byte
// response pieces.
struct ChunkFlags {
    uint32_t commandChunk = 0;
    uint32_t responseChunk = 0;
};

inline ChunkFlags ChunkFlagsFromSubClass(uint8_t subClass) noexcept {
    ChunkFlags flags;
    if (subClass & 0x80) {
        if (subClass & 0x01) flags.commandChunk = 64;
        if (subClass & 0x02) flags.responseChunk = 64;
    }
    return flags;
}

// The 8-byte setup packet of a control transfer.
inline uint8_t RequestType(bool in, uint8_t type, uint8_t recipient) noexcept {
    return uint8_t((in ? 0x80 : 0) | ((type & 3) << 5) | (recipient & 0x1F));
}

}  // namespace orvo
