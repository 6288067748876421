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
// A payload that arrives in pieces goes through decodeArriving, each call with every
// byte so far: only the new bytes are inflated or scanned, and the payload is decoded
// once it can be complete, so a packet costs time linear in its size however it is cut.
// An uncompressed payload is refused at the piece that puts it past mending, however it
// is cut, so that it takes no later piece with it.
//
//   decoder.restart();                                  // a new packet
//   combined += piece;                                  // for each piece
//   if (decoder.decodeArriving(combined, ...) != Result::Incomplete) combined.clear();
//
// Not thread-safe: one decoder per reader (its zlib stream is reused).

#include <cstddef>
#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>

#include "libmerovane/connection/MVApiGzip.h"
#include "libmerovane/connection/MVApiPayloadScanner.h"
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

    // `payload` is every byte of the packet so far, those of the last call first. Any
    // answer but Incomplete ends the packet, and the next call starts a new one. Without
    // `explain`, an uncompressed payload the scanner refuses is not decoded to say why.
    Result decodeArriving(std::string_view payload, MVApiContentType contentType, bool compressed,
                          nlohmann::json& packet, std::string& problem, bool explain = true);
    // Drops a packet part way (the caller dropped its bytes).
    void restart();
    // How often a whole payload was decoded, for tests.
    size_t decodeCount() const { return decodeCount_; }
    // The bytes of those payloads (after any gunzip), for tests.
    size_t decodedBytes() const { return decodedBytes_; }

  private:
    // The payload after any gunzip; `final` when no byte can follow (a whole gzip member,
    // or bytes the scanner found past mending), so that a prefix is refused.
    Result decodePlain(std::string_view payload, MVApiContentType contentType, bool compressed,
                       bool final, nlohmann::json& packet, std::string& problem);
    // An uncompressed payload the scanner found past mending.
    Result refusePastMending(const MVApiPayloadScanner& scanner, std::string_view payload,
                             MVApiContentType contentType, nlohmann::json& packet,
                             std::string& problem, bool explain = true);

    MVApiGzipInflater inflater_;
    std::string inflated_;
    MVApiPayloadScanner scanner_;
    // The packet under way: bytes taken so far, and its size when a decode last found it
    // incomplete although the scanner did not.
    size_t seen_ = 0;
    size_t triedAt_ = 0;
    size_t decodeCount_ = 0;
    size_t decodedBytes_ = 0;
};
