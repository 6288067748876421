// The command channel: decoding "mvcmd" addresses, the serial check and the hand-over to
// the dispatcher with the sending web view.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVCommandChannel.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/StringExtensions.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "libmerovane/handlers/MVCommandHandler_1_0.h"
#include "platform/foundation/JsonValue.h"
#include "tests/support/FakeWebView.h"
#include "tests/support/PlatformTest.h"

using nlohmann::json;

namespace {

struct Ran {
    std::string name;
    MVWebView* webView;
};
std::vector<Ran> ran;

class MVCommandChannelTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        ran.clear();
        MVErrorLogger::clearReports();
        registerCommandHandlerClasses();
        MVCommandHandler_1_0::commandTable().add(
            "note", {MVSpec{}, [](MVCommandHandler&, json* p, const std::shared_ptr<MVWebView>& w) {
                         ran.push_back(
                             {p ? platform::json::stringValue(*p, "n").value_or("") : "", w.get()});
                     }});
        webView_ = FakeWebView::create(1000);
    }

    void send(const std::string& collection) {
        MVCommandChannel::performCommandURL("mvcmd:" + urlEncodedString(collection), webView_,
                                            serial_);
    }
    std::vector<std::string> ranNames() const {
        std::vector<std::string> names;
        for (const auto& r : ran) names.push_back(r.name);
        return names;
    }

    std::shared_ptr<FakeWebView> webView_;
    int64_t serial_ = 0;
};

TEST_F(MVCommandChannelTest, CommandsRunWithTheSendingWebViewBeforeTheCallReturns) {
    send(
        R"({"ver":"2.0","cmds":[{"c":"note","p":{"n":"a"},"s":0},{"c":"note","p":{"n":"b"},"s":1}]})");
    EXPECT_EQ(ranNames(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(ran[0].webView, FakeWebView::token(webView_.get()));
    EXPECT_EQ(serial_, 2);
    EXPECT_FALSE(logged("lost commands"));
}

TEST_F(MVCommandChannelTest, CommandsWithoutSerialWarnButAllRun) {
    send(
        R"({"ver":"2.0","cmds":[{"c":"note","p":{"n":"1"}},{"c":"note","p":{"n":"2"}},{"c":"note","p":{"n":"3"}}]})");
    EXPECT_EQ(ranNames(), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_FALSE(logged("MVWebView<1000> lost commands 0 == 0"));
    EXPECT_EQ(loggedCount("MVWebView<1000> lost commands 0 == 1"), 1u);
    EXPECT_EQ(loggedCount("MVWebView<1000> lost commands 0 == 2"), 1u);
    EXPECT_EQ(serial_, 3);
}

TEST_F(MVCommandChannelTest, MismatchDoesNotResetTheCounter) {
    send(R"({"ver":"2.0","cmds":[{"c":"note","s":5}]})");
    EXPECT_TRUE(logged("MVWebView<1000> lost commands 5 == 0"));
    send(R"({"ver":"2.0","cmds":[{"c":"note","s":"1"}]})");  // "s" read as an integer
    EXPECT_EQ(loggedCount("lost commands"), 1u);
    EXPECT_EQ(serial_, 2);
}

TEST_F(MVCommandChannelTest, SerialCheckReadsOnlyCommandDictionariesOfACmdsArray) {
    // elements that are no dictionaries neither count nor warn
    send(R"({"ver":"2.0","cmds":[7,{"c":"note","s":0},"x",{"c":"note","s":1}]})");
    EXPECT_EQ(serial_, 2);
    EXPECT_FALSE(logged("lost commands"));
    // a collection without a "cmds" array goes to the collection check, which reports it
    send(R"({"ver":"2.0","cmds":{"c":"note"}})");
    EXPECT_EQ(serial_, 2);
    EXPECT_TRUE(logged("malformed command collection dictionary from MVWebView<1000>"));
}

TEST_F(MVCommandChannelTest, AddressWithoutJsonIsLoggedAndReported) {
    struct Case {
        const char* address;
        const char* requestURL;
    } cases[] = {
        {"mvcmd:nothing%20here", "mvcmd:nothing here"},
        // an escape that decodes to no UTF-8: the address as it came
        {"mvcmd:%7B%FF%7D", "mvcmd:%7B%FF%7D"},
    };
    for (const auto& c : cases) {
        MVErrorLogger::clearReports();
        MVCommandChannel::performCommandURL(c.address, webView_, serial_);
        auto reports = MVErrorLogger::reports();
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].description,
                  "MVWebView<1000> did receive command scheme without JSON");
        EXPECT_EQ(*reports[0].data, (json{{"webView", "<1000>"}, {"requestURL", c.requestURL}}));
    }
    EXPECT_TRUE(logged("MVWebView<1000> did receive command scheme without JSON"));
    EXPECT_TRUE(ran.empty());
    EXPECT_EQ(serial_, 0);
}

TEST_F(MVCommandChannelTest, ACollectionNested100000DeepIsUnreadableNotACrash) {
    const std::string deep = R"({"ver":"1.0","cmds":[{"c":"note","p":{"n":)" +
                             std::string(100'000, '[') + std::string(100'000, ']') + "}}]}";
    send(deep);
    EXPECT_TRUE(logged("MVWebview could not read command collection from webview<1000>"));
    auto reports = MVErrorLogger::reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(*reports[0].data, (json{{"webview", "<1000>"}, {"path", deep}}));
    EXPECT_TRUE(ran.empty());
}

TEST_F(MVCommandChannelTest, UnreadableJsonIsLoggedAndReported) {
    struct Case {
        const char* address;
        const char* text;
    } cases[] = {
        {"mvcmd:%7B%22ver%22", R"({"ver")"},      // cut short
        {"mvcmd:x%7B%7Dtrailing", "{}trailing"},  // text after the value
        {"mvcmd:%7Bnot%20json%7D", "{not json}"},
    };
    for (const auto& c : cases) {
        MVErrorLogger::clearReports();
        MVCommandChannel::performCommandURL(c.address, webView_, serial_);
        EXPECT_TRUE(logged(std::string("MVWebview could not read command collection from "
                                       "webview<1000>:[") +
                           c.text + "]"))
            << c.address;
        auto reports = MVErrorLogger::reports();
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].description, "MVWebview could not read command collection.");
        EXPECT_EQ(*reports[0].data, (json{{"webview", "<1000>"}, {"path", c.text}}));
    }
    EXPECT_TRUE(ran.empty());

    // A page's long text is cut in the line, kept whole in the report.
    const std::string longText = "{" + std::string(10000, 'x') + "\x1b";
    MVErrorLogger::clearReports();
    MVCommandChannel::performCommandURL("mvcmd:{" + std::string(10000, 'x') + "%1B", webView_,
                                        serial_);
    EXPECT_TRUE(logged("webview<1000>:[{" + std::string(2047, 'x') + "… [cut, 10002 bytes]]"));
    EXPECT_EQ((*MVErrorLogger::reports().at(0).data)["path"], longText);
}

}  // namespace
