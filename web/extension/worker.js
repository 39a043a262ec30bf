// The extension's worker: one native-messaging connection to the app's site
// host, shared by every frame. The origin of a call is the one the browser
// gives for the frame that sent it, never anything the page says. A frame
// that goes away (navigation, a closed tab) is told to the app, which
// answers what that frame still waits for.
"use strict";
const HOST = "app.orwenna.site";
let native = null;
let nextId = 1;
const routes = new Map();  // native id → { port, id }
const frames = new Map();  // port → frame key

const frameKey = (sender) => `${sender.tab ? sender.tab.id : -1}:${sender.frameId || 0}:${sender.documentId || ""}`;

const answerAll = (error) => {
  for (const { port, id } of routes.values()) {
    try { port.postMessage({ id, error }); } catch {}
  }
  routes.clear();
};

const ensureNative = () => {
  if (native) return native;
  native = chrome.runtime.connectNative(HOST);
  native.onMessage.addListener((m) => {
    const route = routes.get(m.id);
    if (!route) return;
    routes.delete(m.id);
    try { route.port.postMessage({ id: route.id, result: m.result, error: m.error }); } catch {}
  });
  native.onDisconnect.addListener(() => {
    native = null;
    answerAll("4900|orwenna isn't running.");
  });
  return native;
};

chrome.runtime.onConnect.addListener((port) => {
  if (port.name !== "orwenna" || !port.sender) return;
  const sender = port.sender;
  const frame = frameKey(sender);
  frames.set(port, frame);
  port.onMessage.addListener((m) => {
    const id = nextId++;
    routes.set(id, { port, id: m.id });
    try {
      ensureNative().postMessage({ id, frame, origin: sender.origin, method: m.method, params: m.params });
    } catch (e) {
      routes.delete(id);
      port.postMessage({ id: m.id, error: "4900|orwenna isn't running." });
    }
  });
  port.onDisconnect.addListener(() => {
    frames.delete(port);
    for (const [id, route] of routes) if (route.port === port) routes.delete(id);
    if (native) native.postMessage({ gone: frame });
  });
});
