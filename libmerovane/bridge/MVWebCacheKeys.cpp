#include "libmerovane/bridge/MVWebCacheKeys.h"

std::string MVWebCacheKeyWithScheme(std::string_view key, std::string_view scheme) {
    std::string prefix = std::string(scheme) + ":";
    if (key.find(prefix) != std::string_view::npos) return std::string(key);
    return prefix + std::string(key);
}
