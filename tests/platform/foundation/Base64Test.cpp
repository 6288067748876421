#include <gtest/gtest.h>

#include "platform/foundation/Base64.h"

namespace {

TEST(Base64Test, EncodesAndDecodesTheStandardVectors) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"\xff\xfe", "//4="},
    };
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(platform::base64Encode(plain), encoded);
        EXPECT_EQ(platform::base64Decode(encoded), plain);
    }
    for (const char* bad : {"Zg=", "Z===", "Zg=a", "Z!==", "Zm9v\r\n"}) {
        EXPECT_EQ(platform::base64Decode(bad), std::nullopt) << bad;
    }
}

// Lines of 64 characters joined by CR LF, never a break at the end.
TEST(Base64Test, LineBreaksComeAfterEverySixtyFourCharacters) {
    for (size_t length : {0, 1, 47, 48, 49, 96, 1000}) {
        std::string bytes(length, '\0');
        for (size_t i = 0; i < length; ++i) bytes[i] = char(i * 7);
        const std::string plain = platform::base64Encode(bytes);
        const std::string broken = platform::base64EncodeWithLineBreaks(bytes);
        std::string joined;
        size_t start = 0;
        for (;;) {
            const size_t end = broken.find("\r\n", start);
            const std::string line = broken.substr(start, end - start);
            joined += line;
            if (end == std::string::npos) {
                EXPECT_LE(line.size(), 64u);
                EXPECT_TRUE(plain.empty() || !line.empty()) << length;
                break;
            }
            EXPECT_EQ(line.size(), 64u) << length;
            start = end + 2;
        }
        EXPECT_EQ(joined, plain) << length;
    }
    EXPECT_EQ(platform::base64EncodeWithLineBreaks(std::string(48, 'a')).find('\r'),
              std::string::npos);
}

}  // namespace
