// Arbitrary bytes as every wallet message the library receives, and as keyed archives
// decoded into every wallet value object.
#include <google/protobuf/stubs/logging.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "wallet/TWAClientSDKTransactionContext.h"
#include "wallet/TWAFullWallet.h"
#include "wallet/TWAMaskedWallet.h"
#include "wallet/proto/android_wallet_service.pb.h"
#include "wallet/proto/client_config.pb.h"
#include "wallet/proto/error_message.pb.h"
#include "wallet/proto/ios_wallet_service.pb.h"
#include "wallet/proto/native_communication.pb.h"

namespace {

class Reader {
  public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    uint8_t byte() { return empty() ? 0 : data_[pos_++]; }
    std::string bytes(size_t n) {
        n = std::min(n, size_ - std::min(pos_, size_));
        std::string out(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n;
        return out;
    }
    uint64_t integer(size_t n) {
        uint64_t v = 0;
        for (size_t i = 0; i < n; ++i) v = (v << 8) | byte();
        return v;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

const char* const kKeys[] = {"Name",
                             "CompanyName",
                             "AddressLines",
                             "IsPostBox",
                             "Locality",
                             "DependentLocality",
                             "AdministrativeArea",
                             "SortingCode",
                             "PostalCode",
                             "CountryCode",
                             "PhoneNumber",
                             "CurrencyCode",
                             "TotalPrice",
                             "LineItems",
                             "ItemDescription",
                             "Quantity",
                             "Role",
                             "UnitPrice",
                             "EstimatedTotalPrice",
                             "Cart",
                             "MerchantTransactionId",
                             "IsPhoneNumberRequired",
                             "IsShippingAddressRequired",
                             "UseMinimalBillingAddress",
                             "AllowDebitCard",
                             "AllowPrepaidCard",
                             "AllowedShippingCountrySpecifications",
                             "TesseraTransactionId",
                             "BillingAddress",
                             "BuyerEmail",
                             "ShippingAddress",
                             "PaymentDescriptions",
                             "InstrumentType",
                             "InstrumentDetails",
                             "EncryptionKey",
                             "HMACKey",
                             "Environment",
                             "MerchantMaskedWalletRequest",
                             "FullWalletExtraInfo",
                             "FullWalletAccessToken",
                             "Cryptor",
                             "CodingVersion"};

TWAKeyedArchive::Value value(Reader& in, int depth);

std::shared_ptr<TWAKeyedArchive> archive(Reader& in, int depth) {
    auto out = std::make_shared<TWAKeyedArchive>();
    for (int i = 0; i < 24 && !in.empty(); ++i) {
        uint8_t key = in.byte();
        if (key == 0xff) break;  // ends this archive
        out->encodeValue(kKeys[key % std::size(kKeys)], value(in, depth));
    }
    return out;
}

TWAKeyedArchive::Value value(Reader& in, int depth) {
    switch (in.byte() % 7) {
        case 0:
            return {in.byte() % 2 == 1};
        case 1:
            return {static_cast<int32_t>(in.integer(4))};
        case 2:
            return {static_cast<int64_t>(in.integer(8))};
        case 3:
            return {in.bytes(in.byte() % 40)};
        case 4: {
            std::string b = in.bytes(in.byte() % 40);
            return {TWAData(b.begin(), b.end())};
        }
        case 5:
            if (depth < 5) return {TWAKeyedArchive::ArchivePtr(archive(in, depth + 1))};
            return {false};
        default: {
            TWAKeyedArchive::List list;
            for (int n = in.byte() % 4; n > 0 && depth < 5; --n)
                list.push_back(value(in, depth + 1));
            return {list};
        }
    }
}

template <class T>
void exercise(const std::shared_ptr<T>& object) {
    if (!object) return;
    (void)object->description();
    (void)object->hash();
    (void)object->isEqual(object.get());
    auto again = T::createWithCoder(*object->archived());
    (void)again->isEqual(object.get());
}

template <class Message>
bool parse(const std::string& bytes, Message& message) {
    if (!message.ParseFromString(bytes)) return false;
    (void)message.DebugString();
    (void)message.SerializeAsString();
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The runtime's own lines about invalid UTF-8 would drown the fuzzer's output.
    static const bool quiet = (google::protobuf::SetLogHandler(nullptr), true);
    (void)quiet;
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    walletproto::OWIIosNativeGetMaskedWalletResponse nativeResponse;
    if (parse(bytes, nativeResponse)) {
        const auto& merchant = nativeResponse.merchant_response();
        (void)TWAAddress::addressWithCdpPostalAddress(&merchant.billing_address())->description();
        (void)TWAAddress::addressWithCdpPostalAddress(&merchant.shipping_address())->description();
    }
    walletproto::OWIosGetMaskedWalletForPreauthorizedBuyerResponse preauthResponse;
    parse(bytes, preauthResponse);
    walletproto::OWIosGetFullWalletResponse fullResponse;
    if (parse(bytes, fullResponse))
        (void)TWAAddress::addressWithCdpPostalAddress(&fullResponse.billing_address())
            ->description();
    walletproto::OWBenderGetFullWalletResponse benderResponse;
    parse(bytes, benderResponse);
    walletproto::OWRErrorMessage error;
    parse(bytes, error);
    walletproto::OWIOnlineWalletIosConfig config;
    parse(bytes, config);

    Reader in(data, size);
    auto coder = archive(in, 0);
    exercise(TWAAddress::createWithCoder(*coder));
    exercise(TWACart::createWithCoder(*coder));
    exercise(TWALineItem::createWithCoder(*coder));
    exercise(TWACountrySpecification::createWithCoder(*coder));
    exercise(TWAMaskedWalletRequest::createWithCoder(*coder));
    exercise(TWAFullWalletRequest::createWithCoder(*coder));
    exercise(TWAMaskedWallet::createWithCoder(*coder));
    exercise(TWAInstrumentInfo::createWithCoder(*coder));
    exercise(TWACrypto::createWithCoder(*coder));
    exercise(TWAClientSDKTransactionContext::createWithCoder(*coder));

    // The MAC and ciphertext of a reply, under keys the archive may have given.
    if (size >= 32) {
        auto crypto = TWACrypto::createWithCoder(*coder);
        (void)crypto->verify(TWAData(data, data + 32), TWAData(data + 32, data + size));
        (void)crypto->decrypt(TWAData(data, data + size));
    }
    return 0;
}
