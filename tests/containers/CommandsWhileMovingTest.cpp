// Container commands while something else still moves: each command of the table comes in
// the turn a push, a pop, a tab transition, a menu-bar movement or a silent page refresh
// starts, or midway through it. Once everything has played out, the stacks, the frames
// and what the pages heard are those of the request that came last.
#include <gtest/gtest.h>

#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/bridge/MVEventDispatcher.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewController.h"
#include "libmerovane/containers/MVBackgroundMenu.h"
#include "libmerovane/containers/MVBackgroundMenuController.h"
#include "libmerovane/containers/MVMenuBarController.h"
#include "libmerovane/containers/MVNavigationController.h"
#include "libmerovane/containers/MVTabController.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "platform/ui/Window.h"
#include "tests/containers/BarTestSupport.h"
#include "tests/support/ContainerPageDriver.h"
#include "tests/support/FakeWebCache.h"
#include "tests/support/PageModelsForAllWebViews.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/PollingWait.h"
#include "tests/support/ServingURLProtocol.h"

namespace {

using nlohmann::json;
using platform::Rect;
using Strings = std::vector<std::string>;

constexpr const char* kPageA = "mvtest://shop/a";
constexpr const char* kPageB = "mvtest://shop/b";
constexpr const char* kPageC = "mvtest://shop/c";
constexpr const char* kPageX = "mvtest://shop/x";
constexpr double kHeight = 480;
constexpr double kBarHeight = 49;
constexpr double kMenuWidth = 300;

enum class Running { Push, Pop, TabTransition, MenuBarMovement, MenuOpening, SilentRefresh };
enum class Command {
    ShowOtherTab,
    ShowFirstTab,
    OpenPage,
    ReplacePage,
    PopToTag,
    ShowMenuBar,
    HideMenuBar,
    ShowMenu,
    HideMenu,
    CloseView
};

struct Cell {
    Command command;
    Running running;
    bool midway;  // the command comes 0.1 s after the movement began, else in its turn
};

// What was asked, as the containers show it in the end.
struct Asked {
    Strings stack{"A"};     // the titles of the first tab's pages, bottom to top
    Strings shows{kPageA};  // what each of them shows
    std::string presented;  // the presented tab: "" the first, "b" the other
    bool barShown = false;
    bool menuOpen = false;  // the primary background menu
};

class CommandsWhileMoving : public PlatformTest, public ::testing::WithParamInterface<Cell> {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        MVErrorLogger::clearReports();
        registerCommandHandlerClasses();
        cache = FakeWebCache::install();
        cache->setPage("mv-api-page:m", "<p>bar</p>", "https://shop.example/m");
        site = std::make_unique<ServingURLProtocol>("mvtest");
        for (const char* url : {kPageA, kPageB, kPageC, kPageX})
            site->serve(url, "text/html", "<p/>");
        // The header and the bar are driven pages with the page library; the tab's
        // pages load on their own.
        models = std::make_unique<PageModelsForAllWebViews>(
            [this](HeadlessPageModel::Settings& settings) { settings.library = driven; });
        driven = true;

        tabs = MVTabController::create();
        menuBar = MVMenuBarController::create(tabs);
        menus = MVBackgroundMenuController::create(menuBar, "primary");
        window = platform::Window::create(Rect(0, 0, 320, kHeight));
        window->setRootViewController(menus);
        window->makeKeyAndVisible();
        menuBar->view()->setFrame(menus->contentContainerView()->bounds());
        tabs->view()->setFrame(menuBar->contentContainerView()->bounds());
        platform::EdgeInsets statusBar;
        statusBar.top = 20;
        menuBar->viewShouldAdjustInsets(statusBar, false);

        first = tabs->defaultNavigationController();
        first->webViewHeader()->loadHTMLString("<p>header</p>",
                                               platform::URL::parse("https://shop.example/h"));
        header = ContainerPage::of(first->webViewHeader(), *models);
        ASSERT_TRUE(header->finishLoading({320, 64}));
        other = tabs->navigationController(std::string("b"));
        auto p = MVWebViewController::create();
        p->setTitle("P");
        other->pushViewController(p, false);

        menuBar->setMenuBarWithUrl("mvapi:m", nullptr);
        platform::runUntilIdle();
        bar = ContainerPage::of(menuBar->nextMenuBar(), *models);
        ASSERT_TRUE(bar->finishLoading({320, kBarHeight}));
        MVEventDispatcher::sharedDispatcher().registerWebView(bar->webView, {"tabDidChange"});
        perform("1.0", {{"c", "setBackgroundMenu"},
                        {"p",
                         {{"content", "<p>menu</p>"},
                          {"baseUrl", "https://shop.example/menu"},
                          {"defaultPresentationType", "foregroundLeft"},
                          {"gestureRecognizer", "screenEdge"}}}});
        platform::runUntilIdle();
        ASSERT_TRUE(menus->nextMenu());
        menu = ContainerPage::of(menus->nextMenu()->menuWebView, *models);
        ASSERT_TRUE(menu->finishLoading({kMenuWidth, kHeight}));
        driven = false;

        a = MVWebViewController::create();
        a->setTitle("A");
        a->openUrl(kPageA);
        ASSERT_TRUE(runUntilPolled([&] { return !a->isLoading() && models->allLoaded(); }, 10.0));
        a->webViewFinal()->setViewTags({"t"});
        first->pushViewController(a, false);
        platform::advanceBy(1);
    }
    void TearDown() override {
        window.reset();
        menus.reset();
        menu.reset();
        menuBar.reset();
        tabs.reset();
        first.reset();
        other.reset();
        a.reset();
        header.reset();
        bar.reset();
        models.reset();
        platform::runUntilIdle();
        PlatformTest::TearDown();
        site.reset();
    }

    static void perform(const char* version, const json& command,
                        const std::shared_ptr<MVWebView>& sender = nullptr) {
        MVCommandHandler::performCommandsFromCommandCollection(
            {{"ver", version}, {"cmds", json::array({command})}}, sender);
    }
    void openPage(const char* src, const std::string& title) {
        perform("2.0",
                {{"c", "openPage"}, {"p", {{"src", src}, {"title", title}, {"targetTab", ""}}}});
        asked.stack.push_back(title);
        asked.shows.push_back(src);
    }
    // The page on top of what was asked.
    std::shared_ptr<MVWebViewController> askedTop() const {
        return std::dynamic_pointer_cast<MVWebViewController>(first->pageStack().back());
    }
    void popAsked() {
        asked.stack.pop_back();
        asked.shows.pop_back();
    }
    void showMenuBar(bool show) {
        perform("1.0",
                {{"c", show ? "showMenuBar" : "hideMenuBar"}, {"p", {{"animation", "slide"}}}});
        asked.barShown = show;
    }

    void showMenu(bool show) {
        perform("1.0", {{"c", show ? "showBackgroundMenu" : "hideBackgroundMenu"}});
        asked.menuOpen = show;
    }

    void start(Running running) {
        switch (running) {
            case Running::Push:  // two in one turn: the second waits for the first
                openPage(kPageB, "B");
                openPage(kPageC, "C");
                break;
            case Running::Pop:
                openPage(kPageB, "B");
                platform::advanceBy(1);
                perform("1.0", {{"c", "popTab"}, {"p", {{"targetTab", ""}}}});
                popAsked();
                break;
            case Running::TabTransition:
                perform("1.1", {{"c", "showTab"},
                                {"p", {{"targetTab", "b"}, {"transition", "slideInFromBottom"}}}});
                asked.presented = "b";
                break;
            case Running::MenuBarMovement:
                showMenuBar(true);
                break;
            case Running::MenuOpening:
                showMenu(true);
                break;
            case Running::SilentRefresh:
                a->reloadWithSilentMode(true);
                ASSERT_TRUE(a->webViewRefresh());
                break;
        }
    }

    void send(Command command) {
        switch (command) {
            case Command::ShowOtherTab:
                perform("1.1", {{"c", "showTab"},
                                {"p", {{"targetTab", "b"}, {"transition", "slideInFromBottom"}}}});
                asked.presented = "b";
                break;
            case Command::ShowFirstTab:
                perform("1.1", {{"c", "showTab"}, {"p", {{"targetTab", ""}}}});
                asked.presented = "";
                break;
            case Command::OpenPage:
                openPage(kPageX, "X");
                break;
            case Command::ReplacePage: {
                auto top = askedTop();
                ASSERT_TRUE(top);
                perform("1.0", {{"c", "replacePage"}, {"p", {{"src", kPageX}}}},
                        top->webViewFinal());
                asked.shows.back() = kPageX;
                break;
            }
            case Command::PopToTag:
                perform("2.0", {{"c", "popToTag"}, {"p", {{"tag", "t"}, {"targetTab", ""}}}});
                asked.stack = {"A"};
                asked.shows = {kPageA};
                break;
            case Command::ShowMenuBar:
            case Command::HideMenuBar:
                showMenuBar(command == Command::ShowMenuBar);
                break;
            case Command::ShowMenu:
            case Command::HideMenu:
                showMenu(command == Command::ShowMenu);
                break;
            case Command::CloseView: {
                auto top = askedTop();
                ASSERT_TRUE(top);
                perform("1.0", {{"c", "closeView"}}, top->webViewFinal());
                if (asked.stack.size() > 1) popAsked();
                break;
            }
        }
    }

    // Lets every movement, load and refresh end.
    void settle() {
        platform::advanceBy(2);
        ASSERT_TRUE(runUntilPolled(
            [&] { return models->allLoaded() && !a->isLoading() && !a->webViewRefresh(); }, 10.0));
        platform::advanceBy(2);
    }

    // The last of the page's did-events tells what it became; a page never shown heard none.
    static void expectLastAppearance(const ContainerPage& page, bool shown) {
        Strings heard;
        for (const auto& name : page.eventNames())
            if (name == "viewDidAppear" || name == "viewDidDisappear") heard.push_back(name);
        if (!shown && heard.empty()) return;
        ASSERT_FALSE(heard.empty());
        EXPECT_EQ(heard.back(), shown ? "viewDidAppear" : "viewDidDisappear");
    }

    void expectWhatWasAsked() {
        Strings titles, shows;
        for (const auto& controller : first->viewControllers()) {
            titles.push_back(controller->navigationItem().title());
            auto page = std::dynamic_pointer_cast<MVWebViewController>(controller);
            ASSERT_TRUE(page);
            shows.push_back(page->webViewFinal()->currentUrl().value_or("(none)"));
            EXPECT_FALSE(page->isLoading());
            EXPECT_FALSE(page->webViewRefresh());
        }
        EXPECT_EQ(titles, asked.stack);
        EXPECT_EQ(shows, asked.shows);
        for (const auto& tab : {first, other}) {
            EXPECT_FALSE(tab->isPreservingViewControllers());
            EXPECT_EQ(tab->transitionViolationsForTesting(), 0);
            const auto& top = tab->topViewController();
            EXPECT_EQ(top->view()->superview(), tab->view());
            EXPECT_EQ(top->view()->frame(), tab->view()->bounds());
        }
        EXPECT_EQ(other->viewControllers().size(), 1u);

        // The presented tab fills the screen, the other is gone from it.
        const auto& shown = asked.presented.empty() ? first : other;
        const auto& left = asked.presented.empty() ? other : first;
        EXPECT_EQ(tabs->currentPresentedTab(), shown);
        EXPECT_FALSE(tabs->currentTransition());
        EXPECT_EQ(shown->view()->superview(), tabs->view());
        EXPECT_EQ(shown->view()->frame(), Rect(0, 0, 320, kHeight));
        EXPECT_NE(left->view()->superview(), tabs->view());
        // The bar page listens from after the first tab was shown.
        const auto changes = bar->parametersOf("tabDidChange");
        EXPECT_EQ(changes.empty() ? json::array({""}) : changes.back(),
                  json::array({asked.presented}));

        // The header names the top page, with a back arrow over more than one.
        const auto told = header->parametersOf("updateNavigationBar");
        ASSERT_FALSE(told.empty());
        EXPECT_EQ(told.back()[0], asked.stack.back());
        EXPECT_EQ(told.back()[2]["leftButtonArrow"], asked.stack.size() > 1);

        // The bar stands where it was asked to, its page heard so last, and the tabs'
        // bottom inset follows it.
        EXPECT_EQ(menuBar->viewState(),
                  asked.barShown ? MVMenuBarController::kShown : MVMenuBarController::kHidden);
        EXPECT_EQ(bar->webView->frame().origin.y, kHeight - (asked.barShown ? kBarHeight : 0));
        expectLastAppearance(*bar, asked.barShown);
        EXPECT_EQ(tabs->inheritedInsets().bottom, asked.barShown ? kBarHeight : 0);

        // The menu is open beside the content, or closed and gone, and its page heard so.
        EXPECT_EQ(menus->viewState(), asked.menuOpen ? 3 : 1);
        if (asked.menuOpen) {
            EXPECT_EQ(menus->menuView()->frame(), Rect(0, 0, kMenuWidth, kHeight));
            EXPECT_EQ(menu->webView->superview(), menus->menuView());
        } else {
            EXPECT_TRUE(menus->menuView()->subviews().empty());
        }
        expectLastAppearance(*menu, asked.menuOpen);

        EXPECT_FALSE(a->webViewRefresh());
        EXPECT_TRUE(MVErrorLogger::reports().empty());
    }

    std::shared_ptr<FakeWebCache> cache;
    std::unique_ptr<ServingURLProtocol> site;
    std::unique_ptr<PageModelsForAllWebViews> models;
    std::shared_ptr<MVTabController> tabs;
    std::shared_ptr<MVMenuBarController> menuBar;
    std::shared_ptr<platform::Window> window;
    std::shared_ptr<MVNavigationController> first;
    std::shared_ptr<MVNavigationController> other;
    std::shared_ptr<ContainerPage> header;
    std::shared_ptr<ContainerPage> bar;
    std::shared_ptr<MVBackgroundMenuController> menus;
    std::shared_ptr<ContainerPage> menu;
    std::shared_ptr<MVWebViewController> a;
    Asked asked;
    bool driven = false;
};

TEST_P(CommandsWhileMoving, EndAsAskedLast) {
    start(GetParam().running);
    if (GetParam().midway) platform::advanceBy(0.1);
    send(GetParam().command);
    settle();
    expectWhatWasAsked();
}

const std::pair<Command, const char*> kCommands[] = {
    {Command::ShowOtherTab, "ShowOtherTab"}, {Command::ShowFirstTab, "ShowFirstTab"},
    {Command::OpenPage, "OpenPage"},         {Command::ReplacePage, "ReplacePage"},
    {Command::PopToTag, "PopToTag"},         {Command::ShowMenuBar, "ShowMenuBar"},
    {Command::HideMenuBar, "HideMenuBar"},   {Command::ShowMenu, "ShowMenu"},
    {Command::HideMenu, "HideMenu"},         {Command::CloseView, "CloseView"},
};
const std::pair<Running, const char*> kRunning[] = {
    {Running::Push, "Push"},
    {Running::Pop, "Pop"},
    {Running::TabTransition, "TabTransition"},
    {Running::MenuBarMovement, "MenuBarMovement"},
    {Running::MenuOpening, "MenuOpening"},
    {Running::SilentRefresh, "SilentRefresh"},
};

std::vector<Cell> allCells() {
    std::vector<Cell> cells;
    for (const auto& command : kCommands)
        for (const auto& running : kRunning)
            for (bool midway : {false, true})
                cells.push_back({command.first, running.first, midway});
    return cells;
}

std::string cellName(const ::testing::TestParamInfo<Cell>& info) {
    std::string name;
    for (const auto& command : kCommands)
        if (command.first == info.param.command) name = command.second;
    name += "While";
    for (const auto& running : kRunning)
        if (running.first == info.param.running) name += running.second;
    return name + (info.param.midway ? "Midway" : "InItsTurn");
}

INSTANTIATE_TEST_SUITE_P(Table, CommandsWhileMoving, ::testing::ValuesIn(allCells()), cellName);

}  // namespace
