// The cross-process device table between real processes of one session: a
// peer of the same bitness and, where the machine can run it, of the other.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include "camera_api/devices/device_tables.h"
#include "support/child_process.h"
#include "win32/unique_handle.h"

using namespace orvo;

namespace {

constexpr const wchar_t* kPeerName = L"camera_api_table_peer.exe";

std::wstring DevicePath(int n) {
    return L"\\\\?\\usb#vid_2d4e&pid_0403#cam" + std::to_wstring(n) + L"#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
}

// "key=value" pairs of a peer's output, last value per key.
std::map<std::string, std::string> Parse(const std::string& text) {
    std::map<std::string, std::string> values;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        for (std::string word; words >> word;) {
            const size_t eq = word.find('=');
            if (eq != std::string::npos) values[word.substr(0, eq)] = word.substr(eq + 1);
        }
    }
    return values;
}

// Runs fn on another thread; a table operation that blocks fails the test
// instead of hanging the suite.
template <class Fn>
void MustFinishWithin(DWORD ms, Fn fn) {
    struct Call {
        static DWORD WINAPI Run(void* p) {
            (*static_cast<Fn*>(p))();
            return 0;
        }
    };
    win32::UniqueHandle thread(::CreateThread(nullptr, 0, &Call::Run, &fn, 0, nullptr));
    ASSERT_TRUE(thread);
    if (::WaitForSingleObject(thread.get(), ms) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "a table operation blocked for " << ms << " ms";
        std::fflush(stdout);
        ::TerminateProcess(::GetCurrentProcess(), 1);
    }
}

class CrossProcessTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        const bool otherArch = GetParam();
        const std::wstring folder = otherArch ? test::OtherArchFolder() : test::ExeFolder();
        if (folder.empty()) {
            GTEST_SKIP() << "the other architecture's programs cannot run on this machine";
        }
        peer = folder + kPeerName;
        ASSERT_NE(::GetFileAttributesW(peer.c_str()), INVALID_FILE_ATTRIBUTES) << "missing peer program";
        ASSERT_TRUE(tables.OpenShared((L"peerTable_" + suffix).c_str()));
    }

    // Runs the peer with these steps and returns its output.
    std::map<std::string, std::string> RunPeer(const std::wstring& steps, test::ChildProcess* keep = nullptr) {
        test::ChildProcess local;
        test::ChildProcess& child = keep ? *keep : local;
        EXPECT_TRUE(child.Start(peer, suffix + L" " + steps));
        if (keep) return {};
        EXPECT_EQ(child.Wait(), 0) << child.Output();
        return Parse(child.Output());
    }

    std::wstring suffix = test::UniqueName(L"x");
    std::wstring peer;
    DeviceTables tables{(L"peerTableMutex_" + suffix).c_str()};
};

TEST_P(CrossProcessTest, TheSecondProcessGetsTheFirstOnesId) {
    auto out = RunPeer(L"register|" + DevicePath(1) + L"|17");
    ASSERT_EQ(out["register"], "1");
    const int peerId = std::stoi(out["id"]);
    EXPECT_EQ(peerId, 1);

    DeviceRecord record{};
    record.entry.deviceId = -1;
    record.entry.devInst = 99;
    ASSERT_TRUE(tables.Register(DevicePath(1).c_str(), record));
    EXPECT_EQ(record.entry.deviceId, peerId);

    out = RunPeer(L"register|" + DevicePath(1) + L"|18 register|" + DevicePath(2) + L"|19");
    EXPECT_EQ(out["id"], "2") << "a new path gets the next id, whoever adds it";
}

TEST_P(CrossProcessTest, EachProcessListsOnlyWhatItFound) {
    DeviceRecord record{};
    record.entry.deviceId = -1;
    record.entry.devInst = 5;
    ASSERT_TRUE(tables.Register(DevicePath(1).c_str(), record));

    // The peer finds device 1 too, and device 2 that we never see.
    auto out = RunPeer(L"register|" + DevicePath(1) + L"|41 register|" + DevicePath(2) + L"|42 list");
    EXPECT_EQ(out["list"], "ok");
    EXPECT_EQ(tables.SharedCount(), 2);

    DeviceEntry entries[8];
    int count = 0;
    ASSERT_EQ(tables.DeviceList(8, entries, &count), ORVO_OK);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(entries[0].deviceId, record.entry.deviceId);
    EXPECT_EQ(entries[0].devInst, 5u) << "our own devInst, not the peer's";
}

TEST_P(CrossProcessTest, PeerListSeesItsOwnDevInst) {
    DeviceRecord record{};
    record.entry.deviceId = -1;
    record.entry.devInst = 5;
    ASSERT_TRUE(tables.Register(DevicePath(1).c_str(), record));
    test::ChildProcess child;
    ASSERT_TRUE(child.Start(peer, suffix + L" register|" + DevicePath(1) + L"|77 list"));
    ASSERT_EQ(child.Wait(), 0);
    EXPECT_NE(child.Output().find("list=ok 1/77"), std::string::npos) << child.Output();
}

TEST_P(CrossProcessTest, OwnershipIsSeenByTheOtherProcess) {
    DeviceRecord record{};
    record.entry.deviceId = -1;
    ASSERT_TRUE(tables.Register(DevicePath(3).c_str(), record));
    const std::wstring id = std::to_wstring(record.entry.deviceId);
    wchar_t path[kPathChars];
    DeviceRecord seen{};

    test::ChildProcess child;
    ASSERT_TRUE(child.Start(peer, suffix + L" setowner|" + id + L"|1 setowner|" + id + L"|1"));
    ASSERT_EQ(child.Wait(), 0);
    EXPECT_EQ(Parse(child.Output())["setowner"], "0") << "a second open changes nothing";
    ASSERT_TRUE(tables.Lookup(record.entry.deviceId, path, kPathChars, &seen));
    EXPECT_EQ(seen.entry.inUse, 1);
    EXPECT_EQ(static_cast<DWORD>(seen.ownerProcessId), child.Pid());
    EXPECT_EQ(seen.changeCounter, 1) << "one change, one increment";

    EXPECT_FALSE(tables.SetOwner(record.entry.deviceId, true)) << "in use by the peer";
    auto out = RunPeer(L"setowner|" + id + L"|0");
    EXPECT_EQ(out["setowner"], "1");
    ASSERT_TRUE(tables.Lookup(record.entry.deviceId, path, kPathChars, &seen));
    EXPECT_EQ(seen.entry.inUse, 0);
    EXPECT_EQ(seen.ownerProcessId, 0);
    EXPECT_EQ(seen.changeCounter, 2);
}

TEST_P(CrossProcessTest, AProcessThatDiesHoldingTheTableMutexDoesNotBlockOthers) {
    auto out = RunPeer(L"register|" + DevicePath(1) + L"|1 hold-table-and-exit");
    ASSERT_EQ(out["held"], "1");
    MustFinishWithin(10000, [&] {
        EXPECT_EQ(tables.SharedCount(), 1);
        DeviceRecord record{};
        record.entry.deviceId = -1;
        EXPECT_TRUE(tables.Register(DevicePath(2).c_str(), record));
        EXPECT_EQ(record.entry.deviceId, 2);
    });
}

INSTANTIATE_TEST_SUITE_P(Bitness, CrossProcessTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "OtherArchitecture" : "SameArchitecture";
                         });

// A peer overwrites the table with nonsense; this process keeps to the
// table's bounds and keeps working on it.
class HostileTableTest : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(HostileTableTest, CorruptContentIsRepairedAndStaysInBounds) {
    const std::wstring suffix = test::UniqueName(L"h");
    DeviceTables tables((L"peerTableMutex_" + suffix).c_str());
    ASSERT_TRUE(tables.OpenShared((L"peerTable_" + suffix).c_str()));
    DeviceRecord record{};
    record.entry.deviceId = -1;
    ASSERT_TRUE(tables.Register(DevicePath(1).c_str(), record));

    test::ChildProcess child;
    ASSERT_TRUE(child.Start(test::ExeFolder() + kPeerName, suffix + L" corrupt|" + GetParam()));
    ASSERT_EQ(child.Wait(), 0);
    ASSERT_NE(child.Output().find("corrupt=done"), std::string::npos) << child.Output();

    MustFinishWithin(10000, [&] {
        const int count = tables.SharedCount();
        EXPECT_GE(count, 0);
        EXPECT_LE(count, kMaxDevices);

        DeviceRecord records[kMaxDevices];
        int listed = -1;
        const int32_t result = tables.SnapshotRecords(kMaxDevices, records, &listed);
        EXPECT_TRUE(result == ORVO_OK || result == ORVO_E_NO_DEVICES);
        if (result == ORVO_OK) {
            EXPECT_EQ(listed, count);
            for (int i = 0; i < listed; ++i) {
                EXPECT_GT(records[i].entry.deviceId, 0);
                EXPECT_TRUE(records[i].entry.inUse == 0 || records[i].entry.inUse == 1);
                EXPECT_EQ(records[i].entry.product[31], L'\0');
                EXPECT_EQ(records[i].entry.serialNumber[15], L'\0');
            }
        }

        DeviceEntry entries[kMaxDevices];
        int count2 = -1;
        const int32_t listResult = tables.DeviceList(kMaxDevices, entries, &count2);
        EXPECT_TRUE(listResult == ORVO_OK || listResult == ORVO_E_NO_DEVICES || listResult == ORVO_E_MORE_DATA);

        // The table still takes devices while it has room, with fresh ids;
        // ids that ran out are refused rather than wrapped into reuse.
        DeviceRecord fresh{};
        fresh.entry.deviceId = -1;
        const bool added = tables.Register(DevicePath(50).c_str(), fresh);
        if (std::wstring(GetParam()) == L"max-id") {
            EXPECT_FALSE(added);
        } else if (count < kMaxDevices) {
            ASSERT_TRUE(added);
            EXPECT_GT(fresh.entry.deviceId, 0);
            for (int i = 0; i < listed; ++i) EXPECT_NE(records[i].entry.deviceId, fresh.entry.deviceId);
        }
    });
}

INSTANTIATE_TEST_SUITE_P(Corruptions, HostileTableTest,
                         ::testing::Values(L"counts", L"negative-count", L"unterminated", L"bad-ids", L"max-id",
                                           L"random|1", L"random|2", L"random|3", L"random|4", L"random|5"));

}  // namespace
