// Pages a command takes off a tab, and pages under a push while the tab leaves and comes
// back: a page off its stack is gone once the movement has ended, and every page hears
// its appearance events in balance, the page shown last of all viewDidAppear.
#include <gtest/gtest.h>

#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewController.h"
#include "libmerovane/containers/MVNavigationController.h"
#include "libmerovane/containers/MVTabController.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "platform/ui/Window.h"
#include "tests/support/AppearanceSequence.h"
#include "tests/support/ContainerPageDriver.h"
#include "tests/support/FakeWebCache.h"
#include "tests/support/PageModelsForAllWebViews.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/ServingURLProtocol.h"

namespace {

using nlohmann::json;
using Strings = std::vector<std::string>;
using Page = std::shared_ptr<MVWebViewController>;

constexpr const char* kDocuments[] = {"mvtest://shop/r", "mvtest://shop/b", "mvtest://shop/c",
                                      "mvtest://shop/p"};

class PagesOffTheirTab : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        registerCommandHandlerClasses();
        cache = FakeWebCache::install();
        site = std::make_unique<ServingURLProtocol>("mvtest");
        for (const char* url : kDocuments) site->serve(url, "text/html", "<p/>");
        models = std::make_unique<PageModelsForAllWebViews>(
            [](HeadlessPageModel::Settings& settings) { settings.library = true; });
        tabs = MVTabController::create();
        window = platform::Window::create(platform::Rect(0, 0, 320, 480));
        window->setRootViewController(tabs);
        window->makeKeyAndVisible();
        main = tabs->navigationController(std::string("main"));
        other = tabs->navigationController(std::string("other"));
        other->pushViewController(loadedPage("P", kDocuments[3]), false);
        for (int i = 0; i < 2; ++i)
            main->pushViewController(loadedPage(titles[i], kDocuments[i]), false);
        platform::advanceBy(1);
    }
    void TearDown() override {
        window.reset();
        tabs.reset();
        main.reset();
        other.reset();
        shown.clear();
        models.reset();
        platform::runUntilIdle();
        PlatformTest::TearDown();
        site.reset();
    }

    // A page that has loaded its document and can hear events.
    Page loadedPage(const std::string& title, const char* url) {
        auto page = MVWebViewController::create();
        page->setTitle(title);
        page->openUrl(url);
        auto driver = ContainerPage::of(page->webViewFinal(), *models);
        EXPECT_TRUE(driver->finishLoading({320, 480}));
        shown[title] = driver;
        return page;
    }
    static void perform(const char* version, const json& command) {
        MVCommandHandler::performCommandsFromCommandCollection(
            {{"ver", version}, {"cmds", json::array({command})}}, nullptr);
    }
    Strings titlesOf(const MVNavigationController& tab) const {
        Strings out;
        for (const auto& controller : tab.viewControllers())
            out.push_back(controller->navigationItem().title());
        return out;
    }
    // The page's appearance events.
    Strings appearance(const std::string& title) const {
        Strings heard;
        for (const auto& name : shown.at(title)->eventNames())
            if (name.rfind("view", 0) == 0) heard.push_back(name);
        return heard;
    }

    const Strings titles{"R", "B", "C"};
    std::shared_ptr<FakeWebCache> cache;
    std::unique_ptr<ServingURLProtocol> site;
    std::unique_ptr<PageModelsForAllWebViews> models;
    std::shared_ptr<MVTabController> tabs;
    std::shared_ptr<platform::Window> window;
    std::shared_ptr<MVNavigationController> main;
    std::shared_ptr<MVNavigationController> other;
    std::map<std::string, std::shared_ptr<ContainerPage>> shown;
};

// When the command comes: in the turn C is pushed, while C's push moves, after it.
enum class Moment { SameTurn, DuringThePush, After };
const std::pair<Moment, double> kMoments[] = {
    {Moment::SameTurn, 0}, {Moment::DuringThePush, 0.1}, {Moment::After, 1}};

// popTab, popTabToRoot and flushTab on [R, B] while C is pushed.
struct Removal {
    const char* command;
    Strings left;  // the stack once everything has ended
};
const Removal kRemovals[] = {{"popTab", {"R", "B"}}, {"popTabToRoot", {"R"}}, {"flushTab", {"C"}}};

void PrintTo(const Removal& removal, std::ostream* os) {
    *os << removal.command;
}

class PageTakenOffItsTab : public PagesOffTheirTab,
                           public ::testing::WithParamInterface<std::tuple<Removal, double>> {};

TEST_P(PageTakenOffItsTab, IsGoneOnceTheMovementHasEnded) {
    const auto& [removal, moment] = GetParam();
    std::map<std::string, std::weak_ptr<platform::ViewController>> pages;
    std::map<std::string, std::weak_ptr<MVWebView>> webViews;
    main->pushViewController(loadedPage("C", kDocuments[2]), true);
    for (const auto& controller : main->pageStack()) {
        const auto title = controller->navigationItem().title();
        pages[title] = controller;
        webViews[title] =
            std::dynamic_pointer_cast<MVWebViewController>(controller)->webViewFinal();
    }
    if (moment > 0) platform::advanceBy(moment);
    perform("1.0", {{"c", removal.command}, {"p", {{"targetTab", "main"}}}});
    // The test's own look into the pages holds none of them.
    for (auto& [title, driver] : shown) std::erase(models->webViews, driver->webView);
    shown.clear();

    platform::advanceBy(1);
    EXPECT_FALSE(main->isPreservingViewControllers());
    EXPECT_FALSE(main->isTransitioning());
    EXPECT_EQ(titlesOf(*main), removal.left);
    for (const auto& title : titles) {
        const bool kept = std::count(removal.left.begin(), removal.left.end(), title) > 0;
        EXPECT_EQ(pages[title].expired(), !kept) << title;
        EXPECT_EQ(webViews[title].expired(), !kept) << title;
    }
    // Nothing brings them back later.
    platform::advanceBy(3);
    for (const auto& title : titles) {
        if (std::count(removal.left.begin(), removal.left.end(), title) == 0) {
            EXPECT_TRUE(webViews[title].expired()) << title;
        }
    }
}

std::string removalName(const ::testing::TestParamInfo<std::tuple<Removal, double>>& info) {
    std::string name = std::get<0>(info.param).command;
    for (const auto& [moment, seconds] : kMoments)
        if (seconds == std::get<1>(info.param))
            name += moment == Moment::SameTurn        ? "InThePushsTurn"
                    : moment == Moment::DuringThePush ? "DuringThePush"
                                                      : "AfterThePush";
    return name;
}

INSTANTIATE_TEST_SUITE_P(Table, PageTakenOffItsTab,
                         ::testing::Combine(::testing::ValuesIn(kRemovals),
                                            ::testing::Values(0.0, 0.1, 1.0)),
                         removalName);

// A push, popTab or popTabToRoot on the shown tab [R, B]; the tab controller shows
// the other tab and comes back 50 ms later, plainly or with a transition each way.
enum class Edit { Push, Pop, PopToRoot };
struct Away {
    Edit edit;
    bool transition;
    double leaveAt;  // after the edit: 0 in its turn, 0.05 while it moves, 0.5 after it
};

void PrintTo(const Away& away, std::ostream* os) {
    *os << "edit " << int(away.edit) << (away.transition ? " with" : " without")
        << " a tab transition, the tab left " << away.leaveAt << " s after it";
}

class TabLeftDuringAMovement : public PagesOffTheirTab, public ::testing::WithParamInterface<Away> {
  protected:
    void showTab(const char* tab) {
        json parameters{{"targetTab", tab}};
        if (GetParam().transition) parameters["transition"] = "slideInFromBottom";
        perform("1.1", {{"c", "showTab"}, {"p", parameters}});
    }
};

TEST_P(TabLeftDuringAMovement, EveryPageHearsItsEventsInBalance) {
    const Away away = GetParam();
    auto c = loadedPage("C", kDocuments[2]);
    std::map<std::string, size_t> before;
    for (const auto& [title, page] : shown) before[title] = appearance(title).size();
    std::string top;
    switch (away.edit) {
        case Edit::Push:
            main->pushViewController(c, true);
            top = "C";
            break;
        case Edit::Pop:
            perform("1.0", {{"c", "popTab"}, {"p", {{"targetTab", "main"}}}});
            top = "R";
            break;
        case Edit::PopToRoot:
            main->pushViewController(c, false);
            platform::advanceBy(1);
            for (const auto& [title, page] : shown) before[title] = appearance(title).size();
            perform("1.0", {{"c", "popTabToRoot"}, {"p", {{"targetTab", "main"}}}});
            top = "R";
            break;
    }
    const std::string shownBefore = away.edit == Edit::PopToRoot ? "C" : "B";
    if (away.leaveAt > 0) platform::advanceBy(away.leaveAt);
    showTab("other");
    platform::advanceBy(0.05);
    showTab("main");
    platform::advanceBy(2);
    platform::runUntilIdle();

    EXPECT_EQ(tabs->currentPresentedTab(), main);
    EXPECT_EQ(main->topViewController()->navigationItem().title(), top);
    for (const auto& title : titles) {
        auto heard = appearance(title);
        heard.erase(heard.begin(), heard.begin() + std::ptrdiff_t(before[title]));
        EXPECT_EQ(appearanceAfter(heard, title == shownBefore ? "appeared" : "disappeared"),
                  title == top ? "appeared" : "disappeared")
            << title << ": " << testing::PrintToString(heard);
    }
}

std::vector<Away> allAways() {
    std::vector<Away> rows;
    for (const auto edit : {Edit::Push, Edit::Pop, Edit::PopToRoot})
        for (const bool transition : {false, true})
            for (const double leaveAt : {0.0, 0.05, 0.5})
                rows.push_back({edit, transition, leaveAt});
    return rows;
}

std::string awayName(const ::testing::TestParamInfo<Away>& info) {
    const auto& row = info.param;
    std::string name = row.edit == Edit::Push  ? "Push"
                       : row.edit == Edit::Pop ? "Pop"
                                               : "PopToRoot";
    name += row.transition ? "TabsSlide" : "TabsSwitch";
    return name + (row.leaveAt == 0     ? "InItsTurn"
                   : row.leaveAt < 0.35 ? "WhileItMoves"
                                        : "AfterIt");
}

INSTANTIATE_TEST_SUITE_P(Table, TabLeftDuringAMovement, ::testing::ValuesIn(allAways()), awayName);

}  // namespace
