#include "libmerovane/core/MVInstanceTracker.h"

#include <cxxabi.h>
#include <fmt/format.h>

#include <cstdlib>

#include "platform/foundation/Exception.h"

std::string MVDemangledTypeName(const char* mangled) {
    int status = 0;
    char* readable = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    std::string name = status == 0 && readable ? readable : mangled;
    std::free(readable);
    return name;
}

MVInstanceTrackerCore::MVInstanceTrackerCore(bool strongReference, std::string className)
    : strongReference_(strongReference), className_(std::move(className)) {}

MVInstanceTrackerCore::~MVInstanceTrackerCore() = default;

std::string MVInstanceTrackerCore::describe(const void* instance) const {
    return fmt::format("<{}: {}>", className_, instance);
}

void MVInstanceTrackerCore::removeEntriesOf(const void* instance,
                                            std::vector<std::shared_ptr<void>>& released) {
    for (auto it = instances_.begin(); it != instances_.end();) {
        if (it->second.identity == instance) {
            if (it->second.strong) released.push_back(std::move(it->second.strong));
            it = instances_.erase(it);
        } else {
            ++it;
        }
    }
}

void MVInstanceTrackerCore::setInstance(const std::shared_ptr<void>& instance,
                                        const std::optional<std::string>& currentIdentifier,
                                        const std::optional<std::string>& identifier) {
    if (!instance) return;
    std::vector<std::shared_ptr<void>> released;  // freed after the lock is let go
    std::lock_guard lock(mutex_);
    if (!identifier) {
        // No identifier: the instance leaves the table under every name it had.
        removeEntriesOf(instance.get(), released);
        return;
    }
    // The entry under the instance's own identifier as it reads now, whoever holds it.
    auto current = currentIdentifier ? instances_.find(*currentIdentifier) : instances_.end();
    if (current != instances_.end() && current->first == *identifier &&
        current->second.identity == instance.get())
        return;
    auto taken = instances_.find(*identifier);
    if (taken != instances_.end()) {
        auto other = taken->second.lock();
        if (other && other.get() != instance.get()) {
            throw platform::Exception(
                MVInstanceTrackerDuplicateIdentifierException,
                fmt::format("The identifier :\"{}\" for instance: \"{}\" has already been used for "
                            "instance: \"{}\".\n",
                            *identifier, describe(instance.get()), describe(other.get())));
        }
    }
    // Another instance's entry under that name is not this one's to drop.
    if (current != instances_.end() && current->second.identity == instance.get()) {
        if (current->second.strong) released.push_back(std::move(current->second.strong));
        instances_.erase(current);
    }
    Entry entry;
    entry.identity = instance.get();
    if (strongReference_)
        entry.strong = instance;
    else
        entry.weak = instance;
    auto& slot = instances_[*identifier];
    if (slot.strong) released.push_back(std::move(slot.strong));
    slot = std::move(entry);
}

std::shared_ptr<void> MVInstanceTrackerCore::instanceForIdentifier(
    const std::string& identifier) const {
    std::lock_guard lock(mutex_);
    auto it = instances_.find(identifier);
    return it == instances_.end() ? nullptr : it->second.lock();
}

void MVInstanceTrackerCore::setDefaultInstance(const std::shared_ptr<void>& instance) {
    if (!instance) {
        throw platform::Exception(
            MVInstanceTrackerDefaultInstanceCannotBeNilException,
            fmt::format(
                "The defaultInstance in MVInstanceTracking for class: <\"{}\"> cannot be set "
                "nil! There should always be a default instance!",
                className_));
    }
    std::lock_guard lock(mutex_);
    defaultInstance_ = instance;
}

void MVInstanceTrackerCore::setDefaultInstanceIfNone(const std::shared_ptr<void>& instance) {
    if (!instance) return;
    std::lock_guard lock(mutex_);
    if (defaultInstance_.expired()) defaultInstance_ = instance;
}

std::shared_ptr<void> MVInstanceTrackerCore::defaultInstance() const {
    std::lock_guard lock(mutex_);
    return defaultInstance_.lock();
}

std::vector<std::shared_ptr<void>> MVInstanceTrackerCore::allIdentifidedInstances() const {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<void>> all;
    for (const auto& [identifier, entry] : instances_)
        if (auto instance = entry.lock()) all.push_back(std::move(instance));
    return all;
}

void MVInstanceTrackerCore::removeAllSharedInstances() {
    std::map<std::string, Entry> released;
    std::lock_guard lock(mutex_);
    released.swap(instances_);
}

void MVInstanceTrackerCore::instanceDeallocated(const void* instance) {
    std::vector<std::shared_ptr<void>> released;
    std::lock_guard lock(mutex_);
    removeEntriesOf(instance, released);
}

void MVInstanceTrackerCore::resetForTesting() {
    std::map<std::string, Entry> released;
    std::lock_guard lock(mutex_);
    released.swap(instances_);
    defaultInstance_.reset();
}
