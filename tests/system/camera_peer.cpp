// Another client process of the camera library: opens the camera with the
// given serial number, streams, signals the named event once frames arrive,
// and keeps streaming (pumping the library's messages) until it is killed or
// the time is up. Prints "open=<result>" and "frames=<n>". With "leave" it
// instead unloads the library while the camera captures and exits.
//
//   system_camera_peer.exe SERIAL EVENT_NAME [SECONDS] [leave]
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>

#include "system/system_rig.h"

int wmain(int argc, wchar_t** argv) {
    using namespace orvo;
    if (argc < 3) return 2;
    const std::wstring serial = argv[1];
    win32::UniqueHandle ready(::OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]));
    const DWORD seconds = argc > 3 ? DWORD(std::wcstoul(argv[3], nullptr, 10)) : 60;
    const bool leave = argc > 4 && std::wstring(argv[4]) == L"leave";
    auto owned = std::make_unique<test::LibraryClient>();
    test::LibraryClient& client = *owned;
    if (!ready || !client.Start()) return 3;
    const int id = client.WaitListed(serial);
    int handle = 0;
    const int32_t opened = id >= 0 ? client.api.orvo_Open(id, &handle) : ORVO_E_NOT_FOUND;
    std::printf("open=%d\n", opened == ORVO_OK ? 0 : int(opened & 0xFFF));
    std::fflush(stdout);
    if (opened != ORVO_OK) return 4;
    if (leave) {
        // Left capturing on purpose: the stream object is never destroyed,
        // as it would call into the library after it was let go.
        auto* stream = new test::VideoStream(client.api, handle);
        if (stream->Start() != ORVO_OK || !stream->NextFrame()) return 5;
        ::SetEvent(ready.get());
        owned.reset();  // FreeLibrary with the camera open and capturing
        std::printf("unloaded\n");
        return 0;
    }
    int frames = 0;
    {
        test::VideoStream stream(client.api, handle);
        if (stream.Start() == ORVO_OK) {
            const ULONGLONG end = ::GetTickCount64() + seconds * 1000ull;
            while (::GetTickCount64() < end) {
                if (!stream.NextFrame()) break;
                if (++frames == 1) ::SetEvent(ready.get());
            }
        }
    }
    std::printf("frames=%d\n", frames);
    client.api.orvo_Close(handle);
    return frames > 0 ? 0 : 5;
}
