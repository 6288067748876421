#pragma once
// A page's alert(), confirm(), prompt() and its question before leaving, in WebKitGTK.
// Left to WebKit they wait for a user on a window no one sees: the page's script stops
// for good, and every synchronous script of the shell in it waits out its bound. Nothing
// in the shell answers a page's dialog (the page library speaks to the shell by commands,
// and the platform's alert has no field for a prompt's text), so each is closed at once
// with the answer a user's cancel gives (alert: closed, confirm: false, prompt: null) and
// a warning naming the page and the dialog's text. The question before leaving is answered
// "leave": the shell's own loads replace the page. Main thread only.

#include <webkit2/webkit2.h>

namespace platform {

// Connected to the view's "script-dialog"; answers every dialog before returning.
gboolean answerScriptDialog(WebKitWebView* view, WebKitScriptDialog* dialog, gpointer);

}  // namespace platform
