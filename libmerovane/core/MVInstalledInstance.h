#pragma once
// The slot where start-up installs the implementation of an interface that a lower
// subsystem calls and a higher one provides (the web cache, the localization):
//
//   using CacheSlot = MVInstalledInstance<MVWebCacheInterface>;
//   CacheSlot::install(cache, "MVWebCacheInterface");
//   if (auto cache = CacheSlot::get("MVWebCacheInterface")) ...
//
// The slot empties itself in the test-only reset of shared instances. Thread-safe.

#include <memory>
#include <mutex>
#include <string>

#include "platform/foundation/SharedInstances.h"

template <class Interface>
class MVInstalledInstance {
  public:
    static std::shared_ptr<Interface> get(const char* name) {
        auto& s = slot(name);
        std::lock_guard lock(s.mutex);
        return s.instance;
    }
    static void install(std::shared_ptr<Interface> instance, const char* name) {
        auto& s = slot(name);
        std::lock_guard lock(s.mutex);
        s.instance = std::move(instance);
    }

  private:
    struct Slot {
        std::mutex mutex;
        std::shared_ptr<Interface> instance;  // guarded by mutex
    };
    static Slot& slot(const char* name) {
        static Slot* s = [name] {
            auto* created = new Slot;
            platform::registerSharedInstanceReset(name, [created] {
                std::lock_guard lock(created->mutex);
                created->instance.reset();
            });
            return created;
        }();
        return *s;
    }
};
