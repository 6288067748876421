// URL text, resolution against a base and Set-Cookie values come from servers and
// pages: whatever they hold must parse or be refused, never crash.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/foundation/HTTPCookie.h"
#include "platform/foundation/URL.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    static const auto base = *platform::URL::parse("http://shop.example/a/b/c?q#f");
    if (auto url = platform::URL::parse(text)) {
        // A parsed URL keeps its text, and its parts put back together give it again.
        if (url->absoluteString() != text) __builtin_trap();
        (void)url->lastPathComponent();
        (void)url->pathExtension();
        (void)url->resourceSpecifier();
    }
    if (auto resolved = platform::URL::resolve(text, base)) {
        if (!platform::URL::parse(resolved->absoluteString())) __builtin_trap();
    }
    (void)platform::HTTPCookie::parseSetCookie(text, base);
    (void)platform::HTTPCookie::parseCookieDate(text);
    return 0;
}
