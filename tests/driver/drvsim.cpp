// orvo_drvsim: the orvoUsb driver on the KMDF stand-in over an emulated
// camera, driven from the command line.
//   orvo_drvsim [key=value...] [trace] op...
// Keys describe the camera as the emulated bus does (model, vid, pid, ...),
// plus max_transfer_reg=N (absent: the driver's parameter is missing).
// Ops: open device|FILENAME, ioctl H CODE INHEX|- OUTLEN, read H LENGTH,
// cancel MS, fault ENDPOINT stall|timeout|unplug, sleep MS, grab N FOLDER.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "camera_api/cameras/model_factory.h"
#include "camera_api/cameras/zel_camera.h"
#include "camera_api/devices/device_manager.h"
#include "camera_api/devices/device_record.h"
#include "emulator/device_settings.h"
#include "emulator/kmdf/driver_host.h"
#include "emulator/kmdf/driver_usb_device.h"
#include "emulator/model_factory.h"
#include "tools/orvocam/image_files.h"
#include "win32/unique_handle.h"

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

using orvo::kmdf::CDriverHost;

struct ReadWatch {
    const uint8_t* buffer = nullptr;
    size_t length = 0;
    std::map<const void*, unsigned> stages;
};

class Simulator {
public:
    Simulator(orvo::emu::IUsbDeviceModel& model, orvo::kmdf::HostOptions options) : m_host(model, options) {}
    CDriverHost& Host() { return m_host; }

    void Trace() {
        m_host.Bus().SetUrbObserver([this](const orvo::kmdf::Request* request, uint8_t, const void* address,
                                           uint32_t length) {
            const auto* at = static_cast<const uint8_t*>(address);
            const size_t offset = m_watch.buffer && at >= m_watch.buffer ? size_t(at - m_watch.buffer) : 0;
            unsigned stage = 0;
            if (!request->fromUser) {
                auto it = m_watch.stages.find(request);
                if (it == m_watch.stages.end()) it = m_watch.stages.emplace(request, m_watch.stages.size() + 1).first;
                stage = it->second;
            }
            std::printf("urb %u %zu %u\n", stage, offset, length);
        });
    }

    int Open(const std::string& what) {
        std::wstring name = m_host.InterfacePath();
        if (what != "device") name += std::wstring(what.begin(), what.end());
        HANDLE handle = m_host.Io().CreateFileW(name.c_str());
        std::printf("open status 0x%08lX information 0\n", ULONG(m_host.Io().LastCreateStatus()));
        m_files.emplace_back(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
        return 0;
    }

    HANDLE File(const char* number) {
        const size_t n = std::strtoul(number, nullptr, 10);
        return n >= 1 && n <= m_files.size() ? m_files[n - 1].get() : nullptr;
    }

    void Report(const char* op, OVERLAPPED& overlapped, bool completed, const std::vector<uint8_t>* out) {
        const ULONG status = completed ? ULONG(overlapped.Internal) : 0xC0000008;  // STATUS_INVALID_HANDLE
        const ULONG information = completed ? ULONG(overlapped.InternalHigh) : 0;
        std::printf("%s status 0x%08lX information %lu", op, status, information);
        if (out) {
            std::printf(" out ");
            for (size_t i = 0; i < std::min<size_t>(information, out->size()); ++i) std::printf("%02X", (*out)[i]);
        }
        std::printf("\n");
    }

    bool Wait(HANDLE file, OVERLAPPED& overlapped, BOOL started) {
        if (!file) return false;
        if (!started && ::GetLastError() != ERROR_IO_PENDING && overlapped.Internal == 0x103) return false;
        ::WaitForSingleObject(overlapped.hEvent, INFINITE);
        return true;
    }

    void Ioctl(const char* handle, const char* code, const char* inHex, const char* outLength) {
        HANDLE file = File(handle);
        std::vector<uint8_t> in;
        for (const char* p = inHex; std::strcmp(inHex, "-") != 0 && p[0] && p[1]; p += 2) {
            const char pair[3] = {p[0], p[1], 0};
            in.push_back(uint8_t(std::strtoul(pair, nullptr, 16)));
        }
        std::vector<uint8_t> out(std::strtoul(outLength, nullptr, 0));
        orvo::win32::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        OVERLAPPED overlapped{};
        overlapped.hEvent = event.get();
        overlapped.Internal = 0x103;
        DWORD n = 0;
        const BOOL started = file ? m_host.Io().DeviceIoControl(file, DWORD(std::strtoul(code, nullptr, 0)),
                                                                in.empty() ? nullptr : in.data(), DWORD(in.size()),
                                                                out.empty() ? nullptr : out.data(), DWORD(out.size()),
                                                                &n, &overlapped)
                                  : FALSE;
        Report("ioctl", overlapped, Wait(file, overlapped, started), &out);
    }

    void Read(const char* handle, const char* length) {
        HANDLE file = File(handle);
        std::vector<uint8_t> buffer(std::strtoul(length, nullptr, 0));
        m_watch = ReadWatch{buffer.data(), buffer.size(), {}};
        orvo::win32::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        OVERLAPPED overlapped{};
        overlapped.hEvent = event.get();
        overlapped.Internal = 0x103;
        DWORD n = 0;
        std::thread canceller;
        if (m_cancelMs >= 0 && file) {
            const int ms = m_cancelMs;
            canceller = std::thread([this, file, &overlapped, ms] {
                ::Sleep(DWORD(ms));
                m_host.Io().CancelIoEx(file, &overlapped);
            });
            m_cancelMs = -1;
        }
        const BOOL started = file ? m_host.Io().ReadFile(file, buffer.data(), DWORD(buffer.size()), &n, &overlapped)
                                  : FALSE;
        const bool completed = Wait(file, overlapped, started);
        if (canceller.joinable()) canceller.join();
        Report("read", overlapped, completed, nullptr);
        m_watch = ReadWatch{};
    }

    void CancelNext(int ms) { m_cancelMs = ms; }

    // Frames through the library's camera class over CUsbDevice, as PNGs.
    int Grab(int count, const std::string& folder) {
        orvo::kmdf::CDriverUsbDevice device(m_host.Io());
        const std::wstring path = m_host.InterfacePath();
        if (!device.OpenDevice(path.c_str()) || !device.Open(path.c_str(), nullptr)) {
            std::printf("grab: the device could not be opened\n");
            return 1;
        }
        orvo::DeviceRecord record{};
        record.transport = orvo::kTransportDriver;
        const int model = orvo::ModelForProductId(device.GetProductId());
        record.entry.model = model;
        std::unique_ptr<orvo::CZelCamera> camera = orvo::CreateModelCamera(model, &device);
        if (!camera || !camera->Initialize(record)) {
            std::printf("grab: the camera did not start\n");
            return 1;
        }
        const int width = 1280, height = 720;
        int buffer = -1;
        orvo::win32::UniqueHandle frameEvent(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
        int result = 1;
        if (camera->CreateBuffer(0, 1, 0, width, height, 4, &buffer) == 0 &&
            camera->EnableCameraEvent(orvo::kEventVideoFrame, frameEvent.get()) && camera->StartCapture(buffer) == 0) {
            ::CreateDirectoryW(std::wstring(folder.begin(), folder.end()).c_str(), nullptr);
            int written = 0;
            while (written < count && ::WaitForSingleObject(frameEvent.get(), 10000) == WAIT_OBJECT_0) {
                int index = -1;
                FrameDesc frame{};
                if (camera->GetFrame(buffer, &index, &frame) != 0) continue;
                const orvocam::Picture picture = orvocam::PictureFromDib(frame.bits, width, -height);
                camera->ReleaseFrame(buffer, index);
                char name[64];
                std::snprintf(name, sizeof(name), "/frame_%03d.png", ++written);
                if (!orvocam::WritePng(folder + name, picture)) break;
            }
            camera->StopCapture();
            std::printf("grab %d frame(s) into %s\n", written, folder.c_str());
            result = written == count ? 0 : 1;
        } else {
            std::printf("grab: capture did not start\n");
        }
        if (buffer >= 0) camera->DeleteBuffer(buffer);
        camera.reset();
        return result;
    }

private:
    CDriverHost m_host;
    std::vector<orvo::win32::UniqueHandle> m_files;
    ReadWatch m_watch;
    int m_cancelMs = -1;
};

std::string Narrow(const wchar_t* text) {
    std::string out;
    for (; *text; ++text) out += char(*text);
    return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(Narrow(argv[i]));
    orvo::emu::DeviceSettings settings;
    size_t at = 0;
    bool trace = false;
    for (; at < args.size() && args[at].find('=') != std::string::npos; ++at) {
        const size_t eq = args[at].find('=');
        settings[args[at].substr(0, eq)] = args[at].substr(eq + 1);
    }
    if (at < args.size() && args[at] == "trace") {
        trace = true;
        ++at;
    }
    orvo::kmdf::HostOptions options;
    options.driverEntry = &DriverEntry;
    options.maximumTransferSize.reset();
    if (settings.count("max_transfer_reg"))
        options.maximumTransferSize = orvo::emu::SettingNumber(settings, "max_transfer_reg", 0);
    if (!settings.count("vid")) settings["vid"] = "0x2D4E";
    if (!settings.count("pid")) settings["pid"] = "0x0317";
    std::unique_ptr<orvo::emu::IUsbDeviceModel> model = orvo::emu::CreateModel(settings);
    if (!model) {
        std::printf("error: unknown model\n");
        return 2;
    }
    int exitCode = 0;
    {
        Simulator sim(*model, options);
        if (trace) sim.Trace();
        std::printf("start status 0x%08lX\n", ULONG(sim.Host().Start()));
        auto need = [&](size_t n) { return at + n < args.size(); };
        for (; at < args.size(); ++at) {
            const std::string& op = args[at];
            if (op == "open" && need(1)) {
                sim.Open(args[++at]);
            } else if (op == "ioctl" && need(4)) {
                sim.Ioctl(args[at + 1].c_str(), args[at + 2].c_str(), args[at + 3].c_str(), args[at + 4].c_str());
                at += 4;
            } else if (op == "read" && need(2)) {
                sim.Read(args[at + 1].c_str(), args[at + 2].c_str());
                at += 2;
            } else if (op == "cancel" && need(1)) {
                sim.CancelNext(std::atoi(args[++at].c_str()));
            } else if (op == "fault" && need(2)) {
                const uint8_t endpoint = uint8_t(std::strtoul(args[at + 1].c_str(), nullptr, 0));
                const std::string kind = args[at + 2];
                at += 2;
                orvo::emu::Fault fault;
                fault.kind = kind == "stall"     ? orvo::emu::FaultKind::Stall
                             : kind == "timeout" ? orvo::emu::FaultKind::Timeout
                                                 : orvo::emu::FaultKind::Unplug;
                model->Faults().Add(endpoint, fault);
            } else if (op == "sleep" && need(1)) {
                ::Sleep(DWORD(std::atoi(args[++at].c_str())));
            } else if (op == "grab" && need(2)) {
                if (sim.Grab(std::atoi(args[at + 1].c_str()), args[at + 2]) != 0) exitCode = 1;
                at += 2;
            } else {
                std::printf("error: cannot read the op \"%s\"\n", op.c_str());
                return 2;
            }
        }
        sim.Host().Remove();
        for (const std::string& finding : sim.Host().Verifier().Findings()) {
            std::printf("verifier: %s\n", finding.c_str());
            exitCode = 3;
        }
    }
    return exitCode;
}
