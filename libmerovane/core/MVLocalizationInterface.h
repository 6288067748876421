#pragma once
// The lookup of the few texts native code shows itself, by localization key:
//
//   std::string text = MVLocalizedString("#webview.failed.load");
//
// The library's localization implements MVLocalizationInterface and is installed with
// setShared at start-up; tests install fakes. Without one, a key answers itself, as a
// key missing from every table does.
// Thread-safety: any thread.

#include <memory>
#include <string>

class MVLocalizationInterface {
  public:
    virtual ~MVLocalizationInterface() = default;
    virtual std::string localizedStringForKey(const std::string& key) const = 0;

    // The installed localization; null until one is installed.
    static std::shared_ptr<MVLocalizationInterface> shared();
    static void setShared(std::shared_ptr<MVLocalizationInterface> localization);
};

// The installed localization's text for `key`, or the key itself.
std::string MVLocalizedString(const std::string& key);
