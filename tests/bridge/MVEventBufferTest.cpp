// The event buffer: amending, the page context first, one script for the whole buffer.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVEventBuffer.h"

using nlohmann::json;

namespace {

MVEvent amending(const char* name, json parameters) {
    MVEvent event(name, parameters);
    event.setAmendPreviousEvent(true);
    return event;
}

std::vector<std::string> names(const MVEventBuffer& buffer) {
    std::vector<std::string> out;
    for (const auto& e : buffer.events()) out.push_back(e.eventName() + e.parameters().dump());
    return out;
}

TEST(MVEventBufferTest, AmendingEventReplacesEveryOlderOneOfItsName) {
    MVEventBuffer buffer;
    buffer.append(amending("updateTemplateContent", json::array({1})));
    buffer.append(MVEvent("viewWillAppear", json::array({true})));
    buffer.append(MVEvent("updateTemplateContent", json::array({2})));  // does not amend
    buffer.append(amending("updateTemplateContent", json::array({3})));
    EXPECT_EQ(names(buffer),
              (std::vector<std::string>{"viewWillAppear[true]", "updateTemplateContent[3]"}));
}

TEST(MVEventBufferTest, NonAmendingEventsAreKeptBesideEachOther) {
    MVEventBuffer buffer;
    buffer.append(amending("pageInsetsChanged", json::array({1})));
    buffer.append(MVEvent("pageInsetsChanged", json::array({2})));
    EXPECT_EQ(names(buffer),
              (std::vector<std::string>{"pageInsetsChanged[1]", "pageInsetsChanged[2]"}));
}

TEST(MVEventBufferTest, PrependPutsTheEventFirst) {
    MVEventBuffer buffer;
    buffer.append(MVEvent("viewWillAppear", json::array({false})));
    buffer.prepend(MVEvent("pageContext", json::array({json::object()})));
    EXPECT_EQ(names(buffer),
              (std::vector<std::string>{"pageContext[{}]", "viewWillAppear[false]"}));
}

TEST(MVEventBufferTest, DeliveryIsOneScriptInOrderWithoutProgressEvents) {
    MVEventBuffer buffer;
    buffer.append(MVEvent("a", json::array({"x"})));
    buffer.append(amending("updatePageProgress", json::array({0.5})));
    buffer.append(MVEvent("b", json::array({1, json::array()})));
    const auto delivery = buffer.delivery("<1000>");
    EXPECT_EQ(delivery.script, R"(MVEvent.__call("a",["x"]);MVEvent.__call("b",[1,[]]);)");
    EXPECT_EQ(delivery.logText,
              "MVWebView<1000> performing event buffer : {\n"
              "MVEvent.a( \"x\" )\n"
              "MVEvent.b( 1, [array] )\n"
              "}");
}

TEST(MVEventBufferTest, ProgressEventsOnlyGiveAnEmptyScript) {
    MVEventBuffer buffer;
    buffer.append(MVEvent("updatePageProgress", json::array({0.1})));
    const auto delivery = buffer.delivery("<1001:Header>");
    EXPECT_EQ(delivery.script, "");
    EXPECT_EQ(delivery.logText, "MVWebView<1001:Header> performing event buffer : {\n}");
}

}  // namespace
