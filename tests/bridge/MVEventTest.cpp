#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVEvent.h"

using nlohmann::json;

namespace {

TEST(MVEventTest, ScriptCarriesParametersAsCompactJsonWithSlashesEscaped) {
    MVEvent event("dataResponse",
                  json::array({"1000:7", 200, "<a href=\"/x\">/</a>", true, nullptr}));
    EXPECT_EQ(
        event.stringForJavaFunctionCall(),
        R"(MVEvent.__call("dataResponse",["1000:7",200,"<a href=\"\/x\">\/<\/a>",true,null]))");
}

TEST(MVEventTest, NameCannotBreakOutOfItsStringLiteral) {
    struct Case {
        const char* name;
        const char* script;
    } cases[] = {
        // ordinary names are unchanged; no parameters is an empty array
        {"splashScreenDidFinish", R"(MVEvent.__call("splashScreenDidFinish",[]))"},
        // a quote would end the literal and let the rest run as script
        {R"(x",alert(1),")", R"(MVEvent.__call("x\",alert(1),\"",[]))"},
        // a trailing backslash would swallow the closing quote
        {"x\\", R"(MVEvent.__call("x\\",[]))"},
        // line breaks end a literal too
        {"a\nb", R"(MVEvent.__call("a\nb",[]))"},
    };
    for (const auto& c : cases) EXPECT_EQ(MVEvent(c.name).stringForJavaFunctionCall(), c.script);
}

TEST(MVEventTest, InvalidUtf8InParametersDoesNotThrow) {
    MVEvent event("x", json::array({std::string("a\xff"
                                                "b")}));
    std::string script;
    EXPECT_NO_THROW(script = event.stringForJavaFunctionCall());
    EXPECT_EQ(script.rfind("MVEvent.__call(\"x\",[\"a", 0), 0u);
}

TEST(MVEventTest, DescriptionShowsParametersBriefly) {
    // booleans and null as the platform prints them
    MVEvent event("e",
                  json::array({"text", 2, json::array({1}), {{"k", "v"}}, true, nullptr, 0.5}));
    EXPECT_EQ(event.stringForJavaDescription(),
              R"(MVEvent.e( "text", 2, [array], [dictionary], 1, <null>, 0.5 ))");
    EXPECT_EQ(MVEvent("empty").stringForJavaDescription(), "MVEvent.empty(  )");
    EXPECT_EQ(MVEvent("x", json()).parameters(), json::array());  // null parameters mean none
}

TEST(MVEventTest, NamelessEventRaises) {
    try {
        MVEvent event("");
        FAIL() << "no exception";
    } catch (const MVEventWithoutNameException& e) {
        EXPECT_EQ(e.name(), "MVEvent initialized without name.");
        EXPECT_EQ(e.reason(), "An MVEvent must always be initialized with a correct event name.");
    }
}

// Parameters live behind a pointer: copies must be deep and a moved-from event usable.
TEST(MVEventTest, CopiesAreIndependentAndMovedFromStaysUsable) {
    MVEvent event("x", json::array({1}));
    event.setAmendPreviousEvent(true);
    MVEvent copy = event;
    event.parameters().push_back(2);
    EXPECT_EQ(copy.parameters(), json::array({1}));
    EXPECT_TRUE(copy.amendPreviousEvent());
    MVEvent moved = std::move(event);
    EXPECT_EQ(moved.parameters(), json::array({1, 2}));
    EXPECT_TRUE(event.parameters().is_array());  // NOLINT: checked on purpose
}

}  // namespace
