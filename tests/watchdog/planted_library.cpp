// A DLL left in a folder on PATH under the capture source's file name: when
// any process loads it, it creates the file that ORVO_PLANT_MARK names.
#include <windows.h>

#include "win32/unique_handle.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"ORVO_PLANT_MARK", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return TRUE;
    orvo::win32::UniqueFileHandle mark(
        CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return TRUE;
}
