#include "camera_api/cameras/command_status_params.h"

namespace orvo::cmdstat {
namespace {

using R = ReadOp;
using W = WriteOp;
using G = RangeOp;

constexpr ParamSpec P(int id, R read, int a, W write, int wa, G range, int32_t min, int32_t max, int32_t step = 1,
                      int extra = -1) {
    return ParamSpec{int16_t(id), read,   int8_t(a), 0,   0,     write, int8_t(wa), 0,
                     range,       min,    max,       step, int8_t(extra), -1, false};
}
constexpr ParamSpec Pair(int id, int a, int b, int shift, W write, int32_t max) {
    return ParamSpec{int16_t(id), R::Pair, int8_t(a), int8_t(b), int8_t(shift), write, int8_t(a), int8_t(b),
                     G::Fixed,    0,       max,       1,         -1,            -1,    false};
}
constexpr ParamSpec Cap(ParamSpec spec, int bit) {
    spec.capability = int8_t(bit);
    return spec;
}
constexpr ParamSpec Resets63(ParamSpec spec) {
    spec.resets63 = true;
    return spec;
}

constexpr ParamSpec kAlder[] = {
    P(4, R::Value, 15, W::Value, 15, G::Fixed, 0, 255),
    Resets63(P(6, R::Value, 14, W::Value, 14, G::Fixed, 0, 255, 1, 0)),
    P(9, R::Flag, 7, W::None, 0, G::Fixed, 0, 1),
    P(10, R::Flag, 10, W::None, 0, G::Fixed, 0, 1),
    P(11, R::Flag, 10, W::None, 0, G::Fixed, 0, 1),
    P(12, R::Flag, 10, W::None, 0, G::Fixed, 0, 1),
    P(13, R::NotFlag, 2, W::FlagWhenZero, 2, G::Fixed, 0, 1),
    P(14, R::Flag, 5, W::Flag, 5, G::Fixed, 0, 1),
    P(15, R::Flag, 6, W::Flag, 6, G::Fixed, 0, 1),
    P(16, R::Mains, 0, W::Mains, 0, G::Fixed, 50, 60, 10),
    P(17, R::Value, 13, W::Value, 13, G::Fixed, 15, 60, 15),
    P(23, R::Flag, 0, W::Flag, 0, G::Fixed, 0, 1),
    P(40, R::Flag, 3, W::Flag, 3, G::Fixed, 0, 1),
    P(41, R::Flag, 1, W::Flag, 1, G::Fixed, 0, 1),
    Pair(42, 8, 9, 16, W::Pair, 0x7FFFFFFF),
    P(44, R::WriteOnly, 0, W::Value, 5, G::Fixed, -1, 1),
    P(45, R::WriteOnly, 0, W::Value, 3, G::Fixed, -1, 1),
    P(46, R::Changed, 0, W::None, 0, G::None, 0, 0),
    P(50, R::WriteOnly, 0, W::Value, 6, G::Fixed, -1, 1),
    P(55, R::Flag, 4, W::None, 0, G::None, 0, 0),
    P(56, R::None, 0, W::Flag, 4, G::Fixed, 0, 1),
    P(57, R::Flag, 11, W::Flag, 11, G::Fixed, 0, 1),
    Pair(58, 16, 0, 8, W::ReadOnly, 0xFFFF),
    Pair(59, 17, 1, 8, W::ReadOnly, 0xFFFF),
    P(60, R::Value, 2, W::Value, 2, G::Fixed, 0, 6),
    P(61, R::Value, 11, W::ReadOnly, 0, G::Fixed, 0, 2),
    P(62, R::Value, 12, W::ReadOnly, 0, G::Fixed, 0, 2),
    P(63, R::Item63, 0, W::ReadOnly, 0, G::Item63, 0, 0),
    P(64, R::WriteOnly, 0, W::Value, 7, G::Fixed, -1, 1),
    P(65, R::Item65, 0, W::ReadOnly, 0, G::Item65, 0, 0),
    P(66, R::WriteOnly, 0, W::Value, 0, G::Fixed, -1, 1),
    P(67, R::WriteOnly, 0, W::Value, 1, G::Fixed, -1, 1),
    P(68, R::WriteOnly, 0, W::Value, 18, G::Fixed, -1, 1),
    P(69, R::Value, 3, W::ReadOnly, 0, G::Fixed, 0, 255),
    P(70, R::Value, 10, W::Value, 10, G::Modes, 0, 0),
    P(71, R::Flag, 12, W::Flag, 12, G::Fixed, 0, 1),
};

constexpr ParamSpec kBirch[] = {
    P(4, R::Value, 9, W::Value, 9, G::Fixed, 0, 255),
    P(6, R::Value, 8, W::Value, 8, G::Fixed, 0, 15, 1, 0),
    P(7, R::Const, 0, W::ReadOnly, 0, G::MaxWidth, 0, 0, 2),
    P(8, R::Const, 0, W::ReadOnly, 0, G::MaxHeight, 0, 0, 2),
    P(9, R::Flag, 7, W::Flag, 7, G::Fixed, 0, 1),
    P(10, R::Flag, 10, W::None, 0, G::Fixed, 0, 1),
    P(11, R::Flag, 10, W::Flag, 10, G::Fixed, 0, 1),
    P(12, R::Flag, 10, W::None, 0, G::Fixed, 0, 1),
    P(13, R::NotFlag, 2, W::FlagWhenZero, 2, G::Fixed, 0, 1),
    P(14, R::Flag, 5, W::Flag, 5, G::Fixed, 0, 1),
    P(15, R::Flag, 6, W::Flag, 6, G::Fixed, 0, 1),
    P(16, R::Mains, 0, W::Mains, 0, G::Fixed, 50, 60, 10),
    P(17, R::Const, 30, W::ReadOnly, 0, G::Fixed, 25, 30, 5),
    P(23, R::Flag, 0, W::Flag, 0, G::Fixed, 0, 1),
    P(40, R::Flag, 3, W::Flag, 3, G::Fixed, 0, 1),
    P(41, R::Flag, 1, W::Flag, 1, G::Fixed, 0, 1),
    Pair(42, 10, 11, 16, W::Pair, 0x7FFFFFFF),
    P(44, R::Value, 5, W::Value, 5, G::Fixed, -1, 1),
    P(45, R::Value, 3, W::Value, 3, G::Fixed, -1, 1),
    P(46, R::Changed, 0, W::None, 0, G::None, 0, 0),
    P(50, R::Value, 6, W::Value, 6, G::Fixed, -1, 1),
    P(54, R::None, 0, W::FrameCode, 12, G::Fixed, 1, 4),
    P(55, R::Flag, 4, W::None, 0, G::None, 0, 0),
    P(56, R::None, 0, W::Flag, 4, G::Fixed, 0, 1),
    Cap(P(57, R::Flag, 11, W::Flag, 11, G::Fixed, 0, 1), 4),
    Cap(P(63, R::Item63, 0, W::ReadOnly, 0, G::Item63, 0, 0), 0),
    P(64, R::WriteOnly, 0, W::Value, 7, G::Fixed, -1, 1),
    Cap(P(65, R::Item65, 0, W::ReadOnly, 0, G::Item65, 0, 0), 1),
    Cap(P(72, R::Value, 13, W::ReadOnly, 0, G::Fixed, 1, 10), 2),
    P(73, R::WriteOnly, 0, W::Value, 13, G::Fixed, -1, 1),
    Cap(P(74, R::Value, 14, W::ReadOnly, 0, G::Fixed, 1, 10), 3),
    P(75, R::WriteOnly, 0, W::Value, 14, G::Fixed, -1, 1),
};

template <size_t N>
const ParamSpec* Find(const ParamSpec (&table)[N], int id) noexcept {
    for (const ParamSpec& spec : table) {
        if (spec.id == id) return &spec;
    }
    return nullptr;
}

}  // namespace

const ParamSpec* FindParam(Family family, int id) noexcept {
    return family == Family::Alder ? Find(kAlder, id) : Find(kBirch, id);
}

}  // namespace orvo::cmdstat
