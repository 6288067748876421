#include "platform/web/webkit/WebKitPageHistorySteps.h"

#include <fmt/format.h>

#include <cstring>
#include <memory>
#include <string>

#include "platform/foundation/Log.h"

namespace platform {
namespace {

constexpr const char* kNowhere =
    "WebKitGtkWebEngine takes no history step {} of the page: there is no entry there";
// Its History is not the one the page's script sees, nor are its methods.
constexpr const char* kStepWorld = "mv-history-steps";

// The extension's answer: the document stays, the client refused leaving it, it leaves.
enum StepAnswer : guint32 { kStays = 0, kRefused = 1, kLeaves = 2 };

// Answers the step once, kStays when it is dropped unanswered.
class StepReply {
  public:
    explicit StepReply(WebKitUserMessage* message)
        : message_(WEBKIT_USER_MESSAGE(g_object_ref(message))) {}
    ~StepReply() {
        send(kStays);
        g_object_unref(message_);
    }
    StepReply(const StepReply&) = delete;
    StepReply& operator=(const StepReply&) = delete;
    void send(StepAnswer answer) {
        if (sent_) return;
        sent_ = true;
        webkit_user_message_send_reply(
            message_, webkit_user_message_new("mv-history-step", g_variant_new("(u)", answer)));
    }

  private:
    WebKitUserMessage* message_;
    bool sent_ = false;
};

}  // namespace

bool WebKitPageHistorySteps::take(WebKitUserMessage* message) {
    const char* name = webkit_user_message_get_name(message);
    GVariant* body = webkit_user_message_get_parameters(message);
    if (!name || std::strcmp(name, "mv-history-step") != 0 || !body ||
        !g_variant_is_of_type(body, G_VARIANT_TYPE("(it)")))
        return false;
    gint32 step = 0;
    guint64 document = 0;
    g_variant_get(body, "(it)", &step, &document);
    auto reply = std::make_shared<StepReply>(message);
    WebKitBackForwardList* list = webkit_web_view_get_back_forward_list(view_);
    WebKitBackForwardListItem* target =
        list && step != 0 ? webkit_back_forward_list_get_nth_item(list, step) : nullptr;
    if (!target) {
        PLATFORM_LOG_VERBOSE(kNowhere, step);
        return true;
    }
    if (document_.holds(target)) {
        const std::string script = fmt::format("history.go({})", step);
        webkit_web_view_evaluate_javascript(view_, script.data(),
                                            static_cast<gssize>(script.size()), kStepWorld, nullptr,
                                            nullptr, nullptr, nullptr);
        return true;
    }
    leave_(webkit_back_forward_list_item_get_uri(target), step,
           [reply](bool leaves) { reply->send(leaves ? kLeaves : kRefused); });
    return true;
}

}  // namespace platform
