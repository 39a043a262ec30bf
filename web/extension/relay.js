// Carries the page wallet's calls from this frame to the extension's worker
// and the replies back. The page script runs in the page's world and cannot
// reach the extension itself; this one runs beside it and can.
(() => {
  "use strict";
  let port = null;
  const connect = () => {
    port = chrome.runtime.connect({ name: "orwenna" });
    port.onMessage.addListener((reply) => {
      window.postMessage({ orwenna: "reply", id: reply.id, result: reply.result, error: reply.error }, "*");
    });
    port.onDisconnect.addListener(() => { port = null; });
  };
  window.addEventListener("message", (event) => {
    const d = event.data;
    if (event.source !== window || !d || d.orwenna !== "call") return;
    if (!port) connect();
    port.postMessage({ id: d.id, method: d.method, params: d.params });
  });
})();
