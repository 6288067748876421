#include "wallet/TWAServerCommunicator.h"

#include <fmt/format.h>
#include <sys/random.h>

#include <cerrno>
#include <nlohmann/json.hpp>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/URL.h"
#include "wallet/TWAClientSDKTransactionContext.h"
#include "wallet/TWAEncoding.h"
#include "wallet/TWAError.h"
#include "wallet/TWALog.h"

namespace {

bool readSecureRandom(uint64_t& value, int& errorNumber) {
    ssize_t n = 0;
    do {
        n = getrandom(&value, sizeof value, 0);
    } while (n < 0 && errno == EINTR);
    if (n != static_cast<ssize_t>(sizeof value)) {
        errorNumber = n < 0 ? errno : EIO;
        return false;
    }
    return true;
}

TWAServerCommunicator::RandomSource& randomSource() {
    static TWAServerCommunicator::RandomSource source = readSecureRandom;
    return source;
}

std::shared_ptr<google::protobuf::Message> parsed(const google::protobuf::Message& prototype,
                                                  const std::vector<uint8_t>& data) {
    try {
        std::shared_ptr<google::protobuf::Message> message(prototype.New());
        if (!message->ParseFromArray(data.data(), static_cast<int>(data.size()))) return nullptr;
        return message;
    } catch (...) {
        return nullptr;
    }
}

platform::Error statusError(long status, const std::optional<platform::Error>& underlying) {
    return TWAErrorMake(kTWAHTTPStatusErrorDomain, status, std::nullopt, underlying);
}

std::string infoText(const platform::Bundle& bundle, const char* key) {
    auto value = bundle.objectForInfoDictionaryKey(key);
    return value && value->is_string() ? value->get<std::string>() : "(null)";
}

std::vector<uint8_t> bytesOf(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

}  // namespace

std::shared_ptr<TWAServerCommunicator> TWAServerCommunicator::instance() {
    static auto* communicator = [] {
        auto* shared = new std::shared_ptr<TWAServerCommunicator>(create());
        // A fresh one between tests: the last transaction's origin goes with it.
        platform::registerSharedInstanceReset("TWAServerCommunicator",
                                              [shared] { *shared = create(); });
        return shared;
    }();
    return *communicator;
}

std::shared_ptr<TWAServerCommunicator> TWAServerCommunicator::create() {
    return std::shared_ptr<TWAServerCommunicator>(new TWAServerCommunicator());
}

void TWAServerCommunicator::setRandomSourceForTesting(RandomSource source) {
    randomSource() = source ? std::move(source) : RandomSource(readSecureRandom);
}

std::string TWAServerCommunicator::clientVersionString() {
    auto& bundle = platform::Bundle::main();
    std::string identifier = bundle.bundleIdentifier();
    return fmt::format("{}/{}-{};{}/{}", identifier.empty() ? "(null)" : identifier,
                       infoText(bundle, "CFBundleShortVersionString"),
                       infoText(bundle, "CFBundleVersion"), "QuickBuySDK", "1.0.0");
}

std::string TWAServerCommunicator::owS7ePathForTransactionContext(
    const TWAServerCommunicatorContext& context, const std::string& endpointPath,
    const std::vector<std::string>& parameters) {
    if (parameters.empty()) TWA_LOG("TWA_ASSERT false: {}", "[parameters count] > 0");
    std::string path = context.owBaseUrl() + kPathPrefix + endpointPath + "?s7e=";
    for (size_t i = 0; i < parameters.size(); ++i) {
        if (i > 0) path += ';';
        path += parameters[i];
    }
    return path;
}

std::string TWAServerCommunicator::getFullWalletPathWithContext(
    const TWAServerCommunicatorContext& context) {
    return owS7ePathForTransactionContext(context, kFullWalletEndpoint, {"otp"});
}

std::shared_ptr<TBXHTTPFetcher> TWAServerCommunicator::fetcherForURL(
    const std::string& url, const std::string& contentType, std::vector<uint8_t> postData,
    const std::optional<Headers>& customHeaders) {
    auto parsedURL = platform::URL::parse(url);
    if (!parsedURL) return nullptr;
    platform::URLRequest request(*parsedURL);
    request.setValue(contentType, "Content-Type");
    if (customHeaders)
        for (const auto& [name, value] : *customHeaders) request.setValue(value, name);
    request.setValue(std::string("IOS_NATIVE"), "X-Modality");
    request.setValue(clientVersionString(), "X-Version");
    auto fetcher = TBXHTTPFetcher::fetcherWithRequest(std::move(request));
    fetcher->setAuthorizer(auth_);
    fetcher->setRetryEnabled(true);
    fetcher->setPostData(std::move(postData));
    return fetcher;
}

void TWAServerCommunicator::handleFetchResult(int statusCode,
                                              const std::optional<std::vector<uint8_t>>& data,
                                              const std::optional<platform::Error>& fetcherError,
                                              const Callback& callback, const Message& protoClass,
                                              const Message& errorProtoClass) {
    MessagePtr answer;
    ErrorMessagePtr errorMessage;
    std::optional<platform::Error> error;
    // A body of zero length is no body.
    if (data && !data->empty()) {
        if (statusCode == 200) {
            answer = parsed(protoClass, *data);
        } else if (statusCode == 401) {
            error = statusError(401, std::nullopt);
            answer = parsed(protoClass, *data);
        } else {
            errorMessage = std::dynamic_pointer_cast<walletproto::OWRErrorMessage>(
                parsed(errorProtoClass, *data));
        }
        if (fetcherError && !error) error = statusError(statusCode, fetcherError);
    } else {
        bool oauthRefused = false;
        if (fetcherError && fetcherError->userInfo().is_object()) {
            auto json = fetcherError->userInfo().find(kTBXHTTPFetcherErrorJSONKey);
            if (json != fetcherError->userInfo().end() && json->is_object()) {
                auto reason = json->find("error");
                oauthRefused = reason != json->end() && reason->is_string() &&
                               (*reason == "invalid_grant" || *reason == "unauthorized_client");
            }
        }
        error =
            oauthRefused ? statusError(401, std::nullopt) : statusError(statusCode, fetcherError);
    }
    if (!callback) {
        TWA_ASSERT(callback);
        return;
    }
    callback(std::move(answer), std::move(errorMessage), std::move(error));
}

TBXHTTPFetcher::CompletionHandler TWAServerCommunicator::tbxFetchCallbackWithFetcher(
    const std::shared_ptr<TBXHTTPFetcher>& fetcher, Callback callback, const Message& protoClass,
    const Message& errorProtoClass) {
    std::weak_ptr<TBXHTTPFetcher> weak = fetcher;
    const Message* answerClass = &protoClass;
    const Message* errorClass = &errorProtoClass;
    return [weak, callback = std::move(callback), answerClass, errorClass](
               std::optional<std::vector<uint8_t>> data, std::optional<platform::Error> error) {
        auto fetcher = weak.lock();
        handleFetchResult(fetcher ? fetcher->statusCode() : 0, data, error, callback, *answerClass,
                          *errorClass);
    };
}

void TWAServerCommunicator::post(const std::string& url, const std::string& contentType,
                                 std::vector<uint8_t> body,
                                 const std::optional<Headers>& customHeaders,
                                 const Message& protoClass, const Message& errorProtoClass,
                                 Callback callback) {
    auto fetcher = fetcherForURL(url, contentType, std::move(body), customHeaders);
    if (!fetcher) {
        TWA_LOG("Invalid wallet server URL: {}", url.substr(0, 256));
        const Message* answerClass = &protoClass;
        const Message* errorClass = &errorProtoClass;
        platform::RunLoop::main().post([callback = std::move(callback), answerClass, errorClass] {
            handleFetchResult(0, std::nullopt,
                              platform::Error(platform::kURLErrorDomain, platform::kURLErrorBadURL),
                              callback, *answerClass, *errorClass);
        });
        return;
    }
    fetcher->beginFetchWithCompletionHandler(
        tbxFetchCallbackWithFetcher(fetcher, std::move(callback), protoClass, errorProtoClass));
}

void TWAServerCommunicator::postProto(const Message& message, const std::string& url,
                                      const Message& protoClass, const Message& errorProtoClass,
                                      Callback callback) {
    post(url, kProtobufContentType, bytesOf(message.SerializeAsString()), std::nullopt, protoClass,
         errorProtoClass, std::move(callback));
}

void TWAServerCommunicator::postUrlEncoded(const FormFields& fields,
                                           const std::optional<Headers>& customHeaders,
                                           const std::string& url, const Message& protoClass,
                                           const Message& errorProtoClass, Callback callback) {
    post(url, kFormContentType,
         bytesOf(TBXOAuth2Authentication::encodedQueryParametersForDictionary(fields)),
         customHeaders, protoClass, errorProtoClass, std::move(callback));
}

std::string TWAServerCommunicator::otpFieldForPad(uint64_t pad) {
    return fmt::format("{:x}:{:x}", 48, pad);
}

std::optional<uint64_t> TWAServerCommunicator::parseHexadecimal(std::string_view text) {
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.remove_prefix(2);
    if (text.empty()) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        int digit = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
        if (digit < 0 || value > (UINT64_MAX >> 4)) return std::nullopt;
        value = (value << 4) | static_cast<uint64_t>(digit);
    }
    return value;
}

std::shared_ptr<TWAProxyCard> TWAServerCommunicator::proxyCardFromResponse(
    const FullWalletResponse& response, uint64_t pad) {
    auto rest = parseHexadecimal(response.rest());
    if (!rest) return nullptr;
    std::string text = response.iin() + fmt::format("{:013}", *rest ^ pad);
    if (text.size() < 16) {
        TWA_LOG("TWA_ASSERT false: {}", "[cardText length] >= 16");
        return nullptr;
    }
    auto card = TWAProxyCard::create();
    card->setExpirationDate(
        TWADateComponents{response.expiration_month(), response.expiration_year()});
    card->setPan(text.substr(0, 16));
    card->setCvn(text.substr(16));
    return card;
}

TWAServerCommunicator::Callback TWAServerCommunicator::getFullWalletCallbackWithOtp(
    uint64_t otp, FullWalletCallback callback) {
    return [otp, callback = std::move(callback)](MessagePtr message, ErrorMessagePtr errorMessage,
                                                 std::optional<platform::Error> error) {
        if (!callback) {
            TWA_ASSERT(callback);
            return;
        }
        auto answer = std::dynamic_pointer_cast<FullWalletResponse>(message);
        if (answer && !error && answer->required_action_size() == 0) {
            auto card = proxyCardFromResponse(*answer, otp);
            callback(answer, card, card ? nullptr : std::move(errorMessage), std::nullopt);
            return;
        }
        callback(std::move(answer), nullptr, std::move(errorMessage), std::move(error));
    };
}

void TWAServerCommunicator::getFullWallet(const walletproto::OWIosGetFullWalletRequest& request,
                                          const TWAServerCommunicatorContext& transactionContext,
                                          FullWalletCallback callback) {
    fullWalletRoad(request, transactionContext, std::nullopt, std::move(callback));
}

void TWAServerCommunicator::fullWalletRoad(const walletproto::OWIosGetFullWalletRequest& request,
                                           const TWAServerCommunicatorContext& transactionContext,
                                           const std::optional<Headers>& customHeaders,
                                           FullWalletCallback callback) {
    lastBaseUrl_ = transactionContext.owBaseUrl();
    std::string path = getFullWalletPathWithContext(transactionContext);
    uint64_t random = 0;
    int errorNumber = 0;
    if (!randomSource()(random, errorNumber)) {
        TWA_LOG("TWA_ASSERT false: {}", "NO");
        auto error = TWAErrorMake(kTWAServerCommunicatorErrorDomain, errorNumber,
                                  std::string(kRandomErrorDescription), std::nullopt);
        platform::RunLoop::main().post([callback = std::move(callback), error] {
            if (callback)
                callback(nullptr, nullptr, nullptr, error);
            else
                TWA_ASSERT(callback);
        });
        return;
    }
    uint64_t pad = random & 0x0000ffffffffffffULL;
    FormFields fields{{"otp", otpFieldForPad(pad)},
                      {"request", TWABase64URLEncode(request.SerializeAsString(), true)}};
    postUrlEncoded(fields, customHeaders, path, FullWalletResponse::default_instance(),
                   walletproto::OWRErrorMessage::default_instance(),
                   getFullWalletCallbackWithOtp(pad, std::move(callback)));
}

void TWAServerCommunicator::getMaskedWalletForPreauthorizedBuyer(
    const walletproto::OWIosGetMaskedWalletForPreauthorizedBuyerRequest& request,
    const std::optional<std::string>& preauthRefreshToken,
    const std::optional<std::string>& clientId, const std::optional<std::string>& clientSecret,
    const TWAServerCommunicatorContext& transactionContext, PreauthorizedCallback callback) {
    lastBaseUrl_ = transactionContext.owBaseUrl();
    FormFields fields{{"request", TWABase64URLEncode(request.SerializeAsString(), true)}};
    if (clientId) fields["client_id"] = *clientId;
    if (clientSecret) fields["client_secret"] = *clientSecret;
    if (preauthRefreshToken) fields["refresh_token"] = *preauthRefreshToken;
    std::string path = owS7ePathForTransactionContext(transactionContext, kPreauthorizedEndpoint,
                                                      {"client_secret", "refresh_token"});
    postUrlEncoded(fields, std::nullopt, path, PreauthorizedResponse::default_instance(),
                   walletproto::OWRErrorMessage::default_instance(),
                   [callback = std::move(callback)](MessagePtr answer, ErrorMessagePtr errorMessage,
                                                    std::optional<platform::Error> error) {
                       if (!callback) {
                           TWA_ASSERT(callback);
                           return;
                       }
                       callback(std::dynamic_pointer_cast<PreauthorizedResponse>(answer),
                                std::move(errorMessage), std::move(error));
                   });
}

void TWAServerCommunicator::clientFrameworkGetFullWallet(
    const walletproto::OWIosGetFullWalletRequest& request,
    const std::optional<std::string>& fullWalletAccessToken,
    const TWAServerCommunicatorContext& transactionContext, FullWalletCallback callback) {
    std::optional<Headers> headers;
    if (fullWalletAccessToken)
        headers = Headers{{"Authorization", "Bearer " + *fullWalletAccessToken}};
    fullWalletRoad(request, transactionContext, headers, std::move(callback));
}

void TWAServerCommunicator::clientFrameworkRevokeOAuthRefreshToken(
    const std::optional<std::string>& refreshToken) {
    if (!refreshToken) return;  // no preauthorization stored: nothing to revoke
    struct Origin : TWAServerCommunicatorContext {
        std::string origin;
        int32_t environment() const override { return 0; }
        const std::string& owBaseUrl() const override { return origin; }
    } context;
    context.origin = !lastBaseUrl_.empty()
                         ? lastBaseUrl_
                         : TWAClientSDKTransactionContext::create(0, nullptr)->owBaseUrl();
    postUrlEncoded({{"token", *refreshToken}}, std::nullopt,
                   owS7ePathForTransactionContext(context, kRevokeEndpoint, {"token"}),
                   walletproto::OWRErrorMessage::default_instance(),
                   walletproto::OWRErrorMessage::default_instance(),
                   [](MessagePtr, ErrorMessagePtr, std::optional<platform::Error> error) {
                       if (error)
                           TWA_LOG("Revoking the refresh token failed: {} {}", error->domain(),
                                   error->code());
                   });
}
