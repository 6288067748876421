// Response heads come from the API server and from proxies: whatever bytes arrive must
// be read byte by byte as the connection reads them and end in a head, a refusal or a
// wait for more, never a crash.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "libmerovane/bridge/URLResponseExtensions.h"
#include "libmerovane/connection/MVApiResponseHead.h"
#include "platform/foundation/URL.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const auto url = *platform::URL::parse("https://api.example/");
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    std::string buffer;
    for (char byte : bytes) {
        buffer.push_back(byte);
        auto check = checkResponseHead(buffer, url);
        if (check.status == MVApiResponseHeadCheck::Incomplete) continue;
        // A finished head always empties what was read.
        if (!buffer.empty()) __builtin_trap();
        if (check.status == MVApiResponseHeadCheck::Parsed) {
            if (!check.response) __builtin_trap();
            (void)termsOfApiResponse(*check.response, false, false);
            (void)termsOfApiResponse(*check.response, true, true);
        }
    }
    if (buffer.size() > kMaximumResponseHeadLength) __builtin_trap();

    // The parser on its own takes any text, ended or not.
    if (auto response = responseWithString(bytes, url))
        (void)termsOfApiResponse(*response, false, false);
    return 0;
}
