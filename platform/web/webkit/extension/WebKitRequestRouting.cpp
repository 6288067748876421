// Loaded by WebKit into its web process. WebKit keeps http and https to itself, so a
// page's sub-resources would never reach URL loading; this hands them over: a GET that
// a page makes without CORS (images, classic scripts, style sheets, media) is sent to
// the routing scheme, the prefix (given as the initialization data) before the
// original address, which the engine's scheme handler strips again. Documents,
// frames, XHR and fetch (navigate, cors and same-origin modes) stay WebKit's, so that
// same-origin rules see the page's own server. Plain http pages of other hosts than
// the loopback get only their images and style sheets routed (see onSendRequest).
//
//
// It also tells the view, before WebKit asks the view about it, which frame a link or a
// form sends to another address: WebKit's navigation decisions do not say. A click on a
// link (in a script world of its own, in every frame) and a form's submission are noted
// as they happen, with the frame they navigate (the top frame or another) and the
// document they come from (the top frame's or another's); the note reaches the view ahead
// of WebKit's decision. A script's navigation (location, a frame's own redirect) leaves no
// note.
//
// And it answers the view whether a document is going to a frame: every frame of the page
// is known here as its document is made, of whatever origin, and each looks at its own
// frame elements in the note world (a page cannot reach into a frame of another origin).
//
// And it gives the top frame's page script a channel for its commands that no page policy
// governs (a page's Content-Security-Policy may refuse "mvcmd:" frames): the non-writable
// window.__mvCommandChannel(address), which sends the "mvcmd:" address to the view with
// its document. Only the top document commands: no other frame gets the channel, and the
// view's own policy refuses a frame's navigation to "mvcmd:", which each document notes
// once, when its policy refuses one of its frames, to the view.
//
// Built without the sanitizers: it runs inside WebKit's own process.
#include <webkit2/webkit-web-extension.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/web/webkit/extension/WebKitFormCapture.h"
#include "platform/web/webkit/extension/WebKitHistorySteps.h"

namespace {

std::string gRoutingPrefix;
WebKitWebExtension* gExtension = nullptr;
WebKitScriptWorld* gNoteWorld = nullptr;
// Numbers every document a frame shows in this process, from 1.
guint64 gDocuments = 0;

// A navigation the page is about to make: its address, whether it goes to the top frame,
// whether the document it comes from is the top frame's, and that document. The view reads
// the same message name and layout.
void sendNote(guint64 pageID, const char* address, bool topFrame, bool fromTopFrame,
              guint64 document) {
    WebKitWebPage* page = gExtension ? webkit_web_extension_get_page(gExtension, pageID) : nullptr;
    if (!page || !address) return;
    GVariant* body = g_variant_new("(sbbt)", address, topFrame, fromTopFrame, document);
    webkit_web_page_send_message_to_view(page, webkit_user_message_new("mv-navigation", body),
                                         nullptr, nullptr, nullptr);
}

struct FrameOfNote {
    guint64 page;
    bool mainFrame;
    bool parentIsTop;
    guint64 document;
};

// From the click listener: the link's address and where it goes ("self", "top", "parent",
// or "named": a frame by its name, which is not the top one; a new window the view
// refuses).
void onLinkClicked(const char* address, const char* where, gpointer data) {
    const auto* frame = static_cast<const FrameOfNote*>(data);
    if (!where) return;
    bool top = false;
    if (std::strcmp(where, "self") == 0)
        top = frame->mainFrame;
    else if (std::strcmp(where, "top") == 0)
        top = true;
    else if (std::strcmp(where, "parent") == 0)
        top = frame->mainFrame || frame->parentIsTop;
    else if (std::strcmp(where, "named") != 0)
        return;
    sendNote(frame->page, address, top, frame->mainFrame, frame->document);
}

// Sees every click first (capture on the window), also on a link out of the document
// that is given to it for the click. Its own script world: the page cannot reach it.
constexpr const char* kLinkListener =
    "(function (note) {"
    " function where(link) {"
    "  var t = link.getAttribute('target');"
    "  if (!t) { var b = document.querySelector('base[target]'); t = b ? b.getAttribute('target') "
    ": ''; }"
    "  t = String(t || '');"
    "  if (t !== '' && t === window.name) return 'self';"
    "  t = t.toLowerCase();"
    "  return t === '' || t === '_self' ? 'self' : t === '_top' ? 'top'"
    "   : t === '_parent' ? 'parent' : t === '_blank' ? '' : 'named';"
    " }"
    " addEventListener('click', function (event) {"
    "  for (var n = event.target; n; n = n.parentNode) {"
    "   if ((n.localName === 'a' || n.localName === 'area') && n.hasAttribute('href')) {"
    "    note(n.href, where(n)); return; }"
    "  }"
    " }, true);"
    "})";

// A document whose policy refused a frame's navigation to a page command: told to the view
// once.
struct RefusingDocument {
    guint64 page;
    guint64 document;
    bool told = false;
};

void onFrameCommandRefused(gpointer data) {
    auto* refusing = static_cast<RefusingDocument*>(data);
    WebKitWebPage* page =
        gExtension ? webkit_web_extension_get_page(gExtension, refusing->page) : nullptr;
    if (!page || refusing->told) return;
    refusing->told = true;
    webkit_web_page_send_message_to_view(
        page, webkit_user_message_new("mv-frame-command", g_variant_new("(t)", refusing->document)),
        nullptr, nullptr, nullptr);
}

constexpr const char* kRefusalListener =
    "(function (refused) {"
    " addEventListener('securitypolicyviolation', function (event) {"
    "  if (String(event.blockedURI).slice(0, 5).toLowerCase() === 'mvcmd') refused();"
    " }, true);"
    "})";

// Every document gets a policy of its own beside the page's that keeps its frames from
// "mvcmd:": WebKit checks a frame's navigation, a script's too, against its parent
// document's frame-src, and tells the view nothing that would set it apart from the top
// frame's. Every other address a frame may show stays allowed. The element goes first
// into the head as soon as the parser has made it (a script of the document runs only
// after the mutation is told), and the observer ends with the document's parsing.
constexpr const char* kFramePolicy =
    "(function () {"
    " var d = document;"
    " function put() {"
    "  if (!d.head) return false;"
    "  var m = d.createElement('meta');"
    "  m.httpEquiv = 'Content-Security-Policy';"
    "  m.content = \"frame-src * data: blob: filesystem: about: javascript: mailto: tel: sms: \" +"
    "   \"mv-form-http: mv-form-https: mvapi:\";"
    "  d.head.insertBefore(m, d.head.firstChild);"
    "  return true;"
    " }"
    " if (put()) return;"
    " var o = new MutationObserver(function () { if (put()) o.disconnect(); });"
    " o.observe(d, {childList: true, subtree: true});"
    " d.addEventListener('DOMContentLoaded', function () { o.disconnect(); }, true);"
    "})();";

void callWith(JSCContext* context, const char* script, JSCValue* argument) {
    JSCValue* install = jsc_context_evaluate(context, script, -1);
    if (install && jsc_value_is_function(install)) {
        JSCValue* result = jsc_value_function_call(install, JSC_TYPE_VALUE, argument, G_TYPE_NONE);
        if (result) g_object_unref(result);
    }
    if (install) g_object_unref(install);
}

// Every frame a document was made in, with its page's id, until it is finalized.
std::map<WebKitFrame*, guint64>& knownFrames() {
    static auto* frames = new std::map<WebKitFrame*, guint64>;
    return *frames;
}

void knowFrame(WebKitFrame* frame, guint64 page) {
    if (!knownFrames().emplace(frame, page).second) return;
    g_object_weak_ref(
        G_OBJECT(frame),
        [](gpointer, GObject* gone) { knownFrames().erase(reinterpret_cast<WebKitFrame*>(gone)); },
        nullptr);
}

void onWindowObjectCleared(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame,
                           gpointer) {
    knowFrame(frame, webkit_web_page_get_id(page));
    JSCContext* context = webkit_frame_get_js_context_for_script_world(frame, world);
    if (!context) return;
    auto* ofNote = new FrameOfNote{webkit_web_page_get_id(page),
                                   webkit_frame_is_main_frame(frame) != FALSE, false, ++gDocuments};
    g_object_set_data(G_OBJECT(frame), "mv-document",
                      GSIZE_TO_POINTER(static_cast<gsize>(ofNote->document)));
    JSCValue* parentIsTop = jsc_context_evaluate(
        context, "window.parent === window.top && window.parent !== window", -1);
    ofNote->parentIsTop = parentIsTop && jsc_value_to_boolean(parentIsTop);
    if (parentIsTop) g_object_unref(parentIsTop);
    JSCValue* note = jsc_value_new_function(
        context, nullptr, G_CALLBACK(onLinkClicked), ofNote,
        [](gpointer data) { delete static_cast<FrameOfNote*>(data); }, G_TYPE_NONE, 2,
        G_TYPE_STRING, G_TYPE_STRING);
    const guint64 document = ofNote->document;
    callWith(context, kLinkListener, note);
    g_object_unref(note);
    JSCValue* refused = jsc_value_new_function(
        context, nullptr, G_CALLBACK(onFrameCommandRefused),
        new RefusingDocument{webkit_web_page_get_id(page), document},
        [](gpointer data) { delete static_cast<RefusingDocument*>(data); }, G_TYPE_NONE, 0);
    callWith(context, kRefusalListener, refused);
    g_object_unref(refused);
    JSCValue* policy = jsc_context_evaluate(context, kFramePolicy, -1);
    if (policy) g_object_unref(policy);
    g_object_unref(context);
}

struct CommandSender {
    guint64 page;
    bool mainFrame;
    guint64 document;
};

// From the page's script: a command's address, sent in the order the page calls.
void onCommand(const char* address, gpointer data) {
    const auto* sender = static_cast<const CommandSender*>(data);
    WebKitWebPage* page =
        gExtension ? webkit_web_extension_get_page(gExtension, sender->page) : nullptr;
    if (!page || !address) return;
    GVariant* body = g_variant_new("(sbt)", address, sender->mainFrame, sender->document);
    webkit_web_page_send_message_to_view(page, webkit_user_message_new("mv-command", body), nullptr,
                                         nullptr, nullptr);
}

// Each new document of the top frame gets the channel in the page's own script world.
void onPageWorldCleared(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame,
                        gpointer) {
    if (!webkit_frame_is_main_frame(frame)) return;
    JSCContext* context = webkit_frame_get_js_context_for_script_world(frame, world);
    if (!context) return;
    auto* sender = new CommandSender{webkit_web_page_get_id(page),
                                     webkit_frame_is_main_frame(frame) != FALSE, ++gDocuments};
    JSCValue* send = jsc_value_new_function(
        context, "__mvCommandChannel", G_CALLBACK(onCommand), sender,
        [](gpointer data) { delete static_cast<CommandSender*>(data); }, G_TYPE_NONE, 1,
        G_TYPE_STRING);
    JSCValue* global = jsc_context_get_global_object(context);
    // Not writable, enumerable or configurable: the page cannot put another in its place.
    jsc_value_object_define_property_data(global, "__mvCommandChannel",
                                          static_cast<JSCValuePropertyFlags>(0), send);
    takeHistorySteps(gExtension, page, context, sender->document);
    g_object_unref(global);
    g_object_unref(send);
    g_object_unref(context);
}

// A form about to be submitted, with the frame it goes to. Its address is not told here:
// the note stands for the page's next form submission.
void onWillSubmitForm(WebKitWebPage* page, GObject* form, WebKitFormSubmissionStep step,
                      WebKitFrame* source, WebKitFrame* target, GPtrArray*, GPtrArray*, gpointer) {
    // Only a form the top frame sends is captured: another frame's form sent meanwhile
    // must not take its place.
    WebKitFrame* goesTo = target ? target : source;
    if (step == WEBKIT_FORM_SUBMISSION_WILL_COMPLETE && goesTo &&
        webkit_frame_is_main_frame(goesTo))
        noteFormFiles(page, form, source);
    // WebKit tells the first step before its decision (the second comes after it); a
    // form sent by script has no submit event, and a refused one has no decision.
    if (step != WEBKIT_FORM_SUBMISSION_WILL_SEND_DOM_EVENT || !target) return;
    const auto document = static_cast<guint64>(
        GPOINTER_TO_SIZE(source ? g_object_get_data(G_OBJECT(source), "mv-document") : nullptr));
    sendNote(webkit_web_page_get_id(page), "", webkit_frame_is_main_frame(target) != FALSE,
             source && webkit_frame_is_main_frame(source) != FALSE, document);
}

bool startsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

gboolean onSendRequest(WebKitWebPage* page, WebKitURIRequest* request,
                       WebKitURIResponse* redirected, gpointer) {
    if (!redirected && captureFormRequest(page, request)) return FALSE;
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

std::string withoutFragment(const char* address) {
    std::string text = address ? address : "";
    return text.substr(0, text.find('#'));
}

// How many of a document's frame elements have `target` as their source, fragments aside;
// -1 when it has frames and `target` is where a frame starts ("about:blank", "about:srcdoc").
constexpr const char* kFrameElementCount =
    "(function (target) {"
    " function base(address) { return String(address).split('#')[0]; }"
    " target = base(target);"
    " var frames = document.querySelectorAll('iframe, frame');"
    " if (frames.length > 0 && (target === 'about:blank' || target === 'about:srcdoc'))"
    "  return -1;"
    " var count = 0;"
    " for (var i = 0; i < frames.length; i++)"
    "  if (frames[i].src && base(frames[i].src) === target) count++;"
    " return count;"
    "})";

int frameElementCount(WebKitFrame* frame, const std::string& target) {
    JSCContext* context = webkit_frame_get_js_context_for_script_world(frame, gNoteWorld);
    if (!context) return 0;
    int count = 0;
    JSCValue* count_of = jsc_context_evaluate(context, kFrameElementCount, -1);
    if (count_of && jsc_value_is_function(count_of)) {
        JSCValue* result =
            jsc_value_function_call(count_of, G_TYPE_STRING, target.c_str(), G_TYPE_NONE);
        if (result && jsc_value_is_number(result)) count = jsc_value_to_int32(result);
        if (result) g_object_unref(result);
    }
    if (count_of) g_object_unref(count_of);
    g_object_unref(context);
    return count;
}

// Whether a frame element of any of the page's documents has `target` as its source and
// more of them have it than frames show it already: a navigation to it is a frame's.
bool goesToAFrame(WebKitWebPage* page, const std::string& target) {
    int elements = 0;
    int showing = 0;
    const guint64 pageID = webkit_web_page_get_id(page);
    // Held while their documents are asked: nothing asked may change the frames known.
    std::vector<WebKitFrame*> frames;
    for (const auto& [frame, ofPage] : knownFrames()) {
        if (ofPage == pageID) frames.push_back(WEBKIT_FRAME(g_object_ref(frame)));
    }
    bool starts = false;
    for (WebKitFrame* frame : frames) {
        const int count = starts ? 0 : frameElementCount(frame, target);
        starts = starts || count < 0;
        elements += std::max(count, 0);
        if (!webkit_frame_is_main_frame(frame) &&
            withoutFragment(webkit_frame_get_uri(frame)) == target)
            ++showing;
        g_object_unref(frame);
    }
    return starts || elements > showing;
}

gboolean onUserMessage(WebKitWebPage* page, WebKitUserMessage* message, gpointer) {
    if (takeFormCaptureMessage(page, message)) return TRUE;
    const char* name = webkit_user_message_get_name(message);
    GVariant* body = webkit_user_message_get_parameters(message);
    if (!name || std::strcmp(name, "mv-frame-target") != 0 || !body ||
        !g_variant_is_of_type(body, G_VARIANT_TYPE("(s)")))
        return FALSE;
    const char* address = nullptr;
    g_variant_get(body, "(&s)", &address);
    const bool frame = goesToAFrame(page, withoutFragment(address));
    webkit_user_message_send_reply(
        message, webkit_user_message_new("mv-frame-target", g_variant_new("(b)", frame)));
    return TRUE;
}

void onPageCreated(WebKitWebExtension*, WebKitWebPage* page, gpointer) {
    g_signal_connect(page, "send-request", G_CALLBACK(onSendRequest), nullptr);
    g_signal_connect(page, "will-submit-form", G_CALLBACK(onWillSubmitForm), nullptr);
    g_signal_connect(page, "user-message-received", G_CALLBACK(onUserMessage), nullptr);
}

}  // namespace

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize_with_user_data(
    WebKitWebExtension* extension, const GVariant* data) {
    auto* value = const_cast<GVariant*>(data);
    if (value && g_variant_is_of_type(value, G_VARIANT_TYPE_STRING))
        gRoutingPrefix = g_variant_get_string(value, nullptr);
    gExtension = extension;
    installFormCapture();
    gNoteWorld = webkit_script_world_new_with_name("mv-notes");
    g_signal_connect(gNoteWorld, "window-object-cleared", G_CALLBACK(onWindowObjectCleared),
                     nullptr);
    g_signal_connect(webkit_script_world_get_default(), "window-object-cleared",
                     G_CALLBACK(onPageWorldCleared), nullptr);
    g_signal_connect(extension, "page-created", G_CALLBACK(onPageCreated), nullptr);
}
