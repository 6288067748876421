#pragma once
// The web process's half of a top frame's form submission: WebKit's navigation decisions
// carry no body, so the view, once it has let such a navigation go, asks for its request
// here ("mv-form-capture" with the address). The next request of the page to that address
// with a body-carrying method then goes to the capture scheme (the prefix "mv-form-" before
// the original address), whose handler in the view reads the body, the fields and the
// headers WebKit built and fetches the document itself.
//
// The view cannot read a multipart body holding a file from WebKit: for such a form the body
// is built here as WebKit builds it, from the entries the form gave its submission (its
// "formdata" event, seen in a script world of its own), with each file's bytes, and sent to
// the view ("mv-form-body") before the request; the request names it by the field
// kFilesField.
#include <webkit2/webkit-web-extension.h>

// Sees every frame's form entries from here on; once, as the extension starts.
void installFormCapture();
// Answers "mv-form-capture" messages; false for any other message.
bool takeFormCaptureMessage(WebKitWebPage* page, WebKitUserMessage* message);
// Notes the form about to be sent, whose body is built if its request is captured.
void noteFormFiles(WebKitWebPage* page, GObject* form, WebKitFrame* source);
// Sends a request to the capture scheme when the view asked for it.
bool captureFormRequest(WebKitWebPage* page, WebKitURIRequest* request);
