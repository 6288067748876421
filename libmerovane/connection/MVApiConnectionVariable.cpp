#include "libmerovane/connection/MVApiConnectionVariable.h"

#include <fmt/core.h>

#include <nlohmann/json.hpp>

#include "libmerovane/core/ErrorDescription.h"
#include "libmerovane/core/KeychainExtensions.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVKeychain.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/storage/MVObjectModel.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Error.h"
#include "platform/ui/Application.h"

namespace {

constexpr const char* kKeychainIdentifierPrefix = "mv-connection-var:";
// The only names kept in the group the maker's applications share.
constexpr const char* kSharedNames[] = {"did"};

constexpr const char* kWriteFailure =
    "Could not write MVApiConnectionVariable<{}> to the keychain. ApplicationState: {}active "
    "Error: {}";
constexpr const char* kReadFailure =
    "Could not read MVApiConnectionVariable<{}> from the keychain. ApplicationState: {}active "
    "Error: {}";

platform::Error keychainUnavailable() {
    return platform::Error(kKeychainErrorDomain, kKeychainErrorFailure,
                           "The keychain's access groups are not known.");
}

// Runs `attempt` until it succeeds or the retry time is over; answers whether it succeeded.
template <class Attempt>
bool retrying(Attempt attempt) {
    const int64_t start = platform::Clock::monotonicNanos();
    const int64_t limit = platform::secondsToNanos(MVApiConnectionVariable::kKeychainRetryDuration);
    for (;;) {
        if (attempt()) return true;
        if (platform::Clock::monotonicNanos() - start >= limit) return false;
        platform::sleepFor(MVApiConnectionVariable::kKeychainRetryInterval);
    }
}

}  // namespace

const MVEntityDescription& MVApiConnectionVariable::entityDescription() {
    static const auto* entity = new MVEntityDescription(
        "MVApiConnectionVariable",
        {{"id", MVAttributeType::String}, {"context", MVAttributeType::String}},
        &MVApiConnectionVariable::make);
    return *entity;
}

std::shared_ptr<MVPersistentObject> MVApiConnectionVariable::make() {
    return std::shared_ptr<MVPersistentObject>(new MVApiConnectionVariable());
}

bool MVApiConnectionVariable::isShared(const std::string& id) {
    for (const char* name : kSharedNames)
        if (id == name) return true;
    return false;
}

std::optional<MVKeychain> MVApiConnectionVariable::keychain() const {
    return isShared(id().value_or("")) ? libmerovaneSharedKeychain() : libmerovanePrivateKeychain();
}

std::string MVApiConnectionVariable::keychainIdentifier() const {
    return kKeychainIdentifierPrefix + id().value_or("");
}

std::string MVApiConnectionVariable::failureText(const char* format,
                                                 const std::string& error) const {
    const bool active =
        platform::Application::shared().applicationState() == platform::ApplicationState::Active;
    return fmt::format(fmt::runtime(format), id().value_or(""), active ? "" : "in", error);
}

void MVApiConnectionVariable::setValue(const std::optional<std::string>& value) {
    const std::string item = keychainIdentifier();
    platform::Error error;
    const bool written = retrying([&] {
        // Asked again on every try: the groups may become known meanwhile.
        auto keychain = this->keychain();
        if (!keychain) {
            error = keychainUnavailable();
            return false;
        }
        return keychain->setObject(value, item, &error);
    });
    if (written) return;
    const std::string text = failureText(kWriteFailure, errorDescription(error));
    MVLogError("{}", text);
    MVErrorLogger::logError(text, id().value_or(""));
}

std::optional<std::string> MVApiConnectionVariable::value() {
    const std::string item = keychainIdentifier();
    platform::Error error;
    std::optional<std::string> result;
    const bool read = retrying([&] {
        auto keychain = this->keychain();
        if (!keychain) {
            error = keychainUnavailable();
            return false;
        }
        error = platform::Error();
        result = keychain->objectForKey(item, &error);
        // No item is an answer, not a failure.
        return result.has_value() || error.domain().empty();
    });
    if (read) return result;
    const std::string text = failureText(kReadFailure, errorDescription(error));
    MVLogError("{}", text);
    MVErrorLogger::logError(text, id().value_or(""));
    deleteFromStorage();
    return std::nullopt;
}
