// Files beside the capture source itself.
#pragma once
#include <windows.h>

namespace orvo::capture {

// The module that holds this code (the DLL, or a test program that links it).
HMODULE OwnModule() noexcept;
// Loads a DLL from the folder of OwnModule(); null when it is not there.
HMODULE LoadLibraryBesideModule(const wchar_t* fileName) noexcept;

}  // namespace orvo::capture
