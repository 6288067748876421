#pragma once
// The page-to-native command channel: a page sends a command collection by navigating
// to "mvcmd:" followed by the URL-encoded collection, and the web view hands that
// address here.
//
//   MVCommandChannel::performCommandURL(request.url().absoluteString(), webView, serial);
//
// The address is decoded, the collection read from its first "{", each command's "s"
// checked against the serial the page's next command should carry (a mismatch only
// warns), and the whole collection handed to the command dispatcher with the sending web
// view. Malformed addresses are logged and reported; nothing runs and the page gets
// nothing back. Main thread: every valid command has run when the call returns.

#include <cstdint>
#include <memory>
#include <string>

class MVWebViewInterface;

namespace MVCommandChannel {

// `lastCommandSerial` is the serial the page's next command should carry; it advances
// by one per command dictionary of the collection's "cmds". Without `checkSerials` (a
// document whose numbering is not known) nothing is checked or counted.
void performCommandURL(const std::string& absoluteURL,
                       const std::shared_ptr<MVWebViewInterface>& webView,
                       int64_t& lastCommandSerial, bool checkSerials = true);

}  // namespace MVCommandChannel
