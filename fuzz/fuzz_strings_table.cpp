// String tables ship in bundles that may be damaged or hand-edited: any text must give a
// table or a refusal, with escapes and comments read as far as they go, never a crash.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/foundation/Bundle.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // Escapes never write more bytes than they take.
    if (auto table = platform::Bundle::parseStringsFile(text))
        for (const auto& [key, value] : *table)
            if (key.size() > text.size() || value.size() > text.size()) __builtin_trap();
    return 0;
}
