#pragma once
// The one core of the three openPage versions: a new web page view controller for
// "src", pushed on the tab's navigation stack. The versions differ in what they read,
// in their report texts and data; the variant says which.
//
//   MVOpenPage::perform(handler, parameters, webView, MVOpenPage::kVersion2_0);
//
// Every check (invalid "src", invalid "previewSrc", no stack) is made, and reported,
// before a controller exists, so a failing openPage starts no load. Main thread only.

#include <memory>
#include <nlohmann/json_fwd.hpp>

#include "libmerovane/core/MVSpec.h"

class MVCommandHandler;
class MVWebView;

namespace MVOpenPage {

struct Variant {
    // 1.0: the parameter dictionary as report data and its own missing-tab texts;
    // later: the five-key dictionary.
    bool firstVersion = false;
    // "emulateBrowser" and "animated" are read (1.1 on); else native mode, animated.
    bool readsBrowserAndAnimation = false;
    // "tags" go on the new page's newest history entry (2.0 on).
    bool readsTags = false;
};

inline constexpr Variant kVersion1_0{true, false, false};
inline constexpr Variant kVersion1_1{false, true, false};
inline constexpr Variant kVersion2_0{false, true, true};

// The version's parameter specification.
MVSpec specification(const Variant& variant);

void perform(MVCommandHandler& handler, const nlohmann::json* parameters,
             const std::shared_ptr<MVWebView>& webView, const Variant& variant);

}  // namespace MVOpenPage
