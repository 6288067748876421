#include <gtest/gtest.h>

#include "tools/peer/Gzip.h"
#include "tools/peer/PacketCodec.h"

using nlohmann::json;
using namespace peer;

TEST(PacketCodecTest, PacketsRoundTripInEveryEncoding) {
    const json packet = {
        {"cmds", {{{"c", "getPage"}}, {{"c", "event"}, {"p", {{"id", -42}, {"ratio", 0.5}}}}}},
        {"serial", 18446744073709551615u},
        {"vars", json::object()},
        {"blob", json::binary({0, 1, 255})},
        {"none", nullptr},
        {"flag", true}};
    for (auto encoding : {PacketEncoding::JSON, PacketEncoding::MessagePack}) {
        for (bool gzip : {false, true}) {
            SCOPED_TRACE(std::string(encoding == PacketEncoding::JSON ? "JSON" : "MessagePack") +
                         (gzip ? " gzipped" : ""));
            json expected = packet;
            if (encoding == PacketEncoding::JSON) expected.erase("blob");  // JSON has no bytes
            const std::string bytes = encodePacket(expected, encoding, gzip);
            EXPECT_EQ(hasGzipMagic(bytes), gzip);
            auto decoded = decodePacket(bytes);
            EXPECT_TRUE(decoded.ok()) << decoded.error;
            EXPECT_EQ(decoded.encoding, encoding);
            EXPECT_EQ(decoded.gzipped, gzip);
            EXPECT_EQ(decoded.value, expected);
        }
    }
}

TEST(PacketCodecTest, TheMessagePackCodecIsTheStandardOne) {
    // The codec is the JSON library's own, byte for byte...
    const json packet = {{"a", 1}, {"b", {1, -2, 70000, "x"}}, {"c", nullptr}, {"d", false}};
    const auto theirs = json::to_msgpack(packet);
    EXPECT_EQ(toMessagePack(packet), std::string(theirs.begin(), theirs.end()));
    EXPECT_EQ(toMessagePack(json::object()), "\x80");
    // ...and floats go in 32 bits when nothing is lost, in 64 otherwise, both read back.
    const json floats = {{"ratio", 3.25}, {"tiny", 1e-300}};
    const std::string ours = toMessagePack(floats);
    EXPECT_EQ(json::from_msgpack(ours), floats);
    EXPECT_EQ(
        fromMessagePack(std::string(reinterpret_cast<const char*>(json::to_msgpack(floats).data()),
                                    json::to_msgpack(floats).size())),
        floats);
}

TEST(PacketCodecTest, BadPayloadsAreReportedNotThrown) {
    struct Case {
        std::string payload;
        const char* error;
    };
    const Case cases[] = {
        {"", "empty payload"},
        {"{\"cmds\":", "JSON payload could not be parsed"},
        {toMessagePack({1, 2}), "MessagePack payload is not a map"},
        {"\x92\x01", "MessagePack could not be read: insufficient bytes"},
        {toMessagePack(json::object()) + "x", "bytes left after the MessagePack value"},
        {"\x81\x01\x02", "MessagePack map key is not a string"},
        {gzipCompress("{}").substr(0, 10), "gzip payload could not be inflated"},
        // Depth-limited, as anything read from a socket.
        {"{\"a\":" + std::string(100000, '['), "JSON payload could not be parsed"},
        {"\x81\xa1\x61" + std::string(100000, '\x91'),
         "MessagePack could not be read: nested deeper than 512 levels"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        auto decoded = decodePacket(c.payload);
        EXPECT_EQ(decoded.error, c.error);
        EXPECT_TRUE(decoded.value.is_null());
    }
}

TEST(PacketCodecTest, GzipRefusesWhatIsNotOneWholeMember) {
    const std::string text(10000, 'z');
    const std::string packed = gzipCompress(text);
    EXPECT_LT(packed.size(), text.size());
    EXPECT_EQ(gzipDecompress(packed), text);
    EXPECT_FALSE(gzipDecompress(packed.substr(0, packed.size() - 1)));
    EXPECT_FALSE(gzipDecompress(packed + "trailing"));
    EXPECT_FALSE(gzipDecompress("plain text"));
    EXPECT_FALSE(gzipDecompress(packed, 100));
}
