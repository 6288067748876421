#pragma once
// Reading the response heads of the API stream: whether the bytes read so far form a
// whole head, the parsed head, and what a 200 answer of the API server settles for the
// connection (persistence, chunking and the encodings in both directions).
//
//   std::string buffer;   // bytes read so far
//   auto check = checkResponseHead(buffer, apiUrl);
//   if (check.status == MVApiResponseHeadCheck::Parsed) use(*check.response);
//   auto terms = termsOfApiResponse(*check.response, msgpackDisabled, gzipDisabled);
//
// Thread-safe (no state).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/HTTPURLResponse.h"

// How the downstream payloads are encoded.
enum MVApiContentType : uint64_t {
    MVApiContentTypeJSON = 1,
    MVApiContentTypeMessagePack = 2,
};

// Where the downstream reader stands in the chunked coding.
enum MVApiChunkState : uint64_t {
    MVApiChunkStateUnchunked = 0,
    MVApiChunkStateHeader = 1,
    MVApiChunkStateData = 2,
};

struct MVApiResponseHeadCheck {
    enum Status { Incomplete, Parsed, Unparsable };
    Status status = Incomplete;
    std::optional<platform::HTTPURLResponse> response;  // when parsed
    std::string text;                                   // the head's text once it ended
};

// A head that has not ended after this many bytes never will: the server is not one.
inline constexpr size_t kMaximumResponseHeadLength = 64 * 1024;

// Answers Incomplete until `buffer` ends with an empty line ("\r\n\r\n"); then empties
// the buffer and parses its text. A head that is not UTF-8 text, or that grows past
// kMaximumResponseHeadLength without ending, is unparsable (and the buffer is emptied).
MVApiResponseHeadCheck checkResponseHead(std::string& buffer, const platform::URL& url);

// What a 200 answer of the API server settles.
struct MVApiResponseTerms {
    // "X-Merovane-Api" names the handshake value, in any letter case.
    bool supportsPersistentConnection = false;
    MVApiChunkState chunkState = MVApiChunkStateUnchunked;
    bool isCompressed = false;
    bool serverWillAcceptMsgPack = false;
    bool serverWillAcceptGZip = false;
    MVApiContentType contentType = MVApiContentTypeJSON;
    // "X-Merovane-Api-CSerial": the highest upstream serial up to which the server holds
    // every packet.
    std::optional<int64_t> clientSerial;
};

MVApiResponseTerms termsOfApiResponse(const platform::HTTPURLResponse& response,
                                      bool msgpackDisabled, bool gzipDisabled);

// The value of the "X-Merovane-Api" handshake header.
inline constexpr const char* kMVApiHandshakeValue = "Velkram";
