// See WebKitFormCapture.h. Built into the web-process extension, without the sanitizers.
#include "platform/web/webkit/extension/WebKitFormCapture.h"

#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr const char* kMessage = "mv-form-capture";
constexpr const char* kBodyMessage = "mv-form-body";
constexpr const char* kCapturePrefix = "mv-form-";
// Addresses asked for and not yet requested, per page; the oldest go first.
constexpr size_t kMaximumWaiting = 8;
// As the view's limit: a larger body is not built.
constexpr double kMaximumBody = 64.0 * 1024 * 1024;

constexpr const char* kFilesField = "MV-Form-With-Files";

// Keeps, per form, the entries of its last "formdata" event (a submission's, by every road,
// with its submitter and what the page's own listeners added), and gives the builder of a
// multipart body from them: null when WebKit's own body holds no file, else an error
// ("large", "unreadable", or a reason) or {type, body}. Names, values and file names in the
// form's encoding (characters it lacks as "&#N;"), CRLF line breaks in names and values,
// quotes and breaks in names and file names escaped, each file's type or
// application/octet-stream: as WebKit sends it.
constexpr const char* kBodyBuilder = R"js((function () {
  var seen = new WeakMap();
  addEventListener('formdata', function (event) {
    if (event.target) seen.set(event.target, event.formData);
  }, true);
  var encoder = new TextEncoder();
  function utf8(text) { return encoder.encode(text); }
  function lines(text) { return String(text).replace(/\r\n|\r|\n/g, '\r\n'); }
  function quoted(text) {
    return String(text).replace(/\r/g, '%0D').replace(/\n/g, '%0A').replace(/"/g, '%22');
  }
  function read(file) {
    var address = URL.createObjectURL(file);
    try {
      var request = new XMLHttpRequest();
      request.open('GET', address, false);
      request.overrideMimeType('text/plain; charset=x-user-defined');
      request.send();
      var text = request.responseText;
      if (request.status !== 200 || text.length !== file.size) return null;
      var bytes = new Uint8Array(text.length);
      for (var i = 0; i < text.length; i++) bytes[i] = text.charCodeAt(i) & 0xff;
      return bytes;
    } catch (e) {
      return null;
    } finally {
      URL.revokeObjectURL(address);
    }
  }
  // The document's encoding, as a link's address takes it.
  function documentEncoding() {
    var link = document.createElement('a'), known = new Map();
    function encoded(character) {
      var bytes = known.get(character);
      if (bytes) return bytes;
      link.href = 'http://form.invalid/?' + character;
      var query = link.search.slice(1);
      bytes = [];
      for (var i = 0; i < query.length; i++) {
        if (query[i] === '%') {
          bytes.push(parseInt(query.substr(i + 1, 2), 16));
          i += 2;
        } else {
          bytes.push(query.charCodeAt(i));
        }
      }
      known.set(character, bytes);
      return bytes;
    }
    return function (text) {
      var bytes = [];
      for (var character of String(text)) {
        var code = character.codePointAt(0);
        if (code < 0x80) bytes.push(code);
        else Array.prototype.push.apply(bytes, encoded(character));
      }
      return new Uint8Array(bytes);
    };
  }
  // Its accept-charset's first, else the document's; null when it cannot be had here.
  function encodingOf(form) {
    var accepted = String(form.getAttribute('accept-charset') || '').trim().split(/[\s,]+/)[0];
    var name = String(accepted || document.characterSet).toLowerCase();
    if (name === 'utf-8' || name === 'utf8' || name.slice(0, 6) === 'utf-16') return utf8;
    if (accepted && name !== document.characterSet.toLowerCase()) return null;
    return documentEncoding();
  }
  function chosen(value) {
    return typeof value !== 'string' && (value.size > 0 || value.name !== '');
  }
  function holdsFiles(form) {
    var data = seen.get(form);
    if (data) return Array.from(data.values()).some(chosen);
    return Array.prototype.some.call(form.elements || [], function (e) {
      return e.type === 'file' && e.files && e.files.length > 0;
    });
  }
  // With no limit, whether it would build a body.
  return function (form, limit) {
    var files = holdsFiles(form);
    if (!limit) return files;
    if (!files) return null;
    var data = seen.get(form);
    if (!data) return 'its entries were not seen';
    var entries = Array.from(data.entries());
    var encode = encodingOf(form);
    if (!encode) return 'its encoding is not its document\'s';
    var letters = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789AB';
    var random = new Uint8Array(16);
    crypto.getRandomValues(random);
    var boundary = '----WebKitFormBoundary';
    for (var i = 0; i < 16; i++) boundary += letters[random[i] & 63];
    var parts = [], size = 0;
    function add(bytes) { parts.push(bytes); size += bytes.length; return size <= limit; }
    for (var e = 0; e < entries.length; e++) {
      var name = entries[e][0], value = entries[e][1];
      var head = '\r\nContent-Disposition: form-data; name="' + quoted(lines(name)) + '"';
      if (!add(utf8('--' + boundary))) return 'large';
      if (typeof value === 'string') {
        if (!add(encode(head + '\r\n\r\n' + lines(value))) || !add(utf8('\r\n'))) return 'large';
        continue;
      }
      head += '; filename="' + quoted(value.name) + '"\r\nContent-Type: ' +
              (value.type || 'application/octet-stream') + '\r\n\r\n';
      if (!add(encode(head)) || size + value.size > limit) return 'large';
      var bytes = read(value);
      if (!bytes) return 'unreadable';
      if (!add(bytes) || !add(utf8('\r\n'))) return 'large';
    }
    if (!add(utf8('--' + boundary + '--\r\n'))) return 'large';
    var body = new Uint8Array(size), at = 0;
    for (var p = 0; p < parts.length; p++) { body.set(parts[p], at); at += parts[p].length; }
    return {type: 'multipart/form-data; boundary=' + boundary, body: body};
  };
})())js";
constexpr const char* kBuilderName = "__mvFormBody";

// A body built for the form sent last, or why it could not be.
struct BuiltBody {
    std::string type;
    std::string error;
    std::vector<guint8> bytes;
};

// Per page, the form sent last as the form world sees it: its body is built only for a
// multipart request the view captures.
struct SentForm {
    JSCContext* context;
    JSCValue* element;
};

std::map<guint64, SentForm>& sentForms() {
    static auto* forms = new std::map<guint64, SentForm>;
    return *forms;
}

void forgetForm(guint64 page) {
    auto found = sentForms().find(page);
    if (found == sentForms().end()) return;
    g_object_unref(found->second.element);
    g_object_unref(found->second.context);
    sentForms().erase(found);
}

std::map<guint64, std::deque<std::string>>& waiting() {
    static auto* addresses = new std::map<guint64, std::deque<std::string>>;
    return *addresses;
}

std::string withoutFragment(const char* address) {
    std::string text = address ? address : "";
    return text.substr(0, text.find('#'));
}

// The world of the form entries; the page's script cannot reach it.
WebKitScriptWorld* formWorld() {
    static WebKitScriptWorld* world = webkit_script_world_new_with_name("mv-forms");
    return world;
}

void onFormWorldCleared(WebKitScriptWorld* world, WebKitWebPage*, WebKitFrame* frame, gpointer) {
    JSCContext* context = webkit_frame_get_js_context_for_script_world(frame, world);
    if (!context) return;
    JSCValue* builder = jsc_context_evaluate(context, kBodyBuilder, -1);
    if (builder && jsc_value_is_function(builder))
        jsc_context_set_value(context, kBuilderName, builder);
    if (builder) g_object_unref(builder);
    g_object_unref(context);
}

// None when WebKit's own body holds no file.
std::optional<BuiltBody> buildBody(JSCContext* context, JSCValue* form) {
    BuiltBody built;
    built.error = "its body could not be built";
    JSCValue* builder = jsc_context_get_value(context, kBuilderName);
    JSCValue* result = builder && jsc_value_is_function(builder)
                           ? jsc_value_function_call(builder, JSC_TYPE_VALUE, form, G_TYPE_DOUBLE,
                                                     kMaximumBody, G_TYPE_NONE)
                           : nullptr;
    if (result && (jsc_value_is_null(result) || jsc_value_is_undefined(result))) {
        g_object_unref(result);
        g_object_unref(builder);
        return std::nullopt;
    }
    if (result && jsc_value_is_string(result)) {
        char* error = jsc_value_to_string(result);
        built.error = error ? error : "";
        g_free(error);
    } else if (result && jsc_value_is_object(result)) {
        JSCValue* type = jsc_value_object_get_property(result, "type");
        JSCValue* body = jsc_value_object_get_property(result, "body");
        if (type && jsc_value_is_string(type) && body && jsc_value_is_typed_array(body)) {
            char* text = jsc_value_to_string(type);
            gsize length = 0;
            const auto* data =
                static_cast<const guint8*>(jsc_value_typed_array_get_data(body, &length));
            built.type = text ? text : "";
            built.bytes.assign(data, data + length);
            built.error.clear();
            g_free(text);
        }
        if (type) g_object_unref(type);
        if (body) g_object_unref(body);
    }
    if (result) g_object_unref(result);
    if (builder) g_object_unref(builder);
    return built;
}

// Tells the view the body of the request about to be captured, by its number.
void sendBody(WebKitWebPage* page, guint64 number, const BuiltBody& built) {
    GVariant* bytes = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, built.bytes.data(),
                                                built.bytes.size(), sizeof(guint8));
    GVariant* body =
        g_variant_new("(tss@ay)", number, built.type.c_str(), built.error.c_str(), bytes);
    webkit_web_page_send_message_to_view(page, webkit_user_message_new(kBodyMessage, body), nullptr,
                                         nullptr, nullptr);
}

}  // namespace

void installFormCapture() {
    g_signal_connect(formWorld(), "window-object-cleared", G_CALLBACK(onFormWorldCleared), nullptr);
}

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
    const guint64 id = webkit_web_page_get_id(page);
    forgetForm(id);
    JSCContext* context =
        source ? webkit_frame_get_js_context_for_script_world(source, formWorld()) : nullptr;
    // The signal gives the form as a DOM object only, whose API is deprecated.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    JSCValue* element = source && form && WEBKIT_DOM_IS_OBJECT(form)
                            ? webkit_frame_get_js_value_for_dom_object_in_script_world(
                                  source, WEBKIT_DOM_OBJECT(form), formWorld())
                            : nullptr;
#pragma GCC diagnostic pop
    // Only a form with files is kept: the rest go with WebKit's own body.
    JSCValue* builder = context ? jsc_context_get_value(context, kBuilderName) : nullptr;
    JSCValue* files = element && builder && jsc_value_is_function(builder)
                          ? jsc_value_function_call(builder, JSC_TYPE_VALUE, element, G_TYPE_DOUBLE,
                                                    0.0, G_TYPE_NONE)
                          : nullptr;
    const bool kept = files && jsc_value_to_boolean(files);
    if (files) g_object_unref(files);
    if (builder) g_object_unref(builder);
    if (kept) {
        sentForms()[id] = SentForm{context, element};
        return;
    }
    if (element) g_object_unref(element);
    if (context) g_object_unref(context);
}

bool captureFormRequest(WebKitWebPage* page, WebKitURIRequest* request) {
    const guint64 id = webkit_web_page_get_id(page);
    auto found = waiting().find(id);
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
        SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(request);
        const char* type =
            headers ? soup_message_headers_get_one(headers, "Content-Type") : nullptr;
        // Only a multipart body carries the files; the other encodings send their names.
        auto sent = sentForms().find(id);
        if (sent != sentForms().end() && headers && type &&
            g_ascii_strncasecmp(type, "multipart/form-data", 19) == 0) {
            if (auto built = buildBody(sent->second.context, sent->second.element)) {
                static guint64 numbers = 0;
                sendBody(page, ++numbers, *built);
                const std::string number = std::to_string(numbers);
                soup_message_headers_replace(headers, kFilesField, number.c_str());
            }
        }
        forgetForm(id);
        const std::string captured = kCapturePrefix + std::string(uri);
        webkit_uri_request_set_uri(request, captured.c_str());
        return true;
    }
    return false;
}
