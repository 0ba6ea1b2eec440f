// A failure of the capture source seen in the live log: the zellog viewer
// listens, a trace session enables provider A (through the providers' test
// seam: Wine's ETW never enables one), and a registration before the table
// is mapped reports its error.
#include <gtest/gtest.h>

#include "capture_source/module/camera_kinds.h"
#include "capture_source/module/registration.h"
#include "support/child_process.h"
#include "support/livelog/live_log_layout.h"
#include "support/trace/zel_trace.h"
#include "support_lib/fake_etw_providers.h"

namespace orvo {

using test::Session;

namespace {

TEST(CaptureTrace, ARegistrationBeforeTheTableIsMappedIsSeenInTheLiveLog) {
    test::ChildProcess viewer;
    ASSERT_TRUE(viewer.Start(test::ExeFolder() + L"zellog.exe", L"--count 2 --timeout 60"));
    for (int i = 0; i < 1000 && !win32::UniqueHandle(::OpenEventW(SYNCHRONIZE, FALSE, kZelLiveLogEnabledName)); ++i) {
        ::Sleep(10);
    }
    ZelProviderA();
    ASSERT_EQ(Session().Enable(kZelProviderAGuid, kZelLevelWarning, 2), ERROR_SUCCESS);
    ASSERT_TRUE(ZelProviderA().IsLiveLogAttached());

    const CLSID clsid = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    EXPECT_EQ(capture::RegisterCameraClass(&clsid, &capture::KIND_GENERAL, 1, L"Traced"),
              static_cast<HRESULT>(0x838D0003));
    Session().Disable(kZelProviderAGuid);
    ASSERT_EQ(viewer.Wait(60000), 0) << viewer.Output();
    const std::string out = viewer.Output();
    EXPECT_NE(out.find(" error   capture_trace_test.exe msg 0x"), std::string::npos) << out;
    EXPECT_NE(out.find("i32 -2087911421"), std::string::npos) << out;  // 0x838D0003
}

}  // namespace
}  // namespace orvo
