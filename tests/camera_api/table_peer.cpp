// Another process of the logon session, driven by its command line: it works
// on the device tables (named by a suffix) and prints what it saw, one
// "key=value" line per step. Tests start it to meet the tables from outside.
//
//   table_peer.exe SUFFIX step [step ...]
//     register|PATH|DEVINST      list         setowner|ID|FLAG      signal|NAME
//     wait|NAME                  hold-table-and-exit                corrupt|MODE[|SEED]
//     hold-mutex|NAME|MS (MS 0: exit while holding it)
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "camera_api/devices/device_tables.h"
#include "win32/mapped_view.h"
#include "win32/unique_handle.h"

using namespace orvo;

namespace {

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    for (size_t at; (at = text.find(separator, start)) != std::wstring::npos; start = at + 1) {
        parts.push_back(text.substr(start, at - start));
    }
    parts.push_back(text.substr(start));
    return parts;
}

// Overwrites the table the way a broken or hostile process might.
void Corrupt(const std::wstring& mappingName, const std::wstring& mode, unsigned seed) {
    win32::UniqueHandle mapping(::OpenFileMappingW(FILE_MAP_WRITE, FALSE, mappingName.c_str()));
    win32::MappedView view(mapping ? ::MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, sizeof(SharedDeviceData))
                                   : nullptr);
    if (!view) {
        std::printf("corrupt=failed\n");
        return;
    }
    auto* raw = static_cast<unsigned char*>(view.get());
    auto* data = static_cast<SharedDeviceData*>(view.get());
    if (mode == L"counts") {
        data->count = 1000;
        data->nextDeviceId = -5;
    } else if (mode == L"negative-count") {
        data->count = -3;
    } else if (mode == L"unterminated") {
        for (auto& path : data->paths) for (wchar_t& c : path) c = L'A';
        for (auto& record : data->records) {
            for (wchar_t& c : record.entry.product) c = L'P';
            for (wchar_t& c : record.entry.serialNumber) c = L'S';
            record.entry.deviceId = 7;   // every slot claims the same id
        }
    } else if (mode == L"bad-ids") {
        for (int i = 0; i < kMaxDevices; ++i) {
            data->paths[i][0] = L'x';
            data->paths[i][1] = L'\0';
            data->records[i].entry.deviceId = i % 2 ? -1 : 0;
            data->records[i].entry.inUse = 12345;
        }
    } else if (mode == L"max-id") {
        data->nextDeviceId = 0x7FFFFFFF;
    } else {
        // random: every byte of the table from the seed.
        for (size_t i = 0; i < sizeof(SharedDeviceData); ++i) {
            seed = seed * 1103515245u + 12345u;
            raw[i] = static_cast<unsigned char>(seed >> 16);
        }
    }
    std::printf("corrupt=done\n");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    const std::wstring suffix = argv[1];
    const std::wstring tableMutex = L"peerTableMutex_" + suffix;
    const std::wstring mapping = L"peerTable_" + suffix;
    DeviceTables tables(tableMutex.c_str());
    if (!tables.OpenShared(mapping.c_str())) {
        std::printf("open=failed\n");
        return 3;
    }
    std::printf("pid=%lu\n", ::GetCurrentProcessId());
    for (int i = 2; i < argc; ++i) {
        const std::vector<std::wstring> step = Split(argv[i], L'|');
        const std::wstring& verb = step[0];
        if (verb == L"register" && step.size() == 3) {
            DeviceRecord record{};
            record.entry.deviceId = -1;
            record.entry.model = 9;
            record.entry.devInst = static_cast<uint32_t>(std::wcstoul(step[2].c_str(), nullptr, 10));
            const bool ok = tables.Register(step[1].c_str(), record);
            std::printf("register=%d id=%d\n", ok ? 1 : 0, record.entry.deviceId);
        } else if (verb == L"list") {
            DeviceEntry entries[kMaxDevices];
            int count = 0;
            const int32_t result = tables.DeviceList(kMaxDevices, entries, &count);
            std::printf("list=%s", result == ORVO_OK ? "ok" : result == ORVO_E_NO_DEVICES ? "none" : "error");
            for (int n = 0; n < count; ++n) std::printf(" %d/%u", entries[n].deviceId, entries[n].devInst);
            std::printf("\n");
        } else if (verb == L"setowner" && step.size() == 3) {
            const bool ok = tables.SetOwner(std::stoi(step[1]), step[2] == L"1");
            std::printf("setowner=%d\n", ok ? 1 : 0);
        } else if (verb == L"signal" && step.size() == 2) {
            win32::UniqueHandle event(::OpenEventW(EVENT_MODIFY_STATE, FALSE, step[1].c_str()));
            std::printf("signal=%d\n", event && ::SetEvent(event.get()) ? 1 : 0);
        } else if (verb == L"wait" && step.size() == 2) {
            win32::UniqueHandle event(::OpenEventW(SYNCHRONIZE, FALSE, step[1].c_str()));
            std::printf("wait=%d\n", event && ::WaitForSingleObject(event.get(), 20000) == WAIT_OBJECT_0 ? 1 : 0);
        } else if (verb == L"hold-table-and-exit") {
            // Dies owning the table mutex, as a crashed process would.
            HANDLE mutex = ::OpenMutexW(SYNCHRONIZE, FALSE, tableMutex.c_str());
            std::printf("held=%d\n", mutex && ::WaitForSingleObject(mutex, 5000) == WAIT_OBJECT_0 ? 1 : 0);
            std::fflush(stdout);
            ::ExitProcess(0);
        } else if (verb == L"hold-mutex" && step.size() == 3) {
            // Holds a named mutex for a while, or (0 ms) dies holding it.
            HANDLE mutex = ::CreateMutexW(nullptr, FALSE, step[1].c_str());
            std::printf("held=%d\n", mutex && ::WaitForSingleObject(mutex, 5000) == WAIT_OBJECT_0 ? 1 : 0);
            std::fflush(stdout);
            const DWORD ms = static_cast<DWORD>(std::stoul(step[2]));
            if (ms == 0) ::ExitProcess(0);
            ::Sleep(ms);
            ::ReleaseMutex(mutex);
        } else if (verb == L"corrupt" && step.size() >= 2) {
            Corrupt(mapping, step[1], step.size() > 2 ? static_cast<unsigned>(std::stoul(step[2])) : 0u);
        } else {
            std::printf("unknown=%ls\n", argv[i]);
            return 4;
        }
        std::fflush(stdout);
    }
    return 0;
}
