// orvo_ksproxy.exe: the stand-in proxy's helper and a player of its
// applications.
//   install SYS_PATH | uninstall         kernel service ZelKernelStreamingProxy
//   serve                                makes and removes the virtual cameras'
//                                        nodes until "stop-serve"
//   stop-serve
//   list                                 cameras, nodes and frame counts
//   faults N                             fault switches (1 reject, 2 hold ADD, 4 hold writes)
//   stream GUID N --out DIR              as an application: active, N new frames
//                                        to DIR\frame_001.png ..., inactive
#include <windows.h>
#include <dbt.h>
#include <objbase.h>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "emulator/ksproxy/ksproxy_protocol.h"
#include "emulator/ksproxy/proxy_nodes.h"
#include "tools/orvocam/image_files.h"
#include "win32/unique_handle.h"

namespace {

using orvo::win32::UniqueFileHandle;
using orvo::win32::UniqueHandle;

constexpr const wchar_t* kServiceName = L"ZelKernelStreamingProxy";
constexpr const wchar_t* kServeStopEvent = L"OrvoKsProxyServeStop";

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out.push_back(c < 128 ? char(c) : '?');
    return out;
}

std::wstring GuidText(const GUID& g, bool lower) {
    wchar_t text[40];
    std::swprintf(text, 40,
                  lower ? L"{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}"
                        : L"{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  g.Data1, g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5],
                  g.Data4[6], g.Data4[7]);
    return text;
}

UniqueFileHandle OpenControl() {
    return UniqueFileHandle(CreateFileW(L"\\\\.\\ZelKernelStreamingProxy", GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
}

int Install(const wchar_t* sysPath) {
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!scm) return std::printf("error: no service manager (%lu)\n", GetLastError()), 1;
    SC_HANDLE service = OpenServiceW(scm, kServiceName, SERVICE_ALL_ACCESS);
    if (!service) {
        service = CreateServiceW(scm, kServiceName, kServiceName, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                 SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, sysPath, nullptr, nullptr, nullptr,
                                 nullptr, nullptr);
    } else {
        ChangeServiceConfigW(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, sysPath, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr);
    }
    if (!service) return std::printf("error: cannot create the driver service (%lu)\n", GetLastError()), 1;
    int code = 0;
    if (!StartServiceW(service, 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
        std::printf("error: the driver does not start (%lu)\n", GetLastError());
        code = 1;
    }
    CloseServiceHandle(service);
    CloseServiceHandle(scm);
    if (code == 0) std::printf("installed\n");
    return code;
}

int Uninstall() {
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!scm) return 1;
    SC_HANDLE service = OpenServiceW(scm, kServiceName, SERVICE_ALL_ACCESS);
    if (service) {
        SERVICE_STATUS status{};
        ControlService(service, SERVICE_CONTROL_STOP, &status);
        DeleteService(service);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(scm);
    std::printf("uninstalled\n");
    return 0;
}

// One pass over the driver's requests; false when the driver is gone.
bool ServeRequests(HANDLE control) {
    std::vector<uint8_t> buffer(sizeof(ZKSP_REQUEST) + ZKSP_MAX_RECORD);
    for (;;) {
        DWORD got = 0;
        if (!DeviceIoControl(control, ZKSP_IOCTL_NEXT_REQUEST, nullptr, 0, buffer.data(), DWORD(buffer.size()), &got,
                             nullptr)) {
            return false;
        }
        ZKSP_REQUEST request;
        std::memcpy(&request, buffer.data(), sizeof(request));
        if (request.kind == ZKSP_REQUEST_NONE) return true;
        if (request.kind == ZKSP_REQUEST_ADD) {
            const uint8_t* record = buffer.data() + sizeof(request);
            uint32_t n = 0;
            std::memcpy(&n, record + 56, 4);
            const std::wstring name(reinterpret_cast<const wchar_t*>(record + 64 + n));
            orvo::emu::ProxyNode node;
            std::wstring error;
            if (!orvo::emu::CreateProxyNode(request.camera, name.c_str(), node, error)) {
                std::printf("error: %s\n", Narrow(error).c_str());
                continue;
            }
            ZKSP_PUBLISH publish{};
            publish.camera = request.camera;
            const std::wstring tail = node.interfacePath.substr(4);
            wcsncpy(publish.tail, tail.c_str(), ZKSP_MAX_TAIL - 1);
            if (!DeviceIoControl(control, ZKSP_IOCTL_PUBLISH, &publish, sizeof(publish), nullptr, 0, &got, nullptr)) {
                std::printf("error: publish %lu\n", GetLastError());
                orvo::emu::RemoveProxyNode(request.camera, nullptr);
                continue;
            }
            orvo::emu::BroadcastInterface(DBT_DEVICEARRIVAL, node.interfacePath);
            std::printf("added %s %s\n", Narrow(GuidText(request.camera, false)).c_str(),
                        Narrow(node.interfacePath).c_str());
        } else if (request.kind == ZKSP_REQUEST_REMOVE) {
            orvo::emu::ProxyNode node;
            if (orvo::emu::RemoveProxyNode(request.camera, &node)) {
                orvo::emu::BroadcastInterface(DBT_DEVICEREMOVECOMPLETE, node.interfacePath);
                std::printf("removed %s\n", Narrow(GuidText(request.camera, false)).c_str());
            }
        }
        std::fflush(stdout);
    }
}

int Serve() {
    UniqueHandle stop(CreateEventW(nullptr, TRUE, FALSE, kServeStopEvent));
    ResetEvent(stop.get());
    UniqueFileHandle control = OpenControl();
    if (!control) return std::printf("error: the proxy is not installed (%lu)\n", GetLastError()), 1;
    std::printf("serving\n");
    std::fflush(stdout);
    while (WaitForSingleObject(stop.get(), 20) == WAIT_TIMEOUT) {
        if (!ServeRequests(control.get())) return std::printf("error: the proxy went away\n"), 1;
    }
    // Nodes of cameras still registered go with the helper.
    for (const auto& node : orvo::emu::ListProxyNodes()) {
        orvo::emu::RemoveProxyNode(node.camera, nullptr);
        orvo::emu::BroadcastInterface(DBT_DEVICEREMOVECOMPLETE, node.interfacePath);
    }
    std::printf("stopped\n");
    return 0;
}

int List() {
    UniqueFileHandle control = OpenControl();
    if (!control) return std::printf("error: the proxy is not installed (%lu)\n", GetLastError()), 1;
    ZKSP_LIST list{};
    DWORD got = 0;
    if (!DeviceIoControl(control.get(), ZKSP_IOCTL_LIST, nullptr, 0, &list, sizeof(list), &got, nullptr)) return 1;
    const auto nodes = orvo::emu::ListProxyNodes();
    for (unsigned i = 0; i < list.count && i < ZKSP_MAX_CAMERAS; ++i) {
        const ZKSP_CAMERA_INFO& c = list.cameras[i];
        std::wstring path;
        for (const auto& node : nodes)
            if (IsEqualGUID(node.camera, c.camera)) path = node.interfacePath;
        list.cameras[i].name[63] = 0;
        std::printf("%s \"%s\" %s frames %llu bad %u %s\n", Narrow(GuidText(c.camera, false)).c_str(),
                    Narrow(c.name).c_str(), c.published ? "published" : "pending", c.frames, c.badWrites,
                    Narrow(path).c_str());
    }
    return 0;
}

int Faults(const wchar_t* value) {
    UniqueFileHandle control = OpenControl();
    if (!control) return 1;
    ULONG faults = wcstoul(value, nullptr, 0);
    DWORD got = 0;
    return DeviceIoControl(control.get(), ZKSP_IOCTL_FAULTS, &faults, sizeof(faults), nullptr, 0, &got, nullptr) ? 0 : 1;
}

std::wstring EventName(const wchar_t* which, const GUID& camera) {
    return std::wstring(L"ZelKernelStreamingProxy-Camera-") + which + L"-" + GuidText(camera, true);
}

int Stream(const wchar_t* guidText, int count, const std::wstring& outDir) {
    GUID camera;
    if (CLSIDFromString(guidText, &camera) != NOERROR) return std::printf("error: not a GUID\n"), 2;
    UniqueFileHandle control = OpenControl();
    if (!control) return std::printf("error: the proxy is not installed\n"), 1;
    UniqueHandle active(CreateEventW(nullptr, TRUE, FALSE, EventName(L"Active", camera).c_str()));
    UniqueHandle inactive(CreateEventW(nullptr, TRUE, FALSE, EventName(L"Inactive", camera).c_str()));
    if (!active || !inactive) return 1;
    ResetEvent(inactive.get());
    SetEvent(active.get());
    std::vector<uint8_t> buffer(sizeof(ZKSP_FRAME) + 64 * 1024 * 1024 / 8);
    unsigned long long last = 0;
    int saved = 0;
    const ULONGLONG deadline = GetTickCount64() + 60000;
    while (saved < count && GetTickCount64() < deadline) {
        DWORD got = 0;
        if (!DeviceIoControl(control.get(), ZKSP_IOCTL_READ_FRAME, &camera, sizeof(camera), buffer.data(),
                             DWORD(buffer.size()), &got, nullptr)) {
            std::printf("error: camera gone (%lu)\n", GetLastError());
            break;
        }
        ZKSP_FRAME frame;
        std::memcpy(&frame, buffer.data(), sizeof(frame));
        if (frame.frames == last || frame.bytes == 0) {
            Sleep(5);
            continue;
        }
        last = frame.frames;
        orvocam::Picture picture;
        picture.width = frame.width;
        picture.height = frame.height;
        picture.bgr.assign(buffer.begin() + sizeof(frame), buffer.begin() + sizeof(frame) + frame.bytes);
        wchar_t name[32];
        std::swprintf(name, 32, L"\\frame_%03d.png", ++saved);
        const std::string path = Narrow(outDir + name);
        orvocam::WritePng(path, picture);
        std::printf("frame %llu %dx%d %s\n", frame.frames, frame.width, frame.height, path.c_str());
        std::fflush(stdout);
    }
    ResetEvent(active.get());
    SetEvent(inactive.get());
    return saved == count ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring verb = argc > 1 ? argv[1] : L"";
    if (verb == L"install" && argc > 2) return Install(argv[2]);
    if (verb == L"uninstall") return Uninstall();
    if (verb == L"serve") return Serve();
    if (verb == L"stop-serve") {
        UniqueHandle stop(OpenEventW(EVENT_MODIFY_STATE, FALSE, kServeStopEvent));
        return stop && SetEvent(stop.get()) ? 0 : 1;
    }
    if (verb == L"list") return List();
    if (verb == L"faults" && argc > 2) return Faults(argv[2]);
    if (verb == L"stream" && argc > 3) {
        std::wstring out = L".";
        for (int i = 4; i + 1 < argc; ++i)
            if (std::wstring(argv[i]) == L"--out") out = argv[i + 1];
        return Stream(argv[2], _wtoi(argv[3]), out);
    }
    std::printf("usage: orvo_ksproxy install SYS | uninstall | serve | stop-serve | list | faults N | "
                "stream GUID N --out DIR\n");
    return 2;
}
