#pragma once
// Sends the wallet library's requests to the wallet server and hands back the parsed
// answer, the server's error message or a transport error.
//
//   TWAServerCommunicator::instance()->clientFrameworkGetFullWallet(
//       request, context->fullWalletAccessToken(), *context,
//       [](auto answer, auto proxyCard, auto errorMessage, auto error) { ... });
//
// Requests go to "<origin>/online-secure/v2/<endpoint>?s7e=<names>" as POSTs of a
// serialized message or of form fields, with the headers Content-Type, the caller's own,
// X-Modality and X-Version in that order. Every request's callback runs exactly once, on
// the main loop; transport and status errors are errors of kTWAHTTPStatusErrorDomain
// with the HTTP status as code and the fetcher's error underneath.
//
// The operations the wallet client calls:
//   getMaskedWalletForPreauthorizedBuyer: form POST to "ios/v1/getMaskedWalletForPreauth-
//     orizedBuyer?s7e=client_secret;refresh_token" of client_id, client_secret,
//     refresh_token and request (the serialized request, padded base64url).
//   clientFrameworkGetFullWallet: the one-time-pad road (getFullWallet) with the access
//     token presented as "Authorization: Bearer <token>".
//   clientFrameworkRevokeOAuthRefreshToken: form POST of token to
//     "ios/v1/revokeRefreshToken?s7e=token" at the origin of the last transaction this
//     communicator served (the sandbox origin before any); the outcome is only logged.
// Used on the main thread only.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Error.h"
#include "wallet/TBXHTTPFetcher.h"
#include "wallet/TBXOAuth2Authentication.h"
#include "wallet/TWAProxyCard.h"
#include "wallet/TWAServerCommunicatorContext.h"
#include "wallet/proto/android_wallet_service.pb.h"
#include "wallet/proto/error_message.pb.h"
#include "wallet/proto/ios_wallet_service.pb.h"

inline constexpr const char* kTWAServerCommunicatorErrorDomain = "Server Communicator Error";

class TWAServerCommunicator {
  public:
    using Message = google::protobuf::Message;
    using MessagePtr = std::shared_ptr<Message>;
    using ErrorMessagePtr = std::shared_ptr<walletproto::OWRErrorMessage>;
    using Headers = std::vector<std::pair<std::string, std::string>>;
    using FormFields = TBXOAuth2Authentication::Parameters;
    using Callback = std::function<void(MessagePtr answer, ErrorMessagePtr errorMessage,
                                        std::optional<platform::Error> error)>;
    using FullWalletResponse = walletproto::OWBenderGetFullWalletResponse;
    using FullWalletCallback = std::function<void(
        std::shared_ptr<FullWalletResponse> answer, std::shared_ptr<TWAProxyCard> proxyCard,
        ErrorMessagePtr errorMessage, std::optional<platform::Error> error)>;
    using PreauthorizedResponse = walletproto::OWIosGetMaskedWalletForPreauthorizedBuyerResponse;
    using PreauthorizedCallback =
        std::function<void(std::shared_ptr<PreauthorizedResponse> answer,
                           ErrorMessagePtr errorMessage, std::optional<platform::Error> error)>;
    // Reads 8 bytes of the secure random source; false with the system error number.
    using RandomSource = std::function<bool(uint64_t& value, int& errorNumber)>;

    static constexpr const char* kPathPrefix = "/online-secure/v2/";
    static constexpr const char* kFullWalletEndpoint = "ios/v1/getFullWallet";
    static constexpr const char* kPreauthorizedEndpoint =
        "ios/v1/getMaskedWalletForPreauthorizedBuyer";
    static constexpr const char* kRevokeEndpoint = "ios/v1/revokeRefreshToken";
    static constexpr const char* kProtobufContentType = "application/x-protobuf";
    static constexpr const char* kFormContentType = "application/x-www-form-urlencoded";
    static constexpr const char* kRandomErrorDescription = "Error while generating random number";

    static std::shared_ptr<TWAServerCommunicator> instance();
    static std::shared_ptr<TWAServerCommunicator> create();

    const std::shared_ptr<TBXFetcherAuthorizationProtocol>& auth() const { return auth_; }
    void setAuth(std::shared_ptr<TBXFetcherAuthorizationProtocol> auth) { auth_ = std::move(auth); }

    void postProto(const Message& message, const std::string& url, const Message& protoClass,
                   const Message& errorProtoClass, Callback callback);
    void postUrlEncoded(const FormFields& fields, const std::optional<Headers>& customHeaders,
                        const std::string& url, const Message& protoClass,
                        const Message& errorProtoClass, Callback callback);
    // None for a URL that does not parse.
    std::shared_ptr<TBXHTTPFetcher> fetcherForURL(const std::string& url,
                                                  const std::string& contentType,
                                                  std::vector<uint8_t> postData,
                                                  const std::optional<Headers>& customHeaders);
    static TBXHTTPFetcher::CompletionHandler tbxFetchCallbackWithFetcher(
        const std::shared_ptr<TBXHTTPFetcher>& fetcher, Callback callback,
        const Message& protoClass, const Message& errorProtoClass);
    // The completion handler's work on a finished fetch.
    static void handleFetchResult(int statusCode, const std::optional<std::vector<uint8_t>>& data,
                                  const std::optional<platform::Error>& fetcherError,
                                  const Callback& callback, const Message& protoClass,
                                  const Message& errorProtoClass);
    static std::string clientVersionString();

    void getFullWallet(const walletproto::OWIosGetFullWalletRequest& request,
                       const TWAServerCommunicatorContext& transactionContext,
                       FullWalletCallback callback);
    static std::string getFullWalletPathWithContext(const TWAServerCommunicatorContext& context);
    static std::string owS7ePathForTransactionContext(const TWAServerCommunicatorContext& context,
                                                      const std::string& endpointPath,
                                                      const std::vector<std::string>& parameters);
    static Callback getFullWalletCallbackWithOtp(uint64_t otp, FullWalletCallback callback);
    // "30:" and the pad in lower-case hexadecimal.
    static std::string otpFieldForPad(uint64_t pad);
    // The card from the answer and the pad; none when `rest` is not a hexadecimal number
    // within 64 bits or the card text is shorter than 16 characters.
    static std::shared_ptr<TWAProxyCard> proxyCardFromResponse(const FullWalletResponse& response,
                                                               uint64_t pad);
    static std::optional<uint64_t> parseHexadecimal(std::string_view text);

    void getMaskedWalletForPreauthorizedBuyer(
        const walletproto::OWIosGetMaskedWalletForPreauthorizedBuyerRequest& request,
        const std::optional<std::string>& preauthRefreshToken,
        const std::optional<std::string>& clientId, const std::optional<std::string>& clientSecret,
        const TWAServerCommunicatorContext& transactionContext, PreauthorizedCallback callback);
    void clientFrameworkGetFullWallet(const walletproto::OWIosGetFullWalletRequest& request,
                                      const std::optional<std::string>& fullWalletAccessToken,
                                      const TWAServerCommunicatorContext& transactionContext,
                                      FullWalletCallback callback);
    void clientFrameworkRevokeOAuthRefreshToken(const std::optional<std::string>& refreshToken);

    static void setRandomSourceForTesting(RandomSource source);

  private:
    TWAServerCommunicator() = default;
    void fullWalletRoad(const walletproto::OWIosGetFullWalletRequest& request,
                        const TWAServerCommunicatorContext& transactionContext,
                        const std::optional<Headers>& customHeaders, FullWalletCallback callback);
    void post(const std::string& url, const std::string& contentType, std::vector<uint8_t> body,
              const std::optional<Headers>& customHeaders, const Message& protoClass,
              const Message& errorProtoClass, Callback callback);

    std::shared_ptr<TBXFetcherAuthorizationProtocol> auth_;
    std::string lastBaseUrl_;
};
