// The driver's INF under Wine's SetupAPI: it parses with the models the
// cameras need, and (x64) installing it onto a device node with one of its
// hardware ids yields the service, its parameter, the file and the
// interface. Wine's UpdateDriverForPlugAndPlayDevicesW returns TRUE even
// when nothing matched, so the test looks at what was installed.
#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camera_api/transport/orvo_usb_ioctl.h"

namespace orvo::test {
namespace {

// {88BAE032-5A81-49f0-BC3D-A4FF138216D6}: setup class USBDevice.
constexpr GUID kUsbDeviceSetupClass = {0x88BAE032, 0x5A81, 0x49F0, {0xBC, 0x3D, 0xA4, 0xFF, 0x13, 0x82, 0x16, 0xD6}};
constexpr DWORD kInstallForce = 0x00000001;  // INSTALLFLAG_FORCE (newdev.h)
constexpr wchar_t kHardwareId[] = L"USB\\VID_2D4E&PID_0317";

std::wstring InfPath() {
    // The build's INF, by its Linux path through Wine's Z: drive.
    std::string path = "Z:" ORVO_DRIVER_INF;
    for (char& c : path)
        if (c == '/') c = '\\';
    return std::wstring(path.begin(), path.end());
}

std::wstring LineText(HINF inf, const wchar_t* section, const wchar_t* key) {
    INFCONTEXT context;
    wchar_t text[256] = {};
    if (!::SetupFindFirstLineW(inf, section, key, &context)) return L"";
    if (!::SetupGetStringFieldW(&context, 1, text, 256, nullptr)) return L"";
    return text;
}

TEST(DriverInf, ParsesWithSixteenProductIdsPerArchitecture) {
    UINT errorLine = 0;
    HINF inf = ::SetupOpenInfFileW(InfPath().c_str(), nullptr, INF_STYLE_WIN4, &errorLine);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE) << "line " << errorLine;
    EXPECT_EQ(LineText(inf, L"Version", L"Class"), L"USBDevice");
    EXPECT_EQ(LineText(inf, L"OrvoUsb_WdfSection", L"KmdfLibraryVersion"), L"1.11");
    EXPECT_EQ(LineText(inf, L"OrvoUsb_Service", L"StartType"), L"3");
    for (const wchar_t* models : {L"Orvo.NTamd64", L"Orvo.NTx86"}) {
        EXPECT_EQ(::SetupGetLineCountW(inf, models), 16) << models;
        INFCONTEXT context;
        ASSERT_TRUE(::SetupFindFirstLineW(inf, models, nullptr, &context));
        bool refused = false;
        do {
            wchar_t id[128] = {};
            ::SetupGetStringFieldW(&context, 2, id, 128, nullptr);
            if (std::wstring(id).find(L"PID_030C") != std::wstring::npos) refused = true;
        } while (::SetupFindNextLine(&context, &context));
        EXPECT_FALSE(refused) << "0x30C is never installed";
    }
    ::SetupCloseInfFile(inf);
}

using UpdateDriverFn = BOOL(WINAPI*)(HWND, LPCWSTR, LPCWSTR, DWORD, PBOOL);

TEST(DriverInf, InstallsServiceParameterFileAndInterface) {
    if (sizeof(void*) == 4) GTEST_SKIP() << "installed by the 64-bit build (NTamd64)";
    // A stand-in .sys beside the INF: Wine waits for ever on a missing one.
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"orvoinf";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring inf = folder + L"\\orvoUsb.inf";
    ASSERT_TRUE(::CopyFileW(InfPath().c_str(), inf.c_str(), FALSE));
    HANDLE sys = ::CreateFileW((folder + L"\\orvoUsb.sys").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(sys, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(sys, "MZ", 2, &written, nullptr);
    ::CloseHandle(sys);

    HDEVINFO set = ::SetupDiCreateDeviceInfoList(&kUsbDeviceSetupClass, nullptr);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    ASSERT_TRUE(::SetupDiCreateDeviceInfoW(set, L"ORVOINFTEST", &kUsbDeviceSetupClass, nullptr, nullptr,
                                           DICD_GENERATE_ID, &device));
    std::vector<wchar_t> ids(kHardwareId, kHardwareId + std::size(kHardwareId));
    ids.push_back(L'\0');
    ASSERT_TRUE(::SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID,
                                                    reinterpret_cast<const BYTE*>(ids.data()),
                                                    DWORD(ids.size() * sizeof(wchar_t))));
    ASSERT_TRUE(::SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device));

    HMODULE newdev = ::LoadLibraryW(L"newdev.dll");
    ASSERT_NE(newdev, nullptr);
    auto update = reinterpret_cast<UpdateDriverFn>(
        reinterpret_cast<void*>(::GetProcAddress(newdev, "UpdateDriverForPlugAndPlayDevicesW")));
    ASSERT_NE(update, nullptr);
    BOOL reboot = FALSE;
    EXPECT_TRUE(update(nullptr, kHardwareId, inf.c_str(), kInstallForce, &reboot));

    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    SC_HANDLE service = ::OpenServiceW(manager, L"orvoUsb", SERVICE_ALL_ACCESS);
    EXPECT_NE(service, nullptr) << "the INF installed no service";
    if (service) {
        std::vector<BYTE> config(8192);
        DWORD needed = 0;
        ASSERT_TRUE(::QueryServiceConfigW(service, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(config.data()),
                                          DWORD(config.size()), &needed));
        auto* c = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(config.data());
        EXPECT_EQ(c->dwServiceType, DWORD(SERVICE_KERNEL_DRIVER));
        EXPECT_EQ(c->dwStartType, DWORD(SERVICE_DEMAND_START));
        DWORD value = 0, size = sizeof(value), type = 0;
        EXPECT_EQ(::RegGetValueW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services\\orvoUsb\\Parameters",
                                 L"MaximumTransferSize", RRF_RT_ANY, &type, &value, &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(type, DWORD(REG_DWORD));
        EXPECT_EQ(value, 65536u);
        ::DeleteService(service);
        ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);

    wchar_t system[MAX_PATH];
    ::GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring installed = std::wstring(system) + L"\\drivers\\orvoUsb.sys";
    EXPECT_NE(::GetFileAttributesW(installed.c_str()), INVALID_FILE_ATTRIBUTES);

    // The interface of the driver's class on this device node.
    SP_DEVICE_INTERFACE_DATA face{};
    face.cbSize = sizeof(face);
    EXPECT_TRUE(::SetupDiEnumDeviceInterfaces(set, &device, &orvo::kOrvoUsbInterfaceClass, 0, &face) ||
                [&] {
                    HDEVINFO all = ::SetupDiGetClassDevsW(&orvo::kOrvoUsbInterfaceClass, nullptr, nullptr,
                                                          DIGCF_DEVICEINTERFACE);
                    const bool found = ::SetupDiEnumDeviceInterfaces(all, nullptr, &orvo::kOrvoUsbInterfaceClass, 0,
                                                                     &face) != FALSE;
                    ::SetupDiDestroyDeviceInfoList(all);
                    return found;
                }());

    // Leave the prefix as it was: other suites enumerate this class.
    ::SetupDiCallClassInstaller(DIF_REMOVE, set, &device);
    ::SetupDiDestroyDeviceInfoList(set);
    ::DeleteFileW(installed.c_str());
    ::FreeLibrary(newdev);
}

}  // namespace
}  // namespace orvo::test
