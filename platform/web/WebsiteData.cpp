#include "platform/web/WebsiteData.h"

#include "platform/foundation/Log.h"

namespace platform {
namespace {

std::function<void()>& remover() {
    static auto* held = new std::function<void()>;
    return *held;
}

}  // namespace

void WebsiteData::setRemover(std::function<void()> fn) {
    remover() = std::move(fn);
}

void WebsiteData::removeAll() {
    PLATFORM_LOG_INFO("WebsiteData removes what pages keep: web storage, IndexedDB, caches");
    if (remover()) remover()();
}

}  // namespace platform
