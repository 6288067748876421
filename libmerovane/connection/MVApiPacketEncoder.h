#pragma once
// Encodes upstream packets for the wire: MessagePack or compact JSON, gzip when the
// server accepts it, framed as one HTTP chunk ("%X\r\n", payload, "\r\n").
//
//   MVApiPacketEncoder encoder;                          // one per build queue
//   std::string error;
//   std::string chunk = encoder.encodeChunk(packet, {.messagePack = true}, error);
//   write(MVApiPacketEncoder::keepAliveChunk({.gzip = true}));
//
// encodeChunk is not thread-safe (its zlib stream is reused); the static functions are.

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

    // The packet's chunk; empty, with `error` set, when it could not be encoded.
    std::string encodeChunk(const nlohmann::json& packet, MVApiUpstreamEncoding encoding,
                            std::string& error);

    // "%X\r\n" + payload + "\r\n".
    static std::string chunk(std::string_view payload);
    // The keep-alive packet (an empty map) as a chunk; made once per encoding.
    static const std::string& keepAliveChunk(MVApiUpstreamEncoding encoding);

  private:
    MVApiGzipDeflater deflater_;
};
