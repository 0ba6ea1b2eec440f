// Device interface paths: bounded length and case-insensitive comparison, the
// way both device tables compare them.
#pragma once
#include <windows.h>
#include <cwchar>
#include <cstddef>

namespace orvo {

// Length of a path held in a buffer of capacity chars, never reading past it
// (the buffer may be shared memory without a terminator).
inline size_t BoundedPathLength(const wchar_t* path, size_t capacity) noexcept {
    return path ? ::wcsnlen(path, capacity) : 0;
}

// Case-insensitive ordinal comparison, as the system compares device paths.
inline bool SamePath(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength) noexcept {
    if (aLength != bLength) return false;
    if (aLength == 0) return true;
    return ::CompareStringOrdinal(a, static_cast<int>(aLength), b, static_cast<int>(bLength), TRUE) ==
           CSTR_EQUAL;
}

}  // namespace orvo
