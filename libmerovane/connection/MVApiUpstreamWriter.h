#pragma once
// The upstream packets not yet known to have reached the server, and the chunk being
// written. Packets stay in the list after they are written so that the server's
// client serial can ask for them again; the list holds at most 70 after an insertion.
//
//   position: the first packet not yet confirmed; next: the next packet to hand out.
//   position != next: a handed-out packet waits for confirmation, nothing else goes.
//
//   writer.append(packet);                                       // upstream thread
//   auto bytes = writer.bytesToWrite(persistent, headArrived);   // at space available
//   if (writer.didWrite(stream.write(bytes...))) ...              // chunk complete
//
// On a legacy connection a packet goes out with the last chunk "0\r\n\r\n" after it (one
// packet per request) and waits for the end of the response; a persistent one writes
// nothing before its response head, whose client serial says where to go on, and then
// a packet counts as delivered when handed out. So the server gets the packets in
// serial order, and a packet again only where its client serial says it is missing.
//
// Not thread-safe: the connection guards it with its lock.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "libmerovane/connection/MVApiConnectionPacket.h"

class MVApiUpstreamWriter {
  public:
    // A list reaching this many drops its kTrimCount oldest packets, sent or not.
    static constexpr size_t kTrimThreshold = 71;
    static constexpr size_t kTrimCount = 20;

    void append(MVApiConnectionPacket packet);
    // The bytes of a packet dropped from the list, whose memory the next packet's bytes
    // may take; empty when there is none.
    std::string takeSpareBuffer();

    // The unwritten bytes of the chunk in progress, taking the next packet first when
    // no chunk is in progress and one may go; empty when there is nothing to write.
    std::string_view bytesToWrite(bool persistent, bool responseHeadArrived);
    // `accepted` bytes of bytesToWrite() went out (none when 0 or less); true when this
    // completed the chunk.
    bool didWrite(long accepted);
    bool isWritingChunk() const { return chunk_ != nullptr; }
    // The connection closed: the chunk in progress goes with it; the positions say
    // whether its packet is written again.
    void dropChunkInProgress();

    // The handed-out packet arrived: position := next.
    void confirmHandedOut() { position_ = next_; }
    // The handed-out packet did not arrive: next := position.
    void resendHandedOut() { next_ = position_; }
    // The server holds every packet up to `serial` ("x-merovane-api-cserial"): the
    // packets after it are written again, oldest first. That is the contract of the
    // client serial: the highest serial up to which the server holds every packet, not
    // the highest it holds. Packets can reach a server out of order (one handed out
    // before the head confirming the one before it arrived), and a server that named a
    // later serial across a gap would never get the packets in the gap. 0 changes nothing; a serial
    // below 0 or not in the list is logged (and the former reported) and changes nothing.
    // Answers whether the serial was taken.
    bool resetClientSerial(int64_t serial);

    // Some packet is not yet confirmed.
    bool hasUnconfirmedPackets() const { return position_ < packets_.size(); }
    size_t position() const { return position_; }
    size_t nextPosition() const { return next_; }
    size_t count() const { return packets_.size(); }
    std::vector<int64_t> serials() const;
    // A packet of `serial` or later has been wholly written (confirmed or not).
    bool hasWritten(int64_t serial) const;

  private:
    // Shared, so that a chunk in progress outlives a trim of the list.
    std::deque<std::shared_ptr<const MVApiConnectionPacket>> packets_;
    size_t position_ = 0;
    size_t next_ = 0;
    // The bytes of dropped packets nothing else holds, at most kTrimCount.
    std::vector<std::string> spares_;
    std::shared_ptr<const std::string> chunk_;  // dataToServer
    size_t written_ = 0;                        // dataToServerPosition
};
