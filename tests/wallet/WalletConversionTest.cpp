// Message conversion and error conversion, and the text codings they lean on.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Device.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/TempDir.h"
#include "wallet/TBXHTTPFetcher.h"
#include "wallet/TBXOAuth2Authentication.h"
#include "wallet/TWAClientSDKDataConverter.h"
#include "wallet/TWACountrySpecification.h"
#include "wallet/TWAEncoding.h"
#include "wallet/TWAError.h"
#include "wallet/TWALineItem.h"
#include "wallet/TWARiskUtils.h"
#include "wallet/TWAWalletErrorConverter.h"

namespace {
using WalletConversionTest = PlatformTest;
using C = TWAClientSDKDataConverter;

TEST_F(WalletConversionTest, CartRolesAreSwapped) {
    using Line = C::Cart::LineItem;
    auto item = [](int64_t role) { return TWALineItem::create("d", "1.00", "1.00", "1", role); };
    auto cart = TWACart::create("EUR", "4.00", std::vector{item(0), item(1), item(2), item(7)});
    auto message = C::cartWithTWACart(*cart);
    ASSERT_EQ(message.line_items_size(), 4);
    EXPECT_FALSE(message.line_items(0).has_role());
    EXPECT_EQ(message.line_items(1).role(), Line::SHIPPING);
    EXPECT_EQ(message.line_items(2).role(), Line::TAX);
    EXPECT_TRUE(message.line_items(3).has_role());
    EXPECT_EQ(message.line_items(3).role(), Line::UNKNOWN);
    EXPECT_TRUE(logged("TWA_ASSERT false: NO"));
    EXPECT_EQ(message.line_items(0).description(), "d");
    EXPECT_EQ(message.line_items(0).unit_price(), "1.00");
    EXPECT_FALSE(message.line_items(0).has_currency_code());
    EXPECT_EQ(message.currency_code(), "EUR");
    EXPECT_EQ(message.total_price(), "4.00");
    EXPECT_FALSE(message.has_line_items_include_tax());
}

TEST_F(WalletConversionTest, MaskedWalletRequests) {
    TempDir bundle;
    bundle.write("Info.json", R"({"CFBundleIdentifier": "com.example.shop"})");
    platform::Bundle::setMainBundlePathForTesting(bundle.path());
    platform::UserDefaults::standard().setObject("AppleLanguages", nlohmann::json{"de", "en"});
    auto request = TWAMaskedWalletRequest::create("EUR", "12.50");
    request->setMerchantTransactionId("m-1");
    request->setAllowedShippingCountrySpecifications(
        std::vector{TWACountrySpecification::create("DE"), TWACountrySpecification::create("AT")});
    auto merchant = C::owMerchantRequestForMaskedWalletRequest(*request);
    EXPECT_FALSE(merchant.prepaid_forbidden());
    EXPECT_FALSE(merchant.debit_forbidden());
    EXPECT_TRUE(merchant.has_prepaid_forbidden());
    EXPECT_EQ(merchant.merchant_app_bundle_id(), "com.example.shop");
    EXPECT_EQ(merchant.buyer_locale().language_code(), "de");
    EXPECT_TRUE(merchant.buyer_locale().has_country_code());
    EXPECT_EQ(merchant.buyer_locale().country_code(), "");
    ASSERT_EQ(merchant.allowed_shipping_spec_by_country_size(), 2);
    EXPECT_EQ(merchant.allowed_shipping_spec_by_country(1).country_code(), "AT");

    for (auto [environment, validate] : {std::pair{0, false}, {1, true}, {2, true}, {3, false}}) {
        auto native = C::nativeRequestProtoForMaskedWalletRequest(*request, {5, 2}, "cb://x", true,
                                                                  "client", environment);
        EXPECT_EQ(native.perform_backend_validation_of_bundle_id_and_merchant_trust(), validate);
        auto preauth = C::preauthorizedRequestFromMaskedWallet(*request, "extra", "client", "risk",
                                                               environment);
        EXPECT_EQ(preauth.perform_backend_validation_of_app_id_and_merchant_trust(), validate);
        EXPECT_EQ(preauth.version(), "0.10.0-Apr  4 2014 -- 12:24:47");
    }
    platform::Clock::advanceManualNanos(250'000'000);
    auto native =
        C::nativeRequestProtoForMaskedWalletRequest(*request, {5, 2}, "cb://x", true, "client", 0);
    EXPECT_EQ(native.version(), "0.10.0-Apr  4 2014 -- 12:24:47");
    ASSERT_EQ(native.required_action_size(), 2);
    EXPECT_EQ(native.required_action(0), 5);
    EXPECT_EQ(native.encryption_parameters().scheme(), 1);
    // The manual clock's wall time, "%f".
    char expected[64];
    snprintf(expected, sizeof expected, "%f", platform::Clock::wallSeconds());
    EXPECT_EQ(native.request_creation_timestamp(), expected);
    EXPECT_EQ(native.request_creation_timestamp().substr(10), ".250000");
    auto risk = TWABase64URLDecodeUnpadded(native.risk_params());
    ASSERT_TRUE(risk);
    walletproto::PFRiskAdvisoryData data;
    ASSERT_TRUE(data.ParseFromString(*risk));
    EXPECT_EQ(data.device_fingerprinting().parsed().state().language(), "de");
}

TEST_F(WalletConversionTest, MaskedWalletTakesTheInstrumentsAddress) {
    walletproto::OWIosGetMaskedWalletForPreauthorizedBuyerResponse response;
    auto* m = response.mutable_merchant_response();
    m->mutable_billing_address()->mutable_postal_address()->set_locality_name("Wrong");
    m->mutable_instrument()->mutable_address()->mutable_postal_address()->set_locality_name(
        "Right");
    m->set_tessera_transaction_id("t-1");
    m->add_payment_description("Visa 1111");
    response.set_buyer_email("ann@example.com");
    auto wallet = C::maskedWalletFromPreauthorizedServerResponse(response, "m-1");
    ASSERT_TRUE(wallet->billingAddress());
    EXPECT_EQ(wallet->billingAddress()->locality(), "Right");
    EXPECT_FALSE(wallet->shippingAddress());
    EXPECT_EQ(wallet->email(), "ann@example.com");
    EXPECT_EQ(wallet->merchantTransactionId(), "m-1");
    EXPECT_EQ(wallet->paymentDescriptions(), (std::vector<std::string>{"Visa 1111"}));
}

TEST_F(WalletConversionTest, ServerErrorTable) {
    for (auto [type, code] : {std::pair{0L, -500L},
                              {11, -562},
                              {12, -512},
                              {21, -521},
                              {22, -500},
                              {23, -562},
                              {24, -562},
                              {31, -562},
                              {32, -532},
                              {33, -562},
                              {41, -562},
                              {42, -542},
                              {43, -543},
                              {44, -562},
                              {45, -500},
                              {51, -551},
                              {61, -561},
                              {62, -562},
                              {-1, -500}}) {
        EXPECT_EQ(TWAWalletErrorConverter::twaWalletErrorForServerError(type), code) << type;
    }
}

TEST_F(WalletConversionTest, PublicOrInternalError) {
    auto convert = [](const std::optional<platform::Error>& error) {
        return TWAWalletErrorConverter::publicOrInternalErrorWithServerCommunicatorError(error,
                                                                                         "why");
    };
    platform::Error url(platform::kURLErrorDomain, -1009);
    platform::Error status(kTBXHTTPFetcherStatusDomain, 503);
    auto internal = convert(std::nullopt);
    EXPECT_EQ(internal, platform::Error("com.tessera.wallet.sdk", -562));
    EXPECT_EQ(internal.localizedDescription(), "why");
    EXPECT_EQ(convert(status), internal);
    EXPECT_EQ(convert(TWAErrorMake(kTWAHTTPStatusErrorDomain, 0, std::nullopt, url)), url);
    EXPECT_EQ(convert(TWAErrorMake(kTWAHTTPStatusErrorDomain, 503, std::nullopt, status)),
              internal);
    EXPECT_EQ(convert(TWAErrorMake(kTWAHTTPStatusErrorDomain, 401, std::nullopt, std::nullopt)),
              internal);
    EXPECT_EQ(convert(url), url);
}

TEST_F(WalletConversionTest, FormCoding) {
    EXPECT_EQ(TBXOAuth2Authentication::encodedQueryParametersForDictionary(
                  {{"b", "1=2"}, {"A", "x y"}, {"request", "a-_.~/+"}}),
              "A=x%20y&b=1%3D2&request=a-_.~%2F%2B");
    using P = TBXOAuth2Authentication::Parameters;
    for (auto [text, expected] : {
             std::pair<std::string, P>{"a=1&b=x+y", {{"a", "1"}, {"b", "x y"}}},
             {"a=b=c", {{"a", "b=c"}}},              // split at the first "="
             {"a%3D=%41%zz%4", {{"a=", "A%zz%4"}}},  // broken escapes stay
             {"&&flag&", {{"flag", ""}}},
             {"", {}},
         }) {
        EXPECT_EQ(TBXOAuth2Authentication::dictionaryWithResponseString(text), expected) << text;
    }
}

TEST_F(WalletConversionTest, TextEncodings) {
    EXPECT_EQ(TWABase32Encode("foobar"), "mzxw6ytboi");
    EXPECT_EQ(TWABase32Encode("f"), "my");
    for (auto [plain, padded] : {std::pair{"", ""},
                                 {"f", "Zg=="},
                                 {"fo", "Zm8="},
                                 {"foo", "Zm9v"},
                                 {"\xfb\xff", "-_8="}}) {
        EXPECT_EQ(TWABase64URLEncode(plain, true), padded);
        EXPECT_EQ(TWABase64URLDecodePadded(padded), plain);
        std::string bare(padded);
        bare.erase(bare.find_last_not_of('=') + 1);
        EXPECT_EQ(TWABase64URLEncode(plain, false), bare);
        EXPECT_EQ(TWABase64URLDecodeUnpadded(bare), plain);
    }
    for (const char* bad : {"Zg", "Zg=", "Z===", "+/8=", "Zm9v!", "Zg==Zg=="})
        EXPECT_FALSE(TWABase64URLDecodePadded(bad)) << bad;
    for (const char* bad : {"Z", "Zg==", "+/8", "Zm9vZ"})
        EXPECT_FALSE(TWABase64URLDecodeUnpadded(bad)) << bad;
}

TEST_F(WalletConversionTest, RiskNumbers) {
    for (auto [level, percent] :
         {std::pair{-1.0f, -100}, {0.125f, 13}, {0.5f, 50}, {1.0f, 100}, {-0.125f, -13}})
        EXPECT_EQ(TWARiskUtils::percentBattery(level), percent) << level;
    auto addresses = TWARiskUtils::ipAddresses();
    EXPECT_NE(std::find(addresses.begin(), addresses.end(), "127.0.0.1"), addresses.end());

    auto& device = platform::Device::current();
    device.setMachine("iPhone7,2");
    device.setBatteryMonitoringEnabled(true);
    device.setBatteryLevel(0.425f);
    device.setIdentifierForVendor("6F9619FF-8B86-D011-B42D-00C04FC964FF");
    auto parsed = TWARiskUtils::riskMessage().device_fingerprinting().parsed();
    EXPECT_EQ(parsed.properties().operating_system(), 1);
    EXPECT_EQ(parsed.properties().product_name(), "iPhone7,2");
    EXPECT_EQ(parsed.properties().ios_vendor_identifier(), "6F9619FF-8B86-D011-B42D-00C04FC964FF");
    EXPECT_EQ(parsed.properties().os_version(), device.systemVersion());
    EXPECT_EQ(parsed.state().percent_battery(), 43);
    EXPECT_EQ(parsed.state().ip_addr_size(), static_cast<int>(addresses.size()));
    EXPECT_EQ(parsed.state().gmt_offset_millis() % 1000, 0);
    device.setIdentifierForVendor(std::nullopt);
    EXPECT_FALSE(TWARiskUtils::riskMessage()
                     .device_fingerprinting()
                     .parsed()
                     .properties()
                     .has_ios_vendor_identifier());
    device.resetForTesting();
    auto made = device.identifierForVendor();
    ASSERT_TRUE(made);
    EXPECT_EQ(made->size(), 36u);
    EXPECT_EQ(device.identifierForVendor(), made);  // kept for the device's life
}

}  // namespace
