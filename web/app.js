// The page: renders the app's state and sends the user's actions. Every text
// from the chat, the model or a service is set as text, never as markup.
"use strict";

const T = {
  en: {
    newCanvas: "New canvas", activity: "Activity", plan: "Plan", cardTitle: "Waiting for your Confirm",
    confirm: "Confirm", cancel: "Cancel", send: "Send", stop: "Stop", placeholder: "Write a message…",
    thinking: "Reading…", executing: "Carrying it out…", offline: "Reconnecting…", noPlan: "No plan on this canvas yet.",
    waiting: "waiting", done: "done", failed: "failed", untitled: "New canvas", unfiled: "Canvases",
    typeCode: "code", noActivity: "Nothing yet.",
  },
  ru: {
    newCanvas: "Новый холст", activity: "Журнал", plan: "План", cardTitle: "Ждёт вашего подтверждения",
    confirm: "Подтвердить", cancel: "Отмена", send: "Отправить", stop: "Стоп", placeholder: "Напишите сообщение…",
    thinking: "Читаю…", executing: "Выполняю…", offline: "Переподключение…", noPlan: "На этом холсте пока нет плана.",
    waiting: "ждёт", done: "готово", failed: "не вышло", untitled: "Новый холст", unfiled: "Холсты",
    typeCode: "код", noActivity: "Пока пусто.",
  },
};

const $ = (id) => document.getElementById(id);
let state = null;
let lang = "en";
let refreshTimer = null;
let confirming = false;

function t(key) { return (T[lang] || T.en)[key] || T.en[key] || key; }

function el(tag, attrs, ...children) {
  const node = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs || {})) {
    if (v === undefined || v === null || v === false) continue;
    if (k === "class") node.className = v;
    else if (k === "text") node.textContent = v;
    else if (k.startsWith("on")) node.addEventListener(k.slice(2), v);
    else node.setAttribute(k, v === true ? "" : v);
  }
  for (const c of children) if (c) node.append(c);
  return node;
}

async function act(name, body) {
  const res = await fetch("/api/" + name, {
    method: "POST",
    credentials: "same-origin",
    headers: { "Content-Type": "application/json", "X-Orwenna-Action": "1" },
    body: JSON.stringify(body || {}),
  });
  let answer = {};
  try { answer = await res.json(); } catch (_) { /* an empty answer */ }
  if (!res.ok && answer.error) showNotice(answer.error);
  return { status: res.status, body: answer };
}

function showNotice(text) {
  $("status").textContent = text;
}

async function refresh() {
  refreshTimer = null;
  const res = await fetch("/api/state", { credentials: "same-origin", cache: "no-store" });
  if (res.status === 401) { location.reload(); return; }
  if (!res.ok) return;
  state = await res.json();
  render();
}

function scheduleRefresh() {
  if (refreshTimer === null) refreshTimer = setTimeout(refresh, 25);
}

function applyLanguage() {
  const next = state && state.language === "ru" ? "ru" : "en";
  if (next === lang && document.documentElement.lang === next) return;
  lang = next;
  document.documentElement.lang = lang;
  for (const node of document.querySelectorAll("[data-t]")) node.textContent = t(node.dataset.t);
  for (const node of document.querySelectorAll("[data-tp]")) node.setAttribute(node.dataset.tp, t(node.dataset.tp));
}

function renderCanvases() {
  const nav = $("canvases");
  nav.replaceChildren();
  const groups = new Map();
  for (const c of state.canvases || []) {
    const folder = c.folder || "";
    if (!groups.has(folder)) groups.set(folder, []);
    groups.get(folder).push(c);
  }
  for (const [folder, list] of groups) {
    if (folder) nav.append(el("div", { class: "folder", text: folder }));
    for (const c of list) {
      nav.append(el("button", {
        type: "button", class: c.parked ? "parked" : "", "aria-current": c.id === state.canvasID ? "true" : "false",
        text: c.title || t("untitled"), onclick: () => act("switchCanvas", { id: c.id }),
      }));
    }
  }
  const current = (state.canvases || []).find((c) => c.id === state.canvasID);
  $("canvas-title").textContent = current && current.title ? current.title : t("untitled");
}

function renderMessages() {
  const box = $("messages");
  const atBottom = box.scrollHeight - box.scrollTop - box.clientHeight < 40;
  box.replaceChildren();
  for (const m of state.messages || []) {
    const bubble = el("div", { class: m.fromUser ? "bubble user" : "bubble", text: m.shown || m.text });
    if (m.note) bubble.append(el("span", { class: "note", text: m.note }));
    box.append(bubble);
  }
  if (atBottom) box.scrollTop = box.scrollHeight;
}

function renderDraft(text) {
  const draft = $("draft");
  draft.hidden = !text;
  draft.textContent = text || "";
}

function renderOptions() {
  const box = $("options");
  box.replaceChildren();
  for (const o of state.options || []) {
    const button = el("button", {
      type: "button", class: o.recommended ? "recommended" : "",
      onclick: () => act("option", { text: o.command || o.title }),
    }, el("span", { text: o.title }));
    if (o.comment) button.append(el("span", { class: "comment", text: o.comment }));
    box.append(button);
  }
}

function renderCard() {
  const card = state.card;
  const box = $("card");
  box.hidden = !card;
  if (!card) return;
  box.dataset.status = card.status;
  const steps = $("card-steps");
  steps.replaceChildren();
  for (const s of card.steps || []) steps.append(el("li", { text: s.line }));
  if (!card.steps || card.steps.length === 0) steps.append(el("li", { text: card.command }));
  const waiting = card.status === "waiting";
  $("card-confirm").disabled = !waiting || confirming;
  $("card-cancel").disabled = !waiting;
  $("card-status").textContent = waiting ? "" : t(card.status) || card.status;
  box.dataset.id = card.id;
  box.dataset.version = card.version;
}

function renderBlocks() {
  const box = $("blocks");
  box.replaceChildren();
  const blocks = state.blocks || [];
  if (blocks.length === 0) { box.append(el("p", { class: "empty", text: t("noPlan") })); return; }
  for (const b of blocks) {
    const tone = b.status === "blocked" ? "bad" : (b.status === "warning" || b.status === "needsInput") ? "warn" : "";
    const block = el("section", { class: "block", "data-tone": tone || undefined, "data-block": b.id },
      el("h3", { text: b.label }));
    if (b.title) block.append(el("strong", { text: b.title }));
    for (const line of b.lines || []) block.append(el("p", { text: line }));
    box.append(block);
  }
}

function renderStatus() {
  const running = !!state.modelRunning;
  $("stop").hidden = !running;
  $("send").hidden = running;
  const words = state.executing ? t("executing") : (state.thinking || running) ? t("thinking") : "";
  $("status").textContent = words;
  if (typeof state.composer === "string" && state.composer && !$("input").value) $("input").value = state.composer;
}

function render() {
  applyLanguage();
  renderCanvases();
  renderMessages();
  renderDraft(state.draftReply);
  renderOptions();
  renderCard();
  renderBlocks();
  renderStatus();
}

function renderActivity() {
  const list = $("activity");
  list.replaceChildren();
  const entries = (state && state.activityLog) || [];
  if (entries.length === 0) list.append(el("li", { class: "empty", text: t("noActivity") }));
  for (const a of entries.slice().reverse()) {
    const item = el("li", {}, el("div", { class: "when", text: a.at || "" }), el("div", { text: a.title || a.request || "" }));
    const lines = a.lines || [];
    if (lines.length) {
      const ul = el("ul", { class: "lines" });
      for (const line of lines) ul.append(el("li", { text: typeof line === "string" ? line : line.text || "" }));
      item.append(ul);
    }
    list.append(item);
  }
}

function connect() {
  const source = new EventSource("/api/events");
  source.onmessage = (e) => {
    let event = null;
    try { event = JSON.parse(e.data); } catch (_) { return; }
    if (event && event.kind === "draft" && state) {
      state.draftReply = event.data && event.data.text || "";
      renderDraft(state.draftReply);
      return;
    }
    scheduleRefresh();
  };
  source.addEventListener("reload", scheduleRefresh);
  source.onopen = () => scheduleRefresh();
  source.onerror = () => showNotice(t("offline"));
}

function send() {
  const input = $("input");
  const text = input.value.trim();
  if (!text) return;
  input.value = "";
  autosize();
  act("send", { text });
}

function autosize() {
  const input = $("input");
  input.style.height = "auto";
  input.style.height = Math.min(input.scrollHeight, window.innerHeight * 0.4) + "px";
}

document.addEventListener("DOMContentLoaded", () => {
  $("composer").addEventListener("submit", (e) => { e.preventDefault(); send(); });
  $("input").addEventListener("keydown", (e) => {
    if (e.key === "Enter" && !e.shiftKey && !e.isComposing) { e.preventDefault(); send(); }
  });
  $("input").addEventListener("input", autosize);
  $("stop").addEventListener("click", () => act("stop"));
  $("new-canvas").addEventListener("click", () => act("newCanvas"));
  $("card-confirm").addEventListener("click", async () => {
    const box = $("card");
    if (confirming || box.hidden) return;
    // The card's id and version go with the click: a card replaced meanwhile is not confirmed.
    confirming = true;
    $("card-confirm").disabled = true;
    try { await act("confirm", { id: box.dataset.id, version: Number(box.dataset.version) }); }
    finally { confirming = false; scheduleRefresh(); }
  });
  $("card-cancel").addEventListener("click", () => act("cancel"));
  $("toggle-sidebar").addEventListener("click", () => $("app").classList.toggle("with-sidebar"));
  $("show-activity").addEventListener("click", () => { renderActivity(); $("activity-dialog").showModal(); });
  $("close-activity").addEventListener("click", () => $("activity-dialog").close());
  document.addEventListener("keydown", (e) => {
    if (e.key === "Escape" && state && state.modelRunning) act("stop");
  });
  connect();
  refresh();
});
