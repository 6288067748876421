// URL loading reads response heads line by line as the transfer hands them over: any
// status line, header field, folded line and redirect address a server sends must give
// a response (or nothing yet), never a crash.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/foundation/HTTPURLResponse.h"
#include "platform/foundation/URL.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const auto url = *platform::URL::parse("https://shop.example/a/b?c");
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    platform::HTTPResponseHeadReader head;
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end == rest.npos ? rest.size() : end + 1);
        rest.remove_prefix(line.size());
        const bool ended = head.addLine(line);
        if (ended && !head.complete()) __builtin_trap();
    }
    const auto response = head.response(url);
    (void)response.mimeType();
    (void)response.expectedContentLength();
    if (auto location = response.valueForHTTPHeaderField("Location"))
        if (auto target = platform::URL::resolve(*location, url))
            if (!platform::URL::parse(target->absoluteString())) __builtin_trap();
    return 0;
}
