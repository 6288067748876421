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

  // A command goes to its address by the shell's channel where the page has it: it is the
  // sending document's, no page policy governs it, and nothing of the page's own (its load,
  // its navigation, its frames) notices it.
  //
  // Elsewhere it goes by a link into a hidden frame of the page's own, which
  // the engine takes up at once: also while the document loads, where an assignment to
  // location.href would stop the page's load (the rest of the document, its load event),
  // and beside the page's own navigation in the same task, before or after it, which a
  // navigation of the page's frame would replace or be replaced by. The link is in the
  // document for its click, so that the engine sees which document sends; the click goes
  // no further than the link.
  var frameName = 'mv-commands-' + Math.random().toString(36).slice(2);
  var frame = null;

  function commandTarget() {
    if (frame && frame.isConnected && frame.ownerDocument === document) return frameName;
    var parent = document.body || document.head || document.documentElement;
    if (!parent) return '_self';
    frame = document.createElement('iframe');
    frame.name = frameName;
    frame.title = '';
    frame.tabIndex = -1;
    frame.setAttribute('aria-hidden', 'true');
    frame.style.display = 'none';
    parent.appendChild(frame);
    return frameName;
  }

  var channel = typeof window.__mvCommandChannel === 'function' ? window.__mvCommandChannel : null;

  function navigate(url) {
    if (channel) {
      channel(url);
      return;
    }
    var link = document.createElement('a');
    link.href = url;
    link.target = commandTarget();
    link.addEventListener('click', function (event) { event.stopPropagation(); });
    var parent = document.body || document.documentElement;
    if (parent) parent.appendChild(link);
    link.click();
    if (parent) parent.removeChild(link);
  }

  window.mvSendCommands = function (collection) {
    if (!collection || !Array.isArray(collection.cmds) || collection.cmds.length === 0) return;
    collection.cmds.forEach(function (command) {
      if (command && typeof command === 'object' && !('s' in command)) command.s = nextSerial++;
    });
    navigate('mvcmd:' + encodeURIComponent(JSON.stringify(collection)));
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
