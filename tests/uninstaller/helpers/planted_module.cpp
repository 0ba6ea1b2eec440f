// A module planted where the engine must not load code from: when its code
// runs at all, it leaves C:\orvo_test\planted_ran.txt behind.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        ::CreateDirectoryW(L"C:\\orvo_test", nullptr);
        HANDLE file = ::CreateFileW(L"C:\\orvo_test\\planted_ran.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    }
    return TRUE;
}
