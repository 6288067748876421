// Requests come from pages and infos from servers: any URL text, method, header set and
// info dictionary must give an acceptance answer and a clean response, never a crash.
// Input: URL text, method, header lines ("name: value") and info JSON, split by NUL bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "libmerovane/webcache/MVWebCacheURLProtocol.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/URL.h"

namespace {

std::vector<std::string_view> fields(std::string_view bytes, size_t count) {
    std::vector<std::string_view> out;
    while (out.size() + 1 < count) {
        const size_t end = bytes.find('\0');
        if (end == std::string_view::npos) break;
        out.push_back(bytes.substr(0, end));
        bytes.remove_prefix(end + 1);
    }
    out.push_back(bytes);
    out.resize(count);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto parts = fields(std::string_view(reinterpret_cast<const char*>(data), size), 4);
    auto url = platform::URL::parse(parts[0]);
    if (!url) url = platform::URL::parse("http://shop.example/");
    platform::URLRequest request(*url);
    request.setHTTPMethod(std::string(parts[1]));
    std::string_view lines = parts[2];
    while (!lines.empty()) {
        const size_t end = lines.find('\n');
        const std::string_view line = lines.substr(0, end);
        const size_t colon = line.find(':');
        if (colon != std::string_view::npos)
            request.addValue(std::string(line.substr(colon + 1)), line.substr(0, colon));
        if (end == std::string_view::npos) break;
        lines.remove_prefix(end + 1);
    }
    (void)MVWebCacheURLProtocol::canInitWithRequest(request);
    (void)MVWebCacheURLProtocol::takesNetworkPath(request);

    auto info = platform::json::parse(parts[3]);
    const auto response = MVWebCacheURLProtocol::responseForCachedInfo(
        request, info.ok() ? info.value : nlohmann::json());
    // The cache's own fields always replace the server's.
    if (response.valueForHTTPHeaderField("Expires") != "0") __builtin_trap();
    if (response.statusCode() < 100 || response.statusCode() > 999) __builtin_trap();
    return 0;
}
