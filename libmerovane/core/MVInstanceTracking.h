#pragma once
// Mixin for classes whose instances are named and tracked, one tracker per class:
//
//   class MVMenuBarController : public MVInstanceTracking<MVMenuBarController> {
//   public:
//       static std::shared_ptr<MVMenuBarController> create() {
//           return track(std::shared_ptr<MVMenuBarController>(new MVMenuBarController));
//       }
//   };
//   menuBar->setIdentifier("main");
//   MVMenuBarController::sharedInstanceForIdentifier("main");
//
// The first tracked instance becomes the default. A class that wants its tracker to
// hold instances strongly declares
//   static bool shouldInstanceTrackerUseStrongReference() { return true; }
// Instances leave the tracker when they are destroyed. Main thread, like the classes
// that adopt it; the tracker itself is thread-safe.

#include <concepts>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "libmerovane/core/MVInstanceTracker.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/SharedInstances.h"

template <class Derived>
class MVInstanceTracking {
  public:
    const std::optional<std::string>& identifier() const { return identifier_; }
    // Stores the identifier, then registers the instance under it; none unregisters.
    void setIdentifier(std::optional<std::string> identifier) {
        identifier_ = std::move(identifier);
        sharedInstanceTracker().setInstance(self(), identifier_);
    }
    void makeDefault() { sharedInstanceTracker().setDefaultInstance(self()); }

    static std::shared_ptr<Derived> sharedInstanceForIdentifier(const std::string& identifier) {
        return sharedInstanceTracker().instanceForIdentifier(identifier);
    }
    static std::shared_ptr<Derived> sharedDefaultInstance() {
        return sharedInstanceTracker().defaultInstance();
    }
    static std::vector<std::shared_ptr<Derived>> allSharedIdentifiedInstances() {
        return sharedInstanceTracker().allIdentifidedInstances();
    }
    static void removeAllSharedInstances() { sharedInstanceTracker().removeAllSharedInstances(); }

    static MVInstanceTracker<Derived>& sharedInstanceTracker() {
        static auto* tracker = [] {
            auto* t = new MVInstanceTracker<Derived>(useStrongReference());
            platform::registerSharedInstanceReset(
                "MVInstanceTracker " + MVDemangledTypeName(typeid(Derived).name()),
                [t] { t->resetForTesting(); });
            return t;
        }();
        return *tracker;
    }

  protected:
    MVInstanceTracking() = default;
    MVInstanceTracking(const MVInstanceTracking&) = delete;
    MVInstanceTracking& operator=(const MVInstanceTracking&) = delete;
    ~MVInstanceTracking() {
        if (identity_) sharedInstanceTracker().instanceDeallocated(identity_);
    }

    // Call from the adopter's factory with the new instance; it becomes the default
    // when its class has none.
    static std::shared_ptr<Derived> track(std::shared_ptr<Derived> instance) {
        if (!instance) return instance;
        auto& tracking = static_cast<MVInstanceTracking&>(*instance);
        tracking.self_ = instance;
        tracking.identity_ = instance.get();
        sharedInstanceTracker().setDefaultInstanceIfNone(instance);
        return instance;
    }

  private:
    static bool useStrongReference() {
        if constexpr (requires {
                          {
                              Derived::shouldInstanceTrackerUseStrongReference()
                              } -> std::convertible_to<bool>;
                      })
            return Derived::shouldInstanceTrackerUseStrongReference();
        else
            return false;
    }
    std::shared_ptr<Derived> self() const {
        auto instance = self_.lock();
        platform::assertThat(instance != nullptr,
                             "instance tracking needs an instance made by track()");
        return instance;
    }

    std::optional<std::string> identifier_;
    std::weak_ptr<Derived> self_;
    const void* identity_ = nullptr;
};
