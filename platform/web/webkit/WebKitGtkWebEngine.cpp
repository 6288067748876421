#include "platform/web/webkit/WebKitGtkWebEngine.h"

#include <cairo.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <set>
#include <string_view>
#include <utility>

#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/TextUtilities.h"
#include "platform/foundation/URLConnection.h"
#include "platform/web/WebURLSchemes.h"
#include "platform/web/webkit/GLibMainContextWaiter.h"
#include "platform/web/webkit/WebKitDocumentHistory.h"
#include "platform/web/webkit/WebKitFormSubmissions.h"
#include "platform/web/webkit/WebKitPageHistorySteps.h"
#include "platform/web/webkit/WebKitScriptDialogs.h"
#include "platform/web/webkit/WebKitWebsiteData.h"

namespace platform {
namespace {

constexpr const char* kNoDisplay = "WebKitGtkWebEngine cannot start GTK: no display";
constexpr const char* kTimedOut = "WebKitGtkWebEngine gave up waiting {} s for {}";
constexpr const char* kScriptFailed = "WebKitGtkWebEngine script failed: {}";
constexpr const char* kPageDidNotAnswer =
    "WebKitGtkWebEngine decides a navigation without the page: it did not answer within {} s";
// How long a navigation's decision waits on the page's answer (the page's script may hang).
constexpr double kPageAnswerBound = 2.0;
constexpr const char* kProcessesStopped =
    "WebKitGtkWebEngine does not wait for {}: the engine's processes are stopped";
constexpr const char* kApplicationStopping =
    "WebKitGtkWebEngine does not wait for {}: the application stops";
constexpr const char* kUnreadableURI =
    "WebKitGtkWebEngine refused a navigation to an unreadable address [{}]";
constexpr const char* kNoNewWindows =
    "WebKitGtkWebEngine refused to open a new window the page opened by itself for [{}]";
constexpr const char* kTooManyWaiting =
    "WebKitGtkWebEngine drops navigations to [{}:...] from now: {} of {} bytes wait for the "
    "application already";
constexpr const char* kDropped =
    "WebKitGtkWebEngine dropped {} navigations the page made while the application was behind";
constexpr const char* kNotACommand =
    "WebKitGtkWebEngine refused a page command that is no \"mvcmd:\" address [{}]";
constexpr const char* kFrameCommandRefused =
    "WebKitGtkWebEngine refused the page commands a frame of document {} sent: only the top "
    "document commands";
constexpr const char* kOnlyGet =
    "WebKitGtkWebEngine loads requests with GET only, without body: [{} {}]";
constexpr const char* kFormNotLoadable =
    "WebKitGtkWebEngine cannot load the form sent to [{}] with its body: its page's load fails";
constexpr double kDefaultWidth = 320;
constexpr double kDefaultHeight = 480;

// A counted reference to a GObject; copies share it.
template <class T>
class GRef {
  public:
    GRef() = default;
    // Takes a new reference.
    explicit GRef(T* object) : object_(object) {
        if (object_) g_object_ref(object_);
    }
    GRef(const GRef& other) : GRef(other.object_) {}
    GRef& operator=(GRef other) {
        std::swap(object_, other.object_);
        return *this;
    }
    ~GRef() {
        if (object_) g_object_unref(object_);
    }
    T* get() const { return object_; }

  private:
    T* object_ = nullptr;
};

// Set by the host while the engine's processes are stopped (a terminal's Ctrl-Z).
std::atomic<bool> gProcessesStopped{false};
// Set by the host once the application stops.
std::atomic<bool> gApplicationStopping{false};

bool startGtk() {
    static const bool started = gtk_init_check(nullptr, nullptr);
    return started;
}

// A page's sub-resources over http and https come back from the web-process extension
// under these schemes: the prefix before the original address.
constexpr const char* kRoutingPrefix = "mv-routed-";
constexpr const char* kRoutingSchemes[] = {"mv-routed-http", "mv-routed-https"};

std::string& extensionsDirectory() {
    static std::string folder = MV_WEBKIT_EXTENSIONS_DIR;
    return folder;
}

WebKitWebContext* sharedContext() {
    static WebKitWebContext* context = [] {
        WebKitWebContext* created = WebKitWebsiteData::newContext();
        webkit_web_context_set_web_extensions_directory(created, extensionsDirectory().c_str());
        webkit_web_context_set_web_extensions_initialization_user_data(
            created, g_variant_new_string(kRoutingPrefix));
        return created;
    }();
    return context;
}

size_t gLiveViews = 0;

// A new WebKit view, owned by the caller. WebKit keeps part of what it allocates for a
// page here until the process ends, even once the view is finalized: the engine tests'
// leak suppressions name this function, and liveViewCount() shows that our references
// to the view itself are released.
[[gnu::noinline]] WebKitWebView* newWebKitView() {
    auto* view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(sharedContext()));
    g_object_ref_sink(view);
    ++gLiveViews;
    // Counted down when the view is finalized, not when it is disposed.
    g_object_set_data_full(G_OBJECT(view), "mv-live", view, [](gpointer) { --gLiveViews; });
    return view;
}

}  // namespace

// WebKit's addresses are normalised but may keep characters a strict URL refuses
// ("mvcmd:{...}" typed by a page, "?a[]=1"): those are escaped as the platform's URL would
// be; brackets only past the authority, where an IPv6 host keeps its own.
std::optional<URL> readWebKitURI(const char* uri) {
    if (!uri) return std::nullopt;
    if (auto url = URL::parse(uri)) return url;
    static constexpr char kHex[] = "0123456789ABCDEF";
    const std::string_view text(uri);
    size_t authorityEnd = 0;
    const size_t colon = text.find(':');
    if (colon != std::string_view::npos && text.substr(colon + 1).starts_with("//"))
        authorityEnd = std::min(text.size(), text.find_first_of("/?#", colon + 3));
    std::string escaped;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool escapeIntroducer = c == '%' && i + 2 < text.size() &&
                                      std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
                                      std::isxdigit(static_cast<unsigned char>(text[i + 2]));
        const bool bad =
            c <= ' ' || c >= 0x7f ||
            std::string_view("\"<>{}|\\^`").find(static_cast<char>(c)) != std::string_view::npos ||
            (c == '%' && !escapeIntroducer) || (i >= authorityEnd && (c == '[' || c == ']'));
        if (bad) {
            escaped += '%';
            escaped += kHex[c >> 4];
            escaped += kHex[c & 15];
        } else {
            escaped += static_cast<char>(c);
        }
    }
    return URL::parse(escaped);
}

namespace {

std::optional<URL> readURI(const char* uri) {
    return readWebKitURI(uri);
}

NavigationType navigationTypeOf(WebKitNavigationType type) {
    switch (type) {
        case WEBKIT_NAVIGATION_TYPE_LINK_CLICKED:
            return NavigationType::LinkClicked;
        case WEBKIT_NAVIGATION_TYPE_FORM_SUBMITTED:
            return NavigationType::FormSubmitted;
        case WEBKIT_NAVIGATION_TYPE_BACK_FORWARD:
            return NavigationType::BackForward;
        case WEBKIT_NAVIGATION_TYPE_RELOAD:
            return NavigationType::Reload;
        case WEBKIT_NAVIGATION_TYPE_FORM_RESUBMITTED:
            return NavigationType::FormResubmitted;
        case WEBKIT_NAVIGATION_TYPE_OTHER:
            return NavigationType::Other;
    }
    return NavigationType::Other;
}

// Failures in the platform's URL error codes where there is one, else as GLib gives them.
Error errorOf(const GError* error) {
    if (!error) return Error(kURLErrorDomain, kURLErrorUnknown, "unknown");
    const std::string message = error->message ? error->message : "";
    struct Mapping {
        GQuark domain;
        int code;
        URLErrorCode ours;
    } const table[] = {
        {WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED, kURLErrorCancelled},
        {WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_UNKNOWN_PROTOCOL, kURLErrorUnsupportedURL},
        {WEBKIT_POLICY_ERROR, WEBKIT_POLICY_ERROR_CANNOT_SHOW_URI, kURLErrorUnsupportedURL},
        {G_IO_ERROR, G_IO_ERROR_CONNECTION_REFUSED, kURLErrorCannotConnectToHost},
        {G_IO_ERROR, G_IO_ERROR_HOST_UNREACHABLE, kURLErrorCannotConnectToHost},
        {G_IO_ERROR, G_IO_ERROR_NETWORK_UNREACHABLE, kURLErrorNotConnectedToInternet},
        {G_IO_ERROR, G_IO_ERROR_TIMED_OUT, kURLErrorTimedOut},
        {G_IO_ERROR, G_IO_ERROR_CONNECTION_CLOSED, kURLErrorNetworkConnectionLost},
        {G_IO_ERROR, G_IO_ERROR_BROKEN_PIPE, kURLErrorNetworkConnectionLost},
        {G_RESOLVER_ERROR, G_RESOLVER_ERROR_NOT_FOUND, kURLErrorCannotFindHost},
        {G_RESOLVER_ERROR, G_RESOLVER_ERROR_TEMPORARY_FAILURE, kURLErrorDNSLookupFailed},
        {G_TLS_ERROR, G_TLS_ERROR_BAD_CERTIFICATE, kURLErrorServerCertificateUntrusted},
    };
    for (const auto& row : table) {
        if (error->domain == row.domain && error->code == row.code)
            return Error(kURLErrorDomain, row.ours, message);
    }
    return Error(g_quark_to_string(error->domain), error->code, message);
}

// WebKit keeps no session-history item for a document loaded from memory, so such a page's
// history.pushState and replaceState change its address but keep no state and no entries
// to go back to. A document given as the content of its base address has one; that form
// takes UTF-8 HTML text only, so `data` must read the same as UTF-8.
bool loadsAsContentOfBase(const std::string& data, const std::string& mimeType,
                          const std::string& textEncodingName, const std::optional<URL>& baseURL) {
    if (!baseURL || baseURL->isEmpty() || !equalsIgnoringASCIICase(mimeType, "text/html"))
        return false;
    const bool utf8 = equalsIgnoringASCIICase(textEncodingName, "utf-8") ||
                      equalsIgnoringASCIICase(textEncodingName, "utf8");
    const bool ascii = std::all_of(data.begin(), data.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return (utf8 || (textEncodingName.empty() && ascii)) && data.find('\0') == std::string::npos;
}

std::string textOf(JSCValue* value) {
    if (!value || jsc_value_is_undefined(value) || jsc_value_is_null(value)) return {};
    char* text = jsc_value_to_string(value);
    std::string result = text ? text : "";
    g_free(text);
    return result;
}

// Frame lookups run in this script world, out of the page's reach.
constexpr const char* kFrameWorld = "mv-frames";

// A JavaScript string literal holding `text`.
std::string scriptString(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string literal = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        // U+2028 and U+2029 end a line in older engines' string literals.
        const bool lineSeparator = c == 0xe2 && i + 2 < text.size() &&
                                   static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                                   (static_cast<unsigned char>(text[i + 2]) & 0xfe) == 0xa8;
        if (c == '"' || c == '\\') {
            literal += '\\';
            literal += static_cast<char>(c);
        } else if (c < 0x20 || lineSeparator) {
            const unsigned code = lineSeparator ? 0x2028u + (text[i + 2] & 1) : c;
            literal += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4) literal += kHex[(code >> shift) & 15];
            if (lineSeparator) i += 2;
        } else {
            literal += static_cast<char>(c);
        }
    }
    return literal + "\"";
}

// Whether a frame element of the page, or of a frame document it can reach, has `address`
// as its source and does not show it yet, fragments aside: "true" or "false". A frame starts with
// "about:blank" or "about:srcdoc" before (or without) its source: those are a frame's while the
// page has one.
std::string targetFrameScript(const std::string& address) {
    return "(function (target) {"
           " function base(address) { return String(address).split('#')[0]; }"
           " target = base(target);"
           " function holds(doc, depth) {"
           "  if (!doc || depth > 16) return false;"
           "  var frames = doc.querySelectorAll('iframe, frame');"
           "  if (frames.length > 0 && (target === 'about:blank' || target === 'about:srcdoc'))"
           "   return true;"
           "  for (var i = 0; i < frames.length; i++) {"
           "   var f = frames[i];"
           "   if (f.src && base(f.src) === target) {"
           "    var shown = null;"
           "    try { shown = base(f.contentWindow.location.href); } catch (e) {}"
           "    if (shown !== target) return true;"
           "   }"
           "   var inner = null;"
           "   try { inner = f.contentDocument; } catch (e) {}"
           "   if (holds(inner, depth + 1)) return true;"
           "  }"
           "  return false;"
           " }"
           " return String(holds(document, 0));"
           "})(" +
           scriptString(address) + ")";
}

// Premultiplied native-endian ARGB (cairo's ARGB32) to straight RGBA bytes.
Image pictureOf(cairo_surface_t* surface) {
    if (!surface || cairo_surface_get_type(surface) != CAIRO_SURFACE_TYPE_IMAGE) return {};
    cairo_surface_flush(surface);
    const cairo_format_t format = cairo_image_surface_get_format(surface);
    if (format != CAIRO_FORMAT_ARGB32 && format != CAIRO_FORMAT_RGB24) return {};
    const int width = cairo_image_surface_get_width(surface);
    const int height = cairo_image_surface_get_height(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    if (!data || width <= 0 || height <= 0 ||
        static_cast<int64_t>(width) * height > Image::kMaxPixels)
        return {};
    std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
        for (int x = 0; x < width; ++x) {
            const uint32_t argb = row[x];
            uint32_t a = format == CAIRO_FORMAT_RGB24 ? 255 : argb >> 24;
            uint32_t r = (argb >> 16) & 255, g = (argb >> 8) & 255, b = argb & 255;
            if (a != 0 && a != 255) {
                r = std::min<uint32_t>(255, (r * 255 + a / 2) / a);
                g = std::min<uint32_t>(255, (g * 255 + a / 2) / a);
                b = std::min<uint32_t>(255, (b * 255 + a / 2) / a);
            }
            uint8_t* out = &rgba[(static_cast<size_t>(y) * width + x) * 4];
            out[0] = static_cast<uint8_t>(r);
            out[1] = static_cast<uint8_t>(g);
            out[2] = static_cast<uint8_t>(b);
            out[3] = static_cast<uint8_t>(a);
        }
    }
    return Image::fromRGBA(width, height, std::move(rgba));
}

// A navigation decision WebKit waits for. Whatever happens to the work that holds it,
// WebKit gets an answer: left unanswered it is refused, never silently allowed.
class PendingDecision {
  public:
    explicit PendingDecision(WebKitPolicyDecision* decision) : decision_(decision) {}
    PendingDecision(const PendingDecision&) = delete;
    PendingDecision& operator=(const PendingDecision&) = delete;
    ~PendingDecision() {
        if (!answered_) answer(false);
    }
    void answer(bool allowed) {
        if (answered_) return;
        answered_ = true;
        if (allowed)
            webkit_policy_decision_use(decision_.get());
        else
            webkit_policy_decision_ignore(decision_.get());
    }

  private:
    GRef<WebKitPolicyDecision> decision_;
    bool answered_ = false;
};

// One request of a page on one of our schemes, answered through URL loading.
struct SchemeLoad {
    GRef<WebKitURISchemeRequest> request;
    std::optional<HTTPURLResponse> response;
    std::vector<uint8_t> body;

    void finish() {
        GBytes* bytes = g_bytes_new(body.data(), body.size());
        GInputStream* stream = g_memory_input_stream_new_from_bytes(bytes);
        WebKitURISchemeResponse* answer =
            webkit_uri_scheme_response_new(stream, static_cast<gint64>(body.size()));
        if (response) {
            webkit_uri_scheme_response_set_status(
                answer, static_cast<guint>(response->statusCode()), nullptr);
            if (!response->mimeType().empty()) {
                std::string type = response->mimeType();
                if (!response->textEncodingName().empty())
                    type += "; charset=" + response->textEncodingName();
                webkit_uri_scheme_response_set_content_type(answer, type.c_str());
            }
            SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
            for (const auto& [name, value] : response->allHeaderFields())
                soup_message_headers_append(headers, name.c_str(), value.c_str());
            webkit_uri_scheme_response_set_http_headers(answer, headers);
        }
        webkit_uri_scheme_request_finish_with_response(request.get(), answer);
        g_object_unref(answer);
        g_object_unref(stream);
        g_bytes_unref(bytes);
    }

    void fail(const Error& error) {
        GError* gerror = g_error_new_literal(g_quark_from_string(error.domain().c_str()),
                                             static_cast<gint>(error.code()),
                                             error.localizedDescription().c_str());
        webkit_uri_scheme_request_finish_error(request.get(), gerror);
        g_error_free(gerror);
    }
};

std::vector<uint8_t> readAll(GInputStream* stream) {
    std::vector<uint8_t> all;
    uint8_t chunk[16384];
    for (;;) {
        gsize got = 0;
        if (!g_input_stream_read_all(stream, chunk, sizeof chunk, &got, nullptr, nullptr)) break;
        all.insert(all.end(), chunk, chunk + got);
        if (got < sizeof chunk) break;
    }
    return all;
}

// Adds the fields of a WebKit request's head to ours.
void addHeaders(SoupMessageHeaders* headers, URLRequest& ours) {
    if (!headers) return;
    SoupMessageHeadersIter it;
    const char* name;
    const char* value;
    soup_message_headers_iter_init(&it, headers);
    while (soup_message_headers_iter_next(&it, &name, &value)) ours.addValue(value, name);
}

// A navigation's request as WebKit built it: method and head (User-Agent, Accept, the
// Referer by the page's policy). The body never comes with it.
URLRequest navigationRequestOf(WebKitURIRequest* request, const URL& url) {
    URLRequest ours(url);
    if (const char* method = webkit_uri_request_get_http_method(request))
        ours.setHTTPMethod(method);
    addHeaders(webkit_uri_request_get_http_headers(request), ours);
    return ours;
}

// WebKit asks for a page's resource on one of our schemes (main thread). URL loading
// answers on later turns of the main loop, so no URL protocol runs inside a synchronous call.
void serveSchemeRequest(WebKitURISchemeRequest* request, gpointer) {
    auto load = std::make_shared<SchemeLoad>();
    load->request = GRef<WebKitURISchemeRequest>(request);
    const char* uri = webkit_uri_scheme_request_get_uri(request);
    // A routed sub-resource is loaded at its original address.
    if (uri && std::string_view(uri).starts_with(kRoutingPrefix))
        uri += std::strlen(kRoutingPrefix);
    auto url = readURI(uri);
    if (!url) {
        load->fail(Error(kURLErrorDomain, kURLErrorBadURL, "bad URL"));
        return;
    }
    URLRequest ours(*url);
    if (const char* method = webkit_uri_scheme_request_get_http_method(request))
        ours.setHTTPMethod(method);
    addHeaders(webkit_uri_scheme_request_get_http_headers(request), ours);
    if (GInputStream* body = webkit_uri_scheme_request_get_http_body(request)) {
        ours.setHTTPBody(readAll(body));
        g_object_unref(body);
    }
    if (WebKitWebView* view = webkit_uri_scheme_request_get_web_view(request)) {
        if (auto document = readURI(webkit_web_view_get_uri(view)))
            ours.setMainDocumentURL(*document);
    }
    // The connection keeps its callbacks, and so the load, until it ends.
    URLConnectionCallbacks callbacks;
    callbacks.didReceiveResponse = [load](const HTTPURLResponse& response) {
        load->response = response;
        load->body.clear();
    };
    callbacks.didReceiveData = [load](const std::vector<uint8_t>& data) {
        load->body.insert(load->body.end(), data.begin(), data.end());
    };
    callbacks.didFinishLoading = [load] { load->finish(); };
    callbacks.didFailWithError = [load](const Error& error) { load->fail(error); };
    URLConnection::start(std::move(ours), std::move(callbacks), RunLoop::main());
}

// The schemes handed to WebKit so far; WebKit cannot forget one.
std::set<std::string>& schemesRegisteredWithWebKit() {
    static auto* registered = new std::set<std::string>;
    return *registered;
}

void registerSchemesWithWebKit() {
    auto& registered = schemesRegisteredWithWebKit();
    WebKitWebContext* context = sharedContext();
    WebKitSecurityManager* security = webkit_web_context_get_security_manager(context);
    std::vector<std::string> schemes = WebURLSchemes::schemes();
    schemes.insert(schemes.end(), std::begin(kRoutingSchemes), std::end(kRoutingSchemes));
    for (const auto& scheme : schemes) {
        if (!registered.insert(scheme).second) continue;
        webkit_web_context_register_uri_scheme(context, scheme.c_str(), serveSchemeRequest, nullptr,
                                               nullptr);
        webkit_security_manager_register_uri_scheme_as_secure(security, scheme.c_str());
        webkit_security_manager_register_uri_scheme_as_cors_enabled(security, scheme.c_str());
    }
}

// Whether WebKit can load a document of this (lower-case) scheme at all.
bool webKitLoads(const std::string& scheme) {
    static const std::set<std::string> kOwn = {"http",  "https", "file",    "data",
                                               "about", "blob",  "resource"};
    return kOwn.count(scheme) || schemesRegisteredWithWebKit().count(scheme);
}

struct ScriptCall {
    bool done = false;
    std::string result;
    std::optional<Error> error;
};

struct SnapshotCall {
    bool done = false;
    Image picture;
};

}  // namespace

struct WebKitGtkWebEngine::Impl {
    WebKitGtkWebEngine* owner = nullptr;
    GtkWidget* window = nullptr;
    WebKitWebView* view = nullptr;
    std::vector<gulong> handlers;
    double synchronousTimeout = kSynchronousTimeout;
    int synchronousDepth = 0;
    size_t deferred = 0;
    // Refused navigations (page commands) waiting for the client: a page can send them
    // faster than the main loop takes them, above all while a synchronous call holds it.
    size_t waitingRefusals = 0;
    size_t waitingRefusalBytes = 0;
    size_t droppedRefusals = 0;
    bool failedThisLoad = false;
    // The session-history item of the document shown, as its load committed.
    GRef<WebKitBackForwardListItem> shownItem;
    // The page's steps within the document shown, which WebKit decides without us.
    std::unique_ptr<WebKitDocumentHistory> documentHistory;
    // The page's own back, forward and go(), taken here.
    std::unique_ptr<WebKitPageHistorySteps> pageSteps;
    gulong listHandler = 0;
    // What the web-process extension noted of the page's links and forms, oldest first:
    // each reaches us ahead of WebKit's decision on its navigation.
    // A link's address is kept as the hashes of its two spellings (as the page reads it,
    // as WebKit writes it), fragments aside: a command's address can be tens of MB.
    struct NavigationNote {
        bool form = false;
        size_t address = 0;
        size_t written = 0;
        bool topFrame = true;
        bool fromTopFrame = true;
        int64_t document = 0;
    };
    std::deque<NavigationNote> notes;
    static constexpr size_t kMaximumNotes = 64;
    // Counts our loads and stops: a load still waiting for its decision goes ahead only
    // while it is the latest.
    uint64_t loads = 0;
    // The client's load whose document the top frame shows, as WebKit tells in order with
    // the page's requests: its commit, or a load that ends without one (the document
    // shown stays).
    uint64_t shownGeneration = 0;
    // The address of our latest request load until WebKit asks its decision.
    std::string ownRequest;
    // A top frame's form submissions: WebKit builds their requests, the client decides.
    std::unique_ptr<WebKitFormSubmissions> forms;

    // Every signal reaches the client through here: on a later turn of the main loop,
    // which does not turn while a synchronous call iterates GLib.
    void deliver(std::function<void()> fn) {
        if (synchronousDepth > 0) ++deferred;
        owner->later(std::move(fn));
    }

    // Gives up at once, or as soon as they stop, while the engine's processes are stopped:
    // what was started runs once they continue.
    bool waitFor(const std::function<bool()>& done, const std::string& what) {
        ++synchronousDepth;
        const bool finished = iterateGLibUntil(
            [&] {
                return done() || gProcessesStopped.load(std::memory_order_acquire) ||
                       gApplicationStopping.load(std::memory_order_acquire);
            },
            synchronousTimeout);
        --synchronousDepth;
        if (finished && done()) return true;
        if (finished && gApplicationStopping.load(std::memory_order_acquire))
            PLATFORM_LOG_VERBOSE(kApplicationStopping, what);
        else if (finished)
            PLATFORM_LOG_WARN(kProcessesStopped, what);
        else
            PLATFORM_LOG_ERROR(kTimedOut, synchronousTimeout, what);
        return false;
    }

    static gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                   WebKitPolicyDecisionType type, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return FALSE;
        WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
            WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        WebKitURIRequest* request = webkit_navigation_action_get_request(action);
        const char* uri = webkit_uri_request_get_uri(request);
        if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
            webkit_policy_decision_ignore(decision);
            self->openInThisView(action, uri);
            return TRUE;
        }
        auto url = readURI(uri);
        if (!url) {
            PLATFORM_LOG_WARN(kUnreadableURI, uri ? uri : "");
            webkit_policy_decision_ignore(decision);
            return TRUE;
        }
        URLRequest ours = navigationRequestOf(request, *url);
        const NavigationType navigationType =
            navigationTypeOf(webkit_navigation_action_get_navigation_type(action));
        if (navigationType == NavigationType::BackForward) {
            if (auto step = self->historyStep(uri)) ours.setProperty(kHistoryStepProperty, *step);
        }
        // Tagged as it reaches us: a load of ours after this replaces the page that asked.
        // A page command is the document's that sent it (the one shown as its request
        // reaches us): a load of ours replaces it also when it began before the request came.
        const bool unloadable = !webKitLoads(url->schemeLowercased());
        const bool ownLoad = uri && self->ownRequest == uri;
        if (ownLoad) self->ownRequest.clear();
        const uint64_t generation =
            unloadable && !ownLoad ? self->shownGeneration : self->owner->loadGeneration();
        auto pending = std::make_shared<PendingDecision>(decision);
        // WebKit would only fail a document it cannot load ("mvcmd:", "mailto:"): it is
        // refused at once, so that nothing the client does while deciding (a command whose
        // event makes the page navigate again) finds a decision of WebKit's pending. Left
        // pending then, WebKit keeps a timer for good each time.
        size_t bytes = 0;
        if (unloadable) {
            pending->answer(false);
            bytes = std::strlen(uri);
            if (!self->admitWaiting(*url, bytes)) return TRUE;
        }
        auto decide = [self, pending, navigationType, unloadable, generation, bytes,
                       written = std::string(uri)](URLRequest ours) {
            if (!unloadable && WebKitFormSubmissions::carriesBody(ours))
                return self->submitForm(pending, std::move(ours), written, navigationType,
                                        generation);
            self->deliver([self, pending, ours = std::move(ours), navigationType, unloadable,
                           generation, bytes] {
                if (unloadable) self->releaseWaiting(bytes);
                std::weak_ptr<const void> alive = self->owner->lifetime();
                const bool allowed =
                    self->owner->askClientForPageNavigation(ours, navigationType, generation);
                // The client may have destroyed the engine; the decision still gets its answer.
                pending->answer(allowed && alive.lock() != nullptr);
                if (allowed && !unloadable && alive.lock()) self->noteAllowed(ours, navigationType);
                if (allowed && unloadable && alive.lock()) self->failUnloadable(ours);
            });
        };
        // Which frame it is for: what the request tells (a redirect keeps its fetch
        // destination), else what was noted of a link or form, else what the page's frame
        // elements tell.
        std::optional<bool> topFrame;
        int64_t document = 0;
        if (const char* destination = fetchDestination(request))
            topFrame = std::strcmp(destination, "document") == 0;
        if (auto note = self->takeNote(*url, navigationType == NavigationType::FormSubmitted)) {
            if (!topFrame) topFrame = note->topFrame;
            // What cannot load (a page command) is the sending document's wherever it goes:
            // a frame's link to the top frame is still the frame's.
            if (unloadable) topFrame = note->fromTopFrame;
            document = note->document;
        }
        if (topFrame || unloadable) {
            const bool top = topFrame.value_or(true);
            std::optional<URL> page;
            if (!top) page = readURI(webkit_web_view_get_uri(self->view));
            ours.setMainDocumentURL(page ? *page : ours.url());
            if (page && document != 0) ours.setProperty(kFrameDocumentProperty, document);
            if (top && !unloadable &&
                (navigationType == NavigationType::LinkClicked ||
                 navigationType == NavigationType::FormSubmitted))
                self->afterThePagesTask(std::move(ours), std::move(decide));
            else
                decide(std::move(ours));
        } else {
            self->findTargetFrame(uri, std::move(ours), std::move(decide));
        }
        return TRUE;
    }

    // WebKit builds the form's request; the client decides on it whole. A client that
    // would have WebKit load it gets a failed load: WebKit takes no body from us.
    void submitForm(std::shared_ptr<PendingDecision> pending, URLRequest navigation,
                    const std::string& written, NavigationType type, uint64_t generation) {
        forms->capture(
            navigation, written, [pending](bool go) { pending->answer(go); },
            [this, type, generation](URLRequest request) {
                deliver([this, request = std::move(request), type, generation] {
                    std::weak_ptr<const void> alive = owner->lifetime();
                    if (!owner->askClientForPageNavigation(request, type, generation) ||
                        !alive.lock())
                        return;
                    PLATFORM_LOG_ERROR(kFormNotLoadable,
                                       log::escaped(request.url().absoluteString()));
                    failUnloadable(request);
                });
            });
    }

    // What the client allowed that adds an item without a document of its own: a fragment
    // change of the top frame, a frame's link or form.
    void noteAllowed(const URLRequest& request, NavigationType type) {
        const auto& main = request.mainDocumentURL();
        const bool frame = main && !(*main == request.url());
        if (!frame) {
            documentHistory->navigationAllowed(request.url().absoluteString().c_str(), false);
        } else if (type == NavigationType::LinkClicked || type == NavigationType::FormSubmitted) {
            documentHistory->navigationAllowed(nullptr, true);
        }
    }

    // Tells the client of the page's step within its document as a navigation it never
    // loads; a step of a document that a newer load replaced is not told.
    void reportDocumentStep(const std::string& address, DocumentHistoryChange change, bool unsure) {
        if (unsure) {
            const uint64_t generation = shownGeneration;
            askPage("location.href", [this, address, change, generation](const std::string& told) {
                if (generation != shownGeneration) return;
                const bool read = !told.empty() && readURI(told.c_str());
                if (read) documentHistory->pageTold(told);
                reportDocumentStep(read ? told : address, change, false);
            });
            return;
        }
        auto url = readURI(address.c_str());
        if (!url) return;
        URLRequest ours(*url);
        ours.setMainDocumentURL(*url);
        ours.setProperty(kDocumentHistoryProperty, change);
        const NavigationType type = change.kind == DocumentHistoryChange::Kind::Moved
                                        ? NavigationType::BackForward
                                        : NavigationType::Other;
        deliver([this, ours = std::move(ours), type, generation = shownGeneration] {
            owner->askClientForPageNavigation(ours, type, generation);
        });
    }

    // The page's own step to an entry of another document, which the page history takes
    // as it takes WebKit's back or forward navigation there.
    void leaveByHistoryStep(const char* address, int64_t step, std::function<void(bool)> answered) {
        auto url = readURI(address);
        if (!url) {
            PLATFORM_LOG_WARN(kUnreadableURI, address ? address : "");
            return answered(false);
        }
        URLRequest ours(*url);
        ours.setMainDocumentURL(*url);
        ours.setProperty(kHistoryStepProperty, step);
        deliver([this, ours = std::move(ours), generation = shownGeneration,
                 answered = std::move(answered)] {
            answered(
                owner->askClientForPageNavigation(ours, NavigationType::BackForward, generation));
        });
    }

    static void onListChanged(WebKitBackForwardList* list, WebKitBackForwardListItem* added,
                              gpointer, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        self->documentHistory->listChanged(list, added, webkit_web_view_get_uri(self->view));
    }

    static void onAddressChanged(GObject*, GParamSpec*, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        self->documentHistory->addressChanged(webkit_web_view_get_back_forward_list(self->view),
                                              webkit_web_view_get_uri(self->view));
    }

    // How far a back or forward navigation to `uri` goes in WebKit's session history: from
    // the item of the document shown to the item WebKit has moved to already, else from
    // the current item to the nearest of that address, back first (a history that holds
    // an address twice around it may be stepped to the nearer).
    std::optional<int64_t> historyStep(const char* uri) const {
        WebKitBackForwardList* list = webkit_web_view_get_back_forward_list(view);
        WebKitBackForwardListItem* current =
            list ? webkit_back_forward_list_get_current_item(list) : nullptr;
        if (!current || !uri) return std::nullopt;
        const std::string_view target(uri);
        auto sameAddress = [&](WebKitBackForwardListItem* item) {
            const char* address = webkit_back_forward_list_item_get_uri(item);
            return address && std::string_view(address) == target;
        };
        WebKitBackForwardListItem* shown =
            documentHistory->current() ? documentHistory->current() : shownItem.get();
        const bool moved = shown && current != shown && sameAddress(current);
        const auto length = static_cast<int64_t>(webkit_back_forward_list_get_length(list));
        for (int64_t n = 1; n < length; ++n) {
            for (const int64_t offset : {-n, n}) {
                WebKitBackForwardListItem* item =
                    webkit_back_forward_list_get_nth_item(list, static_cast<gint>(offset));
                if (!item) continue;
                if (moved && item == shown) return -offset;
                if (!moved && sameAddress(item)) return offset;
            }
        }
        return std::nullopt;
    }

    // There are no other windows: a user's click on a link to one (target=_blank,
    // window.open in its handler) is followed here as a link of the page; what the page
    // opens by itself is refused.
    void openInThisView(WebKitNavigationAction* action, const char* uri) {
        auto url = readURI(uri);
        if (!url || !webkit_navigation_action_is_user_gesture(action)) {
            PLATFORM_LOG_WARN(kNoNewWindows, uri ? uri : "");
            return;
        }
        URLRequest ours = navigationRequestOf(webkit_navigation_action_get_request(action), *url);
        ours.setMainDocumentURL(*url);
        deliver([this, ours = std::move(ours), generation = owner->loadGeneration()] {
            std::weak_ptr<const void> alive = owner->lifetime();
            if (!owner->askClientForPageNavigation(ours, NavigationType::LinkClicked, generation) ||
                !alive.lock())
                return;
            // The client lets the engine load it (a fragment of the page, a call link).
            const std::string address = ours.url().absoluteString();
            webkit_web_view_load_uri(view, address.c_str());
        });
    }

    // window.open: no new view is made.
    static GtkWidget* onCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer data) {
        WebKitURIRequest* request = webkit_navigation_action_get_request(action);
        static_cast<Impl*>(data)->openInThisView(action, webkit_uri_request_get_uri(request));
        return nullptr;
    }

    // A page command waits for the client on later turns; past either bound it is dropped
    // (false), said once until the waiting ones have been taken.
    bool admitWaiting(const URL& url, size_t bytes) {
        if (waitingRefusals >= kMaximumWaitingRefusals ||
            waitingRefusalBytes + bytes > kMaximumWaitingRefusalBytes) {
            if (droppedRefusals++ == 0)
                PLATFORM_LOG_WARN(kTooManyWaiting, url.schemeLowercased(), waitingRefusals,
                                  waitingRefusalBytes);
            return false;
        }
        ++waitingRefusals;
        waitingRefusalBytes += bytes;
        return true;
    }

    void releaseWaiting(size_t bytes) {
        --waitingRefusals;
        waitingRefusalBytes -= bytes;
        if (waitingRefusals == 0 && droppedRefusals > 0) {
            PLATFORM_LOG_WARN(kDropped, droppedRefusals);
            droppedRefusals = 0;
        }
    }

    // A page command from the extension's channel: the client decides on it as on the
    // link the frame would have followed to its "mvcmd:" address, the sending document's.
    void takeCommand(const char* address, bool fromTopFrame, int64_t document) {
        auto url = readURI(address);
        if (!url || url->schemeLowercased() != "mvcmd") {
            const std::string_view text(address ? address : "");
            PLATFORM_LOG_WARN(kNotACommand, log::escaped(text));
            return;
        }
        const size_t bytes = std::strlen(address);
        if (!admitWaiting(*url, bytes)) return;
        URLRequest ours(*url);
        std::optional<URL> page;
        if (!fromTopFrame) page = readURI(webkit_web_view_get_uri(view));
        ours.setMainDocumentURL(page ? *page : ours.url());
        if (page && document != 0) ours.setProperty(kFrameDocumentProperty, document);
        deliver([this, ours = std::move(ours), generation = shownGeneration, bytes] {
            releaseWaiting(bytes);
            owner->askClientForPageNavigation(ours, NavigationType::LinkClicked, generation);
        });
    }

    // The fetch destination a request carries ("document", "iframe", "frame"): WebKit
    // gives it to a redirect's request, and to trustworthy origins only.
    static const char* fetchDestination(WebKitURIRequest* request) {
        SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(request);
        return headers ? soup_message_headers_get_one(headers, "Sec-Fetch-Dest") : nullptr;
    }

    static gboolean onUserMessage(WebKitWebView*, WebKitUserMessage* message, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        if (self->forms && self->forms->takeMessage(message)) return TRUE;
        const char* name = webkit_user_message_get_name(message);
        GVariant* body = webkit_user_message_get_parameters(message);
        if (name && std::strcmp(name, "mv-command") == 0 && body &&
            g_variant_is_of_type(body, G_VARIANT_TYPE("(sbt)"))) {
            const char* address = nullptr;
            gboolean fromTop = TRUE;
            guint64 document = 0;
            g_variant_get(body, "(&sbt)", &address, &fromTop, &document);
            self->takeCommand(address, fromTop != FALSE,
                              static_cast<int64_t>(std::min<guint64>(document, INT64_MAX)));
            return TRUE;
        }
        if (self->pageSteps->take(message)) return TRUE;
        if (name && std::strcmp(name, "mv-frame-command") == 0 && body &&
            g_variant_is_of_type(body, G_VARIANT_TYPE("(t)"))) {
            guint64 document = 0;
            g_variant_get(body, "(t)", &document);
            PLATFORM_LOG_WARN(kFrameCommandRefused, document);
            return TRUE;
        }
        if (!name || std::strcmp(name, "mv-navigation") != 0 || !body ||
            !g_variant_is_of_type(body, G_VARIANT_TYPE("(sbbt)")))
            return FALSE;
        const char* address = nullptr;
        gboolean top = TRUE;
        gboolean fromTop = TRUE;
        guint64 document = 0;
        g_variant_get(body, "(&sbbt)", &address, &top, &fromTop, &document);
        NavigationNote note;
        note.form = !address || !*address;
        if (!note.form) {
            note.address = addressHash(address);
            const auto parsed = readURI(address);
            note.written = parsed ? addressHash(parsed->absoluteString()) : note.address;
        }
        note.topFrame = top != FALSE;
        note.fromTopFrame = fromTop != FALSE;
        note.document = static_cast<int64_t>(std::min<guint64>(document, INT64_MAX));
        if (self->notes.size() >= kMaximumNotes) self->notes.pop_front();
        self->notes.push_back(note);
        return TRUE;
    }

    static size_t addressHash(std::string_view address) {
        return std::hash<std::string_view>()(address.substr(0, address.find('#')));
    }

    // A link's newest note for this address, fragments aside, or a form submission's
    // newest note (which names no address); notes older than it had no navigation of
    // their own (the page refused the click or the submission) and go with it.
    std::optional<NavigationNote> takeNote(const URL& url, bool form) {
        const size_t target = form ? 0 : addressHash(url.absoluteString());
        for (auto it = notes.rbegin(); it != notes.rend(); ++it) {
            if (it->form != form) continue;
            if (!form && it->address != target && it->written != target) continue;
            NavigationNote found = *it;
            notes.erase(notes.begin(), it.base());
            return found;
        }
        return std::nullopt;
    }

    // WebKit does not say which frame a navigation is for: the web-process extension, which
    // sees every frame's document of whatever origin, is asked whether a frame element of one
    // of them is going to the address; without the extension, the page is asked (in a script
    // world of its own) about the frames it can reach. A sub-frame's request then carries the
    // page's address as its main document; the top frame's is its own.
    void findTargetFrame(const std::string& address, URLRequest request,
                         std::function<void(URLRequest)> then) {
        auto decide = [this, request = std::move(request),
                       then = std::move(then)](const std::string& answer) mutable {
            std::optional<URL> page;
            if (answer == "true") page = readURI(webkit_web_view_get_uri(view));
            request.setMainDocumentURL(page ? *page : request.url());
            then(std::move(request));
        };
        askExtension(address, [this, address, decide](const std::string& answer) mutable {
            if (answer != kNoExtension) return decide(answer);
            askPage(targetFrameScript(address), std::move(decide));
        });
    }

    static constexpr const char* kNoExtension = "no extension";

    // The extension's answer on `address`: "true" or "false", kNoExtension when none
    // answers, empty past kPageAnswerBound.
    void askExtension(const std::string& address, std::function<void(const std::string&)> then) {
        auto answer = new std::function<void(const std::string&)>(boundedAnswer(std::move(then)));
        webkit_web_view_send_message_to_page(
            view, webkit_user_message_new("mv-frame-target", g_variant_new("(s)", address.c_str())),
            nullptr,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                std::unique_ptr<std::function<void(const std::string&)>> answer(
                    static_cast<std::function<void(const std::string&)>*>(data));
                GError* error = nullptr;
                WebKitUserMessage* reply = webkit_web_view_send_message_to_page_finish(
                    WEBKIT_WEB_VIEW(source), result, &error);
                GVariant* body = reply ? webkit_user_message_get_parameters(reply) : nullptr;
                std::string text = kNoExtension;
                if (body && g_variant_is_of_type(body, G_VARIANT_TYPE("(b)"))) {
                    gboolean frame = FALSE;
                    g_variant_get(body, "(b)", &frame);
                    text = frame ? "true" : "false";
                }
                if (reply) g_object_unref(reply);
                g_clear_error(&error);
                (*answer)(text);
            },
            answer);
    }

    // A link or a form starts its navigation inside the page's task, which may go on to
    // send more (a page command by a link into a frame): the top frame's navigation is
    // decided once the page has answered a script after that task, so that what the task
    // sent before its end reaches the client first.
    void afterThePagesTask(URLRequest request, std::function<void(URLRequest)> then) {
        askPage("0", [request = std::move(request), then = std::move(then)](
                         const std::string&) mutable { then(std::move(request)); });
    }

    // Runs `script` in the frames' own script world and hands over its answer (see
    // boundedAnswer).
    void askPage(const std::string& script, std::function<void(const std::string&)> then) {
        startScript(
            script,
            [answer = boundedAnswer(std::move(then))](ScriptCall& call) { answer(call.result); },
            std::make_shared<ScriptCall>(), kFrameWorld);
    }

    // What hands `then` an answer: the first it is given, or an empty one when none has
    // come within kPageAnswerBound (a page whose script hangs); once, and never after the
    // engine has gone (the decision waiting on it is refused as it is dropped).
    std::function<void(const std::string&)> boundedAnswer(
        std::function<void(const std::string&)> then) {
        struct Ask {
            std::weak_ptr<const void> alive;
            std::function<void(const std::string&)> then;
            guint bound = 0;
            void answer(const std::string& text) {
                if (bound != 0) g_source_remove(bound);
                bound = 0;
                if (!then) return;
                auto call = std::move(then);
                then = nullptr;
                if (alive.lock()) call(text);
            }
        };
        auto ask = std::make_shared<Ask>();
        ask->alive = owner->lifetime();
        ask->then = std::move(then);
        ask->bound = g_timeout_add_full(
            G_PRIORITY_DEFAULT, static_cast<guint>(kPageAnswerBound * 1000),
            [](gpointer data) -> gboolean {
                auto& held = *static_cast<std::shared_ptr<Ask>*>(data);
                held->bound = 0;
                if (held->then) PLATFORM_LOG_WARN(kPageDidNotAnswer, kPageAnswerBound);
                held->answer({});
                return G_SOURCE_REMOVE;
            },
            new std::shared_ptr<Ask>(ask),
            [](gpointer data) { delete static_cast<std::shared_ptr<Ask>*>(data); });
        return [ask](const std::string& text) { ask->answer(text); };
    }

    // What WebKit reports when it is let load a document it cannot: a start, then an
    // unsupported URL.
    void failUnloadable(const URLRequest& request) {
        deliver([this] {
            failedThisLoad = false;
            if (auto* client = owner->client()) client->engineDidStartLoad();
        });
        deliver([this, request] {
            failedThisLoad = true;
            if (auto* client = owner->client())
                client->engineDidFailLoad(
                    Error(kURLErrorDomain, kURLErrorUnsupportedURL,
                          "unsupported URL " + request.url().absoluteString()));
        });
    }

    static void onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        // WebKit sent a form we did not capture itself: its start was taken as the capture's.
        if (event == WEBKIT_LOAD_COMMITTED && self->forms->endsUncaptured()) {
            self->documentHistory->loadStarted();
            self->deliver([self] {
                self->failedThisLoad = false;
                if (auto* client = self->owner->client()) client->engineDidStartLoad();
            });
        }
        if (self->forms->swallows(event)) return;
        if (event == WEBKIT_LOAD_COMMITTED) {
            WebKitBackForwardList* list = webkit_web_view_get_back_forward_list(self->view);
            self->shownItem =
                GRef<WebKitBackForwardListItem>(webkit_back_forward_list_get_current_item(list));
            self->shownGeneration = self->owner->loadGeneration();
            self->documentHistory->loadCommitted(list, webkit_web_view_get_uri(self->view));
        } else if (event == WEBKIT_LOAD_STARTED) {
            self->documentHistory->loadStarted();
        }
        if (event == WEBKIT_LOAD_STARTED) {
            self->deliver([self] {
                self->failedThisLoad = false;
                if (auto* client = self->owner->client()) client->engineDidStartLoad();
            });
        } else if (event == WEBKIT_LOAD_FINISHED) {
            self->deliver([self] {
                if (self->failedThisLoad) return;
                if (auto* client = self->owner->client()) client->engineDidFinishLoad();
            });
        }
    }

    static gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError* error,
                                 gpointer data) {
        auto* self = static_cast<Impl*>(data);
        if (self->forms->swallows(WebKitFormSubmissions::kLoadFailed)) return TRUE;
        self->documentHistory->loadFailed();
        // A load that another replaced or stopped says nothing of the document shown.
        if (!(error && error->domain == WEBKIT_NETWORK_ERROR &&
              error->code == WEBKIT_NETWORK_ERROR_CANCELLED))
            self->shownGeneration = self->owner->loadGeneration();
        // Our own refusals interrupt loads; the client already knows of those.
        const bool refusedByUs =
            error && error->domain == WEBKIT_POLICY_ERROR &&
            error->code == WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE;
        Error ours = errorOf(error);
        self->deliver([self, refusedByUs, ours] {
            self->failedThisLoad = true;
            if (refusedByUs) return;
            if (auto* client = self->owner->client()) client->engineDidFailLoad(ours);
        });
        return TRUE;
    }

    // WebKit asks no decision for a document given as the content of its base address:
    // the client is asked here instead, on a later turn, and the load starts once allowed.
    void loadContentOfBase(const std::string& html, const URL& base) {
        const uint64_t load = ++loads;
        deliver([this, load, html, base] {
            if (load != loads) return;
            std::weak_ptr<const void> alive = owner->lifetime();
            if (!owner->askClient(URLRequest(base), NavigationType::Other)) {
                // Refused: the document shown stays.
                if (load == loads) shownGeneration = owner->loadGeneration();
                return;
            }
            if (!alive.lock() || load != loads) return;
            const std::string address = base.absoluteString();
            webkit_web_view_load_alternate_html(view, html.c_str(), address.c_str(),
                                                address.c_str());
        });
    }

    // In the page's own script world unless `world` names another.
    void startScript(const std::string& script, std::function<void(ScriptCall&)> whenDone,
                     std::shared_ptr<ScriptCall> call, const char* world = nullptr) {
        struct Pending {
            std::shared_ptr<ScriptCall> call;
            std::function<void(ScriptCall&)> whenDone;
        };
        auto* pending = new Pending{std::move(call), std::move(whenDone)};
        webkit_web_view_evaluate_javascript(
            view, script.data(), static_cast<gssize>(script.size()), world, nullptr, nullptr,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                std::unique_ptr<Pending> pending(static_cast<Pending*>(data));
                GError* error = nullptr;
                JSCValue* value = webkit_web_view_evaluate_javascript_finish(
                    WEBKIT_WEB_VIEW(source), result, &error);
                ScriptCall& call = *pending->call;
                if (value) {
                    call.result = textOf(value);
                    g_object_unref(value);
                } else {
                    call.error = errorOf(error);
                    PLATFORM_LOG_DEBUG(kScriptFailed,
                                       error && error->message ? error->message : "");
                    g_clear_error(&error);
                }
                call.done = true;
                if (pending->whenDone) pending->whenDone(call);
            },
            pending);
    }
};

bool WebKitGtkWebEngine::isAvailable() {
    return startGtk();
}

void WebKitGtkWebEngine::setExtensionsDirectory(std::string folder) {
    extensionsDirectory() = std::move(folder);
}

WebKitGtkWebEngine::WebKitGtkWebEngine() : impl_(std::make_unique<Impl>()) {
    if (!startGtk()) {
        PLATFORM_LOG_ERROR("{}", kNoDisplay);
        throw Exception(kInternalInconsistencyException, kNoDisplay);
    }
    useGLibMainContextForMainRunLoop();
    registerSchemesWithWebKit();
    impl_->owner = this;
    impl_->view = newWebKitView();
    WebKitFormSubmissions::registerSchemes(sharedContext());
    impl_->forms = std::make_unique<WebKitFormSubmissions>(
        impl_->view, [impl = impl_.get()] { return impl->loads; });
    // An offscreen window takes the size its child asks for.
    impl_->window = gtk_offscreen_window_new();
    gtk_container_add(GTK_CONTAINER(impl_->window), GTK_WIDGET(impl_->view));
    setSize(kDefaultWidth, kDefaultHeight);
    auto* impl = impl_.get();
    impl_->documentHistory = std::make_unique<WebKitDocumentHistory>(
        [impl](const std::string& address, DocumentHistoryChange change, bool unsure) {
            impl->reportDocumentStep(address, change, unsure);
        });
    impl_->pageSteps = std::make_unique<WebKitPageHistorySteps>(
        impl_->view, *impl_->documentHistory,
        [impl](const char* address, int64_t step, std::function<void(bool)> answered) {
            impl->leaveByHistoryStep(address, step, std::move(answered));
        });
    impl_->listHandler = g_signal_connect(webkit_web_view_get_back_forward_list(impl_->view),
                                          "changed", G_CALLBACK(Impl::onListChanged), impl);
    impl_->handlers = {
        g_signal_connect(impl_->view, "decide-policy", G_CALLBACK(Impl::onDecidePolicy), impl),
        g_signal_connect(impl_->view, "load-changed", G_CALLBACK(Impl::onLoadChanged), impl),
        g_signal_connect(impl_->view, "load-failed", G_CALLBACK(Impl::onLoadFailed), impl),
        g_signal_connect(impl_->view, "user-message-received", G_CALLBACK(Impl::onUserMessage),
                         impl),
        g_signal_connect(impl_->view, "create", G_CALLBACK(Impl::onCreate), impl),
        g_signal_connect(impl_->view, "script-dialog", G_CALLBACK(answerScriptDialog), nullptr),
        g_signal_connect(impl_->view, "notify::uri", G_CALLBACK(Impl::onAddressChanged), impl),
    };
    gtk_widget_show_all(impl_->window);
}

WebKitGtkWebEngine::~WebKitGtkWebEngine() {
    for (gulong id : impl_->handlers) g_signal_handler_disconnect(impl_->view, id);
    impl_->forms.reset();
    g_signal_handler_disconnect(webkit_web_view_get_back_forward_list(impl_->view),
                                impl_->listHandler);
    gtk_widget_destroy(impl_->window);
    g_object_unref(impl_->view);
}

void WebKitGtkWebEngine::loadHTMLString(const std::string& html,
                                        const std::optional<URL>& baseURL) {
    beginLoad();
    registerSchemesWithWebKit();
    if (loadsAsContentOfBase(html, "text/html", "utf-8", baseURL))
        return impl_->loadContentOfBase(html, *baseURL);
    ++impl_->loads;
    const bool hasBase = baseURL && !baseURL->isEmpty();
    webkit_web_view_load_html(impl_->view, html.c_str(),
                              hasBase ? baseURL->absoluteString().c_str() : nullptr);
}

void WebKitGtkWebEngine::loadData(const std::string& data, const std::string& mimeType,
                                  const std::string& textEncodingName,
                                  const std::optional<URL>& baseURL) {
    beginLoad();
    registerSchemesWithWebKit();
    if (loadsAsContentOfBase(data, mimeType, textEncodingName, baseURL))
        return impl_->loadContentOfBase(data, *baseURL);
    ++impl_->loads;
    const bool hasBase = baseURL && !baseURL->isEmpty();
    GBytes* bytes = g_bytes_new(data.data(), data.size());
    webkit_web_view_load_bytes(impl_->view, bytes, mimeType.empty() ? nullptr : mimeType.c_str(),
                               textEncodingName.empty() ? nullptr : textEncodingName.c_str(),
                               hasBase ? baseURL->absoluteString().c_str() : nullptr);
    g_bytes_unref(bytes);
}

void WebKitGtkWebEngine::loadRequest(const URLRequest& request) {
    beginLoad();
    registerSchemesWithWebKit();
    ++impl_->loads;
    WebKitURIRequest* ours = webkit_uri_request_new(request.url().absoluteString().c_str());
    if (const char* uri = webkit_uri_request_get_uri(ours)) impl_->ownRequest = uri;
    if (SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(ours)) {
        for (const auto& [name, value] : request.allHTTPHeaderFields())
            soup_message_headers_replace(headers, name.c_str(), value.c_str());
    }
    if (request.httpMethod() != "GET" || !request.httpBody().empty())
        PLATFORM_LOG_WARN(kOnlyGet, request.httpMethod(), request.url().absoluteString());
    webkit_web_view_load_request(impl_->view, ours);
    g_object_unref(ours);
}

void WebKitGtkWebEngine::stopLoading() {
    ++impl_->loads;
    // The document shown stays.
    impl_->shownGeneration = loadGeneration();
    webkit_web_view_stop_loading(impl_->view);
}

bool WebKitGtkWebEngine::isLoading() const {
    return webkit_web_view_is_loading(impl_->view);
}

std::optional<URLRequest> WebKitGtkWebEngine::request() const {
    auto url = readURI(webkit_web_view_get_uri(impl_->view));
    if (!url) return std::nullopt;
    return URLRequest(*url);
}

std::string WebKitGtkWebEngine::stringByEvaluatingJavaScript(const std::string& script) {
    auto call = std::make_shared<ScriptCall>();
    impl_->startScript(script, nullptr, call);
    if (!impl_->waitFor([&] { return call->done; }, "a script")) return {};
    return call->result;
}

void WebKitGtkWebEngine::evaluateJavaScript(const std::string& script,
                                            ScriptCompletion completion) {
    auto* impl = impl_.get();
    std::weak_ptr<const void> alive = lifetime();
    impl_->startScript(
        script,
        [impl, alive, completion = std::move(completion)](ScriptCall& call) {
            if (!completion || !alive.lock()) return;
            impl->deliver([completion, result = call.result, error = call.error] {
                completion(result, error);
            });
        },
        std::make_shared<ScriptCall>());
}

std::string WebKitGtkWebEngine::title() const {
    const char* title = webkit_web_view_get_title(impl_->view);
    return title ? title : "";
}

std::string WebKitGtkWebEngine::userAgent() {
    const char* agent = webkit_settings_get_user_agent(webkit_web_view_get_settings(impl_->view));
    return agent ? agent : "";
}

std::string WebKitGtkWebEngine::acceptLanguage() {
    // WebKit names the one language it sends from the process's character locale.
    const char* locale = setlocale(LC_CTYPE, nullptr);
    std::string name = locale ? locale : "";
    const std::string lower = asciiLowercase(name);
    if (name.empty() || lower == "c" || lower == "posix") return "en-US";
    std::replace(name.begin(), name.end(), '_', '-');
    return name.substr(0, name.find('.'));
}

void WebKitGtkWebEngine::setSize(double width, double height) {
    const int w = std::max(1, static_cast<int>(std::lround(std::isfinite(width) ? width : 1)));
    const int h = std::max(1, static_cast<int>(std::lround(std::isfinite(height) ? height : 1)));
    gtk_widget_set_size_request(GTK_WIDGET(impl_->view), w, h);
    gtk_window_resize(GTK_WINDOW(impl_->window), w, h);
    gtk_widget_queue_resize(impl_->window);
}

void WebKitGtkWebEngine::setBackgroundColor(const Color& color) {
    GdkRGBA rgba{color.red, color.green, color.blue, color.alpha};
    webkit_web_view_set_background_color(impl_->view, &rgba);
}

Image WebKitGtkWebEngine::snapshot() {
    struct Pending {
        std::shared_ptr<SnapshotCall> call;
    };
    auto call = std::make_shared<SnapshotCall>();
    webkit_web_view_get_snapshot(
        impl_->view, WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Pending> pending(static_cast<Pending*>(data));
            GError* error = nullptr;
            cairo_surface_t* surface =
                webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), result, &error);
            if (surface) {
                pending->call->picture = pictureOf(surface);
                cairo_surface_destroy(surface);
            }
            g_clear_error(&error);
            pending->call->done = true;
        },
        new Pending{call});
    if (!impl_->waitFor([&] { return call->done; }, "a snapshot")) return {};
    return call->picture;
}

void WebKitGtkWebEngine::setProcessesStopped(bool stopped) {
    gProcessesStopped.store(stopped, std::memory_order_release);
    // A synchronous call waiting on the main thread looks again.
    if (stopped) g_main_context_wakeup(g_main_context_default());
}

bool WebKitGtkWebEngine::processesStopped() {
    return gProcessesStopped.load(std::memory_order_acquire);
}

void WebKitGtkWebEngine::setApplicationStopping() {
    if (gApplicationStopping.exchange(true, std::memory_order_acq_rel)) return;
    PLATFORM_LOG_INFO("WebKitGtkWebEngine waits for no page from now on: the application stops");
    g_main_context_wakeup(g_main_context_default());
}

void WebKitGtkWebEngine::setSynchronousTimeout(double seconds) {
    impl_->synchronousTimeout = seconds;
}

size_t WebKitGtkWebEngine::liveViewCount() {
    return gLiveViews;
}

size_t WebKitGtkWebEngine::deferredSignalCount() const {
    return impl_->deferred;
}

}  // namespace platform
