// The two camera kinds a registration names; the registering agent chooses
// one by model code.
#pragma once
#include <windows.h>

namespace orvo::capture {

// {0A4EF99C-E934-4641-A831-58E390EE5A29}
constexpr GUID KIND_GENERAL = {0x0A4EF99C, 0xE934, 0x4641, {0xA8, 0x31, 0x58, 0xE3, 0x90, 0xEE, 0x5A, 0x29}};
// {37A6A792-3296-491B-AA8A-7D4C2E8DC48D}
constexpr GUID KIND_CEDAR = {0x37A6A792, 0x3296, 0x491B, {0xAA, 0x8A, 0x7D, 0x4C, 0x2E, 0x8D, 0xC4, 0x8D}};

}  // namespace orvo::capture
