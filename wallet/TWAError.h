#pragma once
// Errors of the wallet library: its public domain and codes, and an underlying error
// kept in the user information (as domain, code and user information of its own).

#include <optional>
#include <string>

#include "platform/foundation/Error.h"

inline constexpr const char* kTWAErrorDomain = "com.tessera.wallet.sdk";
inline constexpr const char* kTWAHTTPStatusErrorDomain = "com.tessera.wallet.sdk.HTTPStatus";
inline constexpr const char* kTWAUnderlyingErrorKey = "NSUnderlyingError";
inline constexpr const char* kTWAWalletErrorDescriptionForIntegratorKey =
    "TWAWalletErrorDescriptionForIntegrator";
// The resource bundle with the library's string table "Localizable".
inline constexpr const char* kTWAResourceBundleName = "TesseraWalletSDK";

enum TWAErrorCode : long {
    kTWAErrorCodeAuthenticationFailure = -599,
    kTWAErrorCodeIntegrationError = -598,
    kTWAErrorCodeInvalidTransaction = -597,
    kTWAErrorCodeMerchantAborted = -596,
    kTWAErrorCodeInternalError = -562,
    kTWAErrorCodeServiceUnavailable = -561,
    kTWAErrorCodeMerchantAccountError = -551,
    kTWAErrorCodeUnsupportedAPIVersion = -543,
    kTWAErrorCodeInvalidParameters = -542,
    kTWAErrorCodeSpendingLimitExceeded = -532,
    kTWAErrorCodeBuyerCancelled = -521,
    kTWAErrorCodeBuyerAccountError = -512,
    kTWAErrorCodeUnknown = -500,
};

platform::Error TWAErrorMake(const std::string& domain, long code,
                             const std::optional<std::string>& description,
                             const std::optional<platform::Error>& underlying);
std::optional<platform::Error> TWAUnderlyingError(const platform::Error& error);

// `text` as the table "Localizable" of the main bundle's "TesseraWalletSDK.bundle" has it
// (the text itself when the table lacks it); empty when the bundle is missing.
std::string TWALocalizedString(const std::string& text);
// An error of kTWAErrorDomain with the localized `text` as its description and, when
// given, the developer description.
platform::Error TWALocalizedError(long code, const std::string& text,
                                  const std::optional<std::string>& descriptionForIntegrator);
