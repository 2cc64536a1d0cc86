// A minimal page: shows the active project and the last events the native side sent.
(function () {
  const list = document.getElementById('events');
  const project = document.getElementById('project');

  function show(event) {
    if (event.type === 'project/activate') {
      project.textContent = event.payload.name + ' — ' + event.payload.rootPath;
    }
    const item = document.createElement('li');
    item.textContent = event.type;
    list.prepend(item);
    while (list.children.length > 20) list.lastChild.remove();
  }

  window.__pelko__ = { dispatch: show };
  (window.__pelkoPendingEvents || []).forEach(show);
  window.__pelkoPendingEvents = [];
  window.webkit.messageHandlers.pelko.postMessage({ type: 'app/config/request' });
})();
