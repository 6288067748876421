#pragma once
// The head of a document request the web view fetches itself, as a browser sends it.
//
//   platform::URLRequest request = navigation;            // WebKit's head, when it came
//   completeDocumentRequest(request, view.userAgent(), view.acceptLanguage());
//   rememberDocumentHead(request);                        // for the web cache's load of it
//   ... in the web cache's HTTP source, for the same address:
//   if (auto head = takeDocumentHead(key)) applyDocumentHead(*head, load);
//
// The web cache's keys and entries never depend on these fields. Any thread.

#include <optional>
#include <string>

#include "platform/foundation/HTTPHeaderFields.h"

namespace platform {
class URLRequest;
}

// What the engine accepts for a document.
inline constexpr const char* kDocumentAccept =
    "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";

// Gives the request the web view's User-Agent and Accept-Language (either skipped when
// empty) and the document Accept when it has none,
// and keeps of its Referer only what may leave: no fragment, no credentials, nothing
// that is not http(s).
void completeDocumentRequest(platform::URLRequest& request, const std::string& userAgent,
                             const std::string& acceptLanguage);

// Holds a document request's head until the web cache loads its address. A few at
// most, the newest kept; an address asked for again replaces its head.
void rememberDocumentHead(const platform::URLRequest& request);
// The head held for `key` (the request's absolute address), taken once.
std::optional<platform::HTTPHeaderFields> takeDocumentHead(const std::string& key);
// Sets the held head's fields on the web cache's own request; its cookies stay its own.
void applyDocumentHead(const platform::HTTPHeaderFields& head, platform::URLRequest& request);
