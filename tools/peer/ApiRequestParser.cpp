#include "tools/peer/ApiRequestParser.h"

#include <charconv>

namespace peer {

size_t ApiRequestParser::feedHead(std::string_view bytes, double time) {
    if (!error_.empty() || head_.complete()) return 0;
    const size_t used = head_.feed(bytes);
    if (head_.failed()) {
        error_ = "request head: " + head_.error();
        return used;
    }
    if (!head_.complete()) return used;
    headTime_ = time;
    const HttpHead& head = head_.head();
    auto encoding = head.field("Transfer-Encoding");
    auto length = head.field("Content-Length");
    if (!encoding && !length && (head.method == "GET" || head.method == "HEAD")) {
        bodyless_ = true;
    } else if (!encoding && length && plainBodies_) {
        size_t size = 0;
        const auto [end, failed] =
            std::from_chars(length->data(), length->data() + length->size(), size);
        if (failed != std::errc() || end != length->data() + length->size() || length->empty() ||
            size > kMaxPlainBodySize) {
            error_ = "request body length \"" + *length + "\" refused";
            bodyTooLarge_ = failed == std::errc::result_out_of_range ||
                            (failed == std::errc() && end == length->data() + length->size() &&
                             size > kMaxPlainBodySize);
            return used;
        }
        plainLength_ = size;
    } else if (!encoding || *encoding != "chunked") {
        error_ = "request body is not chunked";
    }
    return used;
}

void ApiRequestParser::takeBodyAsBytes(size_t limit) {
    bytesLimit_ = limit;
    body_.limitTotal(limit);
    if (!error_.empty()) return;
    if (plainLength_ && *plainLength_ > limit) {
        error_ = "request body length " + std::to_string(*plainLength_) + " past its limit of " +
                 std::to_string(limit);
        bodyTooLarge_ = true;
    } else if (body_.failed()) {
        error_ = "request body: " + body_.error();
    }
}

int ApiRequestParser::errorStatus() const {
    if (error_.empty()) return 0;
    if (head_.tooLong()) return 431;
    return bodyTooLarge_ || body_.tooLarge() ? 413 : 400;
}

void ApiRequestParser::feed(std::string_view bytes, double time) {
    bytes.remove_prefix(feedHead(bytes, time));
    if (!error_.empty() || !head_.complete() || bytes.empty()) return;
    if (bodyless_) {
        error_ = "bytes after a request without a body";
        return;
    }
    if (plainLength_) {
        const size_t room = *plainLength_ - plainBody_.size();
        plainBody_.append(bytes.substr(0, room));
        if (bytes.size() > room) error_ = "bytes after the body";
        return;
    }
    if (body_.finished()) {
        error_ = "bytes after the last chunk";
        return;
    }
    std::vector<std::string> chunks;
    size_t used = body_.feed(bytes, chunks);
    // A body of bytes keeps its chunks; packets are read across them.
    std::vector<std::string> payloads;
    if (bytesLimit_) {
        payloads = std::move(chunks);
    } else {
        for (const auto& chunk : chunks) stream_.feed(chunk, payloads);
    }
    for (auto& payload : payloads) {
        ReceivedPacket packet;
        packet.time = time;
        if (!bytesLimit_) packet.decoded = decodePacket(payload);
        packet.payload = std::move(payload);
        packets_.push_back(std::move(packet));
    }
    if (body_.failed()) {
        error_ = "request body: " + body_.error();
    } else if (used < bytes.size()) {
        error_ = "bytes after the last chunk";
    }
}

}  // namespace peer
