// The wallet's value objects: formats, coding, equality, hash and descriptions.
#include <gtest/gtest.h>

#include "tests/support/PlatformTest.h"
#include "wallet/TWAFullWallet.h"
#include "wallet/TWAFullWalletRequest.h"
#include "wallet/TWAMaskedWallet.h"
#include "wallet/TWAMaskedWalletRequest.h"
#include "wallet/proto/cdp_postal_address.pb.h"

namespace {
using WalletModelTest = PlatformTest;

class SubCart : public TWACart {};

template <class T>
std::shared_ptr<T> roundTrip(const std::shared_ptr<T>& object) {
    return T::createWithCoder(*object->archived());
}
}  // namespace

TEST_F(WalletModelTest, HashesOfEmptyObjects) {
    EXPECT_EQ(TWAInstrumentInfo::create()->hash(), 961u);
    EXPECT_EQ(TWACart::create()->hash(), 29791u);
    EXPECT_EQ(TWACountrySpecification::create("DE")->hash(), TWAHashBytes("DE"));
    // Booleans count 1231 and 1237; a list counts its elements.
    auto address = TWAAddress::create();
    address->setPostBox(true);
    address->setAddressLines(std::vector<std::string>{"a", "b"});
    uint64_t expected = 1;
    for (uint64_t part : {0, 0, 2, 1231, 0, 0, 0, 0, 0, 0, 0}) expected = expected * 31 + part;
    EXPECT_EQ(address->hash(), expected);
}

TEST_F(WalletModelTest, NumberFormatsAreAnchoredFullMatches) {
    const std::pair<const char*, bool> prices[] = {
        {"12.50", true},   {"12", true},     {"0.00", true},    {"12.5", false},
        {"12.500", false}, {"-1.00", false}, {" 12.50", false}, {"12.50 ", false},
        {"", false},       {".50", false},   {"1,50", false},   {"12.", false},
    };
    for (const auto& [text, valid] : prices)
        EXPECT_EQ(TWALineItem::isValidNumberString(text, TWALineItem::kPricePattern), valid)
            << text;
    const std::pair<const char*, bool> quantities[] = {
        {"2", true}, {"2.5", true}, {"2.50", false}, {"2.", false}, {"x2", false}};
    for (const auto& [text, valid] : quantities)
        EXPECT_EQ(TWALineItem::isValidNumberString(text, TWALineItem::kQuantityPattern), valid)
            << text;
    EXPECT_FALSE(TWALineItem::isValidNumberString(std::nullopt, TWALineItem::kPricePattern));
    EXPECT_FALSE(TWALineItem::isValidNumberString("12", std::nullopt));
    EXPECT_TRUE(TWALineItem::isValidNumberString("ab", "^[a-z]+$"));
    EXPECT_FALSE(TWALineItem::isValidNumberString("ab", "(["));  // a broken pattern
    // A page-given text of megabytes is matched without exhausting the stack.
    EXPECT_TRUE(
        TWALineItem::isValidNumberString(std::string(4'000'000, '7'), TWALineItem::kPricePattern));
}

TEST_F(WalletModelTest, LineItemReportsFormatsAndKeepsTheValue) {
    auto item = TWALineItem::createWithTotalPrice("Tea", "12.5");
    EXPECT_TRUE(logged("WARNING: totalPrice format is invalid"));
    EXPECT_EQ(*item->totalPrice(), "12.5");

    TWALineItem::createWithUnitPrice("Tea", "3.00", "2.50");
    EXPECT_TRUE(logged("WARNING: quantity format is invalid"));
    EXPECT_FALSE(logged("WARNING: unitPrice format is invalid"));

    item->setQuantity("2.5");
    item->setUnitPrice("3");
    EXPECT_FALSE(logged("ERROR:"));
    item->setTotalPrice("1.0");
    EXPECT_TRUE(logged("ERROR: totalPrice format is invalid"));
    EXPECT_EQ(*item->totalPrice(), "1.0");

    log_->clear();
    TWALineItem::create();
    EXPECT_EQ(loggedCount("WARNING: totalPrice format is invalid"), 1u);
    TWALineItem::create("x", "bad", "bad", "bad", 9);  // stores without looking
    EXPECT_EQ(loggedCount("format is invalid"), 1u);
}

TEST_F(WalletModelTest, LineItemDecodingFollowsTheArchiveVersion) {
    auto item = TWALineItem::createWithTotalPrice("Tea", "12.50", TWALineItem::kRoleTax);
    auto archive = item->archived();
    EXPECT_EQ(archive->keys(),
              (std::vector<std::string>{"ItemDescription", "TotalPrice", "Role", "CodingVersion"}));
    log_->clear();
    auto decoded = roundTrip(item);
    EXPECT_TRUE(decoded->isEqual(item.get()));
    // Quantity and unit price are none, which the setters report.
    EXPECT_TRUE(logged("ERROR: quantity format is invalid"));
    EXPECT_TRUE(logged("ERROR: unitPrice format is invalid"));

    std::shared_ptr<TWALineItem> kept;
    for (auto [version, expectedRole] : {std::pair{2, 0}, std::pair{1, 7}}) {
        TWAKeyedArchive newer = *archive;
        newer.encodeInt32("CodingVersion", version);
        newer.encodeInt64("Role", 7);
        kept = TWALineItem::createWithCoder(newer);
        EXPECT_EQ(kept->role(), expectedRole) << version;
    }
    EXPECT_NE(kept->description().find("Role = UNKNOWN_ROLE;"), std::string::npos);
    TWAKeyedArchive negative = *archive;
    negative.encodeInt32("CodingVersion", 2);
    negative.encodeInt64("Role", -1);  // taken unsigned: out of range too
    EXPECT_EQ(TWALineItem::createWithCoder(negative)->role(), 0);

    item->setRole(1);
    EXPECT_NE(item->description().find("Role = SHIPPING;"), std::string::npos);
}

TEST_F(WalletModelTest, EqualityIsExactClassAndFieldwise) {
    auto a = TWALineItem::createWithTotalPrice("Tea", "1.00");
    auto b = TWALineItem::createWithTotalPrice("Tea", "1.00");
    auto cart1 = TWACart::create("EUR", "1.00", std::vector{a});
    auto cart2 = TWACart::create("EUR", "1.00", std::vector{b});
    EXPECT_TRUE(cart1->isEqual(cart2.get()));
    EXPECT_EQ(cart1->hash(), cart2->hash());
    EXPECT_FALSE(cart1->isEqual(nullptr));
    EXPECT_FALSE(cart1->isEqual(a.get()));

    std::shared_ptr<TWACart> sub(new SubCart);
    std::shared_ptr<TWACart> plain = TWACart::create();
    EXPECT_FALSE(plain->isEqual(sub.get()));
    EXPECT_FALSE(sub->isEqual(plain.get()));

    b->setRole(2);
    EXPECT_FALSE(cart1->isEqual(cart2.get()));
    EXPECT_FALSE(cart1->isEqual(TWACart::create("EUR", "1.00", std::nullopt).get()));
}

TEST_F(WalletModelTest, CopiesAreDeepAndEqual) {
    auto item = TWALineItem::createWithTotalPrice("Tea", "1.00");
    auto cart = TWACart::create("EUR", "1.00", std::vector{item});
    auto cartCopy = cart->copy();
    EXPECT_TRUE(cartCopy->isEqual(cart.get()));
    EXPECT_NE(cartCopy->lineItems()->at(0), item);

    auto request = TWAMaskedWalletRequest::create("EUR", "5.00");
    EXPECT_TRUE(request->allowDebitCard());
    EXPECT_TRUE(request->allowPrepaidCard());
    EXPECT_FALSE(request->isPhoneNumberRequired());
    EXPECT_FALSE(request->isShippingAddressRequired());
    request->setCart(cart);
    request->setAllowedShippingCountrySpecifications(
        std::vector{TWACountrySpecification::create("DE")});
    auto requestCopy = request->copy();
    EXPECT_TRUE(requestCopy->isEqual(request.get()));
    EXPECT_NE(requestCopy->cart(), cart);

    auto full = TWAFullWalletRequest::create("t1", cart, "m1");
    EXPECT_EQ(full->cart(), cart);
    EXPECT_TRUE(full->copy()->isEqual(full.get()));
    EXPECT_EQ(TWACountrySpecification::create(), nullptr);
}

TEST_F(WalletModelTest, CodingRoundTripsWithTheirKeys) {
    auto request = TWAMaskedWalletRequest::create("EUR", "5.00");
    request->setAllowDebitCard(false);
    request->setShippingAddressRequired(true);
    request->setCart(TWACart::create("EUR", "5.00", std::vector{TWALineItem::create()}));
    request->setAllowedShippingCountrySpecifications(
        std::vector{TWACountrySpecification::create("DE"), TWACountrySpecification::create("AT")});
    EXPECT_TRUE(roundTrip(request)->isEqual(request.get()));
    EXPECT_EQ(request->archived()->keys(),
              (std::vector<std::string>{
                  "CurrencyCode", "EstimatedTotalPrice", "Cart", "IsPhoneNumberRequired",
                  "IsShippingAddressRequired", "UseMinimalBillingAddress", "AllowDebitCard",
                  "AllowPrepaidCard", "AllowedShippingCountrySpecifications", "CodingVersion"}));

    auto address = TWAAddress::create();
    address->setName("Ann");
    address->setAddressLines(std::vector<std::string>{"Main St 1"});
    address->setPostalCode("1010");
    address->setSortingCode("S");
    EXPECT_EQ(address->archived()->keys(),
              (std::vector<std::string>{"Name", "AddressLines", "IsPostBox", "PostalCode",
                                        "SortingCode", "CodingVersion"}));
    auto wallet = TWAMaskedWallet::create();
    wallet->setBillingAddress(address);
    wallet->setEmail("ann@example.com");
    wallet->setPaymentDescriptions(std::vector<std::string>{"Visa 1111"});
    EXPECT_TRUE(roundTrip(wallet)->isEqual(wallet.get()));
    EXPECT_EQ(wallet->description().find("ann@example.com"), std::string::npos);

    auto info = TWAInstrumentInfo::create();
    info->setInstrumentType("VISA");
    EXPECT_TRUE(roundTrip(info)->isEqual(info.get()));
    auto full = TWAFullWalletRequest::create("t1", TWACart::create(), std::nullopt);
    EXPECT_TRUE(roundTrip(full)->isEqual(full.get()));
}

TEST_F(WalletModelTest, ForeignArchivesDecodeWithoutHarm) {
    TWAKeyedArchive archive;
    archive.encodeInt32("CurrencyCode", 5);
    archive.encodeText("LineItems", "not a list");
    archive.encodeList("AllowedShippingCountrySpecifications",
                       TWAKeyedArchive::List{{std::string("DE")}, {int64_t{1}}});
    archive.encodeInt64("AllowDebitCard", 1);
    auto request = TWAMaskedWalletRequest::createWithCoder(archive);
    EXPECT_FALSE(request->currencyCode());
    EXPECT_TRUE(request->allowDebitCard());
    EXPECT_FALSE(request->allowPrepaidCard());  // absent reads NO
    EXPECT_TRUE(request->allowedShippingCountrySpecifications()->empty());
    EXPECT_TRUE(logged("TWAKeyedArchive: value for key CurrencyCode is int32, not text"));
    EXPECT_FALSE(TWACart::createWithCoder(archive)->lineItems());
}

TEST_F(WalletModelTest, ProxyCardShowsOnlyTheLastFourDigits) {
    auto card = TWAProxyCard::create();
    card->setPan("4111111111111111");
    card->setCvn("123");
    card->setExpirationDate(TWADateComponents{3, 2016});
    EXPECT_EQ(card->description(), "Proxy card XXXX-1111, Expires 03/2016");
    card->setPan("12");
    EXPECT_EQ(card->description(), "Proxy card XXXX-12, Expires 03/2016");

    auto wallet = TWAFullWallet::create();
    wallet->setProxyCard(card);
    EXPECT_NE(wallet->description().find("\"Proxy Card\" = Proxy card XXXX-12"), std::string::npos);
    EXPECT_NE(wallet->description().find("\"Billing Addresss\" = \"<nil>\";"), std::string::npos);
    EXPECT_EQ(wallet->description().find("123"), std::string::npos);
}

TEST_F(WalletModelTest, DescriptionListsSortedKeysAndNestedObjects) {
    auto cart = TWACart::create("EUR", std::nullopt,
                                std::vector{TWALineItem::create("Tea", "1.00", {}, {}, 0)});
    EXPECT_EQ(cart->description(),
              "{\n"
              "    \"Currency Code\" = EUR;\n"
              "    \"Line Items\" = (\n"
              "        {\n"
              "            \"Item Description\" = Tea;\n"
              "            Quantity = \"<nil>\";\n"
              "            Role = REGULAR;\n"
              "            \"Total Price\" = 1.00;\n"
              "            \"Unit Price\" = \"<nil>\";\n"
              "        }\n"
              "    );\n"
              "    \"Total Price\" = \"<nil>\";\n"
              "}");
}

TEST_F(WalletModelTest, AddressFromTheWalletMessage) {
    EXPECT_EQ(TWAAddress::addressWithCdpPostalAddress(nullptr), nullptr);
    walletproto::IAPCCdpPostalAddress cdp;
    cdp.set_phone_number("+43 1");
    cdp.set_is_post_box(true);
    auto* postal = cdp.mutable_postal_address();
    postal->set_recipient_name("Ann");
    postal->set_firm_name("Shop");
    postal->add_address_line("Main St 1");
    postal->add_address_line("Floor 2");
    postal->set_locality_name("Vienna");
    postal->set_dependent_locality_name("Inner City");
    postal->set_administrative_area_name("W");
    postal->set_sorting_code("X1");
    postal->set_postal_code_number("1010");
    postal->set_postal_code_number_extension("22");
    postal->set_country_name_code("AT");
    auto address = TWAAddress::addressWithCdpPostalAddress(&cdp);
    auto expected = TWAAddress::create();
    expected->setName("Ann");
    expected->setCompanyName("Shop");
    expected->setAddressLines(std::vector<std::string>{"Main St 1", "Floor 2"});
    expected->setPostBox(true);
    expected->setLocality("Vienna");
    expected->setDependentLocality("Inner City");
    expected->setAdministrativeArea("W");
    expected->setSortingCode("X1");
    expected->setPostalCode("1010");
    expected->setCountryCode("AT");
    expected->setPhoneNumber("+43 1");
    EXPECT_TRUE(address->isEqual(expected.get())) << address->description();

    walletproto::IAPCCdpPostalAddress bare;
    address = TWAAddress::addressWithCdpPostalAddress(&bare);
    EXPECT_FALSE(address->name());
    EXPECT_FALSE(address->addressLines());
}
