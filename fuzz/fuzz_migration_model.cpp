// Model and mapping descriptions are read from the library's bundle at start-up: any
// JSON text must give a model or mapping, or none, never a crash; what a model says
// about itself and a store's metadata must be answerable.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "libmerovane/storage/MVObjectModel.h"
#include "platform/foundation/JsonValue.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto parsed =
        platform::json::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!parsed.ok()) return 0;
    if (auto model = MVObjectModel::fromDescription(parsed.value)) {
        const nlohmann::json metadata = {
            {"NSStoreModelVersionHashes", model->entityVersionHashes("CacheGeneral")}};
        if (!model->isConfigurationCompatible("CacheGeneral", metadata)) __builtin_trap();
        (void)model->isConfigurationCompatible("CacheGeneral", parsed.value);
        (void)model->entitiesForConfiguration("CacheGeneral");
        // A model's own description describes the same model.
        auto again = MVObjectModel::fromDescription(model->description());
        if (!again || again->entityVersionHashes("CacheGeneral") !=
                          model->entityVersionHashes("CacheGeneral"))
            __builtin_trap();
    }
    if (auto mapping = MVMappingModel::fromDescription(parsed.value))
        for (const auto& entity : mapping->entities())
            if (mapping->mappingForDestination(entity.destination) == nullptr) __builtin_trap();
    return 0;
}
