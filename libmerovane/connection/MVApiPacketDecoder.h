#pragma once
// Turns the payload of one downstream server packet into its command collection:
// gunzip when the response said so, then JSON or MessagePack by its content type.
//
//   MVApiPacketDecoder decoder;
//   nlohmann::json packet;  std::string problem;
//   switch (decoder.decode(payload, MVApiContentTypeJSON, false, packet, problem)) {
//       case MVApiPacketDecoder::Result::Packet: dispatch(packet); break;
//       case MVApiPacketDecoder::Result::Incomplete: waitForTheNextChunk(); break;
//       case MVApiPacketDecoder::Result::Rejected: logAndDrop(problem); break;
//       case MVApiPacketDecoder::Result::Nothing: break;  // a CR LF heartbeat
//   }
//
// Only a payload that more bytes could complete is incomplete; one that no
// continuation can mend is rejected, so it never holds up the packets behind it. What
// a payload may inflate to and how deeply it may nest are bounded.
//
// Not thread-safe: one decoder per reader (its zlib stream is reused).

#include <cstddef>
#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>

#include "libmerovane/connection/MVApiGzip.h"
#include "libmerovane/connection/MVApiResponseHead.h"

class MVApiPacketDecoder {
  public:
    // What a gzip payload may inflate to.
    static constexpr size_t kMaxInflatedSize = size_t{16} << 20;

    enum class Result {
        Packet,      // `packet` holds a dictionary
        Nothing,     // consumed without effect (the CR LF heartbeat)
        Incomplete,  // more bytes may complete it
        Rejected,    // `problem` holds the log line; drop the bytes
    };

    Result decode(std::string_view payload, MVApiContentType contentType, bool compressed,
                  nlohmann::json& packet, std::string& problem);

  private:
    MVApiGzipInflater inflater_;
    std::string inflated_;
};
