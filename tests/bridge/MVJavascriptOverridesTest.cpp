// The injected override script, its private schemes and the addresses they report.
#include <gtest/gtest.h>

#include "libmerovane/bridge/MVJavascriptOverrides.h"
#include "platform/foundation/URL.h"

namespace {

using Override = MVJavascriptOverrides::Override;

TEST(MVJavascriptOverridesTest, ScriptReplacesLocationReplaceAndReplaceStateInThatOrder) {
    EXPECT_EQ(MVJavascriptOverrides::injectedScript(),
              "window.location.replace_=window.location.replace;\n"
              "window.location.replace=function(url){ window.location = "
              "'mvwebview-override-location.replace://' + encodeURIComponent(url);};\n"
              "history.replaceState_=history.replaceState;\n"
              "history.replaceState=function(state,title,url){ "
              "history.replaceState_(state,title,url); window.location = "
              "'mvwebview-override-history.replaceState://' + "
              "encodeURIComponent(document.location.href); };\n");
    // built once per process
    EXPECT_EQ(&MVJavascriptOverrides::injectedScript(), &MVJavascriptOverrides::injectedScript());
}

TEST(MVJavascriptOverridesTest, SchemesFindTheirOverride) {
    struct Case {
        const char* scheme;
        std::optional<Override> override;
    } cases[] = {
        {"mvwebview-override-location.replace", Override::LocationReplace},
        // as the injected script writes it, and as engines that lower-case schemes report it
        {"mvwebview-override-history.replaceState", Override::HistoryReplaceState},
        {"mvwebview-override-history.replacestate", Override::HistoryReplaceState},
        {"mvwebview-override-history.pushState", Override::HistoryPushState},
        {"MVWEBVIEW-OVERRIDE-HISTORY.PUSHSTATE", Override::HistoryPushState},
        // everything else is no report
        {"https", std::nullopt},
        {"mvcmd", std::nullopt},
        {"mvwebview-override-history", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MVJavascriptOverrides::overrideForScheme(c.scheme), c.override) << c.scheme;
    }
}

TEST(MVJavascriptOverridesTest, ReportedAddressIsTheDecodedTextAfterSchemeAndSlashes) {
    struct Case {
        const char* url;
        std::optional<std::string> address;
    } cases[] = {
        {"mvwebview-override-location.replace://https%3A%2F%2Fshop.example%2Fb%3Fx%3D1",
         "https://shop.example/b?x=1"},
        {"mvwebview-override-history.pushState://%2Fcart%23top", "/cart#top"},
        // "+" reads as a space, as the decoding does everywhere
        {"mvwebview-override-history.pushState://a+b", "a b"},
        {"mvwebview-override-history.pushState://", ""},
        // the three characters after the scheme are dropped whatever they are
        {"mvwebview-override-history.pushState:abcdef", "cdef"},
        {"mvwebview-override-history.pushState:ab", ""},
        // too short to carry an address
        {"mvwebview-override-history.pushState:a", std::nullopt},
        // escapes that decode to no text
        {"mvwebview-override-history.pushState://%FF", std::nullopt},
    };
    for (const auto& c : cases) {
        auto url = platform::URL::parse(c.url);
        ASSERT_TRUE(url) << c.url;
        EXPECT_EQ(MVJavascriptOverrides::reportedAddress(*url), c.address) << c.url;
    }
}

}  // namespace
