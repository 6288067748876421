// The pending packet list and the chunk in progress: trimming, hand-out and
// confirmation on legacy and persistent connections, and the resend rule.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "libmerovane/connection/MVApiPacketEncoder.h"
#include "libmerovane/connection/MVApiUpstreamWriter.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "tests/support/PlatformTest.h"

namespace {

MVApiConnectionPacket writerPacket(int64_t serial) {
    return {MVApiPacketEncoder::chunk("{\"serial\":" + std::to_string(serial) + "}"), serial};
}

class MVApiUpstreamWriterTest : public PlatformTest {
  protected:
    void fill(int64_t from, int64_t to) {
        for (int64_t s = from; s <= to; ++s) writer_.append(writerPacket(s));
    }
    // Writes whatever may go now, completely; answers the serials written.
    std::vector<std::string> drain(bool persistent, bool headArrived) {
        std::vector<std::string> out;
        for (;;) {
            auto bytes = writer_.bytesToWrite(persistent, headArrived);
            if (bytes.empty()) return out;
            out.emplace_back(bytes);
            EXPECT_TRUE(writer_.didWrite(static_cast<long>(bytes.size())));
        }
    }
    MVApiUpstreamWriter writer_;
};

TEST_F(MVApiUpstreamWriterTest, The71stPacketDropsThe20Oldest) {
    const struct {
        size_t position, next, expectedPosition, expectedNext;
    } rows[] = {{30, 31, 10, 11}, {5, 5, 0, 0}, {70, 70, 50, 50}, {20, 21, 0, 1}};
    for (const auto& row : rows) {
        MVApiUpstreamWriter writer;
        for (int64_t s = 1; s <= 70; ++s) writer.append(writerPacket(s));
        // Bring the positions where the row wants them: confirm `position` packets and
        // hand out the rest up to `next` on a legacy request.
        for (size_t i = 0; i < row.next; ++i) {
            auto bytes = writer.bytesToWrite(i < row.position, true);
            writer.didWrite(static_cast<long>(bytes.size()));
        }
        ASSERT_EQ(writer.position(), row.position);
        ASSERT_EQ(writer.nextPosition(), row.next);
        writer.append(writerPacket(71));
        EXPECT_EQ(writer.count(), 51u);
        EXPECT_EQ(writer.serials().front(), 21);
        EXPECT_EQ(writer.position(), row.expectedPosition);
        EXPECT_EQ(writer.nextPosition(), row.expectedNext);
    }
}

TEST_F(MVApiUpstreamWriterTest, ALegacyConnectionSendsOnePacketAndItsLastChunk) {
    fill(1, 2);
    auto written = drain(false, true);
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0], writerPacket(1).data + "0\r\n\r\n");
    // Nothing more until the response ends.
    EXPECT_TRUE(drain(false, true).empty());
    EXPECT_EQ(writer_.position(), 0u);
    EXPECT_EQ(writer_.nextPosition(), 1u);
    // A 200 that ended confirms it; the next connection sends packet 2.
    writer_.confirmHandedOut();
    written = drain(false, false);
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0], writerPacket(2).data + "0\r\n\r\n");
    // Any other answer sends the same packet again.
    writer_.resendHandedOut();
    EXPECT_EQ(drain(false, false), written);
}

TEST_F(MVApiUpstreamWriterTest, APersistentConnectionWritesNothingBeforeItsHead) {
    fill(1, 3);
    // Its head may ask for earlier packets again; nothing may overtake them.
    EXPECT_TRUE(drain(true, false).empty());
    EXPECT_EQ(writer_.nextPosition(), 0u);
    EXPECT_TRUE(writer_.resetClientSerial(1));  // the head: the server holds 1
    const auto written = drain(true, true);
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[0], writerPacket(2).data);
    EXPECT_EQ(written[1], writerPacket(3).data);
    EXPECT_FALSE(writer_.hasUnconfirmedPackets());
}

TEST_F(MVApiUpstreamWriterTest, PartialWritesContinueWhereTheyStopped) {
    fill(1, 1);
    const std::string whole = writerPacket(1).data;
    auto bytes = writer_.bytesToWrite(true, true);
    EXPECT_FALSE(writer_.didWrite(3));
    EXPECT_FALSE(writer_.didWrite(0));
    EXPECT_FALSE(writer_.didWrite(-1));  // a failed write adds nothing
    EXPECT_TRUE(writer_.isWritingChunk());
    bytes = writer_.bytesToWrite(true, true);
    EXPECT_EQ(bytes, whole.substr(3));
    EXPECT_TRUE(writer_.didWrite(static_cast<long>(bytes.size())));
    EXPECT_FALSE(writer_.isWritingChunk());
    // A chunk cut by a closing connection is dropped; the positions decide its resend.
    fill(2, 2);
    writer_.bytesToWrite(false, true);
    writer_.didWrite(2);
    writer_.dropChunkInProgress();
    writer_.resendHandedOut();
    EXPECT_EQ(writer_.bytesToWrite(false, true), writerPacket(2).data + "0\r\n\r\n");
}

// Written: handed out and wholly written, confirmed or not, on either kind of connection.
TEST_F(MVApiUpstreamWriterTest, APacketCountsAsWrittenOnceItsLastByteIs) {
    fill(1, 3);
    EXPECT_FALSE(writer_.hasWritten(1));  // nothing handed out
    auto bytes = writer_.bytesToWrite(true, true);
    EXPECT_FALSE(writer_.didWrite(static_cast<long>(bytes.size()) - 1));
    EXPECT_FALSE(writer_.hasWritten(1));
    EXPECT_TRUE(writer_.didWrite(1));
    EXPECT_TRUE(writer_.hasWritten(1));
    EXPECT_FALSE(writer_.hasWritten(2));
    // Legacy: written before the response confirms it; a resend is written again.
    bytes = writer_.bytesToWrite(false, true);
    EXPECT_TRUE(writer_.didWrite(static_cast<long>(bytes.size())));
    EXPECT_TRUE(writer_.hasWritten(2));
    writer_.resendHandedOut();
    EXPECT_FALSE(writer_.hasWritten(2));
    EXPECT_FALSE(writer_.hasWritten(4));  // not built yet
}

TEST_F(MVApiUpstreamWriterTest, DroppedPacketsLendTheirMemoryButNotAChunkInProgress) {
    fill(1, 1);
    // Packet 1 is being written when the list drops it with 19 others.
    const auto bytes = writer_.bytesToWrite(true, true);
    ASSERT_FALSE(bytes.empty());
    writer_.didWrite(3);
    fill(2, 71);
    size_t spares = 0;
    while (!writer_.takeSpareBuffer().empty()) ++spares;
    EXPECT_EQ(spares, MVApiUpstreamWriter::kTrimCount - 1);
    // The chunk in progress still goes out whole.
    EXPECT_EQ(writer_.bytesToWrite(true, true), writerPacket(1).data.substr(3));
}

TEST_F(MVApiUpstreamWriterTest, TheClientSerialResendsWhatFollowsItAndABadOneChangesNothing) {
    fill(1, 5);
    drain(true, true);
    EXPECT_EQ(writer_.position(), 5u);
    // The server holds up to 3: 4 and 5 go again, in that order.
    EXPECT_TRUE(writer_.resetClientSerial(3));
    EXPECT_EQ(drain(true, true),
              (std::vector<std::string>{writerPacket(4).data, writerPacket(5).data}));
    // 0 changes nothing.
    EXPECT_TRUE(writer_.resetClientSerial(0));
    EXPECT_EQ(writer_.position(), 5u);
    EXPECT_FALSE(logged("MVApiConnection"));

    // A bad one is logged and reported, and changes nothing.
    MVErrorLogger::clearReports();
    EXPECT_FALSE(writer_.resetClientSerial(-1));
    EXPECT_TRUE(logged("MVApiConnection received invalid CSERIAL"));
    auto reports = MVErrorLogger::reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].description, "MVApiConnection received invalid CSERIAL");
    ASSERT_TRUE(reports[0].data);
    EXPECT_EQ(*reports[0].data, -1);
    log_->clear();
    EXPECT_FALSE(writer_.resetClientSerial(9));
    EXPECT_EQ(loggedCount("MVApiConnection"), 1u);
    EXPECT_EQ(writer_.position(), 5u);
    EXPECT_EQ(writer_.nextPosition(), 5u);
}

}  // namespace
