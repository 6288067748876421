#include "platform/foundation/URLProtocol.h"

#include <algorithm>
#include <mutex>

#include "platform/foundation/Log.h"
#include "platform/foundation/SharedInstances.h"

namespace platform {
namespace {

struct Registry {
    std::mutex mutex;
    std::vector<std::shared_ptr<URLProtocolFactory>> classes;  // latest first
};

Registry& registry() {
    static Registry* r = [] {
        auto* created = new Registry;
        registerSharedInstanceReset("URLProtocol", [created] {
            std::lock_guard lock(created->mutex);
            created->classes.clear();
        });
        return created;
    }();
    return *r;
}

}  // namespace

void URLProtocol::registerClass(std::shared_ptr<URLProtocolFactory> factory) {
    if (!factory) return;
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    std::erase(r.classes, factory);
    r.classes.insert(r.classes.begin(), std::move(factory));
}

void URLProtocol::unregisterClass(const std::shared_ptr<URLProtocolFactory>& factory) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    std::erase(r.classes, factory);
}

std::shared_ptr<URLProtocolFactory> URLProtocol::factoryForRequest(const URLRequest& request) {
    std::vector<std::shared_ptr<URLProtocolFactory>> classes;
    {
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        classes = r.classes;
    }
    for (auto& factory : classes) {
        try {
            if (factory->canInitWithRequest(request)) return factory;
        } catch (const std::exception& e) {
            PLATFORM_LOG_ERROR("URL protocol refused a request by throwing: {}", e.what());
        }
    }
    return nullptr;
}

}  // namespace platform
