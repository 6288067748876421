#include "wallet/TWAWalletErrorConverter.h"

#include "wallet/TBXHTTPFetcher.h"
#include "wallet/TWAError.h"

long TWAWalletErrorConverter::twaWalletErrorForServerError(long serverErrorType) {
    switch (serverErrorType) {
        case 0:
            return kTWAErrorCodeUnknown;
        case 12:
            return kTWAErrorCodeBuyerAccountError;
        case 21:
            return kTWAErrorCodeBuyerCancelled;
        case 32:
            return kTWAErrorCodeSpendingLimitExceeded;
        case 42:
            return kTWAErrorCodeInvalidParameters;
        case 43:
            return kTWAErrorCodeUnsupportedAPIVersion;
        case 51:
            return kTWAErrorCodeMerchantAccountError;
        case 61:
            return kTWAErrorCodeServiceUnavailable;
        case 11:
        case 23:
        case 24:
        case 31:
        case 33:
        case 41:
        case 44:
        case 62:
            return kTWAErrorCodeInternalError;
        default:
            return kTWAErrorCodeUnknown;
    }
}

platform::Error TWAWalletErrorConverter::internalErrorWithDescription(
    const std::string& description) {
    return TWAErrorMake(kTWAErrorDomain, kTWAErrorCodeInternalError, description, std::nullopt);
}

platform::Error TWAWalletErrorConverter::publicOrInternalErrorWithServerCommunicatorError(
    const std::optional<platform::Error>& error, const std::string& internalErrorDescription) {
    std::optional<platform::Error> current = error;
    // Each turn unwraps one level; the nesting of a stored error is finite.
    while (current && current->domain() == kTWAHTTPStatusErrorDomain)
        current = TWAUnderlyingError(*current);
    if (!current || current->domain() == kTBXHTTPFetcherStatusDomain)
        return internalErrorWithDescription(internalErrorDescription);
    return *current;
}
