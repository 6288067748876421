// Menu bars and background menus are found by name once the containers make them.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVBackgroundMenuControllerInterface.h"
#include "libmerovane/bridge/MVMenuBarControllerInterface.h"

namespace {

class Menu : public MVBackgroundMenuControllerInterface {
  public:
    static std::shared_ptr<MVBackgroundMenuControllerInterface> create() {
        return track(std::make_shared<Menu>());
    }
    void setContentWithUrl(const std::string&, const std::string&, const std::string&,
                           std::optional<double>, const nlohmann::json*) override {}
    void setContentWithString(const std::string&, const std::string&, const std::string&,
                              const std::string&, std::optional<double>,
                              const nlohmann::json*) override {}
    void showWithPresentationType(const std::optional<std::string>&,
                                  std::optional<double>) override {}
    void hideWithSpeedFactor(std::optional<double>) override {}
};

TEST(MVMenuInterfacesTest, MenusAreFoundByNameAndTheFirstIsTheDefault) {
    EXPECT_EQ(MVMenuBarControllerInterface::sharedDefaultInstance(), nullptr);
    EXPECT_EQ(MVBackgroundMenuControllerInterface::sharedDefaultInstance(), nullptr);
    auto primary = Menu::create();
    auto secondary = Menu::create();
    primary->setIdentifier("primary");
    secondary->setIdentifier("secondary");
    EXPECT_EQ(MVBackgroundMenuControllerInterface::sharedDefaultInstance(), primary);
    EXPECT_EQ(MVBackgroundMenuControllerInterface::sharedInstanceForIdentifier("secondary"),
              secondary);
    secondary.reset();
    EXPECT_EQ(MVBackgroundMenuControllerInterface::sharedInstanceForIdentifier("secondary"),
              nullptr);
}

}  // namespace
