// A scripted device reached through the emulated WinUsb.dll: the test keeps
// the model, and a description file naming it stands in for the device path.
#pragma once
#include <windows.h>
#include <fstream>
#include <memory>
#include <string>

#include "emulator/scripted_model.h"
#include "support/child_process.h"

namespace orvo::test {

class EmulatedWinUsbDevice {
public:
    EmulatedWinUsbDevice(emu::DeviceIdentity identity, emu::PipeLayout layout)
        : m_model(std::make_unique<emu::CScriptedUsbModel>(std::move(identity), layout)),
          m_name(UniqueName(L"dev")) {
        HMODULE dll = ::GetModuleHandleW(L"WinUsb.dll");
        using Attach = BOOL (*)(const wchar_t*, emu::IUsbDeviceModel*);
        auto attach = dll ? reinterpret_cast<Attach>(reinterpret_cast<void*>(::GetProcAddress(dll, "OrvoEmu_AttachModel")))
                          : nullptr;
        m_attached = attach && attach(m_name.c_str(), m_model.get());
        wchar_t temp[MAX_PATH];
        ::GetTempPathW(MAX_PATH, temp);
        m_path = std::wstring(temp) + m_name + L".usb";
        std::ofstream file(m_path.c_str(), std::ios::binary);
        file << "attach=" << std::string(m_name.begin(), m_name.end()) << "\n";
    }
    ~EmulatedWinUsbDevice() {
        HMODULE dll = ::GetModuleHandleW(L"WinUsb.dll");
        using Detach = BOOL (*)(const wchar_t*);
        if (auto detach = dll ? reinterpret_cast<Detach>(reinterpret_cast<void*>(::GetProcAddress(dll, "OrvoEmu_DetachModel")))
                              : nullptr) {
            detach(m_name.c_str());
        }
        ::DeleteFileW(m_path.c_str());
    }

    bool Attached() const { return m_attached; }
    const wchar_t* Path() const { return m_path.c_str(); }
    emu::CScriptedUsbModel& Model() { return *m_model; }

private:
    std::unique_ptr<emu::CScriptedUsbModel> m_model;
    std::wstring m_name;
    std::wstring m_path;
    bool m_attached = false;
};

inline emu::DeviceIdentity CameraIdentity(uint8_t subClass = 0) {
    emu::DeviceIdentity id;
    id.vendorId = 0x2D4E;
    id.productId = 0x0102;
    id.release = 0x0305;
    id.subClass = subClass;
    id.manufacturer = L"Maker";
    id.product = L"Test camera";
    id.serial = L"SN0001";
    return id;
}

inline emu::PipeLayout BulkLayout() { return emu::PipeLayout{}; }

inline emu::PipeLayout IsochLayout(uint32_t bytesPerInterval = 3072, uint8_t interval = 1) {
    emu::PipeLayout layout;
    layout.dataType = emu::kPipeIsochronous;
    layout.bytesPerInterval = bytesPerInterval;
    layout.interval = interval;
    return layout;
}

// Deterministic frame bytes: frame number and position both show.
inline std::vector<uint8_t> FrameBytes(uint32_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (uint32_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        bytes[i] = uint8_t(x >> 16);
    }
    return bytes;
}

}  // namespace orvo::test
