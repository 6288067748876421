#include "tools/sample-api-server/LogText.h"

#include <fmt/core.h>

#include "libmerovane/core/StringExtensions.h"
#include "platform/foundation/Log.h"

namespace {

// The length a UTF-8 sequence that starts with `lead` has; 0 for no lead byte.
size_t sequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 0;
}

}  // namespace

std::string logText(std::string_view text) {
    std::string valid;
    valid.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t length = sequenceLength(static_cast<unsigned char>(text[i]));
        if (length > 0 && i + length <= text.size() && isValidUtf8(text.substr(i, length))) {
            valid.append(text.substr(i, length));
            i += length;
        } else {
            valid += fmt::format("\\x{:02x}", static_cast<unsigned char>(text[i]));
            ++i;
        }
    }
    return platform::log::escaped(valid);
}
