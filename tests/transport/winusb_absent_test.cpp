// Without a loadable WinUsb.dll the WinUSB transport refuses everything and
// the driver transport is unaffected; with one that lacks the isochronous
// calls, bulk cameras still work. A helper runs from a folder without the
// emulated module; as the tests run with Wine's builtin stub disabled, it
// finds no WinUsb.dll at all.
#include <gtest/gtest.h>

#include "support/child_process.h"

namespace orvo {
namespace {

TEST(WinUsbAbsent, EveryWinUsbOperationRefusesAndTheDriverTransportWorks) {
    wchar_t temp[MAX_PATH];
    ASSERT_NE(::GetTempPathW(MAX_PATH, temp), 0u);
    const std::wstring folder = std::wstring(temp) + test::UniqueName(L"nowinusb");
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring exe = folder + L"\\transport_no_winusb_helper.exe";
    ASSERT_TRUE(::CopyFileW((test::ExeFolder() + L"transport_no_winusb_helper.exe").c_str(), exe.c_str(), FALSE));
    {
        test::ChildProcess child;
        ASSERT_TRUE(child.Start(exe, L""));
        EXPECT_EQ(child.Wait(60000), 0) << child.Output();
    }
    ::DeleteFileW(exe.c_str());
    ::RemoveDirectoryW(folder.c_str());
}

TEST(WinUsbBasic, WithoutTheIsochronousCallsTheBasicWalkServesBulkCameras) {
    test::ChildProcess child;
    ASSERT_TRUE(child.Start(test::ExeFolder() + L"winusb_basic\\transport_basic_winusb_helper.exe", L""));
    EXPECT_EQ(child.Wait(60000), 0) << child.Output();
}

}  // namespace
}  // namespace orvo
