#pragma once
// Where WebKit keeps what pages store: with folders set (the shell's home), web storage
// and IndexedDB outlive the process; without, the context is ephemeral and nothing is
// written to disc. Either way WebKit's cookies are the platform's cookie store's
// (WebKitCookieJar) and WebsiteData::removeAll clears what WebKit keeps.
//
//   platform::WebKitWebsiteData::setDirectories(home + "/Library/WebKit",
//                                               home + "/Library/Caches/WebKit");
//
// Main thread only.

#include <string>

typedef struct _WebKitWebContext WebKitWebContext;

namespace platform {

class WebKitWebsiteData {
  public:
    // Before the first engine; empty folders: ephemeral.
    static void setDirectories(std::string data, std::string cache);
    // A new context over those folders, its cookies joined to the platform's store.
    static WebKitWebContext* newContext();
};

}  // namespace platform
