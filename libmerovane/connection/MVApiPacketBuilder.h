#pragma once
// Builds upstream server packets from a batch of commands:
//
//   {"cmds": [{"c": name, "p": parameters}, ...], "serial": 7, "ver": "2.1",
//    "vars": {id: value, ...}, "conn": "wifi" | "wwan" | "unkown"}
//
// written straight into the encoder's reused buffer (the dictionary is never built),
// compressed and framed once (MVApiPacketEncoder), and logs what it sends.
//
//   MVApiPacketBuilder builder;       // lives on the connection's upstream thread
//   auto packet = builder.build(commands, serial, MVApiPacketBuilder::connectionVariables(),
//                               MVApiPacketBuilder::connectionTypeName(status), encoding);
//
// build() is not thread-safe (the encoder's buffer and zlib stream are reused): one
// thread builds every packet, which also keeps them in serial order.

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "libmerovane/connection/MVApiConnectionPacket.h"
#include "libmerovane/connection/MVApiPacketEncoder.h"
#include "platform/device/Reachability.h"

class MVCommand;

class MVApiPacketBuilder {
  public:
    // "wifi" through Wi-Fi, "wwan" through the cellular network, else "unkown".
    static const char* connectionTypeName(platform::Reachability::Status status);
    // Every connection variable without a context that has a value, by id. Reads
    // storage and the keychain; call it off the main thread.
    static nlohmann::json connectionVariables();
    // The "ver" of upstream packets: the shared command handler's version.
    static std::string commandHandlerVersion();

    // "MVCommand.<name>( <parameters> )" or "MVCommand.<name>()" per command, by "\n".
    static std::string commandLogLines(const std::vector<MVCommand>& commands);

    // The packet as a chunk with its serial; none when it could not be encoded (logged:
    // the packet is lost and its serial stays used).
    // `storage`: a string whose memory the packet's bytes may take (a spare one of the
    // writer's), so that steady traffic does not go back to the allocator.
    std::optional<MVApiConnectionPacket> build(const std::vector<MVCommand>& commands,
                                               int64_t serial, const nlohmann::json& variables,
                                               std::string_view connectionType,
                                               MVApiUpstreamEncoding encoding,
                                               std::string storage = {});

  private:
    struct Packet {
        const std::vector<MVCommand>& commands;
        int64_t serial;
        const nlohmann::json& variables;
        std::string_view connectionType;
        std::string version;
    };
    static void writeJSON(const Packet& packet, std::string& out);
    static void writeMessagePack(const Packet& packet, std::string& out);

    MVApiPacketEncoder encoder_;
};
