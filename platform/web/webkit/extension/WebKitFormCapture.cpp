// See WebKitFormCapture.h. Built into the web-process extension, without the sanitizers.
#include "platform/web/webkit/extension/WebKitFormCapture.h"

#include <cstring>
#include <deque>
#include <map>
#include <string>

namespace {

constexpr const char* kMessage = "mv-form-capture";
constexpr const char* kCapturePrefix = "mv-form-";
// Addresses asked for and not yet requested, per page; the oldest go first.
constexpr size_t kMaximumWaiting = 8;

constexpr const char* kFilesField = "MV-Form-With-Files";
// Whether a form holds a file chosen in one of its inputs.
constexpr const char* kHoldsFiles =
    "(function (form) { return Array.prototype.some.call(form.elements || [], function (e) {"
    " return e.type === 'file' && e.files && e.files.length > 0; }); })";

// Per page: whether the form sent last holds a file.
std::map<guint64, bool>& sentFiles() {
    static auto* files = new std::map<guint64, bool>;
    return *files;
}

std::map<guint64, std::deque<std::string>>& waiting() {
    static auto* addresses = new std::map<guint64, std::deque<std::string>>;
    return *addresses;
}

std::string withoutFragment(const char* address) {
    std::string text = address ? address : "";
    return text.substr(0, text.find('#'));
}

}  // namespace

bool takeFormCaptureMessage(WebKitWebPage* page, WebKitUserMessage* message) {
    const char* name = webkit_user_message_get_name(message);
    GVariant* body = webkit_user_message_get_parameters(message);
    if (!name || std::strcmp(name, kMessage) != 0) return false;
    bool taken = false;
    if (body && g_variant_is_of_type(body, G_VARIANT_TYPE("(s)"))) {
        const char* address = nullptr;
        g_variant_get(body, "(&s)", &address);
        auto& addresses = waiting()[webkit_web_page_get_id(page)];
        if (addresses.size() >= kMaximumWaiting) addresses.pop_front();
        addresses.push_back(withoutFragment(address));
        taken = true;
    }
    webkit_user_message_send_reply(message,
                                   webkit_user_message_new(kMessage, g_variant_new("(b)", taken)));
    return true;
}

void noteFormFiles(WebKitWebPage* page, GObject* form, WebKitFrame* source) {
    bool files = false;
    // Asked in a script world of its own, which the page's script cannot change.
    static WebKitScriptWorld* world = webkit_script_world_new_with_name("mv-forms");
    JSCContext* context =
        source ? webkit_frame_get_js_context_for_script_world(source, world) : nullptr;
    // The signal gives the form as a DOM object only, whose API is deprecated.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    JSCValue* element = source && form && WEBKIT_DOM_IS_OBJECT(form)
                            ? webkit_frame_get_js_value_for_dom_object_in_script_world(
                                  source, WEBKIT_DOM_OBJECT(form), world)
                            : nullptr;
#pragma GCC diagnostic pop
    if (context && element) {
        JSCValue* check = jsc_context_evaluate(context, kHoldsFiles, -1);
        if (check && jsc_value_is_function(check)) {
            JSCValue* result = jsc_value_function_call(check, JSC_TYPE_VALUE, element, G_TYPE_NONE);
            files = result && jsc_value_to_boolean(result);
            if (result) g_object_unref(result);
        }
        if (check) g_object_unref(check);
    }
    if (element) g_object_unref(element);
    if (context) g_object_unref(context);
    sentFiles()[webkit_web_page_get_id(page)] = files;
}

bool captureFormRequest(WebKitWebPage* page, WebKitURIRequest* request) {
    auto found = waiting().find(webkit_web_page_get_id(page));
    if (found == waiting().end()) return false;
    const char* method = webkit_uri_request_get_http_method(request);
    if (!method || std::strcmp(method, "GET") == 0 || std::strcmp(method, "HEAD") == 0)
        return false;
    const char* uri = webkit_uri_request_get_uri(request);
    const std::string address = withoutFragment(uri);
    auto& addresses = found->second;
    for (auto it = addresses.begin(); it != addresses.end(); ++it) {
        if (*it != address) continue;
        addresses.erase(it);
        if (addresses.empty()) waiting().erase(found);
        const auto files = sentFiles().find(webkit_web_page_get_id(page));
        const bool holdsFiles = files != sentFiles().end() && files->second;
        if (files != sentFiles().end()) sentFiles().erase(files);
        if (holdsFiles) {
            if (SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(request))
                soup_message_headers_replace(headers, kFilesField, "1");
        }
        const std::string captured = kCapturePrefix + std::string(uri);
        webkit_uri_request_set_uri(request, captured.c_str());
        return true;
    }
    return false;
}
