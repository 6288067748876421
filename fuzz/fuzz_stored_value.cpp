// Stored BLOBs come from a file on disc that anything may have damaged: whatever bytes a
// row holds must decode or be refused, never crash or exhaust the stack, and what
// decodes encodes to bytes that decode to the same encoding again.
#include <cstddef>
#include <cstdint>

#include "libmerovane/storage/MVStoredValue.h"
#include "platform/foundation/JsonValue.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto value = MVStoredValue::decodeJsonBlob(data, size);
    if (!value) return 0;
    const std::string encoded = MVStoredValue::encodeJsonBlob(*value);
    auto again = MVStoredValue::decodeJsonBlob(encoded.data(), encoded.size());
    if (!again || MVStoredValue::encodeJsonBlob(*again) != encoded) __builtin_trap();
    const auto stored = MVStoredValue::fromJson(*value);
    (void)stored.description();
    (void)stored.textValue();
    (void)stored.integerValue();
    (void)(stored <=> MVStoredValue::json(*again));
    return 0;
}
