#include "libmerovane/core/MVNotificationControllerInterface.h"

#include <mutex>

#include "platform/foundation/SharedInstances.h"

namespace {

// A web-view notification class that makes nothing: the built-in types until the
// overlays register theirs.
class NoNotificationClass : public MVNotificationClassInterface {
  public:
    bool isWebViewNotification() const override { return true; }
    std::shared_ptr<MVNotificationInterface> notificationWithContent(
        const std::string&, const std::optional<std::string>&, const nlohmann::json*,
        std::optional<double>, std::optional<double>,
        const std::shared_ptr<MVWebView>&) const override {
        return nullptr;
    }
    std::shared_ptr<MVNotificationInterface> notificationWithURL(
        const std::string&, const nlohmann::json*, std::optional<double>, std::optional<double>,
        const std::shared_ptr<MVWebView>&) const override {
        return nullptr;
    }
};

MVNotificationTypes builtInTypes() {
    static const auto* none = new std::shared_ptr<const MVNotificationClassInterface>(
        std::make_shared<NoNotificationClass>());
    MVNotificationTypes types;
    for (const auto& name : MVNotificationControllerInterface::builtInNotificationTypes())
        types.emplace(name, *none);
    return types;
}

struct TypeTable {
    std::mutex mutex;
    MVNotificationTypes types = builtInTypes();  // guarded by mutex
};

TypeTable& typeTable() {
    static auto* table = [] {
        auto* created = new TypeTable;
        platform::registerSharedInstanceReset("MVNotificationTypes", [created] {
            std::lock_guard lock(created->mutex);
            created->types = builtInTypes();
        });
        return created;
    }();
    return *table;
}

}  // namespace

const std::vector<std::string>& MVNotificationControllerInterface::builtInNotificationTypes() {
    static const auto* names = new std::vector<std::string>{
        "rightToLeft", "leftToRight", "topToBottom", "pushTop", "pushBottom", "centeredFade"};
    return *names;
}

MVNotificationTypes MVNotificationControllerInterface::notificationTypes() {
    auto& table = typeTable();
    std::lock_guard lock(table.mutex);
    return table.types;
}

std::shared_ptr<const MVNotificationClassInterface>
MVNotificationControllerInterface::notificationType(std::string_view name) {
    auto& table = typeTable();
    std::lock_guard lock(table.mutex);
    auto found = table.types.find(name);
    return found != table.types.end() ? found->second : nullptr;
}

void MVNotificationControllerInterface::registerNotificationType(
    const std::string& name, std::shared_ptr<const MVNotificationClassInterface> cls) {
    auto& table = typeTable();
    std::lock_guard lock(table.mutex);
    if (cls)
        table.types[name] = std::move(cls);
    else
        table.types.erase(name);
}
