// Arbitrary wallet server answers (body, status, fetcher error) through the
// communicator's completion handler for each answer class, and arbitrary texts through
// the form decoder and both base64url decoders.
#include <google/protobuf/stubs/logging.h>

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/foundation/JsonValue.h"
#include "wallet/TBXHTTPFetcher.h"
#include "wallet/TBXOAuth2Authentication.h"
#include "wallet/TWAEncoding.h"
#include "wallet/TWAError.h"
#include "wallet/TWAServerCommunicator.h"
#include "wallet/TWAWalletErrorConverter.h"

namespace {

std::optional<platform::Error> fetcherError(uint8_t kind, int status, const std::string& body) {
    switch (kind % 4) {
        case 0:
            return std::nullopt;
        case 1:
            return platform::Error(platform::kURLErrorDomain, -1004);
        case 2:
            return platform::Error(kTBXHTTPFetcherStatusDomain, status);
        default: {
            // An OAuth error body under "json", whatever it holds, read as the fetcher
            // reads one.
            auto parsed = platform::json::parse(body);
            nlohmann::json info = nlohmann::json::object();
            if (parsed.ok()) info[kTBXHTTPFetcherErrorJSONKey] = std::move(parsed.value);
            return platform::Error::withUserInfo(kTBXHTTPFetcherStatusDomain, status, info);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = (google::protobuf::SetLogHandler(nullptr), true);
    (void)quiet;
    if (size < 4) return 0;
    const uint8_t answerClass = data[0];
    const int status = (data[1] << 8) | data[2];
    const uint8_t errorKind = data[3];
    const std::string body(reinterpret_cast<const char*>(data + 4), size - 4);
    std::optional<std::vector<uint8_t>> bytes;
    if (errorKind & 4) bytes = std::vector<uint8_t>(body.begin(), body.end());
    auto error = fetcherError(errorKind, status, body);
    const auto& errorClass = walletproto::OWRErrorMessage::default_instance();

    int calls = 0;
    switch (answerClass % 3) {
        case 0: {
            uint64_t pad = (static_cast<uint64_t>(status) << 32) | errorKind;
            auto callback = TWAServerCommunicator::getFullWalletCallbackWithOtp(
                pad, [&](auto answer, auto card, auto message, auto e) {
                    ++calls;
                    if (card && card->pan()->size() != 16) __builtin_trap();
                    if (e)
                        TWAWalletErrorConverter::publicOrInternalErrorWithServerCommunicatorError(
                            e, "Internal Error: 504");
                    if (message)
                        TWAWalletErrorConverter::twaWalletErrorForServerError(
                            message->wallet_error().error_type());
                    (void)answer;
                });
            TWAServerCommunicator::handleFetchResult(
                status, bytes, error, callback,
                walletproto::OWBenderGetFullWalletResponse::default_instance(), errorClass);
            break;
        }
        case 1:
            TWAServerCommunicator::handleFetchResult(
                status, bytes, error, [&](auto, auto, auto) { ++calls; },
                walletproto::OWIosGetMaskedWalletForPreauthorizedBuyerResponse::default_instance(),
                errorClass);
            break;
        default:
            TWAServerCommunicator::handleFetchResult(
                status, bytes, error, [&](auto, auto, auto) { ++calls; },
                walletproto::OWIosGetFullWalletResponse::default_instance(), errorClass);
            break;
    }
    if (calls != 1) __builtin_trap();

    TBXOAuth2Authentication::dictionaryWithResponseString(body);
    // What a decoder accepts encodes back to text of the same length.
    if (auto padded = TWABase64URLDecodePadded(body);
        padded && TWABase64URLEncode(*padded, true).size() != body.size())
        __builtin_trap();
    TWABase64URLDecodeUnpadded(body);
    TWAServerCommunicator::parseHexadecimal(body);
    return 0;
}
