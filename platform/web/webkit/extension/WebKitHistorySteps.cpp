#include "platform/web/webkit/extension/WebKitHistorySteps.h"

namespace {

struct StepSender {
    WebKitWebExtension* extension;
    guint64 page;
    guint64 document;
};

// From the page's script: a step other than 0. The view reads the same message name and
// layout.
void onStep(int step, gpointer data) {
    const auto* sender = static_cast<const StepSender*>(data);
    WebKitWebPage* page = webkit_web_extension_get_page(sender->extension, sender->page);
    if (!page || step == 0) return;
    GVariant* body = g_variant_new("(it)", static_cast<gint32>(step), sender->document);
    webkit_web_page_send_message_to_view(page, webkit_user_message_new("mv-history-step", body),
                                         nullptr, nullptr, nullptr);
}

// The document's own History object is the one taken; the step is WebIDL's long (ToInt32).
// The originals stay in the closure, out of the page's reach.
constexpr const char* kHistorySteps =
    "(function (step) {"
    " var own = window.history, P = History.prototype;"
    " var originals = {back: P.back, forward: P.forward, go: P.go};"
    " function take(name, self, args, n) {"
    "  if (self !== own || n === 0) return originals[name].apply(self, args);"
    "  step(n);"
    " }"
    " P.back = function back() { return take('back', this, arguments, -1); };"
    " P.forward = function forward() { return take('forward', this, arguments, 1); };"
    " P.go = function go(delta) {"
    "  return take('go', this, arguments, delta === undefined ? 0 : delta | 0); };"
    "})";

}  // namespace

void takeHistorySteps(WebKitWebExtension* extension, WebKitWebPage* page, JSCContext* context,
                      guint64 document) {
    JSCValue* install = jsc_context_evaluate(context, kHistorySteps, -1);
    if (install && jsc_value_is_function(install)) {
        JSCValue* step = jsc_value_new_function(
            context, nullptr, G_CALLBACK(onStep),
            new StepSender{extension, webkit_web_page_get_id(page), document},
            [](gpointer data) { delete static_cast<StepSender*>(data); }, G_TYPE_NONE, 1,
            G_TYPE_INT);
        JSCValue* result = jsc_value_function_call(install, JSC_TYPE_VALUE, step, G_TYPE_NONE);
        if (result) g_object_unref(result);
        g_object_unref(step);
    }
    if (install) g_object_unref(install);
}
