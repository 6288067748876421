#include "platform/foundation/URLRequest.h"

namespace platform {

URLRequest::URLRequest(URL url, URLRequestCachePolicy cachePolicy, double timeoutInterval)
    : url_(std::move(url)), timeoutInterval_(timeoutInterval), cachePolicy_(cachePolicy) {}

std::optional<std::string> URLRequest::valueForHTTPHeaderField(std::string_view field) const {
    return headers_.value(field);
}

void URLRequest::setValue(std::optional<std::string> value, std::string_view field) {
    if (value)
        headers_.set(field, std::move(*value));
    else
        headers_.remove(field);
}

void URLRequest::addValue(std::string value, std::string_view field) {
    headers_.add(field, std::move(value));
}

void URLRequest::setProperty(const std::string& key, std::any value) {
    properties_[key] = std::move(value);
}

std::any URLRequest::property(const std::string& key) const {
    auto it = properties_.find(key);
    return it == properties_.end() ? std::any{} : it->second;
}

void URLRequest::removeProperty(const std::string& key) {
    properties_.erase(key);
}

bool URLRequest::boolProperty(const std::string& key) const {
    auto it = properties_.find(key);
    if (it == properties_.end()) return false;
    const bool* b = std::any_cast<bool>(&it->second);
    return b && *b;
}

}  // namespace platform
