// Reads and writes on bulk pipes: single URBs, stages, gaps, resources.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "tests/driver/driver_fixture.h"

namespace orvo::test {
namespace {

class StagingTest : public DriverTest {
protected:
    struct Urb {
        uint8_t endpoint;
        size_t offset;
        uint32_t length;
    };
    // Every URB served on the data pipe, as an offset into buffer.
    void WatchUrbs(const uint8_t* buffer, size_t size) {
        host->Bus().SetUrbObserver([this, buffer, size](const kmdf::Request*, uint8_t endpoint, const void* address,
                                                        uint32_t length) {
            std::lock_guard<std::mutex> lock(m_urbLock);
            auto* at = static_cast<const uint8_t*>(address);
            const bool inside = at >= buffer && at + length <= buffer + size;
            urbs.push_back({endpoint, inside ? size_t(at - buffer) : SIZE_MAX, length});
        });
    }
    std::vector<Urb> urbs;
    std::mutex m_urbLock;
};

TEST_F(StagingTest, ReadsUpToOneStageGoDownAsOneUrbAndLongerOnesInStages) {
    ASSERT_EQ(StartHost(), STATUS_SUCCESS);
    HANDLE data = Open(kDataPipe);
    ASSERT_NE(data, INVALID_HANDLE_VALUE);
    for (const uint32_t size : {kStage, kStage + 1}) {
        const std::vector<uint8_t> frame = Pattern(size, size);
        camera->QueueData(frame);
        std::vector<uint8_t> buffer(size + 16, 0xAB);
        urbs.clear();
        WatchUrbs(buffer.data(), buffer.size());
        host->Verifier().ResetCalls();
        const Result result = Read(data, buffer.data(), size);
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_EQ(result.bytes, size);
        EXPECT_TRUE(std::equal(frame.begin(), frame.end(), buffer.begin()));
        EXPECT_EQ(buffer[size], 0xAB);
        if (size == kStage) {
            ASSERT_EQ(urbs.size(), 1u);
            EXPECT_EQ(host->Verifier().Calls("WdfRequestCreate"), 0u);  // the caller's request carries it
        } else {
            ASSERT_EQ(urbs.size(), 2u);
            EXPECT_EQ(urbs[0].length, kStage);
            EXPECT_EQ(urbs[1].offset, kStage);
            EXPECT_EQ(urbs[1].length, 1u);
        }
    }
    EXPECT_VERIFIER_CLEAN();
}

TEST_F(StagingTest, AFrameReadUsesThreeStageRequestsForEightStagesInOrderWithoutCopies) {
    ASSERT_EQ(StartHost(), STATUS_SUCCESS);
    HANDLE data = Open(kDataPipe);
    const uint32_t size = 2000000;
    const std::vector<uint8_t> frame = Pattern(size, 7);
    camera->QueueData(frame);
    std::vector<uint8_t> buffer(size, 0);
    WatchUrbs(buffer.data(), buffer.size());
    host->Verifier().ResetCalls();
    const Result result = Read(data, buffer.data(), size);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.bytes, size);
    EXPECT_TRUE(buffer == frame);
    // Ascending and contiguous, every piece straight into the caller's buffer.
    ASSERT_EQ(urbs.size(), 8u);
    size_t offset = 0;
    for (size_t i = 0; i < urbs.size(); ++i) {
        EXPECT_EQ(urbs[i].offset, offset) << "URB " << i;
        EXPECT_EQ(urbs[i].length, i < 7 ? kStage : 164992u) << "URB " << i;
        offset += urbs[i].length;
    }
    EXPECT_EQ(host->Verifier().Calls("WdfRequestCreate"), 3u);
    EXPECT_EQ(host->Verifier().Calls("IoAllocateMdl"), 3u);
    EXPECT_EQ(host->Verifier().Calls("WdfMemoryCreate"), 3u);  // one URB per stage request
    EXPECT_EQ(host->LiveMdls(), 0);
    EXPECT_VERIFIER_CLEAN();
}

TEST_F(StagingTest, AShortStageLeavesAGapAndInformationIsTheSum) {
    ASSERT_EQ(StartHost(), STATUS_SUCCESS);
    HANDLE data = Open(kDataPipe);
    const std::vector<uint8_t> first = Pattern(kStage, 1);
    const std::vector<uint8_t> shortPiece = Pattern(1000, 2);
    const std::vector<uint8_t> last = Pattern(kStage, 3);
    camera->QueueData(first);
    camera->QueueData(shortPiece);
    camera->QueueData(last);
    std::vector<uint8_t> buffer(3 * kStage, 0x5A);
    const Result result = Read(data, buffer.data(), DWORD(buffer.size()));
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.bytes, 2 * kStage + 1000);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), buffer.begin()));
    EXPECT_TRUE(std::equal(shortPiece.begin(), shortPiece.end(), buffer.begin() + kStage));
    EXPECT_TRUE(std::all_of(buffer.begin() + kStage + 1000, buffer.begin() + 2 * kStage,
                            [](uint8_t b) { return b == 0x5A; }));
    EXPECT_TRUE(std::equal(last.begin(), last.end(), buffer.begin() + 2 * kStage));
    EXPECT_VERIFIER_CLEAN();
}

TEST_F(StagingTest, WritesGoToTheDeviceAndPipeTypesAreChecked) {
    ASSERT_EQ(StartHost(), STATUS_SUCCESS);
    HANDLE command = Open(kCommandPipe);
    const std::vector<uint8_t> packet = Pattern(300000, 9);  // staged write
    const Result result = Write(command, packet.data(), DWORD(packet.size()));
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.bytes, packet.size());
    std::vector<uint8_t> received;
    for (const auto& piece : camera->Commands()) received.insert(received.end(), piece.begin(), piece.end());
    EXPECT_TRUE(received == packet);

    // A handle on the device itself has no pipe.
    HANDLE device = Open(-1);
    uint8_t byte = 0;
    const Result noPipe = Read(device, &byte, 1);
    EXPECT_FALSE(noPipe.ok);
    EXPECT_EQ(noPipe.error, kmdf::CIoManager::Win32Error(STATUS_INVALID_PARAMETER));
    EXPECT_VERIFIER_CLEAN();
}

}  // namespace
}  // namespace orvo::test
