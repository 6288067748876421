#include "libmerovane/core/ErrorDescription.h"

#include <fmt/core.h>

#include "platform/foundation/Error.h"
#include "platform/foundation/JsonValue.h"

std::string errorDescription(const platform::Error& error) {
    return fmt::format("Error Domain={} Code={} \"{}\" UserInfo={}", error.domain(), error.code(),
                       error.localizedDescription(), platform::json::print(error.userInfo()));
}
