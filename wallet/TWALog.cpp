#include "wallet/TWALog.h"

#include "platform/foundation/Log.h"

void TWALog(const char* file, const char* function, int line, std::string text) {
    // The plain console function has no level of its own; its lines read as information.
    platform::log::write(platform::log::kInfo, file, function, line, std::move(text));
}

bool TWALogEnabled() {
    return platform::log::isEnabled(platform::log::kInfo);
}
