#include "tools/peer/ChunkedCoding.h"

#include <fmt/core.h>

#include <algorithm>

namespace peer {
namespace {
constexpr size_t kMaxLine = 4096;
constexpr uint64_t kMaxChunk = 256u << 20;

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

std::string encodeChunk(std::string_view payload) {
    return fmt::format("{:X}\r\n", payload.size()) + std::string(payload) + "\r\n";
}

void ChunkedDecoder::fail(std::string message, bool tooLarge) {
    state_ = State::Failed;
    error_ = std::move(message);
    tooLarge_ = tooLarge;
    std::string().swap(current_);
}

ChunkedDecoder::ChunkedDecoder() : chunkLimit_(kMaxChunk) {}

void ChunkedDecoder::limitChunk(uint64_t bytes) {
    chunkLimit_ = std::min(bytes, kMaxChunk);
}

void ChunkedDecoder::limitTotal(uint64_t bytes) {
    limit_ = bytes;
    if (total_ > limit_ && state_ != State::Failed)
        fail(fmt::format("body past its limit of {} bytes", limit_), true);
}

bool ChunkedDecoder::takeSizeLine() {
    uint64_t size = 0;
    size_t i = 0;
    for (; i < line_.size() && hexValue(line_[i]) >= 0; ++i) {
        size = size * 16 + static_cast<uint64_t>(hexValue(line_[i]));
        if (size > chunkLimit_) {
            fail("chunk size too large: " + line_.substr(0, 40), true);
            return false;
        }
    }
    if (i == 0) {
        fail("chunk size is not hexadecimal: '" + line_ + "'");
        return false;
    }
    // Blanks and chunk extensions may follow the size.
    for (size_t j = i; j < line_.size() && line_[j] != ';'; ++j) {
        if (line_[j] != ' ' && line_[j] != '\t') {
            fail("unexpected text after chunk size: '" + line_ + "'");
            return false;
        }
    }
    if (size > limit_ - total_) {
        fail(fmt::format("a chunk of {} bytes takes the body past its limit of {} bytes", size,
                         limit_),
             true);
        return false;
    }
    total_ += size;
    remaining_ = size;
    state_ = size == 0 ? State::Trailer : State::Data;
    return true;
}

size_t ChunkedDecoder::feed(std::string_view bytes, std::vector<std::string>& chunks) {
    size_t used = 0;
    while (used < bytes.size()) {
        switch (state_) {
            case State::Done:
            case State::Failed:
                return used;
            case State::SizeLine:
            case State::Trailer: {
                const char c = bytes[used++];
                if (c != '\n') {
                    line_.push_back(c);
                    if (line_.size() > kMaxLine) fail("chunk line too long");
                    break;
                }
                if (line_.empty() || line_.back() != '\r') {
                    fail("chunk line not ended by CR LF");
                    break;
                }
                line_.pop_back();
                if (state_ == State::Trailer) {
                    if (line_.empty()) state_ = State::Done;  // else a trailer field, skipped
                    line_.clear();
                    break;
                }
                takeSizeLine();
                line_.clear();
                break;
            }
            case State::Data: {
                const size_t n =
                    static_cast<size_t>(std::min<uint64_t>(remaining_, bytes.size() - used));
                current_.append(bytes.substr(used, n));
                used += n;
                remaining_ -= n;
                if (remaining_ == 0) state_ = State::DataCR;
                break;
            }
            case State::DataCR:
                if (bytes[used++] != '\r') {
                    fail("chunk data not followed by CR LF");
                    break;
                }
                state_ = State::DataLF;
                break;
            case State::DataLF:
                if (bytes[used++] != '\n') {
                    fail("chunk data not followed by CR LF");
                    break;
                }
                chunks.push_back(std::move(current_));
                current_.clear();
                state_ = State::SizeLine;
                break;
        }
    }
    return used;
}

}  // namespace peer
