#include "libmerovane/connection/MVApiChunkReader.h"

#include <fmt/core.h>

#include <algorithm>
#include <climits>
#include <nlohmann/json.hpp>
#include <optional>

#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVLog.h"

namespace {

constexpr const char* kInvalidChunkSize =
    "MVApiConnection closed. Invalid chunk size. Reconnecting in 5 seconds...";
constexpr const char* kInvalidChunkSizeFormat =
    "MVApiConnection closed. Invalid chunk size format. Reconnecting in 5 seconds...";
constexpr const char* kChunkNotTerminated =
    "MVApiConnection closed. Chunk not terminted correctly. Reconnecting in 5 seconds...";
constexpr const char* kChunkTooLarge =
    "MVApiConnection closed. Chunk size {} exceeds {} bytes. Reconnecting in 5 seconds...";
constexpr const char* kLostPlace =
    "MVApiConnection closed. A MessagePack packet cannot be read past. Reconnecting in 5 "
    "seconds...";

constexpr std::string_view kCRLF = "\r\n";

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A hexadecimal number at the start of `line`: leading blanks and a "0x" are allowed,
// it ends at the first other character (a chunk extension is ignored). Values past 32
// bits saturate at kPast32Bits. None when no digit comes.
constexpr uint64_t kPast32Bits = uint64_t{UINT32_MAX} + 1;

std::optional<uint64_t> scanHex(std::string_view line) {
    size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i + 2 < line.size() && line[i] == '0' && (line[i + 1] == 'x' || line[i + 1] == 'X') &&
        hexDigit(line[i + 2]) >= 0)
        i += 2;
    uint64_t value = 0;
    bool any = false;
    for (; i < line.size(); ++i) {
        const int d = hexDigit(line[i]);
        if (d < 0) break;
        any = true;
        value = std::min<uint64_t>(value * 16 + d, kPast32Bits);
    }
    if (!any) return std::nullopt;
    return value;
}

}  // namespace

MVApiChunkReader::MVApiChunkReader() = default;
MVApiChunkReader::~MVApiChunkReader() = default;

void MVApiChunkReader::start(MVApiChunkState state, MVApiContentType contentType, bool compressed) {
    reset();
    state_ = state;
    decoder_.start(contentType, compressed);
}

void MVApiChunkReader::reset() {
    data_.clear();
    offset_ = 0;
    chunkSize_ = 0;
    ended_ = false;
    decoder_.reset();
}

void MVApiChunkReader::consume(size_t count) {
    offset_ += count;
    if (offset_ == data_.size()) {
        data_.clear();
        offset_ = 0;
    } else if (offset_ > 4096 && offset_ * 2 > data_.size()) {
        data_.erase(0, offset_);
        offset_ = 0;
    }
}

MVApiChunkReader::Outcome MVApiChunkReader::fail(std::string line) {
    MVLogError("{}", line);
    reset();
    state_ = MVApiChunkStateHeader;
    return Outcome::FramingError;
}

MVApiChunkReader::Outcome MVApiChunkReader::append(std::string_view bytes,
                                                   const PacketHandler& onPacket) {
    // After the last chunk only a trailer may come, and nothing of it is read.
    if (ended_) return Outcome::Ok;
    if (state_ == MVApiChunkStateUnchunked) {
        decoder_.feed(bytes, onPacket);
    } else {
        data_.append(bytes);
        for (;;) {
            const Step step = state_ == MVApiChunkStateData ? parseStreamChunkData(onPacket)
                                                            : parseStreamChunkHeader();
            if (step == Step::Failed) return Outcome::FramingError;
            if (step == Step::Wait || decoder_.lostPlace()) break;
        }
    }
    if (decoder_.lostPlace()) return fail(kLostPlace);
    return Outcome::Ok;
}

MVApiChunkReader::Step MVApiChunkReader::parseStreamChunkHeader() {
    const std::string_view line = unread();
    if (line.size() < 4) return Step::Wait;
    const size_t end = line.substr(0, kSizeLineWindow).find(kCRLF);
    if (end == std::string_view::npos) {
        if (line.size() >= kSizeLineLimit) {
            fail(kInvalidChunkSize);
            return Step::Failed;
        }
        return Step::Wait;
    }
    const auto size = scanHex(line.substr(0, end));
    if (!size) {
        fail(kInvalidChunkSizeFormat);
        return Step::Failed;
    }
    if (*size > kMaxChunkSize) {
        const std::string sent =
            *size == kPast32Bits ? fmt::format("more than {}", UINT32_MAX) : std::to_string(*size);
        const std::string text = fmt::format(kChunkTooLarge, sent, kMaxChunkSize);
        MVErrorLogger::logError(text);
        fail(text);
        return Step::Failed;
    }
    if (*size == 0) {
        // The last chunk: the body ends here, and its trailer is not read.
        decoder_.finish();
        ended_ = true;
        data_.clear();
        offset_ = 0;
        return Step::Wait;
    }
    chunkSize_ = *size;
    state_ = MVApiChunkStateData;
    consume(end + kCRLF.size());
    return Step::Continue;
}

MVApiChunkReader::Step MVApiChunkReader::parseStreamChunkData(const PacketHandler& onPacket) {
    const std::string_view chunk = unread();
    if (chunk.size() < chunkSize_ + kCRLF.size()) return Step::Wait;
    if (chunk.substr(chunkSize_, kCRLF.size()) != kCRLF) {
        fail(kChunkNotTerminated);
        return Step::Failed;
    }
    decoder_.feed(chunk.substr(0, chunkSize_), onPacket);
    consume(chunkSize_ + kCRLF.size());
    state_ = MVApiChunkStateHeader;
    chunkSize_ = 0;
    return Step::Continue;
}
