// A data answer belongs to the document that asked: the document that takes its place
// (a followed link, another page loaded into the view, a reload, a step back) never
// hears it, whenever the answer comes.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "tests/handlers/ServerRoadTest.h"
#include "tests/support/ServingURLProtocol.h"

using nlohmann::json;

namespace {

using Event = HeadlessPageModel::ReceivedEvent;

constexpr const char* kProduct = "mvtest://shop/product";

class DataResponseDocumentTest : public ServerRoadTest {
  protected:
    void SetUp() override {
        ServerRoadTest::SetUp();
        site = std::make_unique<ServingURLProtocol>("mvtest");
        site->serve(kProduct, "text/html", "<p>product</p>");
    }
    void TearDown() override {
        ServerRoadTest::TearDown();
        site.reset();
    }

    static void ask(Page& shop, const char* serial = "n11") {
        send(shop, {{"c", "sendDataRequest"}, {"p", {{"serial", serial}, {"src", "mvapi:list"}}}});
    }
    static void answer(Page& shop, const char* body, const char* serial = "n11") {
        fromServer(
            {{"c", "dataResponse"},
             {"p", {{"serial", shop.serial() + ":" + serial}, {"status", 200}, {"body", body}}}});
    }
    // Until the engine's transcript holds `line` `count` times.
    static bool engineSaid(Page& shop, const std::string& line, size_t count) {
        return waitFor([&] {
            const auto& transcript = headlessEngineOf(*shop.webView).transcript();
            return static_cast<size_t>(std::count(transcript.begin(), transcript.end(), line)) >=
                   count;
        });
    }
    // Until the page shown is ready and has sent its onload command.
    static void settle(Page& shop) {
        ASSERT_TRUE(waitFor([&] {
            platform::advanceBy(0.01);
            if (shop.webView->isUsingLibrary() && shop.webView->isLoading()) shop.webView->onload();
            return !shop.webView->isLoading() && shop.webView->isUsingLibrary();
        }));
    }
    // The page follows a link to the product page, which is then shown.
    static void followLink(Page& shop) {
        headlessEngineOf(*shop.webView).navigate(kProduct);
        ASSERT_TRUE(engineSaid(shop, std::string("finish ") + kProduct, 1));
        settle(shop);
    }

    std::unique_ptr<ServingURLProtocol> site;
};

TEST_F(DataResponseDocumentTest, TheDocumentThatTakesThePlaceNeverHearsTheAnswer) {
    // ViewLoads, Reload and Back are loads of the view, which wait 0.05 s as under a page
    // controller; Link and Reload reach the engine through URL loading.
    enum class Replacement { ViewLoads, Link, Reload, Back };
    enum class Moment { Pending, Loading, Finished };
    using R = Replacement;
    using M = Moment;
    const struct Case {
        const char* name;
        Replacement replacement;
        Moment moment;
        // The answer comes before anything replaced the asking document: it hears it.
        bool askerHears;
    } cases[] = {
        {"view loads, answer before the load reaches the engine", R::ViewLoads, M::Pending, false},
        {"view loads, answer while the next page loads", R::ViewLoads, M::Loading, false},
        {"view loads, answer after the next page finished", R::ViewLoads, M::Finished, false},
        {"link, answer before the link is decided", R::Link, M::Pending, true},
        {"link, answer while the next page loads", R::Link, M::Loading, false},
        {"link, answer after the next page finished", R::Link, M::Finished, false},
        {"reload of the same URL, while it loads", R::Reload, M::Loading, false},
        {"reload of the same URL, after it finished", R::Reload, M::Finished, false},
        {"back, answer before the load reaches the engine", R::Back, M::Pending, false},
        {"back, answer after the older page finished", R::Back, M::Finished, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto& shop = page();
        settle(shop);
        shop.webView->setWebkitAnimationBugDelay(true);
        if (c.replacement == R::Reload || c.replacement == R::Back) followLink(shop);
        ask(shop);
        const size_t before = shop.model->events().size();
        switch (c.replacement) {
            case R::ViewLoads:
                shop.webView->loadHTMLString("<p>cart</p>",
                                             platform::URL::parse("https://shop.example/cart"));
                break;
            case R::Link:
                headlessEngineOf(*shop.webView).navigate(kProduct);
                break;
            case R::Reload:
                shop.webView->reload();
                break;
            case R::Back:
                ASSERT_TRUE(shop.webView->goBack());
                break;
        }
        if (c.moment != M::Pending) {
            if (c.replacement == R::Link || c.replacement == R::Reload) {
                // The view fetches its reload itself, 0.05 s later.
                if (c.replacement == R::Reload) platform::advanceBy(0.05);
                const std::string line = std::string("start ") + kProduct;
                ASSERT_TRUE(engineSaid(shop, line, c.replacement == R::Reload ? 2 : 1));
            } else {
                platform::advanceBy(0.05);
                platform::runUntilIdle();
            }
        }
        const auto finish = [&] {
            if (c.replacement == R::Reload) {
                ASSERT_TRUE(engineSaid(shop, std::string("finish ") + kProduct, 2));
            }
            settle(shop);
        };
        if (c.moment == M::Finished) finish();
        answer(shop, "old");
        const size_t heardAtOnce = shop.model->events().size() - before;
        finish();
        // The next document asks with the same serial and hears its own answer only.
        ask(shop);
        answer(shop, "new");
        platform::runUntilIdle();
        EXPECT_EQ(heardAtOnce, c.askerHears ? 1u : 0u);
        const auto& events = shop.model->events();
        EXPECT_EQ(std::vector<Event>(events.begin() + static_cast<ptrdiff_t>(before + heardAtOnce),
                                     events.end()),
                  (std::vector<Event>{{"dataResponse", {"n11", 200, "new", ""}}}));
        EXPECT_EQ(logged("MVWebView<" + shop.serial() +
                         "> drops the answer to data request n11 of a page it no longer shows"),
                  !c.askerHears);
    }
}

TEST_F(DataResponseDocumentTest, AnswersComeInTheOrderAskedAndUnaskedOnesStillReachThePage) {
    auto& shop = page();
    settle(shop);
    ask(shop, "1");
    ask(shop, "1");
    ask(shop, "2");
    answer(shop, "a", "1");
    answer(shop, "b", "2");
    answer(shop, "c", "1");
    answer(shop, "d", "3");  // asked by no page: the page shown hears it
    followLink(shop);
    answer(shop, "e", "1");  // its asker was answered twice already
    platform::runUntilIdle();
    std::vector<std::string> bodies;
    for (const auto& event : shop.model->events())
        if (event.name == "dataResponse") bodies.push_back(event.parameters[2]);
    EXPECT_EQ(bodies, (std::vector<std::string>{"a", "b", "c", "d", "e"}));
}

}  // namespace

namespace {

// An answer goes to the document that asked, found by its serial and that document: an
// older document's request of the same serial, never answered or answered later, takes
// nothing from the page shown; a link the page shown does not leave for ("tel:") changes
// nothing of it. The server answers each request with the serial it was sent with.
TEST_F(DataResponseDocumentTest, TheAnswerGoesToTheDocumentThatAskedWhateverOthersAsked) {
    enum class Step {
        Ask,        // the page shown asks with n11
        Link,       // it follows a link: the next page is shown
        ViewLoads,  // the view loads another page, which is shown
        Telephone,  // it follows a "tel:" link, which the engine cannot load
        AnswerNew,  // the server answers the newest request not answered yet ("new")
        AnswerOld,  // ... the oldest ("old")
    };
    using S = Step;
    const struct Case {
        const char* name;
        std::vector<Step> steps;
        std::vector<std::string> heard;  // by the page shown at the end
        bool dropped;                    // an answer was dropped as an older page's
        std::vector<std::string> sent;   // the serials sent, after the web view's
    } cases[] = {
        {"never answered, the next page asks the same",
         {S::Ask, S::Link, S::Ask, S::AnswerNew},
         {"new"},
         false,
         {"n11", "n11:d2"}},
        {"never answered twice, the third page asks the same",
         {S::Ask, S::Link, S::Ask, S::Link, S::Ask, S::AnswerNew},
         {"new"},
         false,
         {"n11", "n11:d2", "n11:d3"}},
        {"never answered, the view loads a page that asks the same",
         {S::Ask, S::ViewLoads, S::Ask, S::AnswerNew},
         {"new"},
         false,
         {"n11", "n11:d2"}},
        {"both asked, the new page's answer first",
         {S::Ask, S::Link, S::Ask, S::AnswerNew, S::AnswerOld},
         {"new"},
         true,
         {"n11", "n11:d2"}},
        {"both asked in the view, the new page's answer first",
         {S::Ask, S::ViewLoads, S::Ask, S::AnswerNew, S::AnswerOld},
         {"new"},
         true,
         {"n11", "n11:d2"}},
        {"both asked, the old page's answer first",
         {S::Ask, S::Link, S::Ask, S::AnswerOld, S::AnswerNew},
         {"new"},
         true,
         {"n11", "n11:d2"}},
        {"both asked in the view, the old page's answer first",
         {S::Ask, S::ViewLoads, S::Ask, S::AnswerOld, S::AnswerNew},
         {"new"},
         true,
         {"n11", "n11:d2"}},
        {"both asked, only the old page's answered",
         {S::Ask, S::Link, S::Ask, S::AnswerOld},
         {},
         true,
         {"n11", "n11:d2"}},
        {"three pages asked, the older answers first",
         {S::Ask, S::Link, S::Ask, S::Link, S::Ask, S::AnswerOld, S::AnswerOld, S::AnswerNew},
         {"new"},
         true,
         {"n11", "n11:d2", "n11:d3"}},
        {"three pages asked, the third page's answer first",
         {S::Ask, S::Link, S::Ask, S::Link, S::Ask, S::AnswerNew, S::AnswerOld, S::AnswerOld},
         {"new"},
         true,
         {"n11", "n11:d2", "n11:d3"}},
        {"the first page answered, the third asks what the second did",
         {S::Ask, S::AnswerOld, S::Link, S::Ask, S::Link, S::Ask, S::AnswerOld, S::AnswerNew},
         {"new"},
         true,
         {"n11", "n11", "n11:d3"}},
        {"the new page asks twice, the old page's answer between",
         {S::Ask, S::Link, S::Ask, S::Ask, S::AnswerOld, S::AnswerNew, S::AnswerNew},
         {"new", "new"},
         true,
         {"n11", "n11:d2", "n11:d2"}},
        {"both asked, a telephone link, the old page's answer first",
         {S::Ask, S::Link, S::Telephone, S::Ask, S::AnswerOld, S::AnswerNew},
         {"new"},
         true,
         {"n11", "n11:d2"}},
        {"a telephone link after asking",
         {S::Ask, S::Telephone, S::AnswerNew},
         {"new"},
         false,
         {"n11"}},
        {"a telephone link before asking",
         {S::Telephone, S::Ask, S::AnswerNew},
         {"new"},
         false,
         {"n11"}},
        {"two telephone links around asking, answered twice",
         {S::Telephone, S::Ask, S::Telephone, S::AnswerNew, S::Ask, S::AnswerOld},
         {"new", "old"},
         false,
         {"n11", "n11"}},
        {"a telephone link, then a page that leaves",
         {S::Ask, S::Telephone, S::Link, S::AnswerNew},
         {},
         true,
         {"n11"}},
    };
    peer::ApiPeer peer;
    connectTo(peer);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto& shop = page();
        settle(shop);
        size_t shownFrom = shop.model->events().size();
        size_t telephones = 0;
        std::vector<std::string> sentSerials;
        std::deque<std::string> out;  // not answered yet, oldest first
        const auto answerSent = [&](const std::string& serial, const char* body) {
            fromServer({{"c", "dataResponse"},
                        {"p", {{"serial", serial}, {"status", 200}, {"body", body}}}});
        };
        for (const Step step : c.steps) {
            switch (step) {
                case S::Ask: {
                    ask(shop);
                    const auto requests = sent(peer, "dataRequest");
                    ASSERT_FALSE(requests.empty());
                    const std::string serial = requests.back()["p"].value("serial", "");
                    ASSERT_EQ(serial.rfind(shop.serial() + ":", 0), 0u) << serial;
                    sentSerials.push_back(serial.substr(shop.serial().size() + 1));
                    out.push_back(serial);
                    break;
                }
                case S::Link:
                    followLink(shop);
                    shownFrom = shop.model->events().size();
                    break;
                case S::ViewLoads:
                    shop.webView->loadHTMLString("<p>cart</p>",
                                                 platform::URL::parse("https://shop.example/cart"));
                    settle(shop);
                    shownFrom = shop.model->events().size();
                    break;
                case S::Telephone:
                    headlessEngineOf(*shop.webView).setLocationHref("tel:+4930123");
                    ASSERT_TRUE(engineSaid(
                        shop,
                        "fail tel:+4930123 " + std::to_string(platform::kURLErrorUnsupportedURL),
                        ++telephones));
                    break;
                case S::AnswerNew:
                    ASSERT_FALSE(out.empty());
                    answerSent(out.back(), "new");
                    out.pop_back();
                    break;
                case S::AnswerOld:
                    ASSERT_FALSE(out.empty());
                    answerSent(out.front(), "old");
                    out.pop_front();
                    break;
            }
            platform::runUntilIdle();
        }
        EXPECT_EQ(sentSerials, c.sent);
        std::vector<std::string> heard;
        const auto& events = shop.model->events();
        for (size_t i = shownFrom; i < events.size(); ++i)
            if (events[i].name == "dataResponse") heard.push_back(events[i].parameters[2]);
        EXPECT_EQ(heard, c.heard);
        EXPECT_EQ(logged("MVWebView<" + shop.serial() +
                         "> drops the answer to data request n11 of a page it no longer shows"),
                  c.dropped);
        EXPECT_EQ(shop.webView->isUsingLibrary(), true);
    }
}

}  // namespace

namespace {

// The serial an answer carries may name the document after the request serial (":d" and
// its number): an answer that matches no request goes by that mark, and a mark that is no
// number is refused. Other third parts stay the page shown's, as before.
TEST_F(DataResponseDocumentTest, AMarkNamesTheDocumentAndAMalformedOneIsRefused) {
    enum class Outcome { Heard, Dropped, Refused };
    using O = Outcome;
    const struct Case {
        const char* asked;  // by the page shown first, if any
        const char* answered;
        Outcome outcome;
    } cases[] = {
        {nullptr, "n11:d2", O::Heard},  // the page shown is the second document
        {nullptr, "n11:d1", O::Dropped},
        {nullptr, "n11:d0", O::Dropped},
        {nullptr, "n11:d2:d1", O::Dropped},
        {nullptr, "n11:9", O::Heard},
        {nullptr, "n11:", O::Heard},
        {nullptr, "n11:d", O::Refused},
        {nullptr, "n11:dx", O::Refused},
        {nullptr, "n11:d-1", O::Refused},
        {nullptr, "n11:d+2", O::Refused},
        {nullptr, "n11:d2 ", O::Refused},
        {nullptr, "n11:d99999999999999999999", O::Refused},
        {nullptr, "n11:d\x1b[2J", O::Refused},
        {"n11:dx", "n11:dx", O::Heard},  // a page's own serial is matched as sent
        {"n11:d1", "n11:d1", O::Heard},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answered);
        auto& shop = page();
        settle(shop);
        followLink(shop);
        if (c.asked) ask(shop, c.asked);
        const size_t before = shop.model->events().size();
        answer(shop, "b", c.answered);
        platform::runUntilIdle();
        const auto& events = shop.model->events();
        EXPECT_EQ(events.size() - before, c.outcome == O::Heard ? 1u : 0u);
        if (c.outcome == O::Heard && events.size() > before) {
            EXPECT_EQ(events.back(), (Event{"dataResponse", {"n11", 200, "b", ""}}));
        }
        const std::string label = "MVWebView<" + shop.serial() + ">";
        EXPECT_EQ(logged(label + " drops the answer to data request n11"), c.outcome == O::Dropped);
        EXPECT_EQ(logged(label + " refuses the answer to data request n11:d"),
                  c.outcome == O::Refused);
    }
    EXPECT_TRUE(
        logged("refuses the answer to data request n11:d\\u001b[2J: its document mark is "
               "malformed"));
}

}  // namespace
