#include "tests/support/RecordingMenus.h"

namespace {

nlohmann::json recordedMenuParams(const nlohmann::json* menuParams) {
    return menuParams ? *menuParams : nlohmann::json();
}

}  // namespace

std::shared_ptr<RecordingMenuBar> RecordingMenuBar::create(std::optional<std::string> identifier) {
    auto menuBar = std::make_shared<RecordingMenuBar>();
    track(menuBar);
    if (identifier) menuBar->setIdentifier(std::move(identifier));
    return menuBar;
}

void RecordingMenuBar::setMenuBarWithUrl(const std::string& url, const nlohmann::json* params) {
    calls.push_back("url(" + url + ")");
    menuParams.push_back(recordedMenuParams(params));
}

void RecordingMenuBar::setMenuBarWithContent(const std::string& content,
                                             const std::optional<std::string>& baseURL,
                                             const nlohmann::json* params) {
    calls.push_back("content(" + content + "," + baseURL.value_or("(none)") + ")");
    menuParams.push_back(recordedMenuParams(params));
}

void RecordingMenuBar::showMenuBarWithAnimation(MVBarAnimation animation,
                                                std::optional<double> speedFactor) {
    calls.push_back("show");
    barCalls.push_back({true, animation, speedFactor});
}

void RecordingMenuBar::hideMenuBarWithAnimation(MVBarAnimation animation,
                                                std::optional<double> speedFactor) {
    calls.push_back("hide");
    barCalls.push_back({false, animation, speedFactor});
}

void RecordingMenuBar::viewShouldAdjustInsets(const platform::EdgeInsets& given, bool animated) {
    calls.push_back("insets");
    insets.emplace_back(given, animated);
}

std::shared_ptr<RecordingBackgroundMenu> RecordingBackgroundMenu::create(
    std::optional<std::string> identifier) {
    auto menu = std::make_shared<RecordingBackgroundMenu>();
    track(menu);
    if (identifier) menu->setIdentifier(std::move(identifier));
    return menu;
}

void RecordingBackgroundMenu::setContentWithUrl(
    const std::string& url, const std::string& presentationType,
    const std::optional<std::string>& backgroundMenuGestureRecognizer,
    std::optional<double> speedFactor, const nlohmann::json* menuParams) {
    calls.push_back("set");
    contents.push_back({url, true, std::nullopt, presentationType, backgroundMenuGestureRecognizer,
                        speedFactor, recordedMenuParams(menuParams)});
}

void RecordingBackgroundMenu::setContentWithString(
    const std::string& content, const std::optional<std::string>& baseURL,
    const std::string& presentationType,
    const std::optional<std::string>& backgroundMenuGestureRecognizer,
    std::optional<double> speedFactor, const nlohmann::json* menuParams) {
    calls.push_back("set");
    contents.push_back({content, false, baseURL, presentationType, backgroundMenuGestureRecognizer,
                        speedFactor, recordedMenuParams(menuParams)});
}

void RecordingBackgroundMenu::showWithPresentationType(
    const std::optional<std::string>& presentationType, std::optional<double> speedFactor) {
    calls.push_back("show(" + presentationType.value_or("(none)") + ")");
    speedFactors.push_back(speedFactor);
}

void RecordingBackgroundMenu::hideWithSpeedFactor(std::optional<double> speedFactor) {
    calls.push_back("hide");
    speedFactors.push_back(speedFactor);
}
