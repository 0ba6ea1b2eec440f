// orvocam: a command-line client of the camera library. It loads orvoApi.dll
// by name like any client.
#include <windows.h>
#include <cstdio>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "tools/orvocam/client.h"
#include "tools/orvocam/param_names.h"

namespace {

void Usage() {
    std::printf(
        "usage: orvocam [list]                      library version and the cameras\n"
        "       orvocam info ID                     model, strings, info records, parameters\n"
        "       orvocam get ID PARAM                read a parameter (a number or a name)\n"
        "       orvocam set ID PARAM VALUE          change a parameter and send it\n"
        "       orvocam grab ID N [WxH] [--out DIR] [--set PARAM=VALUE]...\n"
        "                                           capture N frames to BMP and PNG files\n"
        "       orvocam watch [SECONDS] [ID]        report camera changes as they happen\n");
}

bool ParseInt(const wchar_t* text, int* value) {
    wchar_t* end = nullptr;
    const long v = std::wcstol(text, &end, 0);
    if (!text[0] || *end) return false;
    *value = static_cast<int>(v);
    return true;
}

std::string Narrow(const wchar_t* text) {
    std::string out;
    for (; *text; ++text) out.push_back(*text < 128 ? char(*text) : '?');
    return out;
}

// A parameter id or name; says why when it is neither.
bool ParseParam(const wchar_t* text, int* id) {
    std::string error;
    if (orvocam::ResolveParam(Narrow(text), id, &error)) return true;
    std::printf("error: %s\n", error.c_str());
    return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc > 1 ? argv[1] : L"list";
    if (command == L"help" || command == L"--help" || command == L"-h") {
        Usage();
        return 0;
    }
    orvo::OrvoApiClient api;
    if (!api.Load()) {
        std::printf("error: orvoApi.dll could not be loaded (Windows error %lu)\n", ::GetLastError());
        return 1;
    }
    if (!api.orvo_GetApiVersion || !api.orvo_InitializeApi || !api.orvo_IsParamSupported) {
        std::printf("error: this orvoApi.dll lacks exports the tool needs\n");
        return 1;
    }
    ApiVersion version{};
    api.orvo_GetApiVersion(&version);
    std::printf("orvoApi version %u.%u.%u\n", version.major, version.minor, version.build);
    const int32_t init = api.orvo_InitializeApi();
    if (init != ORVO_OK) {
        std::printf("error: the camera library could not initialise: %s\n", orvocam::ResultText(init).c_str());
        return 1;
    }

    int id = 0, a = 0, b = 0;
    if (command == L"list") return orvocam::CommandList(api);
    if (command == L"info" && argc == 3 && ParseInt(argv[2], &id)) return orvocam::CommandInfo(api, id);
    if (command == L"get" && argc == 4 && ParseInt(argv[2], &id)) {
        if (!ParseParam(argv[3], &a)) return 2;
        return orvocam::CommandGet(api, id, a);
    }
    if (command == L"set" && argc == 5 && ParseInt(argv[2], &id) && ParseInt(argv[4], &b)) {
        if (!ParseParam(argv[3], &a)) return 2;
        return orvocam::CommandSet(api, id, a, b);
    }
    if (command == L"grab" && argc >= 4 && ParseInt(argv[2], &id) && ParseInt(argv[3], &a) && a > 0) {
        int width = 640, height = 480;
        std::wstring out = L"out";
        std::vector<std::pair<int, int>> settings;
        for (int i = 4; i < argc; ++i) {
            if (std::wcscmp(argv[i], L"--out") == 0 && i + 1 < argc) {
                out = argv[++i];
            } else if (std::wcscmp(argv[i], L"--set") == 0 && i + 1 < argc) {
                std::wstring setting = argv[++i];
                const size_t eq = setting.find(L'=');
                int param = 0, value = 0;
                if (eq == std::wstring::npos || !ParseInt(setting.c_str() + eq + 1, &value)) {
                    Usage();
                    return 2;
                }
                if (!ParseParam(setting.substr(0, eq).c_str(), &param)) return 2;
                settings.emplace_back(param, value);
            } else if (std::swscanf(argv[i], L"%dx%d", &width, &height) != 2 || width <= 0 || height <= 0) {
                Usage();
                return 2;
            }
        }
        return orvocam::CommandGrab(api, id, a, width, height, out, settings);
    }
    if (command == L"watch") {
        int seconds = 10;
        if ((argc > 2 && !ParseInt(argv[2], &seconds)) || (argc > 3 && !ParseInt(argv[3], &id))) {
            Usage();
            return 2;
        }
        return orvocam::CommandWatch(api, id, seconds);
    }
    Usage();
    return 2;
}
