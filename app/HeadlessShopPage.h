#pragma once
// The shop's pages on the headless engine, when the shell runs without a display. No
// page script runs there, so this stands in for them: it answers the scripts the
// library evaluates in a page as a loaded page would (using the page library when the
// page carries the script element with id "libmerovane", ready at once), and sends, once
// for each page shown, the command collection the page declares in its script element
// with id "mv-load-commands" (the onload command among them), as the page's script does
// in a real engine.
//
//   auto engine = std::make_unique<platform::HeadlessWebEngine>();
//   HeadlessShopPage::attach(*engine);
//
// The engine keeps the stand-in; main thread only.

namespace platform {
class HeadlessWebEngine;
}

namespace HeadlessShopPage {

void attach(platform::HeadlessWebEngine& engine);

}  // namespace HeadlessShopPage
