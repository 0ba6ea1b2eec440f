#include <windows.h>

#include "capture_source/module/capture_module.h"

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        ::DisableThreadLibraryCalls(module);
        orvo::capture::CCaptureModule::Instance();
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        // Unloaded by FreeLibrary: tear down. At process exit (reserved set)
        // the other threads are gone mid-work; releasing filters then could
        // wait on them for ever.
        orvo::capture::CCaptureModule::Destroy();
    }
    return TRUE;
}
