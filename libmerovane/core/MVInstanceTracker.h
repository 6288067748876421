#pragma once
// A registry of a class's named instances ("primary", "secondary", a tab's name)
// and of its default instance, which commands fall back on when they name none.
// Classes normally reach theirs through the MVInstanceTracking mixin.
//
//   MVInstanceTracker<MVMenuBarController> tracker;            // weak values
//   tracker.setInstance(menuBar, "main");
//   auto found = tracker.instanceForIdentifier("main");      // null once freed
//
// Values are held weakly unless the tracker is made with strong references; the
// default is always held weakly. An instance renamed by setInstance stays found
// under its earlier identifier too; setting no identifier unregisters it entirely.
// Thread-safe: every operation holds the tracker's lock; instances released by an
// operation are freed after the lock is let go, so their destructors may call back.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <typeinfo>
#include <vector>

// Exception names, as raised.
inline constexpr const char* MVInstanceTrackerDuplicateIdentifierException =
    "Duplicate use of identifier for instance tracking!";
inline constexpr const char* MVInstanceTrackerDefaultInstanceCannotBeNilException =
    "The defaultInstance for MVInstanceTracking cannot be nil";

// The untyped registry under MVInstanceTracker<T>; instances are known by address.
class MVInstanceTrackerCore {
  public:
    MVInstanceTrackerCore(bool strongReference, std::string className);
    ~MVInstanceTrackerCore();

    // `currentIdentifier` is the instance's own identifier as it reads now.
    void setInstance(const std::shared_ptr<void>& instance,
                     const std::optional<std::string>& currentIdentifier,
                     const std::optional<std::string>& identifier);
    std::shared_ptr<void> instanceForIdentifier(const std::string& identifier) const;
    void setDefaultInstance(const std::shared_ptr<void>& instance);
    // Makes `instance` the default unless a live default exists; one atomic step.
    void setDefaultInstanceIfNone(const std::shared_ptr<void>& instance);
    std::shared_ptr<void> defaultInstance() const;
    std::vector<std::shared_ptr<void>> allIdentifidedInstances() const;
    void removeAllSharedInstances();
    void instanceDeallocated(const void* instance);
    // Empties the table and forgets the default; for tests.
    void resetForTesting();

    const std::string& className() const { return className_; }

  private:
    struct Entry {
        const void* identity = nullptr;
        std::weak_ptr<void> weak;
        std::shared_ptr<void> strong;  // only with strong references
        std::shared_ptr<void> lock() const { return strong ? strong : weak.lock(); }
    };
    void removeEntriesOf(const void* instance, std::vector<std::shared_ptr<void>>& released);
    std::string describe(const void* instance) const;

    const bool strongReference_;
    const std::string className_;
    mutable std::mutex mutex_;
    std::map<std::string, Entry> instances_;
    std::weak_ptr<void> defaultInstance_;
};

// The readable name of a C++ type ("MVNavigationController").
std::string MVDemangledTypeName(const char* mangled);

template <class T>
class MVInstanceTracker {
  public:
    explicit MVInstanceTracker(bool strongReference = false)
        : core_(strongReference, MVDemangledTypeName(typeid(T).name())) {}

    // Registers `instance` under `identifier`; none unregisters it. Raises
    // MVInstanceTrackerDuplicateIdentifierException when another live instance
    // holds the identifier. T provides identifier() -> std::optional<std::string>.
    void setInstance(const std::shared_ptr<T>& instance,
                     const std::optional<std::string>& identifier) {
        if (!instance) return;
        core_.setInstance(instance, instance->identifier(), identifier);
    }
    std::shared_ptr<T> instanceForIdentifier(const std::string& identifier) const {
        return std::static_pointer_cast<T>(core_.instanceForIdentifier(identifier));
    }
    // Raises MVInstanceTrackerDefaultInstanceCannotBeNilException for null.
    void setDefaultInstance(const std::shared_ptr<T>& instance) {
        core_.setDefaultInstance(instance);
    }
    void setDefaultInstanceIfNone(const std::shared_ptr<T>& instance) {
        core_.setDefaultInstanceIfNone(instance);
    }
    std::shared_ptr<T> defaultInstance() const {
        return std::static_pointer_cast<T>(core_.defaultInstance());
    }
    // The live registered instances, in no particular order.
    std::vector<std::shared_ptr<T>> allIdentifidedInstances() const {
        std::vector<std::shared_ptr<T>> all;
        for (auto& v : core_.allIdentifidedInstances())
            all.push_back(std::static_pointer_cast<T>(v));
        return all;
    }
    // Empties the table; the default stays.
    void removeAllSharedInstances() { core_.removeAllSharedInstances(); }
    // Removes every entry of `instance`; called from its destructor, never raises.
    void instanceDeallocated(const void* instance) { core_.instanceDeallocated(instance); }
    void resetForTesting() { core_.resetForTesting(); }

  private:
    MVInstanceTrackerCore core_;
};
