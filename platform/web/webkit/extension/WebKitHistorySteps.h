#pragma once
// The top document's own steps through its session history (history.back(), forward(),
// go(n) with n other than 0) go to the view, which takes them itself: a step left to the
// document's navigation scheduler waits for a later task, and the document's next location
// change (a page command sent every task) takes its place, so that the page never leaves.
// go(0), a call on another History object and every other frame's history stay WebKit's;
// a frame of another origin cannot reach the top document's history at all.
// A document has one step at the view at a time and at most 16 waiting behind it; once
// the view answers that the page leaves for another document, its later steps are dropped
// (a browser takes the first step to another document only).
#include <webkit2/webkit-web-extension.h>

// Puts the steps in place for the top frame's new document, in `context` (the page's own
// script world); the view is told each step with `document`.
void takeHistorySteps(WebKitWebExtension* extension, WebKitWebPage* page, JSCContext* context,
                      guint64 document);
