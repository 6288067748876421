// The sample shop's page library: the page's side of the command bridge.
//
//   MVEvent.on('dataResponse', function (params) { ... });   // params: the event's array
//   mvSendCommands({ver: '2.0', cmds: [{c: 'openPage', p: {src: 'mvapi:products'}}]});
//
// The application asks MVEvent.isDocumentReady() before it sends events, and delivers
// each event as MVEvent.__call(name, params). Once the page has loaded, it sends the
// collection in <script type="application/json" id="mv-load-commands">: a page's
// "onload" command there is its half of the application's onload latch, which shows
// the page.
(function () {
  'use strict';
  var handlers = {};
  var ready = false;
  var nextSerial = 0;
  // A navigation per task: the engine may follow only one, so sends wait in a queue.
  var queue = [];
  var sending = false;

  // The page's own frame goes to the command's address. While the document loads it goes
  // by a link, which the engine takes up as the load goes on: an assignment to
  // location.href then would stop the page's load (the rest of the document, its load
  // event).
  function navigate(url) {
    if (document.readyState === 'complete') {
      window.location.href = url;
      return;
    }
    var link = document.createElement('a');
    link.href = url;
    link.target = '_self';
    link.click();
  }

  function sendNext() {
    var next = queue.shift();
    sending = next !== undefined;
    if (!sending) return;
    navigate(next);
    setTimeout(sendNext, 0);
  }

  window.mvSendCommands = function (collection) {
    if (!collection || !Array.isArray(collection.cmds) || collection.cmds.length === 0) return;
    collection.cmds.forEach(function (command) {
      if (command && typeof command === 'object' && !('s' in command)) command.s = nextSerial++;
    });
    queue.push('mvcmd:' + encodeURIComponent(JSON.stringify(collection)));
    if (!sending) sendNext();
  };

  window.MVEvent = {
    isDocumentReady: function () { return ready; },
    on: function (name, handler) {
      (handlers[name] = handlers[name] || []).push(handler);
    },
    __call: function (name, params) {
      (handlers[name] || []).forEach(function (handler) {
        try {
          handler(params || []);
        } catch (error) {
          console.error('MVEvent ' + name + ': ' + error);
        }
      });
    }
  };

  function loaded() {
    ready = true;
    var block = document.getElementById('mv-load-commands');
    if (!block) return;
    try {
      window.mvSendCommands(JSON.parse(block.textContent));
    } catch (error) {
      console.error('mv-load-commands: ' + error);
    }
  }

  if (document.readyState === 'complete') {
    setTimeout(loaded, 0);
  } else {
    window.addEventListener('load', loaded);
  }
})();
