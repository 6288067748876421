#include "platform/web/webkit/WebKitFormSubmissions.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/Log.h"
#include "platform/foundation/TextUtilities.h"
#include "platform/foundation/URLErrors.h"
#include "platform/web/webkit/WebKitGtkWebEngine.h"

namespace platform {
namespace {

constexpr const char* kMessage = "mv-form-capture";
constexpr const char* kCapturePrefix = "mv-form-";
constexpr const char* kCaptureSchemes[] = {"mv-form-http", "mv-form-https"};
constexpr const char* kOwnerKey = "mv-form-submissions";
constexpr const char* kCannotSend =
    "WebKitGtkWebEngine does not send the form to [{}]: {}; its page's load fails";
constexpr const char* kNotCaptured =
    "WebKitGtkWebEngine did not capture the form sent to [{}]: WebKit sent it itself";
constexpr const char* kNoExtension = "no web-process extension builds its request";
constexpr const char* kUnreadableBody = "its body is larger than {} bytes or cannot be read";
constexpr const char* kBodyNotHandedOver = "its body with files was not handed over";
constexpr const char* kBodyNotBuilt = "its body with files could not be built: {}";
// Set by the extension on a capture whose form holds a file: the number of its body.
constexpr const char* kFilesField = "MV-Form-With-Files";
constexpr const char* kBodyMessage = "mv-form-body";
// Bodies kept for captures not yet served.
constexpr size_t kMaximumHandedBodies = 4;

// Fields the URL loading sets itself for the connection and the cookies it holds.
bool connectionField(std::string_view name) {
    for (const char* own : {"Cookie", "Cookie2", "Host", "Content-Length", "Connection",
                            "Transfer-Encoding", "Accept-Encoding", "Keep-Alive", "TE"}) {
        if (equalsIgnoringASCIICase(name, own)) return true;
    }
    return false;
}

// The whole body, or none past `limit` or on a read error.
std::optional<std::vector<uint8_t>> readBody(GInputStream* stream, size_t limit) {
    std::vector<uint8_t> all;
    uint8_t chunk[16384];
    for (;;) {
        gsize got = 0;
        GError* error = nullptr;
        const bool read =
            g_input_stream_read_all(stream, chunk, sizeof chunk, &got, nullptr, &error) != FALSE;
        g_clear_error(&error);
        if (!read) return std::nullopt;
        if (all.size() + got > limit) return std::nullopt;
        all.insert(all.end(), chunk, chunk + got);
        if (got < sizeof chunk) return all;
    }
}

// A multipart Content-Type with a boundary of printable characters only.
bool multipartType(std::string_view type) {
    constexpr std::string_view kStart = "multipart/form-data; boundary=";
    if (!type.starts_with(kStart) || type.size() == kStart.size() || type.size() > 200)
        return false;
    return std::all_of(type.begin(), type.end(), [](char c) { return c >= ' ' && c < 127; });
}

void finishUnseen(WebKitURISchemeRequest* request) {
    GError* error = g_error_new_literal(WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED,
                                        "taken by the application");
    webkit_uri_scheme_request_finish_error(request, error);
    g_error_free(error);
}

}  // namespace

WebKitFormSubmissions::WebKitFormSubmissions(WebKitWebView* view,
                                             std::function<uint64_t()> currentLoad)
    : view_(view), currentLoad_(std::move(currentLoad)) {
    g_object_set_data(G_OBJECT(view_), kOwnerKey, this);
}

WebKitFormSubmissions::~WebKitFormSubmissions() {
    g_object_set_data(G_OBJECT(view_), kOwnerKey, nullptr);
}

void WebKitFormSubmissions::registerSchemes(WebKitWebContext* context) {
    static bool registered = false;
    if (registered) return;
    registered = true;
    WebKitSecurityManager* security = webkit_web_context_get_security_manager(context);
    for (const char* scheme : kCaptureSchemes) {
        webkit_web_context_register_uri_scheme(context, scheme, serve, nullptr, nullptr);
        webkit_security_manager_register_uri_scheme_as_secure(security, scheme);
    }
}

bool WebKitFormSubmissions::carriesBody(const URLRequest& navigation) {
    const std::string& method = navigation.httpMethod();
    const std::string scheme = navigation.url().schemeLowercased();
    const auto& page = navigation.mainDocumentURL();
    return method != "GET" && method != "HEAD" && (scheme == "http" || scheme == "https") &&
           (!page || *page == navigation.url());
}

void WebKitFormSubmissions::capture(const URLRequest&, const std::string& written,
                                    std::function<void(bool)> answer,
                                    std::function<void(URLRequest)> then) {
    const std::string& address = written;
    capture_.reset();
    // A body comes after its capture began: those here were never requested.
    bodies_.clear();
    struct Ask {
        WebKitFormSubmissions* self;
        std::weak_ptr<int> alive;
        Capture capture;
        std::function<void(bool)> answer;
    };
    auto* ask = new Ask{this, alive_, Capture{address, currentLoad_(), false, std::move(then)},
                        std::move(answer)};
    // The extension has noted the address before WebKit hears that it may go on.
    webkit_web_view_send_message_to_page(
        view_, webkit_user_message_new(kMessage, g_variant_new("(s)", address.c_str())), nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Ask> ask(static_cast<Ask*>(data));
            GError* error = nullptr;
            WebKitUserMessage* reply = webkit_web_view_send_message_to_page_finish(
                WEBKIT_WEB_VIEW(source), result, &error);
            GVariant* body = reply ? webkit_user_message_get_parameters(reply) : nullptr;
            gboolean taken = FALSE;
            if (body && g_variant_is_of_type(body, G_VARIANT_TYPE("(b)")))
                g_variant_get(body, "(b)", &taken);
            if (reply) g_object_unref(reply);
            g_clear_error(&error);
            const bool alive = ask->alive.lock() != nullptr;
            const bool current = alive && ask->capture.load == ask->self->currentLoad_();
            if (!taken || !current) {
                if (!taken)
                    PLATFORM_LOG_ERROR(kCannotSend, log::escaped(ask->capture.address),
                                       kNoExtension);
                ask->answer(false);
                return;
            }
            ask->self->capture_ = std::move(ask->capture);
            ask->answer(true);
        },
        ask);
}

bool WebKitFormSubmissions::active() const {
    return capture_ && capture_->load == currentLoad_();
}

bool WebKitFormSubmissions::swallows(int loadEvent) {
    if (!active()) {
        capture_.reset();
        return false;
    }
    if (loadEvent == WEBKIT_LOAD_COMMITTED) {
        capture_.reset();
        return false;
    }
    // WebKit ends the capture's load with its failure, then WEBKIT_LOAD_FINISHED.
    if (loadEvent == WEBKIT_LOAD_FINISHED) capture_.reset();
    return true;
}

bool WebKitFormSubmissions::endsUncaptured() {
    if (!active()) return false;
    PLATFORM_LOG_ERROR(kNotCaptured, log::escaped(capture_->address));
    capture_.reset();
    return true;
}

bool WebKitFormSubmissions::takeMessage(WebKitUserMessage* message) {
    const char* name = webkit_user_message_get_name(message);
    GVariant* body = webkit_user_message_get_parameters(message);
    if (!name || std::strcmp(name, kBodyMessage) != 0) return false;
    if (!body || !g_variant_is_of_type(body, G_VARIANT_TYPE("(tssay)"))) return true;
    HandedBody handed;
    const char* type = nullptr;
    const char* error = nullptr;
    GVariant* bytes = nullptr;
    g_variant_get(body, "(t&s&s@ay)", &handed.number, &type, &error, &bytes);
    handed.type = type ? type : "";
    handed.error = error ? error : "";
    gsize length = 0;
    const auto* data =
        static_cast<const uint8_t*>(g_variant_get_fixed_array(bytes, &length, sizeof(uint8_t)));
    // Past the limit it is refused as it is served.
    if (length <= kMaximumBody && data)
        handed.bytes.assign(data, data + length);
    else if (length > kMaximumBody)
        handed.error = "large";
    g_variant_unref(bytes);
    if (bodies_.size() >= kMaximumHandedBodies) bodies_.pop_front();
    bodies_.push_back(std::move(handed));
    return true;
}

void WebKitFormSubmissions::serve(WebKitURISchemeRequest* request, gpointer) {
    WebKitWebView* view = webkit_uri_scheme_request_get_web_view(request);
    auto* self =
        view ? static_cast<WebKitFormSubmissions*>(g_object_get_data(G_OBJECT(view), kOwnerKey))
             : nullptr;
    if (!self) return finishUnseen(request);
    self->take(request);
}

void WebKitFormSubmissions::take(WebKitURISchemeRequest* request) {
    const char* uri = webkit_uri_scheme_request_get_uri(request);
    std::string_view original(uri ? uri : "");
    if (original.starts_with(kCapturePrefix)) original.remove_prefix(std::strlen(kCapturePrefix));
    auto url = readWebKitURI(std::string(original).c_str());
    const bool expected = active() && !capture_->requested && url &&
                          original.substr(0, original.find('#')) ==
                              capture_->address.substr(0, capture_->address.find('#'));
    if (!expected) return finishUnseen(request);
    capture_->requested = true;
    URLRequest taken(*url);
    if (const char* method = webkit_uri_scheme_request_get_http_method(request))
        taken.setHTTPMethod(method);
    if (SoupMessageHeaders* headers = webkit_uri_scheme_request_get_http_headers(request)) {
        SoupMessageHeadersIter it;
        const char* name;
        const char* value;
        soup_message_headers_iter_init(&it, headers);
        while (soup_message_headers_iter_next(&it, &name, &value)) {
            if (!connectionField(name) && !equalsIgnoringASCIICase(name, kFilesField))
                taken.addValue(value, name);
        }
    }
    // WebKit fails reading a body that holds a file: the extension's own stands for it.
    SoupMessageHeaders* fields = webkit_uri_scheme_request_get_http_headers(request);
    const char* number = fields ? soup_message_headers_get_one(fields, kFilesField) : nullptr;
    bool readable = true;
    if (number) {
        auto handed = std::find_if(bodies_.begin(), bodies_.end(), [&](const HandedBody& body) {
            return std::to_string(body.number) == number;
        });
        std::string failure = kBodyNotHandedOver;
        if (handed != bodies_.end() && handed->error == "large") {
            failure = fmt::format(kUnreadableBody, kMaximumBody);
        } else if (handed != bodies_.end() && !handed->error.empty()) {
            failure = fmt::format(kBodyNotBuilt, log::escaped(handed->error));
        } else if (handed != bodies_.end() && multipartType(handed->type)) {
            failure.clear();
            taken.setValue(handed->type, "Content-Type");
            taken.setHTTPBody(std::move(handed->bytes));
        }
        if (handed != bodies_.end()) bodies_.erase(handed);
        if (!failure.empty()) {
            PLATFORM_LOG_ERROR(kCannotSend, log::escaped(capture_->address), failure);
            capture_->then = nullptr;
            return finishUnseen(request);
        }
    } else if (GInputStream* body = webkit_uri_scheme_request_get_http_body(request)) {
        auto bytes = readBody(body, kMaximumBody);
        g_object_unref(body);
        if (bytes) {
            taken.setHTTPBody(std::move(*bytes));
        } else {
            readable = false;
        }
    }
    taken.setMainDocumentURL(taken.url());
    // WebKit may end its load inside this, and the capture with it.
    auto then = std::move(capture_->then);
    const std::string address = capture_->address;
    finishUnseen(request);
    if (!readable) {
        PLATFORM_LOG_ERROR(kCannotSend, log::escaped(address),
                           fmt::format(kUnreadableBody, kMaximumBody));
        return;
    }
    if (then) then(std::move(taken));
}

}  // namespace platform
