// The block ring and its sockets, without USB.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "camera_api/transport/data_socket.h"
#include "camera_api/transport/data_stream.h"

namespace orvo {
namespace {

class RecordingSocket : public IStreamSocket {
public:
    void OnStreamEvent(int32_t code) override { codes.push_back(code); }
    std::vector<int32_t> codes;
};

TEST(StreamBuffer, AllocateKeepsTheFirstGeometry) {
    CStreamBuffer empty;
    EXPECT_FALSE(empty.Allocate(0, 4));
    EXPECT_EQ(empty.Data(), nullptr);
    CStreamBuffer none;
    EXPECT_FALSE(none.Allocate(512, 0));
    EXPECT_EQ(none.Data(), nullptr);
    EXPECT_EQ(none.GetBlock(0), nullptr);

    CStreamBuffer buffer;
    ASSERT_TRUE(buffer.Allocate(512, 4));
    EXPECT_TRUE(buffer.Allocate(1024, 8));
    EXPECT_EQ(buffer.BlockSize(), 512u);
    EXPECT_EQ(buffer.BlockCount(), 4u);
    EXPECT_EQ(buffer.GetBlock(3), buffer.Data() + 3 * 512);
    EXPECT_EQ(buffer.GetBlock(4), nullptr);
    uint32_t size = 0;
    EXPECT_EQ(buffer.GetBlockAndSize(1, &size), buffer.Data() + 512);
    EXPECT_EQ(size, 512u);
}

TEST(DataStream, RefusesEverythingWithoutAValidBuffer) {
    CAsyncIoStream stream;
    RecordingSocket reader;
    stream.SetReader(&reader);
    stream.Start();
    EXPECT_TRUE(stream.IsStopped());
    EXPECT_EQ(stream.GetWriteBlock(), nullptr);
    EXPECT_FALSE(stream.Flush());
    EXPECT_TRUE(reader.codes.empty());
    CStreamBuffer empty;
    EXPECT_TRUE(stream.AttachBuffer(&empty));
    EXPECT_FALSE(stream.IsValid());
    CStreamBuffer other;
    EXPECT_FALSE(stream.AttachBuffer(&other));  // the place is taken
}

TEST(DataStream, RingOfFourHandsOutFourBlocksUntilOneIsReleased) {
    CStreamBuffer buffer;
    ASSERT_TRUE(buffer.Allocate(512, 4));
    CAsyncIoStream stream;
    ASSERT_TRUE(stream.AttachBuffer(&buffer));
    RecordingSocket reader, writer;
    ASSERT_TRUE(stream.SetReader(&reader));
    ASSERT_TRUE(stream.SetWriter(&writer));
    EXPECT_FALSE(stream.SetWriter(&reader));
    stream.Start();
    EXPECT_EQ(reader.codes, std::vector<int32_t>{kStreamStarted});
    EXPECT_EQ(writer.codes, std::vector<int32_t>{kStreamStarted});

    for (uint32_t i = 0; i < 4; ++i) {
        ASSERT_EQ(stream.GetWriteBlock(), buffer.GetBlock(i));
        stream.MarkSubmitted();
    }
    EXPECT_EQ(stream.GetWriteBlock(), nullptr);
    EXPECT_EQ(stream.GetBytesSubmitted(), 4 * 512);
    EXPECT_TRUE(stream.HasPending());

    for (uint32_t i = 0; i < 4; ++i) stream.CommitWrite(512);
    EXPECT_FALSE(stream.HasPending());
    EXPECT_EQ(stream.FilledCount(), 4);
    EXPECT_EQ(reader.codes.size(), 5u);
    // A commit on a full ring changes nothing and tells nobody.
    stream.CommitWrite(512);
    EXPECT_EQ(stream.FilledCount(), 4);
    EXPECT_EQ(reader.codes.size(), 5u);

    uint32_t length = 0;
    EXPECT_EQ(stream.GetReadBlock(&length), buffer.GetBlock(0));
    EXPECT_EQ(length, 512u);
    stream.ReleaseRead();
    EXPECT_EQ(writer.codes.back(), kStreamBlockFreed);
    EXPECT_EQ(stream.GetWriteBlock(), buffer.GetBlock(0));  // the ring wrapped
    EXPECT_EQ(stream.GetReadBlock(&length), buffer.GetBlock(1));
}

TEST(DataStream, StopHaltsAndFlushEmptiesEvenWhenStopped) {
    CStreamBuffer buffer;
    ASSERT_TRUE(buffer.Allocate(64, 2));
    CAsyncIoStream stream;
    stream.AttachBuffer(&buffer);
    RecordingSocket reader, writer;
    stream.SetReader(&reader);
    stream.SetWriter(&writer);
    stream.Start();
    stream.MarkSubmitted();
    stream.CommitWrite(64);
    stream.Stop();
    EXPECT_EQ(reader.codes.back(), kStreamStopped);
    uint32_t length = 0;
    EXPECT_EQ(stream.GetReadBlock(&length), nullptr);
    EXPECT_EQ(stream.GetWriteBlock(), nullptr);
    stream.Stop();  // already stopped: no second notification
    EXPECT_EQ(std::count(reader.codes.begin(), reader.codes.end(), kStreamStopped), 1);
    EXPECT_TRUE(stream.Flush());
    EXPECT_EQ(reader.codes.back(), kStreamFlushed);
    EXPECT_EQ(writer.codes.back(), kStreamFlushed);
    EXPECT_EQ(stream.FilledCount(), 0);
    EXPECT_EQ(stream.GetBytesSubmitted(), 0);
    EXPECT_TRUE(stream.IsStopped());
}

// A continuous stream is never reset: its submitted-bytes count must stop at the top, not wrap negative
// (a wrapped count would make every fill look unfinished, or finished at once).
TEST(DataStream, SubmittedBytesOfALongStreamSaturate) {
    CStreamBuffer buffer;
    ASSERT_TRUE(buffer.Allocate(64u << 20, 2));
    CAsyncIoStream stream;
    ASSERT_TRUE(stream.AttachBuffer(&buffer));
    stream.Start();
    for (int i = 0; i < 40; ++i) {  // 40 x 64 MiB: past 2 GiB
        ASSERT_NE(stream.GetWriteBlock(), nullptr);
        stream.MarkSubmitted();
        stream.CommitWrite(64u << 20);
        uint32_t length = 0;
        ASSERT_NE(stream.GetReadBlock(&length), nullptr);
        stream.ReleaseRead();
        ASSERT_GT(stream.GetBytesSubmitted(), 0) << "after " << (i + 1) << " blocks";
    }
    EXPECT_EQ(stream.GetBytesSubmitted(), INT32_MAX);
}

// A producer and a consumer socket moving blocks through the ring.
TEST(DataSockets, ShortBlockMarksTheEndForAReaderWithoutOne) {
    CStreamBuffer buffer;
    ASSERT_TRUE(buffer.Allocate(512, 4));
    CAsyncIoStream stream;
    stream.AttachBuffer(&buffer);
    CWriteSocket writer;
    CReadSocket reader;
    ASSERT_TRUE(writer.Attach(&stream));
    ASSERT_TRUE(reader.Attach(&stream));
    EXPECT_FALSE(reader.Attach(&stream));
    stream.Start();
    EXPECT_FALSE(reader.IsStopped());
    EXPECT_EQ(::WaitForSingleObject(reader.GetEvent(), 0), WAIT_OBJECT_0);

    for (uint32_t length : {512u, 512u, 100u}) {
        ASSERT_TRUE(writer.CanWrite());
        uint32_t size = 0;
        ASSERT_NE(writer.TakeBlock(&size), nullptr);
        EXPECT_EQ(size, 512u);
        stream.MarkSubmitted();
        stream.CommitWrite(length);
    }
    uint32_t lengths[3] = {512, 512, 100};
    for (uint32_t length : lengths) {
        ASSERT_TRUE(reader.HasReadBlock());
        reader.SetBlockLength(length);
        reader.Advance();
        stream.ReleaseRead();
    }
    EXPECT_EQ(reader.Total(), 1124u);
    EXPECT_EQ(reader.EndPosition(), 1124u);
    EXPECT_EQ(reader.EventCount(), 4u);  // start and three commits

    // A writer with an end stops taking blocks once it is covered.
    writer.Clear();
    stream.Flush();
    stream.Start();
    writer.SetEndPosition(1000);
    ASSERT_TRUE(writer.CanWrite());
    writer.TakeBlock(nullptr);
    stream.MarkSubmitted();
    ASSERT_TRUE(writer.CanWrite());
    writer.TakeBlock(nullptr);
    stream.MarkSubmitted();
    EXPECT_FALSE(writer.CanWrite());

    stream.Stop();
    EXPECT_TRUE(reader.IsStopped());
    EXPECT_EQ(reader.Block(), nullptr);
    EXPECT_TRUE(reader.Detach(&stream));
    EXPECT_TRUE(writer.Detach(&stream));
    CReadSocket second;
    EXPECT_TRUE(second.Attach(&stream));  // the reader's place is free again
}

TEST(DataSockets, ResetTagClearsCounters) {
    CReadSocket socket;
    EXPECT_EQ(socket.Tag(), -1);
    socket.OnStreamEvent(kStreamStarted);
    socket.SetTotal(10);
    socket.ResetTag(7);
    EXPECT_EQ(socket.Tag(), 7);
    EXPECT_EQ(socket.EventCount(), 0u);
    EXPECT_EQ(socket.Total(), 0u);
    EXPECT_TRUE(socket.IsStopped());
}

}  // namespace
}  // namespace orvo
