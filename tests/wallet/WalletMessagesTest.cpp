// The wallet's protocol messages as the protobuf runtime reads and writes them.
#include <gtest/gtest.h>

#include "tests/support/PlatformTest.h"
#include "wallet/TWAAddress.h"
#include "wallet/proto/android_wallet_service.pb.h"
#include "wallet/proto/client_config.pb.h"
#include "wallet/proto/device_fingerprinting.pb.h"
#include "wallet/proto/error_message.pb.h"
#include "wallet/proto/form_field_error.pb.h"
#include "wallet/proto/ios_wallet_service.pb.h"
#include "wallet/proto/native_communication.pb.h"

using namespace walletproto;

namespace {
using WalletMessagesTest = PlatformTest;

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out += static_cast<char>(v);
    return out;
}
}  // namespace

TEST_F(WalletMessagesTest, EmptyMessagesReadTheirDefaults) {
    PFMDeviceFingerprinting_Parsed_State state;
    ASSERT_TRUE(state.ParseFromString(""));
    EXPECT_EQ(state.percent_battery(), -1);
    EXPECT_EQ(state.gmt_offset_millis(), -86400000);
    EXPECT_FALSE(state.has_percent_battery());

    PFMDeviceFingerprinting_Parsed_Properties properties;
    ASSERT_TRUE(properties.ParseFromString(""));
    EXPECT_EQ(properties.operating_system(), 100);

    OWFormFieldError error;
    EXPECT_EQ(error.type(), 250);
    EXPECT_EQ(error.location(), 970);
    EXPECT_EQ(OWIIosNativeEncryptionParameters().scheme(), 0);
}

TEST_F(WalletMessagesTest, EmptyRepeatedFieldsAreNotWrittenAndEnumListsAreUnpacked) {
    OWIIosNativeGetMaskedWalletRequest request;
    request.set_version("1");
    std::string plain = request.SerializeAsString();
    EXPECT_EQ(plain, bytes({0x12, 1, '1'}));  // field 2 only: no field 6

    request.add_required_action(SETUP_WALLET);
    request.add_required_action(VERIFY_CVV);
    EXPECT_EQ(request.SerializeAsString(), plain + bytes({0x30, 1, 0x30, 12}));
}

TEST_F(WalletMessagesTest, UnknownEnumNumbersGoToUnknownFields) {
    struct Case {
        const char* what;
        std::string wire;
    };
    const Case cases[] = {
        {"required action 3 is not listed", bytes({0x30, 3})},
        {"required action 10 is not listed", bytes({0x30, 10})},
        {"required action 0 is not listed", bytes({0x30, 0})},
        {"scheme 2 inside the encryption parameters", bytes({0x2a, 2, 0x08, 2})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        OWIIosNativeGetMaskedWalletRequest request;
        ASSERT_TRUE(request.ParseFromString(c.wire));
        EXPECT_EQ(request.required_action_size(), 0);
        EXPECT_FALSE(request.encryption_parameters().has_scheme());
        EXPECT_EQ(request.SerializeAsString(), c.wire);  // kept, not lost
    }
    PFMDeviceFingerprinting_Parsed_Properties properties;
    ASSERT_TRUE(properties.ParseFromString(bytes({0x08, 2})));
    EXPECT_FALSE(properties.has_operating_system());
    EXPECT_EQ(properties.operating_system(), 100);
}

TEST_F(WalletMessagesTest, MalformedBytesFailTheParse) {
    const std::pair<const char*, std::string> cases[] = {
        {"truncated varint", bytes({0x18, 0x80})},
        {"length past the end", bytes({0x0a, 5, 'a'})},
        {"length of 2 GB", bytes({0x0a, 0xff, 0xff, 0xff, 0xff, 0x07})},
        {"field number 0", bytes({0x00, 1})},
        {"end group without start", bytes({0x0c})},
    };
    for (const auto& [what, wire] : cases) {
        SCOPED_TRACE(what);
        EXPECT_FALSE(OWIIosNativeGetMaskedWalletResponse().ParseFromString(wire));
        EXPECT_FALSE(OWIosGetFullWalletResponse().ParseFromString(wire));
        EXPECT_FALSE(OWRErrorMessage().ParseFromString(wire));
        EXPECT_FALSE(OWIOnlineWalletIosConfig().ParseFromString(wire));
        EXPECT_FALSE(OWBenderGetFullWalletResponse().ParseFromString(wire));
    }
    // The merchant response inside claims more than its two bytes.
    EXPECT_FALSE(OWIIosNativeGetMaskedWalletResponse().ParseFromString(bytes({0x0a, 2, 0x0a, 9})));
}

TEST_F(WalletMessagesTest, NestedCartRoundTripsAndInvalidUtf8StaysBytes) {
    OWIosGetFullWalletRequest request;
    COWFullWalletEnvelope_FullWalletRequest_Cart_LineItem* item =
        request.mutable_cart()->add_line_items();
    item->set_description("Tea \xff\xfe");
    item->set_role(COWFullWalletEnvelope_FullWalletRequest_Cart_LineItem::SHIPPING);
    request.add_supported_risk_challenge(VERIFY_CVC);

    OWIosGetFullWalletRequest parsed;
    ASSERT_TRUE(parsed.ParseFromString(request.SerializeAsString()));
    EXPECT_EQ(parsed.cart().line_items(0).description(), "Tea \xff\xfe");
    EXPECT_EQ(parsed.cart().line_items(0).role(), 2);
    EXPECT_EQ(parsed.supported_risk_challenge(0), 3);
    EXPECT_FALSE(parsed.DebugString().empty());

    // The bytes reach an address and its description unharmed.
    IAPCCdpPostalAddress cdp;
    cdp.mutable_postal_address()->set_recipient_name("J\xc3\xb6rg \xff");
    auto address = TWAAddress::addressWithCdpPostalAddress(&cdp);
    EXPECT_EQ(*address->name(), "J\xc3\xb6rg \xff");
    EXPECT_NE(address->description().find(R"("J\U00f6rg \Ufffd")"), std::string::npos);
}
