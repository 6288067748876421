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

TEST(EventBuilders, MakeTheirEvent) {
    const json bar = {{"title", "Home"}};
    const json extra = {{"color", "#fff"}};
    const json content = {{"html", "<b>x</b>"}};
    const json stored = "stored";
    const json null = nullptr;
    const std::vector<std::string> tags = {"a", "b"};
    struct Row {
        MVEvent event;
        const char* name;
        const char* parameters;
        bool amends;
    } rows[] = {
        {MVEventViews::viewWillAppearAnimated(true), "viewWillAppear", "[true]", false},
        {MVEventViews::viewDidAppearAnimated(false), "viewDidAppear", "[false]", false},
        {MVEventViews::viewWillDisappearAnimated(true), "viewWillDisappear", "[true]", false},
        {MVEventViews::viewDidDisappearAnimated(true), "viewDidDisappear", "[true]", false},
        {MVEventViews::tabDidChange("shop"), "tabDidChange", R"(["shop"])", false},
        {MVEventViews::splashScreenDidFinish(), "splashScreenDidFinish", "[]", false},
        {MVEventViews::setSplashScreenProgressOffset(0.25), "setSplashScreenProgressOffset",
         "[0.25]", false},
        {MVEventWebViews::updateTemplateContent(&content), "updateTemplateContent",
         R"([{"html":"<b>x</b>"}])", true},
        // no content: an empty parameter array, not [null]
        {MVEventWebViews::updateTemplateContent(nullptr), "updateTemplateContent", "[]", true},
        {MVEventWebViews::updateTemplateContent(&null), "updateTemplateContent", "[]", true},
        {MVEventWebViews::updateNavigationBar(&bar, 2, 1, &extra), "updateNavigationBar",
         R"j([{"title":"Home"},"push",{"color":"#fff","leftButtonArrow":true,"leftButtonAction":"MVAction.popTab()"}])j",
         true},
        // no bar: the empty string; bit 0 clear still carries both keys
        {MVEventWebViews::updateNavigationBar(nullptr, 1, 2, nullptr), "updateNavigationBar",
         R"(["","fade",{"leftButtonArrow":false,"leftButtonAction":""}])", true},
        // an index outside the table carries no valid name
        {MVEventWebViews::updateNavigationBar(nullptr, 7, 0, nullptr), "updateNavigationBar",
         R"(["","",{"leftButtonArrow":false,"leftButtonAction":""}])", true},
        {MVEventWebViews::updateNavigationBar(nullptr, 3, 0, nullptr), "updateNavigationBar",
         R"(["","pop",{"leftButtonArrow":false,"leftButtonAction":""}])", true},
        {MVEventWebViews::dataResponse("7", 200, "{}", "application/json"), "dataResponse",
         R"(["7",200,"{}","application/json"])", false},
        {MVEventWebViews::dataResponse("7", 404, std::nullopt, std::nullopt), "dataResponse",
         R"(["7",404,"",""])", false},
        {*MVEventWebViews::pageContext("https://x/p", "https://x/", "tab", true, "main", "Shop",
                                       &tags),
         "pageContext",
         R"([{"type":"tab","src":"https://x/p","cached":true,"identifier":"main","tab":"Shop","tags":["a","b"]}])",
         true},
        {*MVEventWebViews::pageContext("mvapi:home", std::nullopt, "menuBar", false, std::nullopt,
                                       std::nullopt, nullptr),
         "pageContext", R"([{"type":"menuBar","src":"mvapi:home","cached":false}])", true},
        {MVEventWebViews::pageInsetsChanged({64, 10, 49.5, 20}, true), "pageInsetsChanged",
         R"([{"top":64.0,"bottom":49.5,"left":10.0,"right":20.0},true])", true},
        {MVEventWebViews::webStorageResponse(&stored, 12, 3), "webStorageResponse",
         R"([3,12,"stored"])", false},
        // a missing value is null
        {MVEventWebViews::webStorageResponse(nullptr, 0, 4), "webStorageResponse", "[4,0,null]",
         false},
        {MVEventWebViews::beginPageProgress(), "beginPageProgress", "[]", false},
        {MVEventWebViews::endPageProgress(), "endPageProgress", "[]", false},
        {MVEventWebViews::updatePageProgress(0.5f), "updatePageProgress", "[0.5]", true},
        // a float is written as the shortest text that reads back as that float
        {MVEventWebViews::updatePageProgress(0.0125f), "updatePageProgress", "[0.0125]", true},
        {MVEventWebViews::updatePageProgressInfo("https://x", true, false, "Title", 3),
         "updatePageProgressInfo",
         R"([{"url":"https://x","isSecure":true,"isTrusted":false,"title":"Title","historySize":3}])",
         false},
        {MVEventWebViews::updatePageProgressInfo(std::nullopt, false, false, std::nullopt, 0),
         "updatePageProgressInfo",
         R"([{"url":"","isSecure":false,"isTrusted":false,"historySize":0}])", false},
        // accuracy: the larger of the two
        {MVEventLocation::setLocation(52.5, 13.25, 65, 10), "setLocation",
         R"([{"latitude":52.5,"longitude":13.25,"accuracy":65.0}])", false},
        {MVEventLocation::setLocation(1, 2, 5, 30), "setLocation",
         R"([{"latitude":1.0,"longitude":2.0,"accuracy":30.0}])", false},
        {MVEventLocation::setLocation(), "setLocation", "[]", false},
        {MVEventLocation::locationServiceStatusDidChange(true), "locationServiceStatusDidChange",
         "[true]", true},
        // whole seconds, fraction dropped
        {MVEventGeneral::applicationWillEnterForegroundWithSecondsinBackground(59.9),
         "applicationWillEnterForeground", "[59]", false},
        // a time that is no number must not reach an undefined conversion
        {MVEventGeneral::applicationWillEnterForegroundWithSecondsinBackground(std::nan("")),
         "applicationWillEnterForeground", "[0]", false},
        {MVEventGeneral::applicationDidEnterBackground(), "applicationWillEnterBackground", "[]",
         false},
        {MVEventScanner::scannerDidScan("4006381333931", "EAN-13"), "scannerDidScan",
         R"([{"code":"4006381333931","format":"EAN-13"}])", false},
        {MVEventScanner::scannerDidCaptureImage("aGk=", "jpeg", "r1"), "scannerDidCaptureImage",
         R"([{"imageData":"aGk=","requestId":"r1","format":"jpeg"}])", false},
        {MVEventScanner::scannerDidCaptureImage(std::nullopt, std::nullopt, std::nullopt),
         "scannerDidCaptureImage", R"([{"imageData":"","requestId":"","format":""}])", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.event.stringForJavaDescription());
        EXPECT_EQ(row.event.eventName(), row.name);
        EXPECT_EQ(row.event.parameters(), json::parse(row.parameters));
        EXPECT_EQ(row.event.amendPreviousEvent(), row.amends);
    }
    EXPECT_EQ(MVEventWebViews::updatePageProgress(0.0125f).stringForJavaFunctionCall(),
              R"(MVEvent.__call("updatePageProgress",[0.0125]))");
}

class PageContextTest : public PlatformTest {};

TEST_F(PageContextTest, WithoutSourceOrTypeMakesNoEventAndWarns) {
    EXPECT_FALSE(MVEventWebViews::pageContext(std::nullopt, std::nullopt, "tab", false,
                                              std::nullopt, std::nullopt, nullptr));
    EXPECT_FALSE(MVEventWebViews::pageContext("x", std::nullopt, std::nullopt, false, std::nullopt,
                                              std::nullopt, nullptr));
    EXPECT_EQ(loggedCount("<PageContext> without src ot type."), 2u);
}

}  // namespace
