// Upstream packets: their dictionary, encodings, framing and log lines.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "libmerovane/connection/MVApiPacketBuilder.h"
#include "libmerovane/connection/MVMessagePack.h"
#include "platform/foundation/JsonValue.h"
#include "tests/connection/TestCommand.h"
#include "tests/support/PlatformTest.h"
#include "tools/peer/ChunkedCoding.h"
#include "tools/peer/PacketCodec.h"

using nlohmann::json;
using Status = platform::Reachability::Status;

namespace {

class MVApiPacketBuilderTest : public PlatformTest {
  protected:
    // The packet as the peer reads it off the wire.
    peer::DecodedPacket wire(const MVApiConnectionPacket& packet) {
        std::vector<std::string> payloads;
        peer::ChunkedDecoder decoder;
        EXPECT_EQ(decoder.feed(packet.data, payloads), packet.data.size());
        EXPECT_EQ(payloads.size(), 1u);
        return peer::decodePacket(payloads.empty() ? "" : payloads[0]);
    }
    MVApiPacketBuilder builder_;
};

TEST_F(MVApiPacketBuilderTest, BuildsTheServerPacketInEveryEncoding) {
    const std::vector<MVCommand> commands = {testCommand("getPage"),
                                             testCommand("dataRequest", json{{"id", 3}})};
    const json vars = {{"did", "D-1"}};
    for (bool messagePack : {false, true}) {
        for (bool gzip : {false, true}) {
            auto packet = builder_.build(commands, 7, vars, "wifi", {messagePack, gzip});
            ASSERT_TRUE(packet);
            EXPECT_EQ(packet->serial, 7);
            auto decoded = wire(*packet);
            ASSERT_TRUE(decoded.ok()) << decoded.error;
            EXPECT_EQ(decoded.gzipped, gzip);
            EXPECT_EQ(decoded.value, (json{{"cmds",
                                            {{{"c", "getPage"}},  // no "p" without parameters
                                             {{"c", "dataRequest"}, {"p", {{"id", 3}}}}}},
                                           {"serial", 7},
                                           {"ver", "2.1"},
                                           {"vars", vars},
                                           {"conn", "wifi"}}));
        }
    }
}

TEST_F(MVApiPacketBuilderTest, WritesTheBytesTheDictionaryEncodesTo) {
    const json parameters = {{"content", "<a href=\"/p\">\n\xFF\xC3\xA9</a>"},
                             {"n", nullptr},
                             {"list", {1, -2, 2.5, true}}};
    const std::vector<MVCommand> commands = {testCommand("pageContent", parameters),
                                             testCommand("getPage")};
    const json vars = {{"did", "D-\"1"}};
    const json dictionary = {
        {"cmds", {{{"c", "pageContent"}, {"p", parameters}}, {{"c", "getPage"}}}},
        {"serial", 42},
        {"ver", "2.1"},
        {"vars", vars},
        {"conn", "wwan"}};
    for (bool messagePack : {false, true}) {
        auto packet = builder_.build(commands, 42, vars, "wwan", {messagePack, false});
        ASSERT_TRUE(packet);
        std::vector<std::string> payloads;
        peer::ChunkedDecoder().feed(packet->data, payloads);
        ASSERT_EQ(payloads.size(), 1u);
        EXPECT_EQ(payloads[0], messagePack ? MVMessagePack::encode(dictionary)
                                           : platform::json::print(dictionary));
    }
}

TEST_F(MVApiPacketBuilderTest, NamesTheConnectionType) {
    EXPECT_STREQ(MVApiPacketBuilder::connectionTypeName(Status::ReachableViaWiFi), "wifi");
    EXPECT_STREQ(MVApiPacketBuilder::connectionTypeName(Status::ReachableViaWWAN), "wwan");
    EXPECT_STREQ(MVApiPacketBuilder::connectionTypeName(Status::NotReachable), "unkown");
    EXPECT_STREQ(MVApiPacketBuilder::connectionTypeName(Status::Unknown), "unkown");
}

TEST_F(MVApiPacketBuilderTest, LogsEveryCommandItSends) {
    builder_.build({testCommand("getPage")}, 1, json::object(), "wifi", {});
    EXPECT_TRUE(logged("MVApiConnection sending MVCommand.getPage()"));
    builder_.build({testCommand("a", json{{"k", "v"}}), testCommand("b", json::object())}, 2,
                   json::object(), "wifi", {});
    EXPECT_TRUE(logged("MVApiConnection sending\nMVCommand.a( k = \"v\" )\nMVCommand.b()"));
}

TEST_F(MVApiPacketBuilderTest, VariablesThatAreNoDictionaryAreSentEmpty) {
    auto packet = builder_.build({testCommand("a")}, 1, json(nullptr), "wifi", {});
    EXPECT_EQ(wire(*packet).value["vars"], json::object());
}

}  // namespace
