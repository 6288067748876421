// Data requests from pages to the server and their answers, page events between pages,
// and the pages' stored entries.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "libmerovane/bridge/MVEventDispatcher.h"
#include "libmerovane/storage/MVWebStorageVariable.h"
#include "tests/handlers/ServerRoadTest.h"

using nlohmann::json;

namespace {

using DataRequestCommandsTest = ServerRoadTest;
using Event = HeadlessPageModel::ReceivedEvent;

constexpr double kYear = 365.0 * 86400.0;

TEST_F(DataRequestCommandsTest, ARequestRoundTripsThroughThePeerAndThePageHearsOnce) {
    peer::ApiPeer peer;
    auto requests = std::make_shared<std::vector<json>>();
    auto mutex = std::make_shared<std::mutex>();
    connectTo(peer, [=](const json& request) {
        std::lock_guard lock(*mutex);
        requests->push_back(request);
        return json{{"c", "dataResponse"},
                    {"p", {{"serial", request.value("serial", "")}, {"status", 200}}}};
    });
    auto& shop = page();
    send(shop, {{"c", "sendDataRequest"}, {"p", {{"serial", "12"}, {"src", "mvapi:list?x=1"}}}});
    platform::advanceBy(MVApiConnection::kCommandBatchDelay);
    ASSERT_TRUE(waitFor([&] { return !shop.model->events().empty(); }));
    {
        std::lock_guard lock(*mutex);
        ASSERT_EQ(requests->size(), 1u);
        EXPECT_EQ(requests->front(),
                  (json{{"serial", shop.serial() + ":12"}, {"pageId", "list?x=1"}}));
    }
    // Whatever else arrives by now, the page heard its answer once.
    EXPECT_EQ(sent(peer, "dataRequest").size(), 1u);
    platform::advanceBy(0.1);
    EXPECT_EQ(shop.model->events(), (std::vector<Event>{{"dataResponse", {"12", 200, "", ""}}}));
}

TEST_F(DataRequestCommandsTest, OnlyTheExactApiSchemeSendsAndNoCacheChangesNothing) {
    peer::ApiPeer peer;
    connectTo(peer);
    auto& shop = page();
    const json sources[] = {
        {{"serial", "5"}, {"src", "mvapi:search?q=1"}},
        {{"serial", "6"}, {"src", "mvapi:search?q=1"}, {"noCache", true}},
        {{"serial", "7"}, {"src", "mvapi:p"}, {"body", "b=1"}, {"bodyContentType", "text/plain"}},
        {{"serial", "8"}, {"src", "https://shop.example/data"}},  // other schemes: nothing
        {{"serial", "9"}, {"src", "MVAPI:p"}},                    // the scheme compares exactly
    };
    for (const auto& parameters : sources)
        send(shop, {{"c", "sendDataRequest"}, {"p", parameters}});
    const std::string s = shop.serial();
    EXPECT_EQ(sent(peer, "dataRequest"),
              (std::vector<json>{
                  {{"c", "dataRequest"}, {"p", {{"serial", s + ":5"}, {"pageId", "search?q=1"}}}},
                  {{"c", "dataRequest"}, {"p", {{"serial", s + ":6"}, {"pageId", "search?q=1"}}}},
                  {{"c", "dataRequest"},
                   {"p",
                    {{"serial", s + ":7"},
                     {"pageId", "p"},
                     {"body", "b=1"},
                     {"bodyContentType", "text/plain"}}}}}));
    EXPECT_TRUE(MVErrorLogger::reports().empty());
}

TEST_F(DataRequestCommandsTest, ARequestFromNoPageOrWithoutAUrlIsReported) {
    auto& shop = page();
    const json parameters = {{"serial", "1"}, {"src", "mvapi:a b"}};
    send(shop, {{"c", "sendDataRequest"}, {"p", parameters}});
    EXPECT_TRUE(logged(
        "MVCommandHandler(v1.0).sendDataRequest() could not form url from src: \"mvapi:a b\""));
    fromServer({{"c", "sendDataRequest"}, {"p", parameters}});
    EXPECT_TRUE(
        logged("MVCommandHandler(v1.0).sendDataRequest() can only be called from MVWebviews "
               "<params:{\"serial\":\"1\",\"src\":\"mvapi:a b\"}>"));
    const auto reports = MVErrorLogger::reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].description,
              "MVCommandHandler(v1.0).sendDataRequest() could not form url from src.");
    EXPECT_EQ(*reports[0].data, "mvapi:a b");
    EXPECT_EQ(reports[1].description,
              "MVCommandHandler(v1.0).sendDataRequest() can only be called from MVWebviews");
    EXPECT_EQ(*reports[1].data, parameters);
}

TEST_F(DataRequestCommandsTest, AnAnswerFindsItsPageBySerialAndNothingElse) {
    auto& shop = page();
    auto answer = [](const std::string& serial) {
        fromServer({{"c", "dataResponse"},
                    {"p",
                     {{"serial", serial},
                      {"status", 200},
                      {"body", "b"},
                      {"bodyContentType", "text/plain"}}}});
    };
    answer(shop.serial() + ":7");
    answer(shop.serial() + ":7:9");  // the request serial ends at the second colon
    // No page of these serials, and none that wraps into one.
    for (const std::string serial :
         {"99999999999999999999:7", "-1:7", "a:7", ":", "4294968296:7", "0:7"})
        answer(serial);
    platform::runUntilIdle();
    const Event expected{"dataResponse", {"7", 200, "b", "text/plain"}};
    EXPECT_EQ(shop.model->events(), (std::vector<Event>{expected, expected}));
    EXPECT_TRUE(MVErrorLogger::reports().empty());

    answer(shop.serial());
    const std::string line =
        "MVCommandHandler(v1.0).dataResponse() serial is malformed \"" + shop.serial() + "\"";
    EXPECT_EQ(loggedLevel(line), platform::log::kError);
    auto reports = MVErrorLogger::reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].description,
              "MVCommandHandler(v1.0).dataResponse() serial is malformed .");
    EXPECT_EQ(*reports[0].data, shop.serial());
}

TEST_F(DataRequestCommandsTest, PagesHearTheEventsTheyRegisteredFromAnySender) {
    auto& first = page();
    auto& second = page("https://shop.example/cart");
    send(first, {{"c", "registerEvents"}, {"p", {{"events", {"cartChanged", 5, "other"}}}}});
    EXPECT_TRUE(
        logged("MVCommandHandler(v1.0).registerEvents() drops event names that are not "
               "strings"));
    send(second, {{"c", "registerEvents"}, {"p", {{"events", {"cartChanged"}}}}});
    send(second, {{"c", "registerEvents"}, {"p", {{"events", json::array()}}}});
    send(second, {{"c", "registerEvents"}, {"p", {{"events", {1, 2}}}}});
    EXPECT_FALSE(logged("failed"));  // no exception reached the dispatcher
    EXPECT_EQ(MVEventDispatcher::sharedDispatcher().webViewsForEvent("cartChanged").size(), 2u);
    EXPECT_EQ(MVEventDispatcher::sharedDispatcher().webViewsForEvent("other").size(), 1u);

    fromServer({{"c", "broadcastEvent"}, {"p", {{"event", "cartChanged"}, {"parameters", {1}}}}});
    send(second, {{"c", "broadcastEvent"}, {"p", {{"event", "cartChanged"}}}});
    send(second, {{"c", "broadcastEvent"}, {"p", {{"event", ""}}}});
    platform::runUntilIdle();
    const std::vector<Event> heard = {{"cartChanged", {1}}, {"cartChanged", json::array()}};
    EXPECT_EQ(first.model->events(), heard);
    EXPECT_EQ(second.model->events(), heard);
    EXPECT_TRUE(logged("MVCommandHandler(v1.0).broadcastEvent() event without a name is not sent"));

    fromServer({{"c", "registerEvents"}, {"p", {{"events", {"x"}}}}});
    EXPECT_TRUE(logged("MVCommandHandler(v1.0).registerEvents() not called from webview"));
    auto reports = MVErrorLogger::reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].description,
              "MVCommandHandler(v1.0).registerEvents() not called from webview.");
}

class WebStorageTest : public ServerRoadTest {
  protected:
    void set(Page& from, json parameters) {
        send(from, {{"c", "setWebStorageEntry"}, {"p", std::move(parameters)}});
    }
    // The page's answer for `name`: [serial, age, value].
    json get(Page& from, const std::string& name, const json& serial = 1) {
        const size_t before = from.model->events().size();
        send(from, {{"c", "getWebStorageEntry"}, {"p", {{"name", name}, {"serial", serial}}}});
        platform::runUntilIdle();
        const auto& events = from.model->events();
        if (events.size() != before + 1 || events.back().name != "webStorageResponse")
            return "no answer";
        return events.back().parameters;
    }
    bool stored(const std::string& name) {
        bool found = false;
        MVPersistentStorage::sharedStorage().lockedAccess(
            [&] { found = MVWebStorageVariable::dbObjectWithID(name) != nullptr; });
        return found;
    }
};

TEST_F(WebStorageTest, AnyValueComesBackUnchangedWithItsAge) {
    auto& shop = page();
    const json values[] = {3.5, "text", true, json::array({1, "x", {{"k", false}}}),
                           json{{"deep", {{"er", {1, 2}}}}}};
    for (size_t i = 0; i < std::size(values); ++i)
        set(shop, {{"name", "e" + std::to_string(i)}, {"value", values[i]}});
    platform::advanceBy(2.5);
    for (size_t i = 0; i < std::size(values); ++i)
        EXPECT_EQ(get(shop, "e" + std::to_string(i), 40), json({40, 2, values[i]})) << i;
    // The server writes too; a missing entry answers null with age 0; serials clamp.
    fromServer({{"c", "setWebStorageEntry"}, {"p", {{"name", "server"}, {"value", "s"}}}});
    EXPECT_EQ(get(shop, "server"), json({1, 0, "s"}));
    EXPECT_EQ(get(shop, "missing", -1), json({0, 0, nullptr}));
    EXPECT_EQ(get(shop, "server", 1e308), json({std::numeric_limits<int64_t>::max(), 0, "s"}));
}

TEST_F(WebStorageTest, AnEntryExpiresAfterItsWholeTimeoutAndStaysStored) {
    auto& shop = page();
    set(shop, {{"name", "cart"}, {"value", "c"}, {"timeout", 10}});
    platform::advanceBy(10);
    EXPECT_EQ(get(shop, "cart"), json({1, 10, "c"}));
    platform::advanceBy(1);
    EXPECT_EQ(get(shop, "cart"), json({1, 0, nullptr}));
    EXPECT_TRUE(stored("cart"));
    // A write restarts the lifetime.
    set(shop, {{"name", "cart"}, {"value", "d"}, {"timeout", 10}});
    EXPECT_EQ(get(shop, "cart"), json({1, 0, "d"}));
}

TEST_F(WebStorageTest, ATimeoutBelowOneOrBeyondRangeNeverExpires) {
    auto& shop = page();
    set(shop, {{"name", "zero"}, {"value", 0}, {"timeout", 0}});
    set(shop, {{"name", "half"}, {"value", 1}, {"timeout", 0.5}});
    set(shop, {{"name", "huge"}, {"value", 2}, {"timeout", 1e308}});
    set(shop, {{"name", "negative"}, {"value", 3}, {"timeout", -1e308}});
    platform::advanceBy(kYear);
    const auto year = static_cast<int64_t>(kYear);
    EXPECT_EQ(get(shop, "zero"), json({1, year, 0}));
    EXPECT_EQ(get(shop, "half"), json({1, year, 1}));
    EXPECT_EQ(get(shop, "huge"), json({1, year, 2}));
    EXPECT_EQ(get(shop, "negative"), json({1, year, 3}));
}

TEST_F(WebStorageTest, AWholeAgeStaysWholeWhenTheStoredDateIsAHairLate) {
    auto& shop = page();
    set(shop, {{"name", "cart"}, {"value", "c"}, {"timeout", 10}});
    // Dates are doubles: the write's date may come out a hair after its moment.
    const double now = platform::Date::now().timeIntervalSince1970();
    MVPersistentStorage::sharedStorage().lockedAccess([&] {
        MVWebStorageVariable::dbObjectWithID("cart")->setCreationDate(
            platform::Date(std::nextafter(now - 10, now)));
    });
    EXPECT_EQ(get(shop, "cart"), json({1, 10, "c"}));
    platform::advanceBy(1);
    EXPECT_EQ(get(shop, "cart"), json({1, 0, nullptr}));
}

TEST_F(WebStorageTest, WritingWithoutAValueDeletesAndAReadNeedsAPage) {
    auto& shop = page();
    set(shop, {{"name", "a"}, {"value", "x"}});
    set(shop, {{"name", "a"}});
    set(shop, {{"name", "b"}});
    set(shop, {{"name", "c"}, {"value", "x"}});
    set(shop, {{"name", "c"}, {"value", nullptr}});  // null counts as absent
    EXPECT_FALSE(stored("a"));
    EXPECT_FALSE(stored("b"));
    EXPECT_FALSE(stored("c"));

    const json parameters = {{"name", "a"}, {"serial", 1}};
    fromServer({{"c", "getWebStorageEntry"}, {"p", parameters}});
    EXPECT_TRUE(
        logged("MVCommandHandler(v1.0).getWebStorageEntry() can only be called from MVWebviews "
               "<params:{\"name\":\"a\",\"serial\":1}>"));
    auto reports = MVErrorLogger::reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].description,
              "MVCommandHandler(v1.0).getWebStorageEntry() can only be called from MVWebviews.");
    EXPECT_EQ(*reports[0].data, parameters);
}

}  // namespace
