#pragma once
// HTTP/1.1 chunked transfer coding, as the API stream frames its packets both ways:
// the payload size in upper-case hexadecimal, CR LF, the payload, CR LF.
//
//   std::string wire = encodeChunk(payload) + std::string(kLastChunk);
//   ChunkedDecoder decoder;  std::vector<std::string> chunks;
//   decoder.feed(someBytes, chunks);   // any split, down to one byte at a time

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace peer {

std::string encodeChunk(std::string_view payload);
inline constexpr std::string_view kLastChunk = "0\r\n\r\n";

class ChunkedDecoder {
  public:
    ChunkedDecoder();
    // Appends each completed chunk's payload to `chunks`; answers how many bytes were
    // taken: all, unless the body ended (the rest is not the body's) or a framing error
    // stopped the decoder.
    size_t feed(std::string_view bytes, std::vector<std::string>& chunks);

    // The last chunk and its trailer have been read.
    bool finished() const { return state_ == State::Done; }
    bool failed() const { return state_ == State::Failed; }
    const std::string& error() const { return error_; }
    // Payload bytes of the chunk under way.
    size_t partialBytes() const { return current_.size(); }
    // The body's payload may hold at most `bytes`: a chunk size that would take it past
    // them fails at its size line, before any of that chunk is read.
    void limitTotal(uint64_t bytes);
    // No chunk may be longer than `bytes` (at most 256 MiB, the default).
    void limitChunk(uint64_t bytes);
    // Failed on a chunk size too large for the decoder or the body's limit.
    bool tooLarge() const { return tooLarge_; }

  private:
    enum class State { SizeLine, Data, DataCR, DataLF, Trailer, Done, Failed };
    bool takeSizeLine();
    void fail(std::string message, bool tooLarge = false);

    State state_ = State::SizeLine;
    std::string line_;
    uint64_t remaining_ = 0;
    std::string current_;
    uint64_t total_ = 0;  // payload bytes of the chunks so far, the one under way whole
    uint64_t limit_ = UINT64_MAX;
    uint64_t chunkLimit_;
    bool tooLarge_ = false;
    std::string error_;
};

}  // namespace peer
