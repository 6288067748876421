#include "libmerovane/bridge/MVCommandTable.h"

#include "platform/foundation/Exception.h"
#include "platform/foundation/SharedInstances.h"

MVCommandTable::MVCommandTable(std::string className) : className_(std::move(className)) {
    platform::registerSharedInstanceReset(className_ + " commands", [this] { clear(); });
}

void MVCommandTable::add(const std::string& name, MVCommandDefinition definition) {
    platform::assertThat(static_cast<bool>(definition.perform),
                         "[self respondsToSelector:commandSelector] == YES");
    auto shared = std::make_shared<const MVCommandDefinition>(std::move(definition));
    std::unique_lock lock(mutex_);
    commands_[name] = std::move(shared);
}

std::shared_ptr<const MVCommandDefinition> MVCommandTable::find(std::string_view name) const {
    std::shared_lock lock(mutex_);
    auto it = commands_.find(name);
    return it == commands_.end() ? nullptr : it->second;
}

size_t MVCommandTable::size() const {
    std::shared_lock lock(mutex_);
    return commands_.size();
}

std::vector<std::string> MVCommandTable::names() const {
    std::shared_lock lock(mutex_);
    std::vector<std::string> names;
    names.reserve(commands_.size());
    for (const auto& entry : commands_) names.push_back(entry.first);
    return names;
}

void MVCommandTable::clear() {
    std::unique_lock lock(mutex_);
    commands_.clear();
}
