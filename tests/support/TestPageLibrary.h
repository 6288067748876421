#pragma once
// A small page library for tests, in real JavaScript, shaped like the one shop pages
// carry: an `MVEvent` object whose isDocumentReady() answers true once the page has
// loaded and whose __call(name, params) records every event it receives in `received`,
// with the turn it came in (events delivered by one script share a turn), and
// mvSendCommands(collection), which sends a command collection to native code by
// navigating to "mvcmd:" + encodeURIComponent(JSON), numbering the commands that carry
// no "s" from 0 per page, as pages do. Sends are queued and leave one per JavaScript
// task, as the real engine follows only one navigation of a task.
//
//   view.loadHTMLString(testpage::pageWithLibrary("<p>shop</p>"), base);
//   view.stringByEvaluatingJavaScriptFromString("MVEvent.receivedJSON()");  //
//   [{"name":…,"params":[…]}]

#include <string>

namespace testpage {

// The library's script text.
const std::string& libraryScript();
// A whole HTML document carrying the library in a script element with id "libmerovane"
// and a data: source, as pages load it, followed by `body`.
std::string pageWithLibrary(const std::string& body, const std::string& head = {});

}  // namespace testpage
