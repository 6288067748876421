#pragma once
// A status-bar look by name: "light" (light content), "dark" (dark content, the
// platform's default) or "none" (hidden); any other name behaves like "dark". Pages
// choose one; containers answer the platform's status-bar questions from it, falling
// back to the application default.
//
//   auto style = MVStatusBarStyle::statusBarStyleWithStyleIdentifier("light");
//   MVStatusBarStyle::setStatusBarStyleAsAppDefault(*style);
//   controllerStyle = MVStatusBarStyle::statusBarStyleAppDefault()->preferredStatusbarStyle();
//
// Thread-safety: the shared styles may be fetched and read on any thread; changing the
// application default happens on the main thread.

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/ui/InterfaceTypes.h"

class MVStatusBarStyle {
  public:
    explicit MVStatusBarStyle(std::string string);

    // A new style; without an identifier it logs a warning and answers the shared
    // light style.
    static std::shared_ptr<MVStatusBarStyle> statusBarStyleWithStyleIdentifier(
        const std::optional<std::string>& identifier);
    static std::shared_ptr<MVStatusBarStyle> statusBarStyleLight();
    static std::shared_ptr<MVStatusBarStyle> statusBarStyleDark();
    static std::shared_ptr<MVStatusBarStyle> statusBarStyleNone();
    // The application default, "dark" until set. Always the same object: setting the
    // default changes it in place, so every holder sees the new default.
    static std::shared_ptr<MVStatusBarStyle> statusBarStyleAppDefault();
    // Copies the style's name into the application default and asks the application to
    // update its status bar.
    static void setStatusBarStyleAsAppDefault(const MVStatusBarStyle& style);

    // "none": the style the application shows now, so hiding keeps the colours;
    // "light": light content; anything else the default, dark content.
    platform::StatusBarStyle preferredStatusbarStyle() const;
    bool prefersStatusBarHidden() const;

    std::string string() const;
    void setString(std::string string);

  private:
    mutable std::mutex mutex_;
    std::string string_;  // guarded by mutex_
};
