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
    // a later event that does not amend stays beside it
    buffer.append(MVEvent("updateTemplateContent", json::array({4})));
    EXPECT_EQ(names(buffer).back(), "updateTemplateContent[4]");
    EXPECT_EQ(names(buffer).size(), 3u);
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

    MVEventBuffer progressOnly;
    progressOnly.append(MVEvent("updatePageProgress", json::array({0.1})));
    const auto empty = progressOnly.delivery("<1001:Header>");
    EXPECT_EQ(empty.script, "");
    EXPECT_EQ(empty.logText, "MVWebView<1001:Header> performing event buffer : {\n}");
}

}  // namespace
