#include "libmerovane/connection/MVApiPacketDecoder.h"

#include <fmt/core.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "libmerovane/connection/MVMessagePack.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/StringExtensions.h"
#include "platform/foundation/JsonValue.h"

namespace {

constexpr std::string_view kHeartbeat = "\r\n";
// Packet buffers up to this size are kept for the next packet.
constexpr size_t kKeptCapacity = size_t{1} << 20;

constexpr const char* kMessagePackNotDictionary =
    "MVApiConnection MessagePack payload is not a dictionary";
constexpr const char* kJSONNotDictionary = "MVApiConnection JSON payload is not a dictionary";
constexpr const char* kJSONMalformed = "MVApiConnection could not parse JSON payload: {}";
constexpr const char* kGzipMalformed = "MVApiConnection could not decompress gzip payload";
constexpr const char* kGzipTooLarge = "MVApiConnection gzip payload inflates to more than {} bytes";
constexpr const char* kPacketTooLarge = "MVApiConnection dropped a packet of more than {} bytes";
constexpr const char* kPacketCut =
    "MVApiConnection dropped an incomplete packet of {} bytes: a whole packet followed it";
constexpr const char* kPacketCutByEnd =
    "MVApiConnection dropped an incomplete packet of {} bytes: the body ended";

bool isJSONBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isLineEnd(char c) {
    return c == '\r' || c == '\n';
}

// Whether every string of a decoded MessagePack value, keys too, is UTF-8. A map read
// from the middle of other packets' bytes seldom is.
bool isText(const nlohmann::json& value) {
    if (value.is_string()) return isValidUtf8(value.get_ref<const std::string&>());
    if (value.is_object()) {
        for (const auto& [key, item] : value.items())
            if (!isValidUtf8(key) || !isText(item)) return false;
        return true;
    }
    if (value.is_array()) {
        for (const auto& item : value)
            if (!isText(item)) return false;
    }
    return true;
}

void dropMemory(std::string& buffer) {
    if (buffer.capacity() > kKeptCapacity) {
        std::string().swap(buffer);
    } else {
        buffer.clear();
    }
}

}  // namespace

MVApiPacketDecoder::Result MVApiPacketDecoder::decode(std::string_view payload,
                                                      MVApiContentType contentType, bool compressed,
                                                      nlohmann::json& packet,
                                                      std::string& problem) {
    if (payload.empty()) return Result::Incomplete;
    // A heartbeat is never compressed; checked first so it cannot pass for a gzip prefix.
    if (payload == kHeartbeat) return Result::Nothing;
    contentType_ = contentType;
    if (!compressed) return decodeValue(payload, false, packet, problem);
    std::string inflated;
    switch (inflater_.inflate(payload, inflated, kMaxInflatedSize)) {
        case MVApiInflateStatus::Ok:
            return decodeValue(inflated, true, packet, problem);
        case MVApiInflateStatus::Incomplete:
            return Result::Incomplete;
        case MVApiInflateStatus::Malformed:
            problem = kGzipMalformed;
            return Result::Rejected;
        case MVApiInflateStatus::TooLarge:
            problem = fmt::format(kGzipTooLarge, kMaxInflatedSize);
            return Result::Rejected;
    }
    return Result::Rejected;
}

MVApiPacketDecoder::Result MVApiPacketDecoder::decodeValue(std::string_view bytes, bool final,
                                                           nlohmann::json& packet,
                                                           std::string& problem) {
    ++decodeCount_;
    decodedBytes_ += bytes.size();
    // A member that holds a heartbeat.
    if (final && bytes == kHeartbeat) return Result::Nothing;
    if (contentType_ == MVApiContentTypeMessagePack) {
        std::string error;
        switch (MVMessagePack::decode(bytes, packet, error)) {
            case MVMessagePack::Status::Incomplete:
                if (!final) return Result::Incomplete;
                break;
            case MVMessagePack::Status::Ok:
                if (packet.is_object() && isText(packet)) return Result::Packet;
                // Text that is no UTF-8 in a plain stream: its place is likely lost.
                if (packet.is_object() && !compressed_ && mode_ == Mode::Value) lostPlace_ = true;
                break;
            case MVMessagePack::Status::Malformed:
                break;
        }
        problem = kMessagePackNotDictionary;
        return Result::Rejected;
    }
    auto parsed = platform::json::parse(bytes);
    switch (parsed.status) {
        case platform::json::ParseStatus::Incomplete:
            if (!final) return Result::Incomplete;
            [[fallthrough]];
        case platform::json::ParseStatus::Malformed:
            problem = fmt::format(kJSONMalformed, parsed.error);
            return Result::Rejected;
        case platform::json::ParseStatus::Ok:
            break;
    }
    if (!parsed.value.is_object()) {
        problem = kJSONNotDictionary;
        return Result::Rejected;
    }
    packet = std::move(parsed.value);
    return Result::Packet;
}

void MVApiPacketDecoder::start(MVApiContentType contentType, bool compressed) {
    reset();
    contentType_ = contentType;
    compressed_ = compressed;
}

void MVApiPacketDecoder::reset() {
    mode_ = Mode::Between;
    dropMemory(packet_);
    dropMemory(inflated_);
    packetSize_ = 0;
    oversized_ = false;
    memberBytes_ = 0;
    afterClose_ = false;
    dropMemory(memberRaw_);
    replay_.clear();
    lostPlace_ = false;
}

bool MVApiPacketDecoder::isInsidePacket() const {
    return mode_ == Mode::Value || mode_ == Mode::Member;
}

void MVApiPacketDecoder::finish() {
    const size_t size = mode_ == Mode::Member ? memberBytes_ : packetSize_;
    if (isInsidePacket() && size > 0) report(fmt::format(kPacketCutByEnd, size));
    reset();
}

void MVApiPacketDecoder::report(const std::string& problem) {
    MVLogError("{}", problem);
    MVErrorLogger::logError(problem);
}

void MVApiPacketDecoder::endPacket(Mode next) {
    mode_ = next;
    dropMemory(packet_);
    packetSize_ = 0;
    oversized_ = false;
    memberBytes_ = 0;
    afterClose_ = false;
    dropMemory(memberRaw_);
}

void MVApiPacketDecoder::feed(std::string_view bytes, const PacketHandler& onPacket) {
    feedBytes(bytes, onPacket);
}

void MVApiPacketDecoder::feedBytes(std::string_view bytes, const PacketHandler& onPacket) {
    while (!bytes.empty() && !lostPlace_) {
        size_t used = 0;
        switch (mode_) {
            case Mode::Between:
                used = between(bytes);
                break;
            case Mode::Value:
                used = value(bytes, onPacket);
                break;
            case Mode::Member:
                used = member(bytes, onPacket);
                break;
            default:
                used = skip(bytes);
                break;
        }
        bytes.remove_prefix(used);
        if (!replay_.empty()) {
            // Bytes of a failed member read again; members begun there are not searched
            // again, so each byte is read at most twice.
            const std::string again = std::move(replay_);
            replay_.clear();
            const bool was = replaying_;
            replaying_ = true;
            feedBytes(again, onPacket);
            replaying_ = was;
        }
    }
}

size_t MVApiPacketDecoder::between(std::string_view bytes) {
    size_t i = 0;
    const bool json = !compressed_ && contentType_ == MVApiContentTypeJSON;
    while (i < bytes.size() && (json ? isJSONBlank(bytes[i]) : isLineEnd(bytes[i]))) ++i;
    if (i == bytes.size()) return i;
    if (!compressed_) {
        scanner_.start(contentType_);
        mode_ = Mode::Value;
        return i;
    }
    if (bytes[i] == '\x1f') {
        inflater_.begin(inflated_);
        mode_ = Mode::Member;
        dropMemory(memberRaw_);
        memberRawKept_ = true;
        memberFromReplay_ = replaying_;
        return i;
    }
    report(kGzipMalformed);
    mode_ = Mode::SkipToMember;
    return i + 1;
}

size_t MVApiPacketDecoder::value(std::string_view bytes, const PacketHandler& onPacket) {
    const auto step = scanner_.feed(bytes);
    const size_t taken =
        step.verdict == MVApiPayloadScanner::Verdict::Error ? step.used + 1 : step.used;
    const std::string_view mine = bytes.substr(0, std::min(taken, bytes.size()));
    packetSize_ += mine.size();
    if (!oversized_) {
        if (packet_.size() + mine.size() > kMaxPacketSize) {
            // Followed to its end without being kept.
            oversized_ = true;
            dropMemory(packet_);
            report(fmt::format(kPacketTooLarge, kMaxPacketSize));
        } else {
            packet_.append(mine);
        }
    }
    switch (step.verdict) {
        case MVApiPayloadScanner::Verdict::Incomplete:
            return step.used;
        case MVApiPayloadScanner::Verdict::Complete:
            if (!oversized_) deliver(packet_, false, onPacket);
            endPacket(Mode::Between);
            return step.used;
        case MVApiPayloadScanner::Verdict::Error:
            break;
    }
    const char bad = bytes[step.used];
    const bool json = contentType_ == MVApiContentTypeJSON;
    if (!json) {
        // MessagePack has no mark to find its feet by: what follows cannot be trusted,
        // and the connection must be opened again (the server sends again what was not
        // performed).
        report(kMessagePackNotDictionary);
        endPacket(Mode::Between);
        lostPlace_ = true;
        return bytes.size();
    }
    if (bad == '{' && packetSize_ > 1) {
        // No value may stand here: the packet was cut short, and a new one begins.
        report(fmt::format(kPacketCut, packetSize_ - 1));
        endPacket(Mode::Between);
        return step.used;
    }
    const size_t kept = packet_.size();
    if (!oversized_ && scanner_.failedRightAfterString() && kept >= 4 && packet_[kept - 3] == '{') {
        // A string that ends in "{" and is followed by what no value holds: the packet was
        // cut inside the string, and the "{" and the quote began the next packet.
        report(fmt::format(kPacketCut, packetSize_ - 3));
        replay_ = packet_.substr(kept - 3, 2);
        endPacket(Mode::Between);
        return step.used;
    }
    std::string reason;
    if (!oversized_) reason = platform::json::parse(packet_).error;
    report(fmt::format(kJSONMalformed, reason));
    // Bytes that begin no value are skipped to the next "{"; a broken packet to its end.
    const bool began = packetSize_ > 1;
    endPacket(began ? Mode::SkipValue : Mode::SkipToBrace);
    afterClose_ = bad == '}';
    return step.used + 1;
}

size_t MVApiPacketDecoder::member(std::string_view bytes, const PacketHandler& onPacket) {
    size_t used = 0;
    const auto status = inflater_.feed(bytes, inflated_, kMaxInflatedSize, &used);
    memberBytes_ += used;
    const size_t read = status == MVApiInflateStatus::Incomplete ? bytes.size() : used;
    if (memberRawKept_ && memberRaw_.size() + read <= kMaxPacketSize) {
        memberRaw_.append(bytes.substr(0, read));
    } else {
        memberRawKept_ = false;
        dropMemory(memberRaw_);
    }
    switch (status) {
        case MVApiInflateStatus::Incomplete:
            return bytes.size();
        case MVApiInflateStatus::Ok:
            deliver(inflated_, true, onPacket);
            dropMemory(inflated_);
            endPacket(Mode::Between);
            return used;
        case MVApiInflateStatus::Malformed:
            report(kGzipMalformed);
            break;
        case MVApiInflateStatus::TooLarge:
            report(fmt::format(kGzipTooLarge, kMaxInflatedSize));
            break;
    }
    dropMemory(inflated_);
    // The member's first byte is passed at least, so that the search moves on.
    const size_t skipped = memberBytes_ == 0 ? 1 : used;
    if (memberRawKept_ && !memberFromReplay_) {
        const size_t next = memberRaw_.find("\x1f\x8b", 1);
        if (next != std::string::npos) replay_ = memberRaw_.substr(next);
    }
    dropMemory(memberRaw_);
    endPacket(replay_.empty() ? Mode::SkipToMember : Mode::Between);
    return skipped;
}

size_t MVApiPacketDecoder::skip(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        bool found = false;
        switch (mode_) {
            case Mode::SkipValue:
                found = c == '{' && afterClose_;
                if (!isJSONBlank(c)) afterClose_ = c == '}';
                break;
            case Mode::SkipToBrace:
                found = c == '{';
                break;
            default:
                found = c == '\x1f';
                break;
        }
        if (found) {
            endPacket(Mode::Between);
            return i;
        }
    }
    return bytes.size();
}

void MVApiPacketDecoder::deliver(std::string_view bytes, bool final,
                                 const PacketHandler& onPacket) {
    nlohmann::json packet;
    std::string problem;
    switch (decodeValue(bytes, final, packet, problem)) {
        case Result::Packet:
            if (onPacket) onPacket(packet);
            break;
        case Result::Rejected:
        case Result::Incomplete:
            report(problem.empty() ? fmt::format(kJSONMalformed, "") : problem);
            break;
        case Result::Nothing:
            break;
    }
}
