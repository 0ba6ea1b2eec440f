// orvo_usbbus: plugs, unplugs and lists emulated USB cameras.
//   orvo_usbbus plug winusb|driver key=value...   (vid, pid, serial, product, data=bulk|isoch, ...)
//   orvo_usbbus unplug <path>
//   orvo_usbbus list
// The list runs the library's own enumeration and device objects, so it
// shows what the product finds.
#include <windows.h>

#include <cstdio>
#include <string>

#include "camera_api/transport/orvo_usb_ioctl.h"
#include "camera_api/transport/usb_enumerator.h"
#include "emulator/bus/emulated_bus.h"

namespace {

int Usage() {
    std::fwprintf(stderr, L"usage: orvo_usbbus plug winusb|driver key=value... | unplug <path> | list\n");
    return 2;
}

void ListClass(const GUID& interfaceClass, const wchar_t* transport) {
    orvo::CUsbEnumerator enumerator;
    if (!enumerator.Begin(&interfaceClass)) return;
    wchar_t path[orvo::kMaxDevicePathChars] = {};
    DWORD instance = 0;
    while (enumerator.Next(orvo::kMaxDevicePathChars, &instance, path)) {
        wchar_t product[32] = {};
        wchar_t serial[16] = {};
        const bool opened = enumerator.CreateDevice();
        if (opened) {
            enumerator.GetProductString(31, product);
            enumerator.GetSerialNumber(15, serial);
        }
        std::wprintf(L"%-6ls vid %04X pid %04X release %d.%d product \"%ls\" serial \"%ls\"%ls\n       %ls\n",
                     transport, enumerator.GetVendorId(), enumerator.GetProductId(), enumerator.GetReleaseMajor(),
                     enumerator.GetReleaseMinor(), product, serial, opened ? L"" : L" (could not be opened)", path);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return Usage();
    const std::wstring command = argv[1];
    orvo::emu::CEmulatedUsbBus bus;
    if (command == L"plug" && argc >= 3) {
        const std::wstring kind = argv[2];
        if (kind != L"winusb" && kind != L"driver") return Usage();
        orvo::emu::DeviceSettings settings;
        for (int i = 3; i < argc; ++i) {
            const std::wstring arg = argv[i];
            const size_t eq = arg.find(L'=');
            if (eq == std::wstring::npos) return Usage();
            settings[std::string(arg.begin(), arg.begin() + eq)] = std::string(arg.begin() + eq + 1, arg.end());
        }
        orvo::emu::PluggedDevice device;
        const GUID& interfaceClass = kind == L"winusb" ? orvo::kUsbDeviceInterfaceClass : orvo::kOrvoUsbInterfaceClass;
        if (!bus.Plug(interfaceClass, settings, &device)) {
            std::fwprintf(stderr, L"plug failed: %ls\n", bus.LastError().c_str());
            return 1;
        }
        std::wprintf(L"%ls\n", device.path.c_str());
        return 0;
    }
    if (command == L"unplug" && argc == 3) {
        if (!bus.Unplug(argv[2])) {
            std::fwprintf(stderr, L"unplug failed: %ls\n", bus.LastError().c_str());
            return 1;
        }
        return 0;
    }
    if (command == L"list") {
        ListClass(orvo::kOrvoUsbInterfaceClass, L"driver");
        ListClass(orvo::kUsbDeviceInterfaceClass, L"winusb");
        return 0;
    }
    return Usage();
}
