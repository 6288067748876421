#pragma once
// gzip for API packets. Each direction keeps one zlib stream and resets it between
// packets, so a busy connection does not set up a compressor per packet.
//
//   MVApiGzipDeflater deflater;              // the packet builder's
//   std::string wire = deflater.compress(payload);
//   MVApiGzipInflater inflater;              // the downstream reader's
//   std::string packet;
//   switch (inflater.inflate(wire, packet, kMaxInflatedSize)) { ... }
//
// The inflater tells a payload that is only the start of a gzip member (more chunks
// may follow) from one that no continuation can mend, and stops at a size bound so a
// small payload cannot make us hold gigabytes. A member that arrives in pieces is
// inflated piece by piece (begin, then feed), so no byte is inflated twice.
//
// Not thread-safe: each object belongs to one thread or serial queue at a time.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

// True when `data` starts with the gzip signature 1f 8b.
bool hasGzipSignature(std::string_view data);

class MVApiGzipDeflater {
  public:
    MVApiGzipDeflater();
    ~MVApiGzipDeflater();
    MVApiGzipDeflater(const MVApiGzipDeflater&) = delete;
    MVApiGzipDeflater& operator=(const MVApiGzipDeflater&) = delete;

    // One whole gzip member holding `data`; empty only when zlib fails.
    std::string compress(std::string_view data);

  private:
    struct Stream;
    std::unique_ptr<Stream> stream_;
};

enum class MVApiInflateStatus {
    Ok,
    Incomplete,  // a prefix of a gzip member: more bytes may complete it
    Malformed,   // not gzip, corrupt, or bytes after the member
    TooLarge,    // inflates past the bound
};

class MVApiGzipInflater {
  public:
    MVApiGzipInflater();
    ~MVApiGzipInflater();
    MVApiGzipInflater(const MVApiGzipInflater&) = delete;
    MVApiGzipInflater& operator=(const MVApiGzipInflater&) = delete;

    // Inflates one whole gzip member into `out` (replaced), at most `maxSize` bytes.
    MVApiInflateStatus inflate(std::string_view data, std::string& out, size_t maxSize);

    // A member in pieces: begin() empties `out`, then each feed() inflates the next piece
    // into it. Incomplete until the member ends; `out` holds the member's bytes only once
    // Ok. A piece after the end is Malformed, unless `used` is given: then the member
    // ends where it ends, and `used` tells how many bytes of the piece were its (on any
    // answer; with Malformed, how far it was read).
    void begin(std::string& out);
    MVApiInflateStatus feed(std::string_view piece, std::string& out, size_t maxSize,
                            size_t* used = nullptr);

  private:
    struct Stream;
    std::unique_ptr<Stream> stream_;
};
