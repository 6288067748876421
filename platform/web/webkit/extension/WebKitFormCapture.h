#pragma once
// The web process's half of a top frame's form submission: WebKit's navigation decisions
// carry no body, so the view, once it has let such a navigation go, asks for its request
// here ("mv-form-capture" with the address). The next request of the page to that address
// with a body-carrying method then goes to the capture scheme (the prefix "mv-form-" before
// the original address), whose handler in the view reads the body, the fields and the
// headers WebKit built and fetches the document itself.
#include <webkit2/webkit-web-extension.h>

// Answers "mv-form-capture" messages; false for any other message.
bool takeFormCaptureMessage(WebKitWebPage* page, WebKitUserMessage* message);
// Notes whether the form about to be sent holds a file: the view cannot read a file's part
// of the body WebKit built, and is told so by the field kFilesField on the capture.
void noteFormFiles(WebKitWebPage* page, GObject* form, WebKitFrame* source);
// Sends a request to the capture scheme when the view asked for it.
bool captureFormRequest(WebKitWebPage* page, WebKitURIRequest* request);
