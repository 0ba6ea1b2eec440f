// A staged read meets a cancel, a pipe reset from another handle, an unplug
// or a D0 exit at each routine call it makes, one run each: it completes
// once, promptly, with STATUS_CANCELLED, an earlier failure or success, and
// the verifier stays clean. Then a soak of reads with jitter and cancels.
#include <atomic>
#include <functional>
#include <memory>
#include <random>

#include "camera_api/transport/orvo_usb_ioctl.h"
#include "tests/driver/driver_fixture.h"

namespace orvo::test {
namespace {

constexpr DWORD kReadSize = 3 * kStage + 5000;  // four pieces on three stage requests
constexpr DWORD kPrompt = 10000;

class CancelTest : public DriverTest {
protected:
    // Routine calls a staged read makes from its start to its completion.
    unsigned CallsOfOneRead() {
        EXPECT_EQ(StartHost(), STATUS_SUCCESS);
        HANDLE data = Open(kDataPipe);
        camera->QueueData(Pattern(kReadSize));
        std::vector<uint8_t> buffer(kReadSize);
        host->Verifier().ResetCalls();
        const Result result = Read(data, buffer.data(), kReadSize);
        EXPECT_TRUE(result.ok);
        const unsigned calls = host->Verifier().Calls();
        files.clear();
        host.reset();
        return calls;
    }

    // One run: the action runs at the n-th routine call of the read.
    void RunWithStep(unsigned n, const std::function<void(CancelTest&, HANDLE data)>& action, bool unplugged) {
        camera = MakeCamera();
        ASSERT_EQ(StartHost(), STATUS_SUCCESS);
        HANDLE data = Open(kDataPipe);
        HANDLE other = Open(kDataPipe);
        const std::vector<uint8_t> frame = Pattern(kReadSize, n);
        camera->QueueData(frame);
        std::vector<uint8_t> buffer(kReadSize);
        host->Verifier().ResetCalls();
        host->Verifier().StepAt("", n, [this, &action, other, n] {
            SCOPED_TRACE("step at call " + std::to_string(n));
            action(*this, other);
        }, 300);
        Pending pending;
        BeginRead(data, buffer.data(), kReadSize, pending);
        const Result result = Wait(data, pending, kPrompt);
        ASSERT_NE(result.error, DWORD(WAIT_TIMEOUT)) << "call " << n << ": the read did not complete";
        if (result.ok) {
            EXPECT_EQ(result.bytes, kReadSize) << "call " << n;
            EXPECT_TRUE(buffer == frame) << "call " << n;
        } else {
            // Cancelled, or failed earlier: a stage could not be sent again
            // to a stopped pipe, or the device was gone.
            const DWORD cancelled = kmdf::CIoManager::Win32Error(STATUS_CANCELLED);
            const DWORD stopped = kmdf::CIoManager::Win32Error(STATUS_INVALID_DEVICE_STATE);
            const DWORD gone = kmdf::CIoManager::Win32Error(STATUS_NO_SUCH_DEVICE);
            EXPECT_TRUE(result.error == cancelled || result.error == stopped || (unplugged && result.error == gone))
                << "call " << n << ": error " << result.error;
        }
        // A step planned past the read's last call does not run in the removal.
        host->Verifier().ClearPlans();
        host->Verifier().JoinSteps();
        if (unplugged) {
            host->SurpriseRemove();
        } else {
            host->Remove();  // removal checks for leaks
        }
        EXPECT_VERIFIER_CLEAN() << "call " << n;
        files.clear();
        host.reset();
    }

    void Sweep(const std::function<void(CancelTest&, HANDLE)>& action, bool unplugged = false) {
        const unsigned calls = CallsOfOneRead();
        ASSERT_GT(calls, 20u);
        for (unsigned n = 1; n <= calls + 2 && !HasFailure(); ++n) RunWithStep(n, action, unplugged);
    }

    void TearDown() override {
        if (host) {
            EXPECT_VERIFIER_CLEAN();
        }
        DriverTest::TearDown();
    }
};

TEST_F(CancelTest, CancelAtEachRoutineCall) {
    Sweep([](CancelTest& t, HANDLE) {
        for (const auto& file : t.files) t.Io().CancelIoEx(file.get(), nullptr);
    });
}

TEST_F(CancelTest, PipeResetFromAnotherHandleAtEachRoutineCall) {
    Sweep([](CancelTest& t, HANDLE other) {
        const Result reset = t.Ioctl(other, IOCTL_ORVOUSB_RESET_PIPE, nullptr, 0, nullptr, 0);
        EXPECT_TRUE(reset.ok) << reset.error;
    });
}

TEST_F(CancelTest, UnplugAtEachRoutineCall) {
    Sweep([](CancelTest& t, HANDLE) { t.host->Bus().Unplug(); }, true);
}

TEST_F(CancelTest, D0ExitAtEachRoutineCall) {
    Sweep([](CancelTest& t, HANDLE) {
        EXPECT_EQ(t.host->EnterDx(WdfPowerDeviceD3), STATUS_SUCCESS);
        EXPECT_EQ(t.host->ReturnToD0(), STATUS_SUCCESS);
    });
}

// A single-URB read waiting for a frame that has not come: a cancel or a D0
// exit at each routine call from its dispatch to its send completes it
// promptly with STATUS_CANCELLED. A stop between the dispatch and the send
// finds nothing sent to cancel; the read must not go down afterwards.
class SingleReadStopTest : public CancelTest {
protected:
    static constexpr DWORD kSize = 1000;

    // FALSE once the step planned at call n did not run before the read
    // reached the pipe (n lies past its send).
    bool RunWithStep(unsigned n, const std::function<void(SingleReadStopTest&)>& action) {
        camera = MakeCamera();
        EXPECT_EQ(StartHost(), STATUS_SUCCESS);
        HANDLE data = Open(kDataPipe);
        std::vector<uint8_t> buffer(kSize);
        auto fired = std::make_shared<std::atomic<bool>>(false);
        host->Verifier().ResetCalls();
        host->Verifier().StepAt("", n, [this, &action, fired] {
            fired->store(true);
            action(*this);
        }, 300);
        Pending pending;
        BeginRead(data, buffer.data(), kSize, pending);
        Result result = Wait(data, pending, kPrompt);
        const bool ran = fired->load();
        if (result.error == DWORD(WAIT_TIMEOUT)) {
            EXPECT_FALSE(ran) << "call " << n << ": the read did not complete";
            // Frees the read (and a power transition waiting for it).
            host->Verifier().ClearPlans();
            camera->QueueData(Pattern(kSize, n));
            result = Wait(data, pending, kPrompt);
            EXPECT_NE(result.error, DWORD(WAIT_TIMEOUT)) << "call " << n;
        } else {
            EXPECT_TRUE(ran) << "call " << n << ": the read ended without data";
            EXPECT_EQ(result.error, kmdf::CIoManager::Win32Error(STATUS_CANCELLED)) << "call " << n;
        }
        host->Verifier().ClearPlans();
        host->Verifier().JoinSteps();
        host->Remove();
        EXPECT_VERIFIER_CLEAN() << "call " << n;
        files.clear();
        host.reset();
        return ran;
    }

    void Sweep(const std::function<void(SingleReadStopTest&)>& action) {
        unsigned n = 1;
        while (!HasFailure() && RunWithStep(n, action)) ++n;
        EXPECT_GT(n, 5u) << "too few routine calls before the send";
    }
};

TEST_F(SingleReadStopTest, CancelAtEachCallBeforeTheSend) {
    Sweep([](SingleReadStopTest& t) {
        for (const auto& file : t.files) t.Io().CancelIoEx(file.get(), nullptr);
    });
}

TEST_F(SingleReadStopTest, D0ExitAtEachCallBeforeTheSend) {
    Sweep([](SingleReadStopTest& t) {
        EXPECT_EQ(t.host->EnterDx(WdfPowerDeviceD3), STATUS_SUCCESS);
        EXPECT_EQ(t.host->ReturnToD0(), STATUS_SUCCESS);
    });
}

// The queue stops before D0 exit; without EvtIoStop the framework would wait
// for reads that wait for a frame, and the pipes' stop in D0 exit would come
// too late to free them.
TEST_F(CancelTest, LeavingD0FreesReadsAwaitingAFrame) {
    ASSERT_EQ(StartHost(), STATUS_SUCCESS);
    HANDLE data = Open(kDataPipe);
    std::vector<uint8_t> staged(kReadSize), single(1000);
    Pending stagedRead, singleRead;
    BeginRead(data, staged.data(), kReadSize, stagedRead);
    BeginRead(data, single.data(), DWORD(single.size()), singleRead);
    ASSERT_EQ(host->EnterDx(WdfPowerDeviceD3), STATUS_SUCCESS);
    const DWORD cancelled = kmdf::CIoManager::Win32Error(STATUS_CANCELLED);
    EXPECT_EQ(Wait(data, stagedRead, kPrompt).error, cancelled);
    EXPECT_EQ(Wait(data, singleRead, kPrompt).error, cancelled);
    // Requests wait in the queue while the device is away, and flow again.
    const std::vector<uint8_t> frame = Pattern(kReadSize, 4);
    Pending later;
    BeginRead(data, staged.data(), kReadSize, later);
    camera->QueueData(frame);
    ASSERT_EQ(host->ReturnToD0(), STATUS_SUCCESS);
    const Result result = Wait(data, later, kPrompt);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_TRUE(staged == frame);
    host->Remove();
    EXPECT_VERIFIER_CLEAN();
}

TEST_F(CancelTest, SoakOfStagedReadsWithJitterAndRandomCancels) {
    ASSERT_EQ(StartHost(), STATUS_SUCCESS);
    HANDLE data = Open(kDataPipe);
    const DWORD size = kStage + 70000;
    camera->LoopFrame(Pattern(size, 3));
    std::mt19937 random(12345);
    std::vector<uint8_t> buffer(size);
    unsigned cancelled = 0;
    const DWORD cancelError = kmdf::CIoManager::Win32Error(STATUS_CANCELLED);
    for (int i = 0; i < 10000; ++i) {
        if (random() % 8 == 0) camera->Faults().Add(emu::kDataEndpoint, {emu::FaultKind::Late, random() % 3});
        Pending pending;
        BeginRead(data, buffer.data(), size, pending);
        if (random() % 4 == 0) {
            if (random() % 2) ::Sleep(0);
            Io().CancelIoEx(data, &pending.overlapped);
        }
        const Result result = Wait(data, pending, kPrompt);
        ASSERT_NE(result.error, DWORD(WAIT_TIMEOUT)) << "read " << i;
        if (!result.ok) {
            ASSERT_EQ(result.error, cancelError) << "read " << i;
            ++cancelled;
        } else {
            // A cancelled read leaves the rest of its frame for the next,
            // which ends with it: short, never long.
            ASSERT_GT(result.bytes, 0u) << "read " << i;
            ASSERT_LE(result.bytes, size) << "read " << i;
        }
    }
    EXPECT_GT(cancelled, 0u);
    EXPECT_EQ(Io().Outstanding(), 0u);
}

}  // namespace
}  // namespace orvo::test
