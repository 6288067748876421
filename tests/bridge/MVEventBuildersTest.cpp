// The page-event vocabulary: each builder's name, parameters and amend flag.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVEventGeneral.h"
#include "libmerovane/bridge/MVEventLocation.h"
#include "libmerovane/bridge/MVEventScanner.h"
#include "libmerovane/bridge/MVEventViews.h"
#include "libmerovane/bridge/MVEventWebViews.h"
#include "tests/support/PlatformTest.h"

using nlohmann::json;

namespace {

struct BuilderCase {
    const char* label;
    std::function<MVEvent()> build;
    const char* name;
    const char* parameters;
    bool amends;
};

void PrintTo(const BuilderCase& c, std::ostream* os) {
    *os << c.label;
}

class EventBuilders : public ::testing::TestWithParam<BuilderCase> {};

TEST_P(EventBuilders, MakeTheirEvent) {
    const auto& c = GetParam();
    MVEvent event = c.build();
    EXPECT_EQ(event.eventName(), c.name);
    EXPECT_EQ(event.parameters(), json::parse(c.parameters));
    EXPECT_EQ(event.amendPreviousEvent(), c.amends);
}

const json kBar = {{"title", "Home"}};
const json kExtra = {{"color", "#fff"}};
const json kContent = {{"html", "<b>x</b>"}};
const json kStored = "stored";
const json kNull = nullptr;
const std::vector<std::string> kTags = {"a", "b"};

INSTANTIATE_TEST_SUITE_P(
    Vocabulary, EventBuilders,
    ::testing::Values(
        BuilderCase{"viewWillAppear", [] { return MVEventViews::viewWillAppearAnimated(true); },
                    "viewWillAppear", "[true]", false},
        BuilderCase{"viewDidAppear", [] { return MVEventViews::viewDidAppearAnimated(false); },
                    "viewDidAppear", "[false]", false},
        BuilderCase{"viewWillDisappear",
                    [] { return MVEventViews::viewWillDisappearAnimated(true); },
                    "viewWillDisappear", "[true]", false},
        BuilderCase{"viewDidDisappear", [] { return MVEventViews::viewDidDisappearAnimated(true); },
                    "viewDidDisappear", "[true]", false},
        BuilderCase{"tabDidChange", [] { return MVEventViews::tabDidChange("shop"); },
                    "tabDidChange", R"(["shop"])", false},
        BuilderCase{"splashScreenDidFinish", [] { return MVEventViews::splashScreenDidFinish(); },
                    "splashScreenDidFinish", "[]", false},
        BuilderCase{"setSplashScreenProgressOffset",
                    [] { return MVEventViews::setSplashScreenProgressOffset(0.25); },
                    "setSplashScreenProgressOffset", "[0.25]", false},
        BuilderCase{"updateTemplateContent",
                    [] { return MVEventWebViews::updateTemplateContent(&kContent); },
                    "updateTemplateContent", R"([{"html":"<b>x</b>"}])", true},
        // no content: an empty parameter array, not [null]
        BuilderCase{"updateTemplateContent none",
                    [] { return MVEventWebViews::updateTemplateContent(nullptr); },
                    "updateTemplateContent", "[]", true},
        BuilderCase{"updateTemplateContent null",
                    [] { return MVEventWebViews::updateTemplateContent(&kNull); },
                    "updateTemplateContent", "[]", true},
        BuilderCase{
            "updateNavigationBar arrow",
            [] { return MVEventWebViews::updateNavigationBar(&kBar, 2, 1, &kExtra); },
            "updateNavigationBar",
            R"j([{"title":"Home"},"push",{"color":"#fff","leftButtonArrow":true,"leftButtonAction":"MVAction.popTab()"}])j",
            true},
        // no bar: the empty string; bit 0 clear still carries both keys
        BuilderCase{"updateNavigationBar plain",
                    [] { return MVEventWebViews::updateNavigationBar(nullptr, 1, 2, nullptr); },
                    "updateNavigationBar",
                    R"(["","fade",{"leftButtonArrow":false,"leftButtonAction":""}])", true},
        // an index outside the table carries no valid name
        BuilderCase{"updateNavigationBar bad animation",
                    [] { return MVEventWebViews::updateNavigationBar(nullptr, 7, 0, nullptr); },
                    "updateNavigationBar",
                    R"(["","",{"leftButtonArrow":false,"leftButtonAction":""}])", true},
        BuilderCase{"updateNavigationBar pop none",
                    [] { return MVEventWebViews::updateNavigationBar(nullptr, 3, 0, nullptr); },
                    "updateNavigationBar",
                    R"(["","pop",{"leftButtonArrow":false,"leftButtonAction":""}])", true},
        BuilderCase{
            "dataResponse",
            [] { return MVEventWebViews::dataResponse("7", 200, "{}", "application/json"); },
            "dataResponse", R"(["7",200,"{}","application/json"])", false},
        BuilderCase{
            "dataResponse without body",
            [] { return MVEventWebViews::dataResponse("7", 404, std::nullopt, std::nullopt); },
            "dataResponse", R"(["7",404,"",""])", false},
        BuilderCase{
            "pageContext full",
            [] {
                return *MVEventWebViews::pageContext("https://x/p", "https://x/", "tab", true,
                                                     "main", "Shop", &kTags);
            },
            "pageContext",
            R"([{"type":"tab","src":"https://x/p","cached":true,"identifier":"main","tab":"Shop","tags":["a","b"]}])",
            true},
        BuilderCase{
            "pageContext minimal",
            [] {
                return *MVEventWebViews::pageContext("mvapi:home", std::nullopt, "menuBar", false,
                                                     std::nullopt, std::nullopt, nullptr);
            },
            "pageContext", R"([{"type":"menuBar","src":"mvapi:home","cached":false}])", true},
        BuilderCase{"pageInsetsChanged",
                    [] {
                        return MVEventWebViews::pageInsetsChanged({64, 10, 49.5, 20}, true);
                    },
                    "pageInsetsChanged",
                    R"([{"top":64.0,"bottom":49.5,"left":10.0,"right":20.0},true])", true},
        BuilderCase{"webStorageResponse",
                    [] { return MVEventWebViews::webStorageResponse(&kStored, 12, 3); },
                    "webStorageResponse", R"([3,12,"stored"])", false},
        // a missing value is null
        BuilderCase{"webStorageResponse missing",
                    [] { return MVEventWebViews::webStorageResponse(nullptr, 0, 4); },
                    "webStorageResponse", "[4,0,null]", false},
        BuilderCase{"beginPageProgress", [] { return MVEventWebViews::beginPageProgress(); },
                    "beginPageProgress", "[]", false},
        BuilderCase{"endPageProgress", [] { return MVEventWebViews::endPageProgress(); },
                    "endPageProgress", "[]", false},
        BuilderCase{"updatePageProgress", [] { return MVEventWebViews::updatePageProgress(0.5f); },
                    "updatePageProgress", "[0.5]", true},
        BuilderCase{
            "updatePageProgressInfo",
            [] {
                return MVEventWebViews::updatePageProgressInfo("https://x", true, false, "Title",
                                                               3);
            },
            "updatePageProgressInfo",
            R"([{"url":"https://x","isSecure":true,"isTrusted":false,"title":"Title","historySize":3}])",
            false},
        BuilderCase{"updatePageProgressInfo bare",
                    [] {
                        return MVEventWebViews::updatePageProgressInfo(std::nullopt, false, false,
                                                                       std::nullopt, 0);
                    },
                    "updatePageProgressInfo",
                    R"([{"url":"","isSecure":false,"isTrusted":false,"historySize":0}])", false},
        // accuracy: the larger of the two
        BuilderCase{"setLocation", [] { return MVEventLocation::setLocation(52.5, 13.25, 65, 10); },
                    "setLocation", R"([{"latitude":52.5,"longitude":13.25,"accuracy":65.0}])",
                    false},
        BuilderCase{"setLocation vertical",
                    [] { return MVEventLocation::setLocation(1, 2, 5, 30); }, "setLocation",
                    R"([{"latitude":1.0,"longitude":2.0,"accuracy":30.0}])", false},
        BuilderCase{"setLocation without fix", [] { return MVEventLocation::setLocation(); },
                    "setLocation", "[]", false},
        BuilderCase{"locationServiceStatusDidChange",
                    [] { return MVEventLocation::locationServiceStatusDidChange(true); },
                    "locationServiceStatusDidChange", "[true]", true},
        // whole seconds, fraction dropped
        BuilderCase{
            "applicationWillEnterForeground",
            [] {
                return MVEventGeneral::applicationWillEnterForegroundWithSecondsinBackground(59.9);
            },
            "applicationWillEnterForeground", "[59]", false},
        // a time that is no number must not reach an undefined conversion
        BuilderCase{
            "applicationWillEnterForeground nan",
            [] {
                return MVEventGeneral::applicationWillEnterForegroundWithSecondsinBackground(
                    std::nan(""));
            },
            "applicationWillEnterForeground", "[0]", false},
        BuilderCase{"applicationDidEnterBackground",
                    [] { return MVEventGeneral::applicationDidEnterBackground(); },
                    "applicationWillEnterBackground", "[]", false},
        BuilderCase{"scannerDidScan",
                    [] { return MVEventScanner::scannerDidScan("4006381333931", "EAN-13"); },
                    "scannerDidScan", R"([{"code":"4006381333931","format":"EAN-13"}])", false},
        BuilderCase{"scannerDidCaptureImage",
                    [] { return MVEventScanner::scannerDidCaptureImage("aGk=", "jpeg", "r1"); },
                    "scannerDidCaptureImage",
                    R"([{"imageData":"aGk=","requestId":"r1","format":"jpeg"}])", false},
        BuilderCase{"scannerDidCaptureImage empty",
                    [] {
                        return MVEventScanner::scannerDidCaptureImage(std::nullopt, std::nullopt,
                                                                      std::nullopt);
                    },
                    "scannerDidCaptureImage", R"([{"imageData":"","requestId":"","format":""}])",
                    false}),
    [](const ::testing::TestParamInfo<BuilderCase>& info) {
        std::string name = info.param.label;
        for (char& ch : name)
            if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

class PageContextTest : public PlatformTest {};

TEST_F(PageContextTest, WithoutSourceOrTypeMakesNoEventAndWarns) {
    EXPECT_FALSE(MVEventWebViews::pageContext(std::nullopt, std::nullopt, "tab", false,
                                              std::nullopt, std::nullopt, nullptr));
    EXPECT_FALSE(MVEventWebViews::pageContext("x", std::nullopt, std::nullopt, false, std::nullopt,
                                              std::nullopt, nullptr));
    EXPECT_EQ(loggedCount("<PageContext> without src ot type."), 2u);
}

TEST(EventScripts, EmptyEventsReachThePageWithAnEmptyArray) {
    EXPECT_EQ(MVEventViews::splashScreenDidFinish().stringForJavaFunctionCall(),
              R"(MVEvent.__call("splashScreenDidFinish",[]))");
    EXPECT_EQ(MVEventWebViews::beginPageProgress().stringForJavaFunctionCall(),
              R"(MVEvent.__call("beginPageProgress",[]))");
    EXPECT_EQ(MVEventWebViews::endPageProgress().stringForJavaFunctionCall(),
              R"(MVEvent.__call("endPageProgress",[]))");
    EXPECT_EQ(MVEventGeneral::applicationDidEnterBackground().stringForJavaFunctionCall(),
              R"(MVEvent.__call("applicationWillEnterBackground",[]))");
}

}  // namespace
