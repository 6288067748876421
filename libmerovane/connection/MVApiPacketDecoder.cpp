#include "libmerovane/connection/MVApiPacketDecoder.h"

#include <fmt/core.h>

#include <nlohmann/json.hpp>

#include "libmerovane/connection/MVMessagePack.h"
#include "platform/foundation/JsonValue.h"

namespace {

constexpr std::string_view kHeartbeat = "\r\n";

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
                if (compressed) break;
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
            if (!compressed) return Result::Incomplete;
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
