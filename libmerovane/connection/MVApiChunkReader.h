#pragma once
// The downstream half of the API stream after the response head: takes the HTTP chunked
// coding off the bytes read from the input stream and reads what the chunks carry as one
// stream of packets (MVApiPacketDecoder), whatever the chunk boundaries: an intermediary
// may cut and join chunks as it likes.
//
//   MVApiChunkReader reader;
//   reader.start(MVApiChunkStateHeader, MVApiContentTypeJSON, false);   // head accepted
//   auto outcome = reader.append(bytesJustRead, [&](nlohmann::json& packet) { ... });
//   if (outcome == MVApiChunkReader::Outcome::FramingError) closeAndReconnectIn5s();
//
// The size line must end within its first 64 bytes; 257 bytes without one, a size line
// that is no hexadecimal number, a size past kMaxChunkSize or chunk data not followed
// by CR LF is a framing error: the reader logs it and drops everything, and the
// connection must close; so is a MessagePack packet the decoder cannot read past. The last chunk
// ends the body: a packet it leaves unfinished is dropped, and what follows (a trailer) is not
// read. An unchunked body is the same stream of packets. Reading costs time linear in what was
// received.
//
// Not thread-safe: it belongs to the downstream thread.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>

#include "libmerovane/connection/MVApiPacketDecoder.h"

class MVApiChunkReader {
  public:
    static constexpr size_t kSizeLineWindow = 64;
    static constexpr size_t kSizeLineLimit = 257;
    static constexpr uint64_t kMaxChunkSize = uint64_t{16} << 20;
    static constexpr size_t kMaxPacketSize = MVApiPacketDecoder::kMaxPacketSize;

    enum class Outcome { Ok, FramingError };
    using PacketHandler = MVApiPacketDecoder::PacketHandler;

    MVApiChunkReader();
    ~MVApiChunkReader();
    MVApiChunkReader(const MVApiChunkReader&) = delete;
    MVApiChunkReader& operator=(const MVApiChunkReader&) = delete;

    // A new response: empty buffers, chunked or not, and how packets are encoded.
    void start(MVApiChunkState state, MVApiContentType contentType, bool compressed);
    // Drops the buffers (the connection closed).
    void reset();

    // Takes bytes read from the stream and runs every packet they complete through
    // `onPacket`, in order.
    Outcome append(std::string_view bytes, const PacketHandler& onPacket);

    MVApiChunkState chunkState() const { return state_; }
    // Part of a chunk (its size line or its data) has come and the rest has not.
    bool isInsideChunk() const {
        return !ended_ && (state_ == MVApiChunkStateData ||
                           (state_ == MVApiChunkStateHeader && bufferedBytes() > 0));
    }
    // Part of a packet has come and the rest has not.
    bool isInsidePacket() const { return decoder_.isInsidePacket(); }
    // The last chunk has come.
    bool bodyEnded() const { return ended_; }
    uint64_t chunkSize() const { return chunkSize_; }
    // Bytes read and not yet cut into chunks / bytes of a packet not yet decoded.
    size_t bufferedBytes() const { return data_.size() - offset_; }
    size_t combinedBytes() const { return decoder_.bufferedBytes(); }
    // How often a whole packet was decoded, and how many bytes that took, for tests.
    size_t decodeCount() const { return decoder_.decodeCount(); }
    size_t decodedBytes() const { return decoder_.decodedBytes(); }

  private:
    enum class Step { Continue, Wait, Failed };
    Step parseStreamChunkHeader();
    Step parseStreamChunkData(const PacketHandler& onPacket);
    Outcome fail(std::string line);
    std::string_view unread() const { return std::string_view(data_).substr(offset_); }
    void consume(size_t count);

    MVApiChunkState state_ = MVApiChunkStateHeader;
    uint64_t chunkSize_ = 0;
    bool ended_ = false;
    std::string data_;  // dataFromServer, read from offset_ on
    size_t offset_ = 0;
    MVApiPacketDecoder decoder_;  // what the chunks carry
};
