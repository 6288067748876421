#include "platform/web/webkit/WebKitWebsiteData.h"

#include <webkit2/webkit2.h>

#include "platform/foundation/Log.h"
#include "platform/web/WebsiteData.h"
#include "platform/web/webkit/WebKitCookieJar.h"

namespace platform {
namespace {

struct Folders {
    std::string data;
    std::string cache;
};

Folders& folders() {
    static auto* held = new Folders;
    return *held;
}

}  // namespace

void WebKitWebsiteData::setDirectories(std::string data, std::string cache) {
    folders() = {std::move(data), std::move(cache)};
}

WebKitWebContext* WebKitWebsiteData::newContext() {
    const Folders& where = folders();
    WebKitWebsiteDataManager* manager =
        where.data.empty()
            ? webkit_website_data_manager_new_ephemeral()
            : webkit_website_data_manager_new("base-data-directory", where.data.c_str(),
                                              "base-cache-directory", where.cache.c_str(), nullptr);
    WebKitWebContext* context = webkit_web_context_new_with_website_data_manager(manager);
    if (!where.data.empty())
        PLATFORM_LOG_INFO("WebKitWebsiteData keeps web storage in {}", where.data);
    WebKitCookieJar::attach(webkit_website_data_manager_get_cookie_manager(manager));
    // The context holds the manager for the process.
    WebsiteData::setRemover([manager] {
        webkit_website_data_manager_clear(
            manager, WEBKIT_WEBSITE_DATA_ALL, 0, nullptr,
            [](GObject* source, GAsyncResult* result, gpointer) {
                GError* error = nullptr;
                if (!webkit_website_data_manager_clear_finish(WEBKIT_WEBSITE_DATA_MANAGER(source),
                                                              result, &error))
                    PLATFORM_LOG_WARN("WebKitWebsiteData could not clear: {}",
                                      error && error->message ? error->message : "");
                g_clear_error(&error);
            },
            nullptr);
    });
    g_object_unref(manager);
    return context;
}

}  // namespace platform
