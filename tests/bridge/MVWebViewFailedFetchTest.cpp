// A load whose fetch fails (or ends in a redirect that is no page) leaves the page shown
// as it was: the answers and events that came meanwhile reach it, and so does everything
// after.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "libmerovane/bridge/MVEventDispatcher.h"
#include "libmerovane/bridge/MVWebViewAdapter.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "tests/bridge/MVWebViewFixture.h"

namespace {

constexpr const char* kShown = "mvtest://shop/list";
// No URL protocol serves this scheme: its fetch fails.
constexpr const char* kUnserved = "mvnone://shop/product";
constexpr const char* kRedirectNowhere = "mvtest://shop/moved";

class MVWebViewFailedFetchTest : public MVWebViewFixture {
  protected:
    void SetUp() override {
        MVWebViewFixture::SetUp();
        registerCommandHandlerClasses();
        serveSite({kShown});
        site->serve(kRedirectNowhere, "text/html", "", 302);  // no Location
        pageModel->settings.library = true;
    }
    // Until the page shown is ready and has sent its onload command.
    bool ready() {
        return settle([&] {
            if (webView->isUsingLibrary() && webView->isLoading()) webView->onload();
            return !webView->isLoading() && webView->isUsingLibrary();
        });
    }
    void answer(const std::string& serial, const char* body) {
        answerDataRequest(webView->serialID(), serial, body);
    }
    size_t failuresSoFar() const {
        return static_cast<size_t>(std::count(notes->names.begin(), notes->names.end(), "fail"));
    }
    std::vector<std::string> heard(size_t from) {
        std::vector<std::string> names;
        const auto& events = pageModel->events();
        for (size_t i = from; i < events.size(); ++i) {
            names.push_back(events[i].name == "dataResponse"
                                ? "dataResponse " + events[i].parameters[2].get<std::string>()
                                : events[i].name);
        }
        return names;
    }
};

TEST_F(MVWebViewFailedFetchTest, ThePageThatStaysHearsItsAnswersAndEverythingAfter) {
    enum class Open { WithHistory, WithoutHistory, PageLink, RedirectNowhere, Unreadable };
    const struct Case {
        const char* name;
        Open open;
        bool answerWhileFetching;  // else once the fetch has failed
    } cases[] = {
        {"opened with history, answered after", Open::WithHistory, false},
        {"opened with history, answered while fetching", Open::WithHistory, true},
        {"opened without history, answered after", Open::WithoutHistory, false},
        {"opened without history, answered while fetching", Open::WithoutHistory, true},
        {"a link of the page, answered after", Open::PageLink, false},
        {"a link of the page, answered while fetching", Open::PageLink, true},
        {"a redirect without a location, answered after", Open::RedirectNowhere, false},
        {"a redirect without a location, answered while fetching", Open::RedirectNowhere, true},
        {"an unreadable address, answered after", Open::Unreadable, false},
    };
    webView->loadHTMLString("<p>list</p>", platform::URL::parse(kShown));
    ASSERT_TRUE(ready());
    auto& dispatcher = MVEventDispatcher::sharedDispatcher();
    dispatcher.registerWebView(std::shared_ptr<MVWebViewInterface>(webView, webView.get()),
                               {"cartChanged"});
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string serial = "n" + std::to_string(++n);
        const size_t before = pageModel->events().size();
        const size_t failures = failuresSoFar();
        webView->noteDataRequest(serial);
        switch (c.open) {
            case Open::WithHistory:
                webView->openUrl(kUnserved);
                break;
            case Open::WithoutHistory:
                webView->openUrl(kUnserved, false);
                break;
            case Open::PageLink:
                page().navigate(kUnserved);
                if (c.answerWhileFetching) {
                    ASSERT_TRUE(platform::runUntil([&] { return webView->isLoading(); }, kIO));
                }
                break;
            case Open::RedirectNowhere:
                webView->openUrl(kRedirectNowhere, false);
                break;
            case Open::Unreadable:
                webView->openUrl("mvtest://shop/a b", false);
                break;
        }
        if (c.answerWhileFetching) {
            ASSERT_TRUE(webView->isLoading());
            answer(serial, "meanwhile");
            webView->performMVEvent(MVEvent("viewWillAppear"));
        }
        ASSERT_TRUE(settle([&] { return failuresSoFar() > failures && !webView->isLoading(); }));
        EXPECT_EQ(failuresSoFar(), failures + 1);
        if (!c.answerWhileFetching) answer(serial, "after");
        dispatcher.dispatchEvent(MVEvent("cartChanged"));
        webView->performMVEvent(MVEvent("later"));
        platform::runUntilIdle();
        EXPECT_EQ(heard(before),
                  c.answerWhileFetching
                      ? (std::vector<std::string>{"dataResponse meanwhile", "viewWillAppear",
                                                  "cartChanged", "later"})
                      : (std::vector<std::string>{"dataResponse after", "cartChanged", "later"}));
        EXPECT_TRUE(webView->isUsingLibrary());
        EXPECT_TRUE(webView->webView()->isUserInteractionEnabled());
    }
    EXPECT_FALSE(logged("of a page it no longer shows"));
}

}  // namespace
