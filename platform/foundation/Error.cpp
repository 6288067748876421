#include "platform/foundation/Error.h"

#include <nlohmann/json.hpp>

namespace platform {
namespace {
const nlohmann::json& emptyObject() {
    static const auto* empty = new nlohmann::json(nlohmann::json::object());
    return *empty;
}
}  // namespace

Error::Error(std::string domain, long code, std::string description)
    : domain_(std::move(domain)), code_(code) {
    if (!description.empty())
        userInfo_ = std::make_unique<nlohmann::json>(
            nlohmann::json{{kLocalizedDescriptionKey, description}});
}

Error Error::withUserInfo(std::string domain, long code, const nlohmann::json& userInfo) {
    Error e(std::move(domain), code);
    e.userInfo_ = std::make_unique<nlohmann::json>(userInfo);
    return e;
}

Error::Error() = default;

Error::Error(const Error& o) : domain_(o.domain_), code_(o.code_) {
    if (o.userInfo_) userInfo_ = std::make_unique<nlohmann::json>(*o.userInfo_);
}

Error& Error::operator=(const Error& o) {
    if (this != &o) {
        domain_ = o.domain_;
        code_ = o.code_;
        userInfo_ = o.userInfo_ ? std::make_unique<nlohmann::json>(*o.userInfo_) : nullptr;
    }
    return *this;
}

Error::Error(Error&&) noexcept = default;
Error& Error::operator=(Error&&) noexcept = default;
Error::~Error() = default;

const nlohmann::json& Error::userInfo() const {
    return userInfo_ ? *userInfo_ : emptyObject();
}

std::string Error::localizedDescription() const {
    if (!userInfo_ || !userInfo_->is_object()) return {};
    auto it = userInfo_->find(kLocalizedDescriptionKey);
    if (it == userInfo_->end() || !it->is_string()) return {};
    return it->get<std::string>();
}

}  // namespace platform
