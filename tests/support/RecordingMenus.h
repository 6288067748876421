#pragma once
// Recording stand-ins for the menu bar and the background menus, registered in their
// trackers under a name (the first one made of each kind is the default). Each records
// every call in order; speed factors and parameters are kept exactly as given.
//
//   auto primary = RecordingBackgroundMenu::create("primary");
//   ... perform {"c": "hideBackgroundMenu"} ...
//   primary->calls == {"hide"}; primary->speedFactors == {std::nullopt}

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "libmerovane/bridge/MVBackgroundMenuControllerInterface.h"
#include "libmerovane/bridge/MVMenuBarControllerInterface.h"
#include "platform/ui/ViewController.h"

class RecordingMenuBar : public platform::ViewController, public MVMenuBarControllerInterface {
  public:
    struct BarCall {
        bool show = false;
        MVBarAnimation animation = MVBarAnimation::None;
        std::optional<double> speedFactor;
    };

    // A new menu bar, tracked under the identifier (none: unnamed).
    static std::shared_ptr<RecordingMenuBar> create(std::optional<std::string> identifier);

    void setMenuBarWithUrl(const std::string& url, const nlohmann::json* menuParams) override;
    void setMenuBarWithContent(const std::string& content,
                               const std::optional<std::string>& baseURL,
                               const nlohmann::json* menuParams) override;
    void showMenuBarWithAnimation(MVBarAnimation animation,
                                  std::optional<double> speedFactor) override;
    void hideMenuBarWithAnimation(MVBarAnimation animation,
                                  std::optional<double> speedFactor) override;
    void viewShouldAdjustInsets(const platform::EdgeInsets& insets, bool animated) override;

    // "url(<url>)", "content(<html>,<base URL or (none)>)", "show", "hide", "insets".
    std::vector<std::string> calls;
    std::vector<BarCall> barCalls;
    // The menu parameters of each load; null JSON for none.
    std::vector<nlohmann::json> menuParams;
    // The insets of each viewShouldAdjustInsets, with its animated flag.
    std::vector<std::pair<platform::EdgeInsets, bool>> insets;
};

class RecordingBackgroundMenu : public MVBackgroundMenuControllerInterface {
  public:
    struct Content {
        std::string source;  // the URL, or the HTML
        bool isURL = true;
        std::optional<std::string> baseURL;
        std::string presentationType;
        std::optional<std::string> gestureRecognizer;
        std::optional<double> speedFactor;
        nlohmann::json menuParams;  // null for none
    };

    // A new background menu, tracked under the identifier (none: unnamed).
    static std::shared_ptr<RecordingBackgroundMenu> create(std::optional<std::string> identifier);

    void setContentWithUrl(const std::string& url, const std::string& presentationType,
                           const std::optional<std::string>& backgroundMenuGestureRecognizer,
                           std::optional<double> speedFactor,
                           const nlohmann::json* menuParams) override;
    void setContentWithString(const std::string& content, const std::optional<std::string>& baseURL,
                              const std::string& presentationType,
                              const std::optional<std::string>& backgroundMenuGestureRecognizer,
                              std::optional<double> speedFactor,
                              const nlohmann::json* menuParams) override;
    void showWithPresentationType(const std::optional<std::string>& presentationType,
                                  std::optional<double> speedFactor) override;
    void hideWithSpeedFactor(std::optional<double> speedFactor) override;

    // "set", "show(<type or (none)>)", "hide".
    std::vector<std::string> calls;
    std::vector<Content> contents;
    // The speed factor of each show and hide.
    std::vector<std::optional<double>> speedFactors;
};
