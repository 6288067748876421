// Loaded by WebKit into its web process. WebKit keeps http and https to itself, so a
// page's sub-resources would never reach URL loading; this hands them over: a GET that
// a page makes without CORS (images, classic scripts, style sheets, media) is sent to
// the routing scheme, the prefix (given as the initialization data) before the
// original address, which the engine's scheme handler strips again. Documents,
// frames, XHR and fetch (navigate, cors and same-origin modes) stay WebKit's, so that
// same-origin rules see the page's own server. Plain http pages of other hosts than
// the loopback get only their images and style sheets routed (see onSendRequest).
//
// Built without the sanitizers: it runs inside WebKit's own process.
#include <webkit2/webkit-web-extension.h>

#include <cstring>
#include <string>

namespace {

std::string gRoutingPrefix;

bool startsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

gboolean onSendRequest(WebKitWebPage*, WebKitURIRequest* request, WebKitURIResponse* redirected,
                       gpointer) {
    if (redirected || gRoutingPrefix.empty()) return FALSE;
    const char* method = webkit_uri_request_get_http_method(request);
    if (method && std::strcmp(method, "GET") != 0) return FALSE;
    const char* uri = webkit_uri_request_get_uri(request);
    if (!uri || !(startsWith(uri, "http://") || startsWith(uri, "https://"))) return FALSE;
    SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(request);
    if (!headers) return FALSE;
    const char* mode = soup_message_headers_get_one(headers, "Sec-Fetch-Mode");
    if (mode) {
        if (std::strcmp(mode, "no-cors") != 0) return FALSE;
    } else {
        // WebKit tells the mode to trustworthy origins only (https, the loopback): for
        // others only what the Accept field tells apart from XHR and fetch, which send
        // "*/*" as classic scripts do, is routed.
        const char* accept = soup_message_headers_get_one(headers, "Accept");
        if (!accept || !(startsWith(accept, "image/") || startsWith(accept, "text/css")))
            return FALSE;
    }
    const std::string routed = gRoutingPrefix + uri;
    webkit_uri_request_set_uri(request, routed.c_str());
    return FALSE;
}

void onPageCreated(WebKitWebExtension*, WebKitWebPage* page, gpointer) {
    g_signal_connect(page, "send-request", G_CALLBACK(onSendRequest), nullptr);
}

}  // namespace

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize_with_user_data(
    WebKitWebExtension* extension, const GVariant* data) {
    auto* value = const_cast<GVariant*>(data);
    if (value && g_variant_is_of_type(value, G_VARIANT_TYPE_STRING))
        gRoutingPrefix = g_variant_get_string(value, nullptr);
    g_signal_connect(extension, "page-created", G_CALLBACK(onPageCreated), nullptr);
}
