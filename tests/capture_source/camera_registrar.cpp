// Stand-in for the session agent's registration work (test code): loads
// OrvoVistrel.dll beside it, keeps the capture source's cameras equal to the
// library's device list and prints each change. Runs until the named event
// given on the command line is set (or, for scripts, until the stop file
// exists); then unregisters what it registered.
//
//   camera_registrar.exe STOP_EVENT_NAME [STOP_FILE]
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <map>
#include <string>

#include "camera_api/api/orvo_api_client.h"
#include "win32/message_wait.h"
#include "win32/unique_handle.h"
#include "win32/unique_module.h"

namespace {

// {0A4EF99C-E934-4641-A831-58E390EE5A29}, {37A6A792-3296-491B-AA8A-7D4C2E8DC48D}
constexpr GUID kKindGeneral = {0x0A4EF99C, 0xE934, 0x4641, {0xA8, 0x31, 0x58, 0xE3, 0x90, 0xEE, 0x5A, 0x29}};
constexpr GUID kKindCedar = {0x37A6A792, 0x3296, 0x491B, {0xAA, 0x8A, 0x7D, 0x4C, 0x2E, 0x8D, 0xC4, 0x8D}};

using InitializeFn = HRESULT(STDAPICALLTYPE*)();
using RegisterFn = HRESULT(STDAPICALLTYPE*)(const CLSID*, const GUID*, uint32_t, const wchar_t*);
using UnregisterFn = HRESULT(STDAPICALLTYPE*)(const CLSID*);

std::string ClsidText(const CLSID& clsid) {
    wchar_t text[40] = L"";
    ::StringFromGUID2(clsid, text, 40);
    return std::string(text, text + wcslen(text));
}

struct Camera {
    CLSID clsid;
    std::wstring name;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::printf("usage: camera_registrar STOP_EVENT_NAME\n");
        return 2;
    }
    orvo::win32::UniqueHandle stop(::CreateEventW(nullptr, TRUE, FALSE, argv[1]));
    ::CoInitialize(nullptr);
    orvo::win32::UniqueModule source(::LoadLibraryW(L"OrvoVistrel.dll"));
    auto initialize = source.proc<InitializeFn>("Initialize");
    auto registerCamera = source.proc<RegisterFn>("RegisterCamera");
    auto unregisterCamera = source.proc<UnregisterFn>("UnregisterCamera");
    orvo::OrvoApiClient api;
    orvo::win32::UniqueHandle apiEvent(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!stop || !initialize || !registerCamera || !unregisterCamera || FAILED(initialize()) || !api.Load() ||
        api.orvo_InitializeApi() != ORVO_OK || api.orvo_EnableApiEvent(0, apiEvent.get()) != ORVO_OK) {
        std::printf("registrar: could not start\n");
        return 1;
    }
    std::printf("registrar: started\n");
    std::fflush(stdout);

    const wchar_t* stopFile = argc > 2 ? argv[2] : nullptr;
    auto stopped = [&] {
        return ::WaitForSingleObject(stop.get(), 0) == WAIT_OBJECT_0 ||
               (stopFile && ::GetFileAttributesW(stopFile) != INVALID_FILE_ATTRIBUTES);
    };
    std::map<int, Camera> cameras;
    while (!stopped()) {
        DeviceEntry entries[32];
        int count = 0;
        const int32_t listed = api.orvo_GetDeviceList(sizeof(entries), entries, &count);
        if (listed == ORVO_OK || listed == ORVO_E_MORE_DATA || listed == ORVO_E_NO_DEVICES) {
            if (listed == ORVO_E_NO_DEVICES) count = 0;
            std::map<int, const DeviceEntry*> present;
            for (int i = 0; i < count && i < 32; ++i) present[entries[i].deviceId] = &entries[i];
            for (auto it = cameras.begin(); it != cameras.end();) {
                if (present.count(it->first)) {
                    ++it;
                    continue;
                }
                const HRESULT hr = unregisterCamera(&it->second.clsid);
                std::printf("unregistered %d %s 0x%08lX\n", it->first, ClsidText(it->second.clsid).c_str(), hr);
                it = cameras.erase(it);
            }
            for (const auto& [id, entry] : present) {
                if (cameras.count(id) || id < 0) continue;
                Camera camera{};
                ::CoCreateGuid(&camera.clsid);
                camera.name = entry->product;
                const GUID& kind = entry->model == 0 || entry->model == 4 ? kKindCedar : kKindGeneral;
                const HRESULT hr = registerCamera(&camera.clsid, &kind, static_cast<uint32_t>(id), camera.name.c_str());
                std::printf("registered %d %s model %d 0x%08lX\n", id, ClsidText(camera.clsid).c_str(), entry->model, hr);
                if (SUCCEEDED(hr)) cameras[id] = camera;
            }
            std::fflush(stdout);
        }
        // The library's window lives on this thread: pump while waiting.
        HANDLE waits[2] = {stop.get(), apiEvent.get()};
        ::MsgWaitForMultipleObjects(2, waits, FALSE, 500, QS_ALLINPUT);
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    for (const auto& [id, camera] : cameras) {
        const HRESULT hr = unregisterCamera(&camera.clsid);
        std::printf("unregistered %d %s 0x%08lX\n", id, ClsidText(camera.clsid).c_str(), hr);
    }
    std::fflush(stdout);
    ::CoUninitialize();
    return 0;
}
