// The other checkout's stubs: the page commands report the missing support, the
// builders carry what they are given, the overlay only shows its content.
#include <gtest/gtest.h>

#include "libmerovane/payments/MVApplePay.h"
#include "tests/payments/PaymentsFixture.h"

using nlohmann::json;

namespace {

using ApplePayTest = PaymentsFixture;

constexpr const char* kUnsupported =
    " called, but the library is compiled without ApplePay support.";

TEST_F(ApplePayTest, EachCommandWarnsAndReportsWithTheRunningVersion) {
    const std::pair<const char*, json> commands[] = {
        {"1.0", {{"c", "applePayBegin"}, {"p", {{"anything", {1, 2}}}}}},
        {"1.0", {{"c", "applePayBegin"}}},
        {"2.1", {{"c", "applePayEnd"}, {"p", {{"success", true}}}}},
        {"1.0",
         {{"c", "applePayContinue"},
          {"p",
           {{"summaryItems", {{{"name", "Total"}, {"amount", 12.5}}}},
            {"shippingMethods",
             {{{"name", "Post"},
               {"amount", 0},
               {"description", "2 days"},
               {"identifier", "p"}}}}}}}},
    };
    const char* const texts[] = {
        "MVCommandHandler(v1.0).applePayBegin()", "MVCommandHandler(v1.0).applePayBegin()",
        "MVCommandHandler(v2.1).applePayEnd()", "MVCommandHandler(v1.0).applePayContinue()"};
    for (const auto& [version, command] : commands) perform(command, version);
    auto reports = MVErrorLogger::reports();
    ASSERT_EQ(reports.size(), 4u);
    for (size_t i = 0; i < reports.size(); ++i) {
        const std::string text = std::string(texts[i]) + kUnsupported;
        EXPECT_EQ(reports[i].description, text);
        EXPECT_EQ(reports[i].data, nullptr);
        EXPECT_EQ(loggedLevel(text), platform::log::kWarning) << text;
    }
}

TEST_F(ApplePayTest, ParametersOutsideTheSpecificationStopTheCommand) {
    perform({{"c", "applePayContinue"},
             {"p",
              {{"summaryItems", json::array()},
               {"shippingMethods",
                {{{"name", "Post"}, {"amount", 0}, {"description", "x"}, {"identifier", "p"}}}}}}});
    perform({{"c", "applePayEnd"}, {"p", {{"success", "yes"}}}});
    perform({{"c", "applePayEnd"}});
    EXPECT_TRUE(MVErrorLogger::reports().size() <= 3u);
    for (const auto& report : MVErrorLogger::reports())
        EXPECT_EQ(report.description.find(kUnsupported), std::string::npos) << report.description;
}

TEST_F(ApplePayTest, BuildersCarryOnlyWhatIsGiven) {
    auto update = MVCommandApplePay::applePayUpdate(json{{"city", "Berlin"}}, std::nullopt, "data");
    EXPECT_EQ(update.name(), "applePayUpdate");
    EXPECT_EQ(*update.parameters(),
              (json{{"shippingAddress", {{"city", "Berlin"}}}, {"applicationData", "data"}}));
    auto submit = MVCommandApplePay::applePaySubmit(std::nullopt, "post", json::object(),
                                                    std::nullopt, "token");
    EXPECT_EQ(submit.name(), "applePaySubmit");
    EXPECT_EQ(*submit.parameters(), (json{{"shippingMethodId", "post"},
                                          {"billingAddress", json::object()},
                                          {"paymentToken", "token"}}));
    auto empty = MVCommandApplePay::applePayUpdate(std::nullopt, std::nullopt, std::nullopt);
    ASSERT_TRUE(empty.parameters());
    EXPECT_EQ(*empty.parameters(), json::object());
}

TEST_F(ApplePayTest, TheOverlayOnlyShowsItsContent) {
    EXPECT_EQ(MVApplePayOverlayController::sharedController(), nullptr);
    EXPECT_EQ(MVApplePayOverlayController::extractABRecordRef({{"name", "x"}}), json::object());
    auto overlay = MVApplePayOverlayController::create();
    auto content = platform::ViewController::create();
    overlay->setContentViewController(content);
    overlay->beginPayment(json::object());
    overlay->continuePayment(json::object());
    overlay->endPayment(true);
    EXPECT_EQ(overlay->contentViewController(), content);
    EXPECT_EQ(content->view()->superview(), overlay->contentContainerView());
    EXPECT_EQ(overlay->contentContainerView()->superview(), overlay->view());
}

}  // namespace
