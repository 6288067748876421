#include "libmerovane/connection/MVApiPacketDecoder.h"

#include <fmt/core.h>

#include <nlohmann/json.hpp>

#include "libmerovane/connection/MVMessagePack.h"
#include "platform/foundation/JsonValue.h"

namespace {

constexpr std::string_view kHeartbeat = "\r\n";
// Inflated packets up to this size keep their buffer for the next.
constexpr size_t kKeptInflatedCapacity = size_t{1} << 20;

constexpr const char* kMessagePackNotDictionary =
    "MVApiConnection MessagePack payload is not a dictionary";
constexpr const char* kJSONNotDictionary = "MVApiConnection JSON payload is not a dictionary";
constexpr const char* kJSONMalformed = "MVApiConnection could not parse JSON payload: {}";
constexpr const char* kGzipMalformed = "MVApiConnection could not decompress gzip payload";
constexpr const char* kGzipTooLarge = "MVApiConnection gzip payload inflates to more than {} bytes";

}  // namespace

MVApiPacketDecoder::Result MVApiPacketDecoder::decode(std::string_view payload,
                                                      MVApiContentType contentType, bool compressed,
                                                      nlohmann::json& packet,
                                                      std::string& problem) {
    if (payload.empty()) return Result::Incomplete;
    // A heartbeat is never compressed; checked first so it cannot pass for a gzip prefix.
    if (payload == kHeartbeat) return Result::Nothing;
    if (compressed) {
        switch (inflater_.inflate(payload, inflated_, kMaxInflatedSize)) {
            case MVApiInflateStatus::Ok:
                payload = inflated_;
                break;
            case MVApiInflateStatus::Incomplete:
                return Result::Incomplete;
            case MVApiInflateStatus::Malformed:
                problem = kGzipMalformed;
                return Result::Rejected;
            case MVApiInflateStatus::TooLarge:
                problem = fmt::format(kGzipTooLarge, kMaxInflatedSize);
                return Result::Rejected;
        }
    }
    const Result result =
        decodePlain(payload, contentType, compressed, compressed, packet, problem);
    if (result != Result::Incomplete) return result;
    // A prefix that no continuation mends is refused, as it is when it arrives in pieces.
    MVApiPayloadScanner scanner;
    scanner.start(contentType);
    if (scanner.feed(payload) != MVApiPayloadScanner::Verdict::Error) return result;
    return refusePastMending(scanner, payload, contentType, packet, problem);
}

MVApiPacketDecoder::Result MVApiPacketDecoder::refusePastMending(
    const MVApiPayloadScanner& scanner, std::string_view payload, MVApiContentType contentType,
    nlohmann::json& packet, std::string& problem, bool explain) {
    if (scanner.isNotDictionary()) {
        problem = contentType == MVApiContentTypeMessagePack ? kMessagePackNotDictionary
                                                             : kJSONNotDictionary;
        return Result::Rejected;
    }
    if (!explain) {
        problem = contentType == MVApiContentTypeMessagePack ? kMessagePackNotDictionary
                                                             : fmt::format(kJSONMalformed, "");
        return Result::Rejected;
    }
    // The decoder says why, or, having the last word, takes it after all.
    return decodePlain(payload, contentType, false, true, packet, problem);
}

MVApiPacketDecoder::Result MVApiPacketDecoder::decodeArriving(std::string_view payload,
                                                              MVApiContentType contentType,
                                                              bool compressed,
                                                              nlohmann::json& packet,
                                                              std::string& problem, bool explain) {
    if (payload.size() < seen_) restart();  // not the packet under way
    if (seen_ == 0) {
        scanner_.start(contentType);
        if (compressed) inflater_.begin(inflated_);
        triedAt_ = 0;
    }
    const std::string_view fresh = payload.substr(seen_);
    seen_ = payload.size();
    if (payload.empty()) return Result::Incomplete;
    Result result = Result::Nothing;
    if (payload == kHeartbeat) {
        result = Result::Nothing;
    } else if (compressed) {
        switch (inflater_.feed(fresh, inflated_, kMaxInflatedSize)) {
            case MVApiInflateStatus::Incomplete:
                return Result::Incomplete;
            case MVApiInflateStatus::Malformed:
                problem = kGzipMalformed;
                result = Result::Rejected;
                break;
            case MVApiInflateStatus::TooLarge:
                problem = fmt::format(kGzipTooLarge, kMaxInflatedSize);
                result = Result::Rejected;
                break;
            case MVApiInflateStatus::Ok:
                result = decodePlain(inflated_, contentType, true, true, packet, problem);
                break;
        }
    } else {
        switch (scanner_.feed(fresh)) {
            case MVApiPayloadScanner::Verdict::Incomplete:
                return Result::Incomplete;
            case MVApiPayloadScanner::Verdict::Error:
                // Refused now, so that the packet never takes the next chunk with it.
                result =
                    refusePastMending(scanner_, payload, contentType, packet, problem, explain);
                break;
            case MVApiPayloadScanner::Verdict::Complete:
                // When a decode disagreed with the scanner, the next waits until the
                // payload has doubled, which keeps the work linear all the same.
                if (triedAt_ != 0 && payload.size() < 2 * triedAt_) return Result::Incomplete;
                result = decodePlain(payload, contentType, false, false, packet, problem);
                if (result == Result::Incomplete) {
                    triedAt_ = payload.size();
                    return result;
                }
                break;
        }
    }
    restart();
    return result;
}

void MVApiPacketDecoder::restart() {
    seen_ = 0;
    triedAt_ = 0;
    // The memory of a large inflated packet goes with it.
    if (inflated_.capacity() > kKeptInflatedCapacity) {
        std::string().swap(inflated_);
    } else {
        inflated_.clear();
    }
}

MVApiPacketDecoder::Result MVApiPacketDecoder::decodePlain(std::string_view payload,
                                                           MVApiContentType contentType,
                                                           bool compressed, bool final,
                                                           nlohmann::json& packet,
                                                           std::string& problem) {
    ++decodeCount_;
    decodedBytes_ += payload.size();
    if (compressed) {
        if (payload == kHeartbeat) return Result::Nothing;
        if (payload.empty()) {
            problem = kGzipMalformed;
            return Result::Rejected;
        }
    }

    if (contentType == MVApiContentTypeMessagePack) {
        std::string error;
        switch (MVMessagePack::decode(payload, packet, error)) {
            case MVMessagePack::Status::Incomplete:
                // A whole gzip member that holds half a value will never grow.
                if (final) break;
                return Result::Incomplete;
            case MVMessagePack::Status::Ok:
                if (packet.is_object()) return Result::Packet;
                break;
            case MVMessagePack::Status::Malformed:
                break;
        }
        problem = kMessagePackNotDictionary;
        return Result::Rejected;
    }

    auto parsed = platform::json::parse(payload);
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
