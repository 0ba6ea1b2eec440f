// The owner check: cameras opened, closed or left behind by other processes.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "camera_api/devices/owner_tracker.h"
#include "support/child_process.h"

using namespace orvo;

namespace {

class FakeProbe : public IProcessProbe {
public:
    std::set<DWORD> dead;
    bool IsAlive(DWORD pid) noexcept override { return dead.count(pid) == 0; }
};

DeviceRecord Record(int id, int owner, int counter) {
    DeviceRecord r{};
    r.entry.deviceId = id;
    r.entry.inUse = owner ? 1 : 0;
    r.ownerProcessId = owner;
    r.changeCounter = counter;
    return r;
}

constexpr DWORD kSelf = 100;

TEST(OwnerTracker, ReportsOpensAndClosesElsewhereButNotTheFirstSighting) {
    OwnerTracker tracker;
    FakeProbe probe;
    std::vector<int> cleared;
    auto clear = [&](int id) { cleared.push_back(id); };

    std::vector<DeviceRecord> table = {Record(1, 0, 0), Record(2, 200, 1)};
    EXPECT_FALSE(tracker.Update(table.data(), 2, kSelf, probe, clear)) << "nothing to compare with yet";
    EXPECT_FALSE(tracker.Update(table.data(), 2, kSelf, probe, clear));

    table[0] = Record(1, 300, 1);   // another process opened camera 1
    EXPECT_TRUE(tracker.Update(table.data(), 2, kSelf, probe, clear));
    EXPECT_FALSE(tracker.Update(table.data(), 2, kSelf, probe, clear));

    table[0] = Record(1, 0, 2);     // and closed it
    EXPECT_TRUE(tracker.Update(table.data(), 2, kSelf, probe, clear));
    EXPECT_TRUE(cleared.empty());
}

TEST(OwnerTracker, FreesCamerasOfEndedOwnersAndIgnoresItsOwn) {
    OwnerTracker tracker;
    FakeProbe probe;
    std::vector<int> cleared;
    auto clear = [&](int id) { cleared.push_back(id); };

    std::vector<DeviceRecord> table = {Record(1, 200, 1), Record(2, kSelf, 1)};
    EXPECT_FALSE(tracker.Update(table.data(), 2, kSelf, probe, clear));
    probe.dead.insert(200);
    EXPECT_TRUE(tracker.Update(table.data(), 2, kSelf, probe, clear)) << "the owner became 0";
    EXPECT_EQ(cleared, std::vector<int>{1});

    table[1] = Record(2, 0, 2);     // our own close was seen by nobody: now it is not ours
    cleared.clear();
    EXPECT_FALSE(tracker.Update(table.data(), 2, kSelf, probe, clear))
        << "a camera that was ours is first seen now, with no earlier entry";
}

// The real probe against real processes: a live one, one that ended, and an
// id that names no process.
TEST(SystemProcessProbe, TellsLiveFromEndedProcesses) {
    SystemProcessProbe probe;
    EXPECT_TRUE(probe.IsAlive(::GetCurrentProcessId()));

    test::ChildProcess child;
    ASSERT_TRUE(child.Start(test::ExeFolder() + L"camera_api_table_peer.exe", test::UniqueName(L"p") +
                                                                                  L" hold-mutex|" +
                                                                                  test::UniqueName(L"m") + L"|3000"));
    ::Sleep(300);
    EXPECT_TRUE(probe.IsAlive(child.Pid()));
    ::TerminateProcess(child.Process(), 1);
    ::WaitForSingleObject(child.Process(), 5000);
    EXPECT_FALSE(probe.IsAlive(child.Pid())) << "exit code no longer STILL_ACTIVE";
    EXPECT_FALSE(probe.IsAlive(0x7FFFFFF0)) << "no such process";
}

}  // namespace
