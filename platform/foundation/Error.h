#pragma once
// A run-time failure handed to callbacks: a domain, a code and user information.
// A callback gets a result or an error, never both.

#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string>

namespace platform {

class Error {
  public:
    Error();
    Error(std::string domain, long code, std::string description = {});
    static Error withUserInfo(std::string domain, long code, const nlohmann::json& userInfo);
    Error(const Error&);
    Error& operator=(const Error&);
    Error(Error&&) noexcept;
    Error& operator=(Error&&) noexcept;
    ~Error();

    const std::string& domain() const { return domain_; }
    long code() const { return code_; }
    // The "NSLocalizedDescription" entry of the user information, or empty.
    std::string localizedDescription() const;
    const nlohmann::json& userInfo() const;

    bool operator==(const Error& other) const {
        return domain_ == other.domain_ && code_ == other.code_;
    }

  private:
    std::string domain_;
    long code_ = 0;
    std::unique_ptr<nlohmann::json> userInfo_;
};

// Domains and codes the platform reports.
inline constexpr const char* kURLErrorDomain = "NSURLErrorDomain";
inline constexpr const char* kPOSIXErrorDomain = "NSPOSIXErrorDomain";
inline constexpr const char* kCocoaErrorDomain = "NSCocoaErrorDomain";
inline constexpr const char* kLocalizedDescriptionKey = "NSLocalizedDescription";

enum URLErrorCode : long {
    kURLErrorUnknown = -1,
    kURLErrorCancelled = -999,
    kURLErrorBadURL = -1000,
    kURLErrorTimedOut = -1001,
    kURLErrorUnsupportedURL = -1002,
    kURLErrorCannotFindHost = -1003,
    kURLErrorCannotConnectToHost = -1004,
    kURLErrorNetworkConnectionLost = -1005,
    kURLErrorDNSLookupFailed = -1006,
    kURLErrorHTTPTooManyRedirects = -1007,
    kURLErrorResourceUnavailable = -1008,
    kURLErrorNotConnectedToInternet = -1009,
    kURLErrorBadServerResponse = -1011,
    kURLErrorCannotDecodeContentData = -1016,
    kURLErrorSecureConnectionFailed = -1200,
    kURLErrorServerCertificateUntrusted = -1202,
};

}  // namespace platform
