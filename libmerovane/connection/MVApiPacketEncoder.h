#pragma once
// Frames upstream packets for the wire: the payload (MessagePack or compact JSON),
// gzipped when the server accepts it, as one HTTP chunk ("%X\r\n", payload, "\r\n").
// The payload is written into one buffer kept from packet to packet, with room for the
// size line in front, so a packet costs no allocation once the buffer has grown.
//
//   MVApiPacketEncoder encoder;                          // one per packet builder
//   std::string& payload = encoder.startPayload();
//   MVMessagePack::encode(packet, payload);
//   std::string error;
//   std::string_view chunk = encoder.finishChunk(/*gzip=*/false, error);
//   write(MVApiPacketEncoder::keepAliveChunk({.gzip = true}));
//
// startPayload / finishChunk are not thread-safe (buffer and zlib stream are reused);
// the static functions are.

#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>

#include "libmerovane/connection/MVApiGzip.h"

struct MVApiUpstreamEncoding {
    bool messagePack = false;
    bool gzip = false;
};

class MVApiPacketEncoder {
  public:
    // The last chunk that ends a legacy request's body.
    static constexpr std::string_view kLastChunk = "0\r\n\r\n";

    // The reused buffer, emptied but for the room kept for the size line; append the
    // payload to it.
    std::string& startPayload();
    // The payload appended since startPayload(), gzipped when asked, as one chunk; valid
    // until the next startPayload(). Empty, with `error` set, when it could not be encoded.
    std::string_view finishChunk(bool gzip, std::string& error);

    // "%X\r\n" + payload + "\r\n".
    static std::string chunk(std::string_view payload);
    // The keep-alive packet (an empty map) as a chunk; made once per encoding.
    static const std::string& keepAliveChunk(MVApiUpstreamEncoding encoding);

  private:
    // Room for the size line in front of the payload: 16 hex digits and CR LF.
    static constexpr size_t kSizeLineRoom = 18;

    std::string buffer_;
    MVApiGzipDeflater deflater_;
};
