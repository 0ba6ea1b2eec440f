// The library's register image and the emulated sensor's are separate types
// on purpose (each side keeps its own reading of the wire); tests that hold
// one against the other copy between them here.
#pragma once
#include <cstring>

#include "camera_api/cameras/sensor/sensor_registers.h"
#include "emulator/sensor/sensor_wire.h"

namespace orvo::test {

static_assert(sizeof(SensorRegisters::value) == sizeof(emu::plum::RegisterFile::value), "256 registers each");

inline SensorRegisters AsLibrary(const emu::plum::RegisterFile& from) {
    SensorRegisters to;
    std::memcpy(to.value, from.value, sizeof to.value);
    return to;
}

inline emu::plum::RegisterFile AsEmulated(const SensorRegisters& from) {
    emu::plum::RegisterFile to;
    std::memcpy(to.value, from.value, sizeof to.value);
    return to;
}

}  // namespace orvo::test
