#pragma once
// A localization for tests: answers each key with "<key> in test language" unless the
// test gave a text for it.

#include <map>
#include <memory>
#include <string>

#include "libmerovane/core/MVLocalizationInterface.h"

class FakeLocalization : public MVLocalizationInterface {
  public:
    static std::shared_ptr<FakeLocalization> install() {
        auto localization = std::make_shared<FakeLocalization>();
        MVLocalizationInterface::setShared(localization);
        return localization;
    }
    std::string localizedStringForKey(const std::string& key) const override {
        auto it = texts.find(key);
        return it != texts.end() ? it->second : key + " in test language";
    }
    std::map<std::string, std::string> texts;
};
