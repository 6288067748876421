#include "tests/support/TestPageLibrary.h"

#include "libmerovane/core/StringExtensions.h"

namespace testpage {

const std::string& libraryScript() {
    static const std::string script = R"JS(
var MVEvent = (function () {
  var received = [];
  var ready = false;
  // Calls made by one script share a turn: the count moves on once that script is over.
  var turn = 0, turnEnding = false;
  window.addEventListener('load', function () { ready = true; });
  return {
    received: received,
    isDocumentReady: function () { return ready; },
    setDocumentReady: function (value) { ready = !!value; },
    __call: function (name, params) {
      received.push({name: name, params: params, turn: turn});
      if (!turnEnding) {
        turnEnding = true;
        Promise.resolve().then(function () { turn++; turnEnding = false; });
      }
    },
    receivedJSON: function () {
      return JSON.stringify(received.map(function (e) { return {name: e.name, params: e.params}; }));
    }
  };
})();
var mvNextCommandSerial = 0;
// An engine may follow one navigation per task: sends wait in a queue and leave one per
// task, the next in a later task, once the engine has taken up the one before.
var mvSendQueue = [], mvSending = false;
function mvSendNext() {
  var next = mvSendQueue.shift();
  mvSending = next !== undefined;
  if (!mvSending) return;
  window.location.href = next;
  setTimeout(mvSendNext, 0);
}
function mvSendCommands(collection) {
  (collection.cmds || []).forEach(function (command) {
    if (command && typeof command === 'object' && !('s' in command)) command.s = mvNextCommandSerial++;
  });
  mvSendQueue.push('mvcmd:' + encodeURIComponent(JSON.stringify(collection)));
  if (!mvSending) mvSendNext();
}
)JS";
    return script;
}

std::string pageWithLibrary(const std::string& body, const std::string& head) {
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\">"
           "<script id=\"libmerovane\" src=\"data:text/javascript," +
           urlEncodedString(libraryScript()) + "\"></script>" + head + "</head><body>" + body +
           "</body></html>";
}

}  // namespace testpage
