// Deep links come from other applications and strings files from the server or a damaged
// folder: any text must give a link or a refusal, and a hash or "", never a crash.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "libmerovane/application/MVDeepLink.h"
#include "libmerovane/application/MVLocalization.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string warning;
    if (auto link = MVDeepLink::parse(text, &warning)) {
        // The id and the parameters are pieces of the text, never longer.
        if (link->linkId.size() + link->parameters.size() > text.size()) __builtin_trap();
        if (!link->parameters.empty() && link->parameters.front() != '?') __builtin_trap();
    }
    if (MVLocalization::fileHashOfStringsFile(text).size() > text.size()) __builtin_trap();
    MVLocalization::isSafeLanguageCode(text);
    return 0;
}
