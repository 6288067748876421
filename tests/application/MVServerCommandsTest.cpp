#include <nlohmann/json.hpp>

#include "libmerovane/application/MVServerCommands.h"
#include "libmerovane/connection/MVApiConnectionVariable.h"
#include "libmerovane/core/KeychainExtensions.h"
#include "libmerovane/core/MVUserDefaultsKeys.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "platform/ui/Device.h"
#include "platform/ui/Screen.h"
#include "tests/application/LibraryApplicationFixture.h"

using nlohmann::json;

namespace {

using MVServerCommandsTest = LibraryApplicationTest;

json asSent(const MVCommand& command) {
    return {command.name(), command.parameters() ? *command.parameters() : json()};
}

TEST_F(MVServerCommandsTest, AppStartOnAPadWithTheStoredKeyAndTheCachedScript) {
    auto& device = platform::Device::current();
    device.setUserInterfaceIdiom(platform::UserInterfaceIdiom::Pad);
    device.setMachine("iPad5,1");
    device.setSystemVersion("9.3");
    platform::Screen::main().setPortraitSize({768, 1024});
    platform::Screen::main().setScale(3);
    setLanguages({"de-DE", "en"});
    library().setApiKey("key-1");
    ASSERT_TRUE(libmerovanePrivateKeychain());
    MVPersistentStorage::sharedStorage().lockedAccess([] {
        auto variable = MVApiConnectionVariable::dbObjectCreate();
        variable->setId("autologinKey");
        variable->setValue("k");
    });
    platform::UserDefaults::standard().setObject(MVStandardUserDefaultsCachedBootScript,
                                                 {{"identifier", "B"}, {"cmds", json::array()}});
    const json expected{{"apiKey", "key-1"},
                        {"appVersion", "4.2"},
                        {"appIdentifier", "shop-id"},
                        {"codebase", "cb"},
                        {"autologinKey", "k"},
                        {"bootAppIdentifier", "B"},
                        {"device",
                         {{"model", "iPad5,1"},
                          {"screen", {{"width", 1024.0}, {"height", 768.0}, {"scale", 1}}},
                          {"os", {{"platform", "ios"}, {"ver", "9.3"}, {"apiLevel", "9.3"}}},
                          {"type", "tablet"},
                          {"carrier", ""},
                          {"locale", "de-DE"},
                          {"cameras", json::array()}}}};
    EXPECT_EQ(asSent(MVCommandApiGeneral::appStart()), (json{"appStart", expected}));

    // A phone at scale 2 with a camera, an empty key and a script without identifier.
    device.setUserInterfaceIdiom(platform::UserInterfaceIdiom::Phone);
    platform::Screen::main().setScale(2);
    platform::Screen::main().setPortraitSize({320, 568});
    device.setVideoCaptureDevices(
        {{platform::CaptureDevice::Position::Front, 1280, 720, false},
         {platform::CaptureDevice::Position::Unspecified, 1920, 1080, true}});
    MVPersistentStorage::sharedStorage().lockedAccess(
        [] { MVApiConnectionVariable::dbObjectWithID("autologinKey")->setValue(""); });
    platform::UserDefaults::standard().setObject(MVStandardUserDefaultsCachedBootScript,
                                                 {{"identifier", 5}});
    const json sent = *MVCommandApiGeneral::appStart().parameters();
    EXPECT_FALSE(sent.contains("autologinKey"));
    EXPECT_FALSE(sent.contains("bootAppIdentifier"));
    EXPECT_FALSE(sent["device"].contains("advertisingId"));
    EXPECT_EQ(sent["device"]["screen"], (json{{"width", 320.0}, {"height", 568.0}, {"scale", 2}}));
    EXPECT_EQ(sent["device"]["type"], "phone");
    EXPECT_EQ(sent["device"]["cameras"],
              json::parse(
                  R"([{"type":"front","video":1,"resolutionX":1280,"resolutionY":720,"light":false},
                              {"type":"back","video":1,"resolutionX":1920,"resolutionY":1080,"light":true}])"));
}

TEST(MVServerCommandBuildersTest, EveryBuilderWithItsKeys) {
    const MVLocationFix fix{52.5, 13.4, 10, 30};
    const std::pair<MVCommand, json> rows[] = {
        {MVCommandApiGeneral::setPushNotificationToken("t"),
         {"setPushToken", {{"pushToken", "t"}}}},
        {MVCommandApiGeneral::openPushNotification("n", true, "a", "c"),
         {"openPushNotification", {{"notificationId", "n"}, {"needsInAppDisplay", true}}}},
        {MVCommandApiGeneral::openPushNotification("n", false, "a", "c"),
         {"openPushNotification", {{"notificationId", "n"}, {"category", "c"}, {"action", "a"}}}},
        {MVCommandApiGeneral::openPushNotification("n", false, "a", std::nullopt),
         {"openPushNotification", {{"notificationId", "n"}}}},
        {MVCommandApiGeneral::openPage("https://x/"), {"openPage", {{"src", "https://x/"}}}},
        {MVCommandApiGeneral::openDeepLink(std::nullopt, 3, std::nullopt),
         {"openDeepLink", {{"linkId", ""}, {"linkSerial", 3}, {"parameters", ""}}}},
        {MVCommandApiGeneral::openDeepLink("p/1", -2, json("?x=1")),
         {"openDeepLink", {{"linkId", "p/1"}, {"linkSerial", -2}, {"parameters", "?x=1"}}}},
        {MVCommandLocation::setLocation(std::nullopt), {"setLocation", {{"location", nullptr}}}},
        {MVCommandLocation::setLocation(fix),
         {"setLocation",
          {{"location", {{{"latitude", 52.5}, {"longitude", 13.4}, {"accuracy", 30.0}}}}}}},
        {MVCommandLocation::locationServiceStatusDidChange(false),
         {"locationServiceStatusDidChange", {{"allowed", false}}}},
        {MVCommandScreenshot::setScreenshotWithData(std::nullopt, "s"),
         {"setScreenshot", {{"id", "s"}, {"imageData", nullptr}}}},
        {MVCommandScreenshot::setScreenshotWithData("AAA=", "s"),
         {"setScreenshot", {{"id", "s"}, {"imageData", "AAA="}}}},
        {MVCommandContent::getPage("home"), {"getPage", {{"pageId", "home"}}}},
        {MVCommandContent::getLocalization({{"de", "h"}}),
         {"getLocalization", {{"fileHashes", {{"de", "h"}}}}}},
    };
    for (const auto& [command, expected] : rows) EXPECT_EQ(asSent(command), expected);
}

}  // namespace
