#include "libmerovane/bridge/MVWebViewControllerFactory.h"

#include <mutex>

#include "platform/foundation/SharedInstances.h"

namespace {

struct Installed {
    std::mutex mutex;
    MVWebViewControllerFactory::Factory factory;  // guarded by mutex
};

Installed& installed() {
    static Installed* instance = [] {
        auto* i = new Installed;
        platform::registerSharedInstanceReset("MVWebViewControllerFactory", [i] {
            std::lock_guard lock(i->mutex);
            i->factory = nullptr;
        });
        return i;
    }();
    return *instance;
}

}  // namespace

void MVWebViewControllerFactory::setFactory(Factory factory) {
    auto& i = installed();
    std::lock_guard lock(i.mutex);
    i.factory = std::move(factory);
}

std::shared_ptr<platform::ViewController>
MVWebViewControllerFactory::webViewControllerOpeningApiPage(const std::string& pageId) {
    Factory factory;
    {
        auto& i = installed();
        std::lock_guard lock(i.mutex);
        factory = i.factory;
    }
    return factory ? factory(pageId) : nullptr;
}
