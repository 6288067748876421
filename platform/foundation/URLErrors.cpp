#include "platform/foundation/URLErrors.h"

#include <curl/curl.h>

#include <nlohmann/json.hpp>

namespace platform {
namespace {

const char* descriptionFor(long code) {
    switch (code) {
        case kURLErrorCancelled:
            return "cancelled";
        case kURLErrorBadURL:
            return "bad URL";
        case kURLErrorTimedOut:
            return "The request timed out.";
        case kURLErrorUnsupportedURL:
            return "unsupported URL";
        case kURLErrorCannotFindHost:
            return "A server with the specified hostname could not be found.";
        case kURLErrorCannotConnectToHost:
            return "Could not connect to the server.";
        case kURLErrorNetworkConnectionLost:
            return "The network connection was lost.";
        case kURLErrorHTTPTooManyRedirects:
            return "too many HTTP redirects";
        case kURLErrorBadServerResponse:
            return "bad server response";
        case kURLErrorCannotDecodeContentData:
            return "cannot decode raw data";
        case kURLErrorSecureConnectionFailed:
            return "An SSL error has occurred and a secure connection to the server cannot be "
                   "made.";
        case kURLErrorServerCertificateUntrusted:
            return "The certificate for this server is invalid.";
        default:
            return "unknown error";
    }
}

}  // namespace

Error makeURLError(long code, const std::string& failingURL) {
    nlohmann::json info = {{kLocalizedDescriptionKey, descriptionFor(code)}};
    if (!failingURL.empty()) info[kURLErrorFailingURLStringKey] = failingURL;
    return Error::withUserInfo(kURLErrorDomain, code, info);
}

long urlErrorCodeForCurlCode(int curlCode) {
    switch (static_cast<CURLcode>(curlCode)) {
        case CURLE_UNSUPPORTED_PROTOCOL:
            return kURLErrorUnsupportedURL;
        case CURLE_URL_MALFORMAT:
            return kURLErrorBadURL;
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_RESOLVE_HOST:
            return kURLErrorCannotFindHost;
        case CURLE_COULDNT_CONNECT:
            return kURLErrorCannotConnectToHost;
        case CURLE_OPERATION_TIMEDOUT:
            return kURLErrorTimedOut;
        case CURLE_PARTIAL_FILE:
        case CURLE_GOT_NOTHING:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
            return kURLErrorNetworkConnectionLost;
        case CURLE_WEIRD_SERVER_REPLY:
            return kURLErrorBadServerResponse;
        case CURLE_BAD_CONTENT_ENCODING:
            return kURLErrorCannotDecodeContentData;
        case CURLE_TOO_MANY_REDIRECTS:
            return kURLErrorHTTPTooManyRedirects;
        case CURLE_SSL_CONNECT_ERROR:
            return kURLErrorSecureConnectionFailed;
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
            return kURLErrorServerCertificateUntrusted;
        case CURLE_ABORTED_BY_CALLBACK:
            return kURLErrorCancelled;
        default:
            return kURLErrorUnknown;
    }
}

}  // namespace platform
