#include "platform/web/WebURLSchemes.h"

#include <algorithm>
#include <cctype>
#include <mutex>

#include "platform/foundation/Log.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/TextUtilities.h"

namespace platform {
namespace {

constexpr const char* kRefused = "WebURLSchemes cannot register the scheme \"{}\"";

struct Registry {
    std::mutex mutex;
    std::vector<std::string> schemes;
};

Registry& registry() {
    static auto* r = [] {
        auto* created = new Registry;
        registerSharedInstanceReset("WebURLSchemes", [created] {
            std::lock_guard lock(created->mutex);
            created->schemes.clear();
        });
        return created;
    }();
    return *r;
}

bool isSchemeName(const std::string& s) {
    return !s.empty() && std::isalpha(static_cast<unsigned char>(s[0])) &&
           std::all_of(s.begin(), s.end(), [](unsigned char c) {
               return std::isalnum(c) || c == '+' || c == '-' || c == '.';
           });
}

}  // namespace

bool WebURLSchemes::registerScheme(const std::string& scheme) {
    const std::string name = asciiLowercase(scheme);
    static const char* const kWebsOwn[] = {"http",  "https", "file",      "data",
                                           "about", "blob",  "javascript"};
    const bool websOwn =
        std::find(std::begin(kWebsOwn), std::end(kWebsOwn), name) != std::end(kWebsOwn);
    if (websOwn || !isSchemeName(name)) {
        PLATFORM_LOG_ERROR(kRefused, scheme);
        return false;
    }
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    if (std::find(r.schemes.begin(), r.schemes.end(), name) == r.schemes.end())
        r.schemes.push_back(name);
    return true;
}

std::vector<std::string> WebURLSchemes::schemes() {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    return r.schemes;
}

bool WebURLSchemes::contains(const std::string& scheme) {
    const std::string name = asciiLowercase(scheme);
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    return std::find(r.schemes.begin(), r.schemes.end(), name) != r.schemes.end();
}

}  // namespace platform
