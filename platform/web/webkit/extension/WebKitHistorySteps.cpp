#include "platform/web/webkit/extension/WebKitHistorySteps.h"

#include <deque>
#include <memory>

namespace {

// What the view answers a step: the document stays (a step within it, or nowhere), the
// client refused leaving it, or the page leaves it.
enum StepAnswer : guint32 { kStays = 0, kRefused = 1, kLeaves = 2 };

// Steps of one document: one at the view at a time, a few waiting behind it; none after
// the page leaves for another document (a browser takes the first such step only).
struct StepQueue {
    bool atView = false;
    bool leaving = false;
    std::deque<int> waiting;
    static constexpr size_t kMaximumWaiting = 16;
};

struct StepSender {
    WebKitWebExtension* extension;
    guint64 page;
    guint64 document;
    std::shared_ptr<StepQueue> queue;
};

void send(const StepSender& sender, int step);

void onAnswer(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<StepSender> sender(static_cast<StepSender*>(data));
    GError* error = nullptr;
    WebKitUserMessage* reply =
        webkit_web_page_send_message_to_view_finish(WEBKIT_WEB_PAGE(source), result, &error);
    g_clear_error(&error);
    guint32 answer = kStays;
    GVariant* body = reply ? webkit_user_message_get_parameters(reply) : nullptr;
    if (body && g_variant_is_of_type(body, G_VARIANT_TYPE("(u)")))
        g_variant_get(body, "(u)", &answer);
    if (reply) g_object_unref(reply);
    StepQueue& queue = *sender->queue;
    queue.atView = false;
    if (answer != kStays) queue.waiting.clear();
    if (answer == kLeaves) queue.leaving = true;
    if (queue.waiting.empty()) return;
    const int next = queue.waiting.front();
    queue.waiting.pop_front();
    send(*sender, next);
}

void send(const StepSender& sender, int step) {
    WebKitWebPage* page = webkit_web_extension_get_page(sender.extension, sender.page);
    if (!page) return;
    sender.queue->atView = true;
    GVariant* body = g_variant_new("(it)", static_cast<gint32>(step), sender.document);
    webkit_web_page_send_message_to_view(page, webkit_user_message_new("mv-history-step", body),
                                         nullptr, onAnswer, new StepSender(sender));
}

// From the page's script: a step other than 0. The view reads the same message name and
// layout, and answers each.
void onStep(int step, gpointer data) {
    const auto* sender = static_cast<const StepSender*>(data);
    StepQueue& queue = *sender->queue;
    if (step == 0 || queue.leaving) return;
    if (!queue.atView) return send(*sender, step);
    if (queue.waiting.size() < StepQueue::kMaximumWaiting) queue.waiting.push_back(step);
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
            new StepSender{extension, webkit_web_page_get_id(page), document,
                           std::make_shared<StepQueue>()},
            [](gpointer data) { delete static_cast<StepSender*>(data); }, G_TYPE_NONE, 1,
            G_TYPE_INT);
        JSCValue* result = jsc_value_function_call(install, JSC_TYPE_VALUE, step, G_TYPE_NONE);
        if (result) g_object_unref(result);
        g_object_unref(step);
    }
    if (install) g_object_unref(install);
}
