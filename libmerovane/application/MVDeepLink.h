#pragma once
// A deep link another application opened the app with:
//
//   merovane-shop://silent/product/42?x=1&y=2   ->  id "product/42", parameters
//                                                   "?x=1&y=2", silent
//
// The scheme begins with "merovane-"; "//" stands directly behind "scheme:"; a leading
// "silent/" asks for a silent opening; the parameters run from the first "?" (kept) to
// the end when anything follows it. Any text may come in; nothing is thrown.

#include <optional>
#include <string>
#include <string_view>

struct MVDeepLink {
    static constexpr std::string_view kSchemePrefix = "merovane-";

    std::string linkId;
    std::string parameters;  // "" when none
    bool silent = false;

    // Whether the text's scheme begins with "merovane-".
    static bool hasDeepLinkScheme(std::string_view url);
    // The link, or none: for another scheme silently, for a missing double slash with
    // the warning "Deeplink doesn't contain a double slash: "<url>"." written to `warning`.
    static std::optional<MVDeepLink> parse(std::string_view url, std::string* warning = nullptr);
};
