// Capture-thread control: priority before the first instruction, stop by
// flag, and a thread that overruns its bound left to end, never killed.
#include <gtest/gtest.h>

#include <atomic>

#include "camera_api/cameras/capture_thread.h"
#include "win32/unique_handle.h"

using orvo::CaptureThread;

namespace {

struct Probe {
    CaptureThread* thread;
    HANDLE release = nullptr;
    std::atomic<int> priority{-99};
    std::atomic<bool> ended{false};
};

DWORD WINAPI UntilStopped(void* context) {
    auto* probe = static_cast<Probe*>(context);
    probe->priority = ::GetThreadPriority(::GetCurrentThread());
    while (!probe->thread->StopRequested()) ::Sleep(1);
    probe->ended = true;
    return 0;
}

DWORD WINAPI IgnoresTheFlag(void* context) {
    auto* probe = static_cast<Probe*>(context);
    probe->priority = ::GetThreadPriority(::GetCurrentThread());
    ::WaitForSingleObject(probe->release, 10000);
    probe->ended = true;
    return 0;
}

TEST(CaptureThread, RunsAtItsPriorityAndStopsOnItsFlag) {
    CaptureThread thread;
    Probe probe{&thread};
    ASSERT_TRUE(thread.Start(UntilStopped, &probe, THREAD_PRIORITY_ABOVE_NORMAL));
    EXPECT_FALSE(thread.Start(UntilStopped, &probe, THREAD_PRIORITY_NORMAL)) << "one thread at a time";
    while (probe.priority == -99) ::Sleep(1);
    EXPECT_EQ(probe.priority, THREAD_PRIORITY_ABOVE_NORMAL);
    EXPECT_EQ(thread.Stop(2000), CaptureThread::StopResult::Stopped);
    EXPECT_TRUE(probe.ended);
    EXPECT_FALSE(thread.Held());
    EXPECT_EQ(thread.Stop(10), CaptureThread::StopResult::NotRunning);

    probe.priority = -99;
    ASSERT_TRUE(thread.Start(UntilStopped, &probe, THREAD_PRIORITY_NORMAL)) << "restartable";
    EXPECT_EQ(thread.Stop(2000), CaptureThread::StopResult::Stopped);
}

TEST(CaptureThread, AThreadPastItsBoundIsKeptAndLeftToEnd) {
    CaptureThread thread;
    orvo::win32::UniqueHandle release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    Probe probe{&thread, release.get()};
    ASSERT_TRUE(thread.Start(IgnoresTheFlag, &probe, THREAD_PRIORITY_NORMAL));
    while (probe.priority == -99) ::Sleep(1);
    EXPECT_EQ(thread.Stop(50), CaptureThread::StopResult::TimedOut);
    EXPECT_TRUE(thread.Held());
    EXPECT_FALSE(thread.Start(IgnoresTheFlag, &probe, THREAD_PRIORITY_NORMAL)) << "no successor while it runs";
    ::SetEvent(release.get());
    EXPECT_TRUE(thread.Join(5000));
    EXPECT_TRUE(probe.ended) << "ran to its end: not terminated";
    EXPECT_FALSE(thread.Held());
}

}  // namespace
