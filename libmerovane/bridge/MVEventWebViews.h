#pragma once
// Page events about a web view's page: template content, navigation bar, data and web
// storage answers, page context, insets and loading progress.

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

#include "libmerovane/bridge/MVEvent.h"
#include "platform/foundation/Geometry.h"

namespace MVEventWebViews {

// Navigation-bar animations by index; another index carries the empty string.
enum MVNavigationBarAnimation : int { kNone = 0, kFade = 1, kPush = 2, kPop = 3 };
// Bit 0 of the options: the bar shows a back arrow that pops the tab.
inline constexpr unsigned kLeftButtonArrow = 1u << 0;

// Amends. `content` null (or JSON null): no parameters at all.
MVEvent updateTemplateContent(const nlohmann::json* content);
// Amends. [bar or "", animation name, additional parameters plus "leftButtonArrow"
// and "leftButtonAction"].
MVEvent updateNavigationBar(const nlohmann::json* bar, int animation, unsigned options,
                            const nlohmann::json* additionalParameters);
// [serial, status code, body or "", content type or ""].
MVEvent dataResponse(const std::string& serial, const nlohmann::json& statusCode,
                     const std::optional<std::string>& body,
                     const std::optional<std::string>& contentType);
// Amends. None, with a warning, without a source or a type. `baseUrl` is not used.
std::optional<MVEvent> pageContext(const std::optional<std::string>& src,
                                   const std::optional<std::string>& baseUrl,
                                   const std::optional<std::string>& type, bool loadedFromCache,
                                   const std::optional<std::string>& identifier,
                                   const std::optional<std::string>& tabName,
                                   const std::vector<std::string>* tags);
// Amends. Insets in points.
MVEvent pageInsetsChanged(const platform::EdgeInsets& insets, bool animated);
// [serial, age, value or null].
MVEvent webStorageResponse(const nlohmann::json* value, uint64_t age, uint64_t serial);
MVEvent beginPageProgress();
MVEvent endPageProgress();
// Amends. `progress` from 0 to 1.
MVEvent updatePageProgress(float progress);
MVEvent updatePageProgressInfo(const std::optional<std::string>& url, bool isSecure, bool isTrusted,
                               const std::optional<std::string>& title, uint64_t historySize);

}  // namespace MVEventWebViews
