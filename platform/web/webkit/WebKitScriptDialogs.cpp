#include "platform/web/webkit/WebKitScriptDialogs.h"

#include <string_view>

#include "platform/foundation/Log.h"

namespace platform {
namespace {

constexpr const char* kClosed =
    "WebKitGtkWebEngine closed the page's {} with the cancel answer [{}]: \"{}\"";
constexpr const char* kLeft =
    "WebKitGtkWebEngine let the page go without its question before leaving [{}]: \"{}\"";

const char* kindOf(WebKitScriptDialogType type) {
    switch (type) {
        case WEBKIT_SCRIPT_DIALOG_ALERT:
            return "alert";
        case WEBKIT_SCRIPT_DIALOG_CONFIRM:
            return "confirm";
        case WEBKIT_SCRIPT_DIALOG_PROMPT:
            return "prompt";
        case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM:
            return "question before leaving";
    }
    return "dialog";
}

}  // namespace

gboolean answerScriptDialog(WebKitWebView* view, WebKitScriptDialog* dialog, gpointer) {
    const WebKitScriptDialogType type = webkit_script_dialog_get_dialog_type(dialog);
    const char* page = webkit_web_view_get_uri(view);
    const char* text = webkit_script_dialog_get_message(dialog);
    const std::string address = log::escaped(page ? page : "");
    const std::string message = log::escaped(text ? text : "");
    if (type == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM) {
        webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);
        PLATFORM_LOG_WARN(kLeft, address, message);
        return TRUE;
    }
    // A confirm left unset is false; a prompt given no text answers null.
    if (type == WEBKIT_SCRIPT_DIALOG_CONFIRM)
        webkit_script_dialog_confirm_set_confirmed(dialog, FALSE);
    PLATFORM_LOG_WARN(kClosed, kindOf(type), address, message);
    return TRUE;
}

}  // namespace platform
