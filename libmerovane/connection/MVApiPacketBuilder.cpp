#include "libmerovane/connection/MVApiPacketBuilder.h"

#include <fmt/core.h>

#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVCommand.h"
#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/connection/MVApiConnectionVariable.h"
#include "libmerovane/core/DictionaryExtensions.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/storage/MVPersistentStorage.h"

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

nlohmann::json MVApiPacketBuilder::commandEntries(const std::vector<MVCommand>& commands) {
    auto entries = nlohmann::json::array();
    for (const auto& command : commands) {
        nlohmann::json entry = {{"c", command.name()}};
        if (const auto* parameters = command.parameters()) entry["p"] = *parameters;
        entries.push_back(std::move(entry));
    }
    return entries;
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
    std::string_view connectionType, MVApiUpstreamEncoding encoding) {
    const nlohmann::json packet = {
        {"ver", commandHandlerVersion()},
        {"vars", variables.is_object() ? variables : nlohmann::json::object()},
        {"conn", connectionType},
        {"cmds", commandEntries(commands)},
        {"serial", serial}};
    std::string error;
    std::string chunk = encoder_.encodeChunk(packet, encoding, error);
    if (chunk.empty()) {
        MVLogError(kEncodingFailedLine, error, "");
        return std::nullopt;
    }
    if (platform::log::isEnabled(platform::log::kInfo))
        MVLogInfo(kSendingLine, commands.size() > 1 ? "\n" : " ", commandLogLines(commands));
    return MVApiConnectionPacket{std::move(chunk), serial};
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
