#include "libmerovane/bridge/MVStatusBarStyle.h"

#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/UIApplicationExtensions.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/ui/Application.h"

namespace {

constexpr const char* kLight = "light";
constexpr const char* kDark = "dark";
constexpr const char* kNone = "none";
constexpr const char* kNoIdentifierLine =
    "<statusBarStyleWithStyleIdentifier> called without identifier. Sent back default with "
    "light content.";

// Shared styles are made once and never destroyed, so other threads may read them
// until the process ends.
std::shared_ptr<MVStatusBarStyle> shared(const char* name) {
    return std::make_shared<MVStatusBarStyle>(name);
}

}  // namespace

MVStatusBarStyle::MVStatusBarStyle(std::string string) : string_(std::move(string)) {}

std::shared_ptr<MVStatusBarStyle> MVStatusBarStyle::statusBarStyleWithStyleIdentifier(
    const std::optional<std::string>& identifier) {
    if (!identifier) {
        MVLogWarn("{}", kNoIdentifierLine);
        return statusBarStyleLight();
    }
    return std::make_shared<MVStatusBarStyle>(*identifier);
}

std::shared_ptr<MVStatusBarStyle> MVStatusBarStyle::statusBarStyleLight() {
    static auto* style = new std::shared_ptr<MVStatusBarStyle>(shared(kLight));
    return *style;
}

std::shared_ptr<MVStatusBarStyle> MVStatusBarStyle::statusBarStyleDark() {
    static auto* style = new std::shared_ptr<MVStatusBarStyle>(shared(kDark));
    return *style;
}

std::shared_ptr<MVStatusBarStyle> MVStatusBarStyle::statusBarStyleNone() {
    static auto* style = new std::shared_ptr<MVStatusBarStyle>(shared(kNone));
    return *style;
}

std::shared_ptr<MVStatusBarStyle> MVStatusBarStyle::statusBarStyleAppDefault() {
    static auto* style = [] {
        auto* created = new std::shared_ptr<MVStatusBarStyle>(shared(kDark));
        platform::registerSharedInstanceReset("MVStatusBarStyle",
                                              [created] { (*created)->setString(kDark); });
        return created;
    }();
    return *style;
}

void MVStatusBarStyle::setStatusBarStyleAsAppDefault(const MVStatusBarStyle& style) {
    statusBarStyleAppDefault()->setString(style.string());
    setNeedsStatusBarAppearanceUpdate(platform::Application::shared());
}

platform::StatusBarStyle MVStatusBarStyle::preferredStatusbarStyle() const {
    const std::string name = string();
    if (name == kNone) return platform::Application::shared().statusBarStyle();
    if (name == kLight) return platform::StatusBarStyle::LightContent;
    return platform::StatusBarStyle::Default;
}

bool MVStatusBarStyle::prefersStatusBarHidden() const {
    return string() == kNone;
}

std::string MVStatusBarStyle::string() const {
    std::lock_guard lock(mutex_);
    return string_;
}

void MVStatusBarStyle::setString(std::string string) {
    std::lock_guard lock(mutex_);
    string_ = std::move(string);
}
