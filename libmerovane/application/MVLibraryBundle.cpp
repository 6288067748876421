#include "libmerovane/application/MVLibraryBundle.h"

#include <fmt/format.h>

#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>

#include "libmerovane/application/MVLibraryApplication.h"
#include "platform/foundation/SharedInstances.h"

namespace {

constexpr const char* kNotFoundReason = "Merovane-Library bundle not found";
constexpr const char* kNotFoundText =
    "The Merovane library bundle must be included in your project. Please refer to the "
    "documentation on how to incorporate the Merovane-Library (libmerovane) into your "
    "project. 💕";
constexpr const char* kMismatchReason = "Merovane-Library bundle version does not match";
constexpr const char* kMismatchText =
    "The Merovane library bundle version ({}) differs from the library codebase version ({}). "
    "Please refer to the documentation on how to incorporate the Merovane-Library "
    "(libmerovane) into your project. 💕";

struct Located {
    std::mutex mutex;
    std::shared_ptr<platform::Bundle> bundle;
};

Located& located() {
    static auto* state = [] {
        auto* s = new Located();
        platform::registerSharedInstanceReset("MVLibraryBundle", [s] {
            std::lock_guard lock(s->mutex);
            s->bundle.reset();
        });
        return s;
    }();
    return *state;
}

}  // namespace

const platform::Bundle& libmerovaneBundle() {
    auto& state = located();
    std::lock_guard lock(state.mutex);
    if (state.bundle) return *state.bundle;
    auto path = platform::Bundle::main().pathForResource("libmerovane", "bundle");
    auto bundle = path ? platform::Bundle::bundleAtPath(*path) : nullptr;
    if (!bundle)
        throw MVLibraryBundleException(MVLibraryBundleNotFoundException, kNotFoundReason,
                                       kNotFoundText);
    auto version = bundle->objectForInfoDictionaryKey("CFBundleShortVersionString");
    const std::string text = version && version->is_string() ? version->get<std::string>() : "";
    if (text != MVLibraryApplication::libraryVersion())
        throw MVLibraryBundleException(
            MVLibraryBundleVersionMismatchException, kMismatchReason,
            fmt::format(fmt::runtime(kMismatchText), version ? text : "(null)",
                        MVLibraryApplication::libraryVersion()));
    state.bundle = std::move(bundle);
    return *state.bundle;
}
