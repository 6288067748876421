#include "tests/support/WalletTestServer.h"

#include "platform/foundation/URLLoadingTestTrust.h"
#include "wallet/TBXOAuth2Authentication.h"
#include "wallet/TWAClientConfig.h"
#include "wallet/TWAClientSDKTransactionContext.h"
#include "wallet/TWAEncoding.h"
#include "wallet/TWAServerCommunicator.h"

namespace {

HttpTestServer::Response messageResponse(int status, const google::protobuf::Message& message) {
    HttpTestServer::Response response;
    response.status = status;
    response.body = message.SerializeAsString();
    response.headers.set("Content-Type", "application/x-protobuf");
    return response;
}

}  // namespace

WalletTestServer::WalletTestServer(HttpTestServer::Options options) : http_(options) {
    if (options.tls)
        platform::URLLoadingTestTrust::addAnchorForTesting(
            peer::TestCertificates::shared().rootDER());
    TWAClientSDKTransactionContext::setWalletServerOrigins(origin(), origin());
    TWAClientConfig::setConfigHost(origin());
}

void WalletTestServer::serveConfiguration(const std::string& suffix,
                                          const walletproto::OWIOnlineWalletIosConfig& config) {
    http_.respond(configurationPath(suffix), messageResponse(200, config));
}

void WalletTestServer::respond(const std::string& path, int status,
                               const google::protobuf::Message& message) {
    http_.respond(path, messageResponse(status, message));
}

HttpTestServer::Response WalletTestServer::refuse(const std::string& fault) {
    {
        std::lock_guard lock(mutex_);
        faults_.push_back(fault);
    }
    walletproto::OWRErrorMessage message;
    message.set_error_detail(fault);
    return messageResponse(400, message);
}

std::vector<std::string> WalletTestServer::faults() const {
    std::lock_guard lock(mutex_);
    return faults_;
}

void WalletTestServer::serveFullWallet(FullWalletAnswer answer) {
    http_.handle(kFullWalletPath, [this, answer](const HttpTestServer::Request& request) {
        if (request.method != "POST") return refuse("method " + request.method);
        if (request.query != "s7e=otp") return refuse("query " + request.query);
        if (request.header("Content-Type") != TWAServerCommunicator::kFormContentType)
            return refuse("content type");
        auto pad = padOf(request);
        if (!pad) return refuse("otp");
        auto message = formRequest<walletproto::OWIosGetFullWalletRequest>(request);
        if (!message) return refuse("request");
        return messageResponse(200, answer(*pad, *message));
    });
}

void WalletTestServer::serveProxyCard(const std::string& iin, uint64_t digits, int32_t month,
                                      int32_t year) {
    serveFullWallet([=](uint64_t pad, const walletproto::OWIosGetFullWalletRequest&) {
        walletproto::OWBenderGetFullWalletResponse response;
        response.set_iin(iin);
        char rest[32];
        snprintf(rest, sizeof rest, "%llx", static_cast<unsigned long long>(digits ^ pad));
        response.set_rest(rest);
        response.set_expiration_month(month);
        response.set_expiration_year(year);
        return response;
    });
}

WalletTestServer::Form WalletTestServer::formFields(const HttpTestServer::Request& request) {
    return TBXOAuth2Authentication::dictionaryWithResponseString(request.body);
}

std::optional<uint64_t> WalletTestServer::padOf(const HttpTestServer::Request& request) {
    auto form = formFields(request);
    auto it = form.find("otp");
    if (it == form.end() || it->second.rfind("30:", 0) != 0) return std::nullopt;
    return TWAServerCommunicator::parseHexadecimal(std::string_view(it->second).substr(3));
}

std::optional<std::string> WalletTestServer::requestBytes(const HttpTestServer::Request& request) {
    auto form = formFields(request);
    auto it = form.find("request");
    if (it == form.end()) return std::nullopt;
    return TWABase64URLDecodePadded(it->second);
}

std::vector<std::string> WalletTestServer::headerNames(const HttpTestServer::Request& request) {
    std::vector<std::string> names;
    for (const auto& entry : request.headers.entries()) names.push_back(entry.first);
    return names;
}
