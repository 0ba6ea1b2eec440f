// Runs with WinUsb.dll kept from loading: every CWinUsbDevice operation must
// refuse, and CUsbDevice must work as ever. Exit code 0 when all held, else
// the number of the first check that failed.
#include <windows.h>
#include <cstdio>

#include "camera_api/transport/winusb_device.h"
#include "usb_driver_stand_in.h"

int wmain() {
    using namespace orvo;
    int check = 0;
    auto expect = [&check](bool condition) {
        ++check;
        if (!condition) {
            std::printf("check %d failed\n", check);
            std::fflush(stdout);
            ::ExitProcess(check);
        }
    };
    expect(WinUsbModule() == nullptr);
    WinUsbApi api;
    BindWinUsb(api);
    expect(!api.basicAvailable && !api.isochAvailable && !api.Initialize);

    win32::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    uint8_t buffer[64] = {};
    uint32_t n = 0;
    wchar_t text[32] = {};
    {
        CWinUsbDevice device;
        expect(device.IsWinUsb() == 1);
        expect(!device.OpenDevice(L"C:\\windows\\win.ini"));
        expect(!device.Open(L"C:\\windows\\win.ini", nullptr));
        expect(!device.GetProductString(31, text) && !device.GetSerialNumber(15, text));
        expect(!device.Write(buffer, 4));
        expect(!device.BeginReadResponse(buffer, 4, event.get()) && !device.WaitResponse(&n, 10));
        expect(!device.ReadResponse(buffer, 4, &n));
        expect(!device.BeginReadData(buffer, 4, event.get()) && !device.WaitData(&n, 10));
        expect(!device.ReadData(buffer, 4, &n));
        expect(!device.ControlIn(kControlVendor, kRecipientDevice, 1, 0, 0, buffer, 4));
        expect(device.ControlInCount(kControlVendor, kRecipientDevice, 1, 0, 0, buffer, 4) == 0);
        expect(!device.ControlOut(kControlVendor, kRecipientDevice, 1, 0, 0, buffer, 4));
        expect(!device.AbortStream() && !device.StopThreads() && !device.StartListener());
        expect(device.GetVendorId() == 0 && device.IsIsochronous() == 0);
        device.Close();
    }
    {
        test::DriverStandIn driver;
        test::SeamDevice device(driver.stem);
        expect(device.Open(L"cam", nullptr) != 0);
        expect(device.GetVendorId() == 0x2D4E);
        const uint8_t command[3] = {1, 2, 3};
        expect(device.Write(command, 3) != 0);
        expect(driver.Receive(0, 8).size() == 3);
    }
    std::printf("all %d checks held\n", check);
    return 0;
}
