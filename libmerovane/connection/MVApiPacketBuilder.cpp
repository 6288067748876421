#include "libmerovane/connection/MVApiPacketBuilder.h"

#include <fmt/core.h>

#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVCommand.h"
#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/connection/MVApiConnectionVariable.h"
#include "libmerovane/connection/MVMessagePack.h"
#include "libmerovane/core/DictionaryExtensions.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "platform/foundation/JsonValue.h"

namespace {

constexpr const char* kSendingLine = "MVApiConnection sending{}{}";
constexpr const char* kEncodingFailedLine = "MVApiConnection could not create JSON data: {}{}";
constexpr const char* kVariablesFailedLine =
    "MVApiConnection could not read the connection variables: {}";
constexpr const char* kCommandLine = "MVCommand.{}{}";
constexpr const char* kParametersText = "( {} )";
constexpr const char* kNoParametersText = "()";

constexpr const char* kConnectionWiFi = "wifi";
constexpr const char* kConnectionWWAN = "wwan";
constexpr const char* kConnectionUnknown = "unkown";

// What the version 2.1 handler answers, for packets built before handlers are registered.
constexpr const char* kDefaultCommandHandlerVersion = "2.1";

}  // namespace

const char* MVApiPacketBuilder::connectionTypeName(platform::Reachability::Status status) {
    switch (status) {
        case platform::Reachability::Status::ReachableViaWiFi:
            return kConnectionWiFi;
        case platform::Reachability::Status::ReachableViaWWAN:
            return kConnectionWWAN;
        default:
            return kConnectionUnknown;
    }
}

std::string MVApiPacketBuilder::commandHandlerVersion() {
    if (auto handler = MVCommandHandler::sharedHandler()) return handler->commandHandlerVersion();
    return kDefaultCommandHandlerVersion;
}

std::string MVApiPacketBuilder::commandLogLines(const std::vector<MVCommand>& commands) {
    std::string lines;
    for (const auto& command : commands) {
        std::string listing;
        if (const auto* parameters = command.parameters())
            listing = allKeyNamesAndValues(*parameters);
        if (!lines.empty()) lines += '\n';
        lines += fmt::format(kCommandLine, platform::log::escaped(command.name()),
                             listing.empty()
                                 ? std::string(kNoParametersText)
                                 : fmt::format(kParametersText, platform::log::escaped(listing)));
    }
    return lines;
}

std::optional<MVApiConnectionPacket> MVApiPacketBuilder::build(
    const std::vector<MVCommand>& commands, int64_t serial, const nlohmann::json& variables,
    std::string_view connectionType, MVApiUpstreamEncoding encoding, std::string storage) {
    static const nlohmann::json kNoVariables = nlohmann::json::object();
    const Packet packet{commands, serial, variables.is_object() ? variables : kNoVariables,
                        connectionType, commandHandlerVersion()};
    std::string& payload = encoder_.startPayload();
    if (encoding.messagePack) {
        writeMessagePack(packet, payload);
    } else {
        writeJSON(packet, payload);
    }
    std::string error;
    const std::string_view chunk = encoder_.finishChunk(encoding.gzip, error);
    if (chunk.empty()) {
        MVLogError(kEncodingFailedLine, error, "");
        return std::nullopt;
    }
    if (platform::log::isEnabled(platform::log::kInfo))
        MVLogInfo(kSendingLine, commands.size() > 1 ? "\n" : " ", commandLogLines(commands));
    storage.assign(chunk);
    return MVApiConnectionPacket{std::move(storage), serial};
}

// The packet is written as its dictionary would be encoded, keys in sorted order, without
// building the dictionary (which would copy every command's parameters).
void MVApiPacketBuilder::writeJSON(const Packet& packet, std::string& out) {
    out += "{\"cmds\":[";
    bool first = true;
    for (const auto& command : packet.commands) {
        out += first ? "{\"c\":" : ",{\"c\":";
        first = false;
        platform::json::appendString(out, command.name());
        if (const auto* parameters = command.parameters()) {
            out += ",\"p\":";
            platform::json::appendCompact(out, *parameters);
        }
        out += '}';
    }
    out += "],\"conn\":";
    platform::json::appendString(out, packet.connectionType);
    out += ",\"serial\":";
    out += std::to_string(packet.serial);
    out += ",\"vars\":";
    platform::json::appendCompact(out, packet.variables);
    out += ",\"ver\":";
    platform::json::appendString(out, packet.version);
    out += '}';
}

void MVApiPacketBuilder::writeMessagePack(const Packet& packet, std::string& out) {
    MVMessagePack::encodeMapHeader(5, out);
    MVMessagePack::encodeString("cmds", out);
    MVMessagePack::encodeArrayHeader(packet.commands.size(), out);
    for (const auto& command : packet.commands) {
        const auto* parameters = command.parameters();
        MVMessagePack::encodeMapHeader(parameters ? 2 : 1, out);
        MVMessagePack::encodeString("c", out);
        MVMessagePack::encodeString(command.name(), out);
        if (parameters) {
            MVMessagePack::encodeString("p", out);
            MVMessagePack::encode(*parameters, out);
        }
    }
    MVMessagePack::encodeString("conn", out);
    MVMessagePack::encodeString(packet.connectionType, out);
    MVMessagePack::encodeString("serial", out);
    MVMessagePack::encodeInteger(packet.serial, out);
    MVMessagePack::encodeString("vars", out);
    MVMessagePack::encode(packet.variables, out);
    MVMessagePack::encodeString("ver", out);
    MVMessagePack::encodeString(packet.version, out);
}

nlohmann::json MVApiPacketBuilder::connectionVariables() {
    auto variables = nlohmann::json::object();
    // Storage comes with the library application; a connection alone sends none.
    if (!MVPersistentStorage::host()) return variables;
    try {
        MVPersistentStorage::sharedStorage().lockedAccess([&] {
            for (const auto& variable :
                 MVApiConnectionVariable::dbObjectsWith("context", MVStoredValue())) {
                const auto id = variable->id();
                if (!id) continue;
                if (auto value = variable->value()) variables[*id] = std::move(*value);
            }
        });
    } catch (const std::exception& e) {
        // The packet goes without them rather than not at all.
        MVLogError(kVariablesFailedLine, e.what());
    }
    return variables;
}
