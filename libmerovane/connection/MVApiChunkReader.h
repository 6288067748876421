#pragma once
// The downstream half of the API stream after the response head: cuts the bytes read
// from the input stream into HTTP chunks, joins the payloads of a packet that spans
// several chunks, and hands each decoded packet on.
//
//   MVApiChunkReader reader;
//   reader.start(MVApiChunkStateHeader, MVApiContentTypeJSON, false);   // head accepted
//   auto outcome = reader.append(bytesJustRead, [&](nlohmann::json& packet) { ... });
//   if (outcome == MVApiChunkReader::Outcome::FramingError) closeAndReconnectIn5s();
//
// The size line must end within its first 64 bytes; 257 bytes without one, a size line
// that is no hexadecimal number, a size past kMaxChunkSize or chunk data not followed
// by CR LF is a framing error: the reader logs it and drops everything, and the
// connection must close. A payload that is only part of a packet waits for the next
// chunk; one that cannot be decoded is logged, reported and dropped, and the packets
// after it are read. Payloads are bounded by kMaxPacketSize. A packet is decoded once,
// when its bytes so far can be a whole one, so reading costs time linear in what was
// received however the server cuts it (the same for an unchunked body).
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
    static constexpr size_t kMaxPacketSize = size_t{16} << 20;

    enum class Outcome { Ok, FramingError };
    // May take the packet's contents.
    using PacketHandler = std::function<void(nlohmann::json& packet)>;

    // A new response: empty buffers, chunked or not, and how payloads are encoded.
    void start(MVApiChunkState state, MVApiContentType contentType, bool compressed);
    // Drops the buffers (the connection closed).
    void reset();

    // Takes bytes read from the stream and runs every packet they complete through
    // `onPacket`, in order.
    Outcome append(std::string_view bytes, const PacketHandler& onPacket);

    MVApiChunkState chunkState() const { return state_; }
    uint64_t chunkSize() const { return chunkSize_; }
    // Bytes read and not yet cut into chunks / payload bytes of a packet not yet decoded.
    size_t bufferedBytes() const { return data_.size() - offset_; }
    size_t combinedBytes() const { return combined_.size(); }
    // How often a whole payload was decoded, for tests.
    size_t decodeCount() const { return decoder_.decodeCount(); }

  private:
    enum class Step { Continue, Wait, Failed };
    Step parseStreamChunkHeader();
    Step parseStreamChunkData(const PacketHandler& onPacket);
    // An unchunked response: all bytes so far are one payload.
    void parseStreamData(const PacketHandler& onPacket);
    // Decodes `payload` (which may be combined_ itself); answers whether it was used up.
    bool parseDataForJSON(std::string_view payload, const PacketHandler& onPacket);
    Outcome fail(std::string line);
    void dropOversizedPacket();
    std::string_view unread() const { return std::string_view(data_).substr(offset_); }
    void consume(size_t count);

    MVApiChunkState state_ = MVApiChunkStateHeader;
    uint64_t chunkSize_ = 0;
    MVApiContentType contentType_ = MVApiContentTypeJSON;
    bool compressed_ = false;
    std::string data_;  // dataFromServer, read from offset_ on
    size_t offset_ = 0;
    std::string combined_;  // dataFromServerCombined
    MVApiPacketDecoder decoder_;
};
