#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "libmerovane/bridge/MVEvent.h"
#include "libmerovane/bridge/MVEventDispatcher.h"
#include "tests/support/FakeWebView.h"
#include "tests/support/PlatformTest.h"

using nlohmann::json;

namespace {

class MVEventDispatcherTest : public PlatformTest {
  protected:
    MVEventDispatcher& dispatcher = MVEventDispatcher::sharedDispatcher();
    std::shared_ptr<FakeWebView> first = FakeWebView::create(1000);
    std::shared_ptr<FakeWebView> second = FakeWebView::create(1001, "Header");

    static std::vector<std::string> names(const std::vector<MVEvent>& events) {
        std::vector<std::string> result;
        for (const auto& e : events) result.push_back(e.eventName());
        return result;
    }
};

TEST_F(MVEventDispatcherTest, BroadcastWithoutListenersIsLoggedAndReachesNoOne) {
    dispatcher.registerWebView(first, {"other"});
    dispatcher.dispatchEvent(MVEvent("tabDidChange", json::array({"home"})));
    EXPECT_TRUE(
        logged("MVEventDispatcher broadcasting MVEvent.tabDidChange( \"home\" ), but no one "
               "was listening... (lik dis if u cri evrytiem)"));
    EXPECT_TRUE(first->events.empty());
}

TEST_F(MVEventDispatcherTest, BroadcastFollowsRegistrationOrder) {
    std::vector<int> order;
    first->setOnEvent([&](const MVEvent&) { order.push_back(1000); });
    second->setOnEvent([&](const MVEvent&) { order.push_back(1001); });
    dispatcher.registerWebView(second, {"tick"});
    dispatcher.registerWebView(first, {"tick"});
    dispatcher.dispatchEvent(MVEvent("tick"));
    EXPECT_EQ(order, (std::vector<int>{1001, 1000}));
    EXPECT_TRUE(
        logged("MVEventDispatcher broadcasting MVEvent.tick(  ) to [ MVWebView<1001:Header>, "
               "MVWebView<1000> ]"));
}

TEST_F(MVEventDispatcherTest, RegisteringTwiceKeepsOneEntryAndSeveralNamesEach) {
    dispatcher.registerWebView(first, {"a"});
    dispatcher.registerWebView(first, {"a", "b"});
    EXPECT_EQ(dispatcher.webViewsForEvent("a").size(), 1u);
    EXPECT_EQ(dispatcher.webViewsForEvent("b").size(), 1u);
    dispatcher.dispatchEvent(MVEvent("a"));
    EXPECT_EQ(first->events.size(), 1u);
}

TEST_F(MVEventDispatcherTest, UnregisteringWithNoNamesRemovesEverywhereAndDropsEmptyNames) {
    dispatcher.registerWebView(first, {"a", "b"});
    dispatcher.registerWebView(second, {"b", "c"});
    dispatcher.unregisterWebView(first.get());
    EXPECT_EQ(dispatcher.eventNames(), (std::vector<std::string>{"b", "c"}));
    EXPECT_EQ(dispatcher.webViewsForEvent("b").front(), second);
    // only some names, an unknown one among them
    dispatcher.unregisterWebView(second.get(), {"b", "unknown"});
    EXPECT_EQ(dispatcher.eventNames(), (std::vector<std::string>{"c"}));
}

TEST_F(MVEventDispatcherTest, AWebViewGoneWithoutUnregisteringIsSkipped) {
    auto gone = FakeWebView::create(1002);
    dispatcher.registerWebView(gone, {"a"});
    dispatcher.registerWebView(first, {"a"});
    const MVWebViewInterface* identity = gone.get();
    gone.reset();
    dispatcher.dispatchEvent(MVEvent("a"));
    EXPECT_EQ(first->events.size(), 1u);
    // its destructor would unregister by identity, after its weak pointers expired
    dispatcher.unregisterWebView(identity);
    EXPECT_EQ(dispatcher.webViewsForEvent("a").size(), 1u);
}

TEST_F(MVEventDispatcherTest, DeliveryMayUnregisterAndRegisterMeanwhile) {
    auto third = FakeWebView::create(1003);
    dispatcher.registerWebView(first, {"go"});
    dispatcher.registerWebView(second, {"go"});
    // the first listener, on delivery, starts loading another page (which unregisters
    // every web view it owns) and registers a new one
    first->setOnEvent([&](const MVEvent&) {
        dispatcher.unregisterWebView(first.get());
        dispatcher.unregisterWebView(second.get());
        dispatcher.registerWebView(third, {"go"});
    });
    dispatcher.dispatchEvent(MVEvent("go"));
    EXPECT_EQ(names(first->events), (std::vector<std::string>{"go"}));
    EXPECT_EQ(names(second->events), (std::vector<std::string>{"go"}));
    EXPECT_TRUE(third->events.empty());
    EXPECT_EQ(dispatcher.webViewsForEvent("go"),
              (std::vector<std::shared_ptr<MVWebViewInterface>>{third}));
}

TEST_F(MVEventDispatcherTest, MissingArgumentsRaise) {
    struct Case {
        std::function<void()> call;
        const char* name;
        const char* reason;
    } cases[] = {
        {[&] { dispatcher.registerWebView(nullptr, {"a"}); },
         "Invalid arguments for registerWebView:forEvents:", "webView may not be nil"},
        {[&] { dispatcher.registerWebView(first, {}); },
         "Invalid arguments for registerWebView:forEvents:", "eventNames may not be nil"},
        {[&] { dispatcher.unregisterWebView(nullptr); },
         "Invalid arguments for unregisterWebView:forEvents:", "webView may not be nil"},
    };
    for (const auto& c : cases) {
        try {
            c.call();
            ADD_FAILURE() << c.reason;
        } catch (const MVEventDispatcherInvalidArgumentsException& e) {
            EXPECT_EQ(e.name(), c.name);
            EXPECT_EQ(e.reason(), c.reason);
        }
    }
}

TEST_F(MVEventDispatcherTest, OnlyTheMainThreadRegistersAndDispatches) {
    dispatcher.registerWebView(first, {"tick"});
    const std::function<void()> calls[] = {
        [&] { dispatcher.registerWebView(second, {"tick"}); },
        [&] { dispatcher.dispatchEvent(MVEvent("tick")); },
    };
    for (const auto& call : calls) {
        std::string refusal;
        std::thread([&] {
            try {
                call();
            } catch (const platform::Exception& e) {
                refusal = e.name();
            }
        }).join();
        EXPECT_EQ(refusal, platform::kInternalInconsistencyException);
    }
    EXPECT_TRUE(first->events.empty());
    // A web view whose last reference goes on another thread unregisters from there.
    auto gone = FakeWebView::create(1002);
    dispatcher.registerWebView(gone, {"tock"});
    const MVWebViewInterface* identity = gone.get();
    gone.reset();
    std::thread([&] { dispatcher.unregisterWebView(identity); }).join();
    platform::runUntilIdle();
    EXPECT_EQ(dispatcher.eventNames(), (std::vector<std::string>{"tick"}));
    EXPECT_EQ(dispatcher.webViewsForEvent("tick"),
              (std::vector<std::shared_ptr<MVWebViewInterface>>{first}));
}

}  // namespace
