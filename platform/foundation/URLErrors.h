#pragma once
// Errors of URL loading in the platform's URL error domain, and how the transfer
// library's result codes map onto them.

#include <string>

#include "platform/foundation/Error.h"

namespace platform {

// The failing URL goes into the user information under kURLErrorFailingURLStringKey,
// with the platform's description text for the code.
Error makeURLError(long code, const std::string& failingURL);
// A CURLcode value as the URL error code it stands for (-1 when none fits).
long urlErrorCodeForCurlCode(int curlCode);

inline constexpr const char* kURLErrorFailingURLStringKey = "NSErrorFailingURLStringKey";

}  // namespace platform
