#include <gtest/gtest.h>

#include "tools/peer/ChunkedCoding.h"

using peer::ChunkedDecoder;
using peer::encodeChunk;

TEST(ChunkedCodingTest, ChunksCarryTheUpperCaseHexadecimalSize) {
    EXPECT_EQ(encodeChunk(std::string(26, 'x')), "1A\r\n" + std::string(26, 'x') + "\r\n");
    EXPECT_EQ(encodeChunk("{}"), "2\r\n{}\r\n");
    EXPECT_EQ(encodeChunk(std::string(4096, 'y')).substr(0, 6), "1000\r\n");
}

TEST(ChunkedCodingTest, TheDecoderReadsWhatTheEncoderWritesSplitAnywhere) {
    const std::vector<std::string> payloads = {"{}", std::string(300, 'p'), "\r\n", "last"};
    std::string wire;
    for (const auto& p : payloads) wire += encodeChunk(p);
    wire += peer::kLastChunk;
    for (size_t cut = 0; cut <= wire.size(); ++cut) {
        ChunkedDecoder decoder;
        std::vector<std::string> chunks;
        EXPECT_EQ(decoder.feed(std::string_view(wire).substr(0, cut), chunks), cut);
        EXPECT_EQ(decoder.feed(std::string_view(wire).substr(cut), chunks), wire.size() - cut);
        ASSERT_EQ(chunks, payloads) << "cut at " << cut;
        ASSERT_TRUE(decoder.finished());
    }
}

TEST(ChunkedCodingTest, SizeLinesAndFramingFaults) {
    struct Case {
        const char* wire;
        std::vector<std::string> chunks;
        const char* error;  // empty: none
    };
    const Case cases[] = {
        {"1a;name=value\r\nabcdefghijklmnopqrstuvwxyz\r\n", {"abcdefghijklmnopqrstuvwxyz"}, ""},
        {"1A \r\nabcdefghijklmnopqrstuvwxyz\r\n", {"abcdefghijklmnopqrstuvwxyz"}, ""},
        {"0\r\nTrailer: yes\r\n\r\n", {}, ""},
        {"zz\r\n", {}, "chunk size is not hexadecimal: 'zz'"},
        {"\r\n", {}, "chunk size is not hexadecimal: ''"},
        {"2x\r\n", {}, "unexpected text after chunk size: '2x'"},
        {"2\nab\r\n", {}, "chunk line not ended by CR LF"},
        {"2\r\nabXY", {}, "chunk data not followed by CR LF"},
        {"2\r\nab\rX", {}, "chunk data not followed by CR LF"},
        {"FFFFFFFFFF\r\n", {}, "chunk size too large: FFFFFFFFFF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wire);
        ChunkedDecoder decoder;
        std::vector<std::string> chunks;
        decoder.feed(c.wire, chunks);
        EXPECT_EQ(chunks, c.chunks);
        EXPECT_EQ(decoder.error(), c.error);
        EXPECT_EQ(decoder.failed(), *c.error != '\0');
    }
}

TEST(ChunkedCodingTest, BytesAfterTheLastChunkAreNotTaken) {
    ChunkedDecoder decoder;
    std::vector<std::string> chunks;
    const std::string wire = "1\r\nA\r\n0\r\n\r\nHTTP/1.1";
    EXPECT_EQ(decoder.feed(wire, chunks), wire.size() - 8);
    EXPECT_TRUE(decoder.finished());
    EXPECT_EQ(decoder.feed("more", chunks), 0u);
}
