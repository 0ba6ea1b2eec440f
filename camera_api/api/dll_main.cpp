// The library's entry point. Runs before the C++ runtime destroys the device
// manager, so a terminating process can tell it not to tear cameras down.
#include <windows.h>

#include "camera_api/devices/device_manager.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    // A non-null `reserved` at detach means ExitProcess: every other thread
    // was terminated wherever it stood, holding whatever locks it held.
    if (reason == DLL_PROCESS_DETACH && reserved) orvo::TheDeviceManager().AbandonAtProcessExit();
    return TRUE;
}
