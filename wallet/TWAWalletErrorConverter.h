#pragma once
// Turns the wallet server's error types and transport errors into the library's public
// errors (domain "com.tessera.wallet.sdk").

#include <optional>
#include <string>

#include "platform/foundation/Error.h"

class TWAWalletErrorConverter {
  public:
    // A COWWalletError error type number; unknown numbers give -500.
    static long twaWalletErrorForServerError(long serverErrorType);
    // No error, or one of the fetcher's status domain: the internal error -562 with the
    // description; one of the library's HTTP status domain: its underlying error, taken
    // the same way; any other error unchanged.
    static platform::Error publicOrInternalErrorWithServerCommunicatorError(
        const std::optional<platform::Error>& error, const std::string& internalErrorDescription);
    static platform::Error internalErrorWithDescription(const std::string& description);
};
