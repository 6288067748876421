// "Content-Type" and "Cache-Control" values come from any web server: whatever the text,
// the MIME type is "type/subtype" or none, a charset is never empty, and the lifetime is
// a number of seconds in the allowed range.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "libmerovane/webcache/MVWebCacheHTTPInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const auto type = contentTypeOfHeader(text);
    if (type.mimeType && (type.mimeType->find('/') == std::string::npos ||
                          type.mimeType->find(';') != std::string::npos)) {
        __builtin_trap();
    }
    if (type.charset && type.charset->empty()) __builtin_trap();

    const int64_t lifetime = lifetimeOfCacheControl(text);
    if (lifetime < 0 || lifetime > kMVWebCacheMaximumHTTPLifetime) __builtin_trap();
    return 0;
}
