// libFuzzer entry for the status packet and item code (native build).
#include "native/fuzz/command_status_fuzz_body.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!orvo::fuzz::FuzzCommandStatus(data, size)) __builtin_trap();
    return 0;
}
