// Runs beside a WinUsb.dll without the isochronous-era calls: the basic walk
// (alternate setting 0, WinUsb_QueryPipe) opens bulk cameras and streams from
// them; an isochronous camera cannot be opened. Exit code 0 when all held,
// else the number of the first check that failed.
#include <windows.h>
#include <cstdio>

#include "camera_api/transport/winusb_device.h"
#include "emulated_winusb.h"

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
    WinUsbApi api;
    BindWinUsb(api);
    expect(api.basicAvailable && !api.isochAvailable && !api.QueryPipeEx);
    {
        test::EmulatedWinUsbDevice emulated(test::CameraIdentity(), test::BulkLayout());
        expect(emulated.Attached());
        CWinUsbDevice device;
        expect(device.Open(emulated.Path(), nullptr) != 0);
        expect(device.DataPipeId() == 0x82 && device.IsIsochronous() == 0);
        const auto frame = test::FrameBytes(700000, 3);
        emulated.Model().QueueData(frame);
        std::vector<uint8_t> out(700000);
        uint32_t n = 0;
        expect(device.ReadData(out.data(), 700000, &n) && n == 700000 && out == frame);
        device.Close();
    }
    {
        test::EmulatedWinUsbDevice emulated(test::CameraIdentity(), test::IsochLayout());
        CWinUsbDevice device;
        expect(device.Open(emulated.Path(), nullptr) == 0);
        expect(device.IsIsochronous() == 0);
    }
    std::printf("all %d checks held\n", check);
    return 0;
}
