// The keychain file lives on disc where anything may have changed it: whatever it holds
// must be read as items, dropped item by item or moved aside as a whole, never crash.
// Its Base64 data decode strictly and encode back to the same text.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "fuzz/FuzzRunFolder.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/Keychain.h"

namespace {

// A folder of its own for the run, removed at exit.
const std::string& root() {
    return fuzzing::runFolder("/tmp/fuzz-keychain-XXXXXX");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto bytes = platform::base64Decode(text)) {
        if (platform::base64Decode(platform::base64Encode(*bytes)) != bytes) __builtin_trap();
    }

    const std::string folder = root() + "/Library/Keychains";
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/keychain.json", std::ios::binary | std::ios::trunc) << text;
    auto& keychain = platform::Keychain::shared();
    platform::KeychainItem item;
    (void)keychain.copy({"com.example.shop", "mv-connection-var:did", std::nullopt}, &item);
    (void)keychain.copy({}, &item);
    // A write rereads the file and keeps every readable item and the seed.
    if (keychain.add({"fuzz", "account", std::nullopt, {}, "secret"}) ==
            platform::KeychainStatus::Success &&
        (keychain.copy({"fuzz", "account", std::nullopt}, &item) !=
             platform::KeychainStatus::Success ||
         item.data != "secret"))
        __builtin_trap();
    return 0;
}
