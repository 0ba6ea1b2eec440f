// Parameter tables of the cameras with their own processor: how each
// parameter id reads the mirrored camera state, what a write marks pending,
// and its range, for both families side by side.
#pragma once
#include <cstdint>

#include "camera_api/cameras/command_status_protocol.h"

namespace orvo::cmdstat {

enum class ReadOp : uint8_t { None, Value, Flag, NotFlag, Pair, Mains, Const, Item63, Item65, Changed, WriteOnly };
enum class WriteOp : uint8_t { None, Value, Flag, FlagWhenZero, Pair, Mains, ReadOnly, FrameCode };
enum class RangeOp : uint8_t { None, Fixed, MaxWidth, MaxHeight, Item63, Item65, Modes };

struct ParamSpec {
    int16_t id;
    ReadOp read;
    int8_t readA, readB, shift;   // Value/Flag: A; Pair: A << shift | B; Const: A
    WriteOp write;
    int8_t writeA, writeB;
    RangeOp range;
    int32_t min, max, step;
    int8_t extra;        // -1: leave the field as preset
    int8_t capability;   // bit of the capability word the read needs, -1 none
    bool resets63;       // writing it zeroes the stored parameter 63 value
};

// The entry for an id, or null when the family does not handle it.
const ParamSpec* FindParam(Family family, int id) noexcept;

}  // namespace orvo::cmdstat
