// One fuzz input for the status packet and item code: the first byte picks
// the packet family, the rest is a status packet as the camera sent it. The
// input goes through the parser, the changed-parameter queue and a command
// build; false when an invariant of the mirrored state broke.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "camera_api/cameras/command_status_protocol.h"

namespace orvo::fuzz {

inline bool FuzzCommandStatus(const uint8_t* data, size_t size) {
    using namespace orvo::cmdstat;
    if (size == 0) return true;
    const Layout& layout = LayoutOf(data[0] & 1 ? Family::Birch : Family::Alder);
    DeviceState state;
    uint32_t bits = 0;
    // Twice, so that the second pass meets lists and texts already present.
    for (int pass = 0; pass < 2; ++pass) ApplyStatusPacket(layout, state, data + 1, size - 1, &bits);
    ApplyItems(layout, state, data + 1, size - 1);

    if (state.modes.size() > size_t(kMaxModes) || state.frameRates.size() > size_t(kMaxModes)) return false;
    if (state.cameraWidth == 0 || state.cameraWidth > kMaxFrameDimension) return false;
    if (state.cameraHeight == 0 || state.cameraHeight > kMaxFrameDimension) return false;
    if (state.text1.size() != size_t(kText1Entries) || state.text1Present.size() != size_t(kText1Entries)) return false;
    for (const auto& text : state.text1) {
        if (text.size() > 255) return false;
    }
    // The queue drains within one pass of each mask.
    int drained = 0;
    while (NextChangedParam(layout, state) != kNoChangedParam) {
        if (++drained > 64) return false;
    }
    if (state.reportedFlags != 0 || state.reportedValues != 0) return false;

    // Request items taken from the input go out with their closing word.
    PendingCommand pending;
    for (size_t at = 1; at + 1 < size && pending.items.size() < 64; at += 2) {
        pending.items.push_back(LoadU16(data + at));
    }
    const size_t items = pending.items.size();
    std::vector<uint8_t> packet;
    BuildCommand(layout, pending, kCommandParamsOnly, 0, true, packet);
    const size_t expected = layout.headerSize + (items ? 2 * items + 2 : 0);
    return packet.size() == expected && pending.Empty();
}

}  // namespace orvo::fuzz
