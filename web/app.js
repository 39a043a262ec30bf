// The page: renders the app's state and sends the user's actions. Every text
// from the chat, the model or a service is set as text, never as markup.
"use strict";

const T = {
  en: {
    newCanvas: "New canvas", activity: "Activity", plan: "Plan", cardTitle: "Waiting for your Confirm",
    confirm: "Confirm", cancel: "Cancel", send: "Send", stop: "Stop", placeholder: "Write a message…",
    thinking: "Reading…", executing: "Carrying it out…", offline: "Reconnecting…", noPlan: "No plan on this canvas yet.",
    waiting: "waiting", done: "done", failed: "failed", untitled: "New canvas", unfiled: "Canvases",
    typeCode: "code", noActivity: "Nothing yet.", lock: "Lock", settings: "Settings", tabModel: "Model",
    tabRisk: "Risk", tabBook: "Address book", tabSigner: "Signer", tabEndpoints: "Endpoints", noModel: "No model",
    use: "Use", connected: "connected", notConnected: "not connected", save: "Save", saved: "Saved.", keyPlaceholder: "API key", connect: "Connect",
    signingIn: "Finish signing in in the browser window that opened.",
    maxRiskPct: "Largest loss per trade, % of capital", defaultRiskPct: "Risk when none is named, %",
    minRewardRisk: "Least reward to risk", defaultRewardRisk: "Take-profit multiple", maxLeverage: "Leverage cap",
    atrStopMultiple: "Stop distance, × ATR", maxOpenRiskPct: "All open positions at their stops, % of capital",
    noAddresses: "No saved addresses.", sessionLength: "One approval covers", minutes: "min", noSession: "one move",
    testnet: "Hyperliquid testnet (no real money)", chart: "Chart", localSetup: "Set up a model on this machine",
    board: "Alerts and schedules", rises: "RISES", falls: "FALLS", watching: "watching", away: "% away",
    remove: "Remove", nextRun: "next", every: "every", because: "only if",
  },
  ru: {
    newCanvas: "Новый холст", activity: "Журнал", plan: "План", cardTitle: "Ждёт вашего подтверждения",
    confirm: "Подтвердить", cancel: "Отмена", send: "Отправить", stop: "Стоп", placeholder: "Напишите сообщение…",
    thinking: "Читаю…", executing: "Выполняю…", offline: "Переподключение…", noPlan: "На этом холсте пока нет плана.",
    waiting: "ждёт", done: "готово", failed: "не вышло", untitled: "Новый холст", unfiled: "Холсты",
    typeCode: "код", noActivity: "Пока пусто.", lock: "Заблокировать", settings: "Настройки", tabModel: "Модель",
    tabRisk: "Риск", tabBook: "Адреса", tabSigner: "Подпись", tabEndpoints: "Адреса сервисов", noModel: "Нет модели",
    use: "Выбрать", connected: "подключена", notConnected: "не подключена", save: "Сохранить", keyPlaceholder: "Ключ API", connect: "Подключить",
    signingIn: "Завершите вход в открывшемся окне браузера.",
    saved: "Сохранено.", maxRiskPct: "Наибольший убыток на сделку, % капитала", defaultRiskPct: "Риск по умолчанию, %",
    minRewardRisk: "Наименьшее отношение прибыли к риску", defaultRewardRisk: "Множитель тейк-профита",
    maxLeverage: "Предел плеча", atrStopMultiple: "Стоп, × ATR", maxOpenRiskPct: "Все открытые позиции на стопах, % капитала",
    noAddresses: "Сохранённых адресов нет.", sessionLength: "Одно подтверждение действует", minutes: "мин",
    noSession: "на одно действие", testnet: "Тестовая сеть Hyperliquid (без настоящих денег)", chart: "График",
    localSetup: "Установить модель на этот компьютер",
    board: "Алерты и расписание", rises: "ВЫРАСТЕТ", falls: "УПАДЁТ", watching: "слежу", away: "% до уровня",
    remove: "Убрать", nextRun: "дальше", every: "каждые", because: "только если",
  },
};

const $ = (id) => document.getElementById(id);
let state = null;
let lang = "en";
let refreshTimer = null;
let streamOpen = false;
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
  // Marks a page whose stream is open and whose state is current: events from now on are not missed.
  if (streamOpen) document.body.dataset.live = "1";
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

function renderModel() {
  $("model-name").textContent = state.model || t("noModel");
}

function render() {
  applyLanguage();
  renderModel();
  renderCanvases();
  renderMessages();
  renderDraft(state.draftReply);
  renderOptions();
  renderCard();
  renderBlocks();
  renderStatus();
  renderSiteSheet();
  renderBoard();
}

// The armed alerts and scheduled tasks, each with its remove button.
function renderBoard() {
  const board = (state && state.automations) || null;
  const list = $("board-list");
  list.replaceChildren();
  const alerts = (board && board.alerts) || [];
  const tasks = (board && board.tasks) || [];
  $("board").hidden = alerts.length === 0 && tasks.length === 0;
  const remove = (action, id) => el("button", {
    class: "ghost small", type: "button", text: t("remove"), "data-id": id,
    onclick: async () => { await act(action, { id }); scheduleRefresh(); },
  });
  for (const a of alerts) {
    const side = a.side === "RISES" ? "rises" : "falls";
    const away = a.away === null || a.away === undefined ? t("watching") : t("watching") + " · " + a.away + t("away");
    list.append(el("li", { class: "board-item alert", "data-kind": "alert" },
      el("span", { class: "side " + side, text: t(side) }),
      el("span", { class: "what", text: a.coin + " " + a.price }),
      el("span", { class: "meta", text: away }),
      a.steps && a.steps.length ? el("span", { class: "meta", text: "→ " + a.steps.join(", ") }) : null,
      remove("removeAlert", a.id)));
  }
  for (const k of tasks) {
    const when = (k.every ? t("every") + " " + k.every + " · " : "") + t("nextRun") + " " + k.next;
    list.append(el("li", { class: "board-item task", "data-kind": "task" },
      el("span", { class: "side clock", text: "⏰" }),
      el("span", { class: "what", text: k.steps.join(", ") }),
      el("span", { class: "meta", text: when + (k.because ? " · " + t("because") + " " + k.because : "") }),
      remove("removeTask", k.id)));
  }
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

// ---- charts ------------------------------------------------------------------

async function showCommand(command) {
  const pnl = /^pnl(?:\s+(day|week|month|all))?(?:\s+(\S+))?/i.exec(command || "");
  if (pnl) {
    const answer = await act("pnl", { period: (pnl[1] || "day").toLowerCase(), coin: pnl[2] || "" });
    if (answer.status !== 200) return;
    drawPnL(answer.body);
    $("app").classList.add("with-panel");
    return;
  }
  const token = /^(?:show|chart)\s+token\s+(\S+)/i.exec(command || "");
  if (token) {
    const answer = await act("tokenChart", { address: token[1] });
    if (answer.status !== 200) return showNotice(answer.body.error || "");
    drawChart(answer.body);
    $("app").classList.add("with-panel");
    return;
  }
  const match = /^chart\s+(\S+)(?:\s+(week|month))?/i.exec(command || "");
  if (!match) return;
  const answer = await act("candles", { coin: match[1], range: (match[2] || "day").toLowerCase() });
  if (answer.status !== 200) return;
  drawChart(answer.body);
  $("app").classList.add("with-panel");
}

function drawChart(data) {
  const candles = (data.candles || []).map((c) => ({ o: Number(c.o ?? c.c), h: Number(c.h), l: Number(c.l), c: Number(c.c) }));
  const box = el("section", { class: "chart", "data-coin": data.coin }, el("h3", { text: `${t("chart")} ${data.coin} · ${data.range}` }));
  if (candles.length > 0) {
    const ns = "http://www.w3.org/2000/svg";
    const svg = document.createElementNS(ns, "svg");
    const width = 300, height = 180;
    svg.setAttribute("viewBox", `0 0 ${width} ${height}`);
    svg.setAttribute("preserveAspectRatio", "none");
    const hi = Math.max(...candles.map((c) => c.h)), lo = Math.min(...candles.map((c) => c.l));
    const y = (v) => hi === lo ? height / 2 : (hi - v) / (hi - lo) * (height - 8) + 4;
    const step = width / candles.length;
    candles.forEach((c, i) => {
      const x = i * step + step / 2;
      const cls = c.c >= c.o ? "up" : "down";
      const wick = document.createElementNS(ns, "line");
      wick.setAttribute("x1", x); wick.setAttribute("x2", x); wick.setAttribute("y1", y(c.h)); wick.setAttribute("y2", y(c.l));
      wick.setAttribute("class", cls);
      const body = document.createElementNS(ns, "rect");
      body.setAttribute("x", x - Math.max(step * 0.35, 0.5)); body.setAttribute("width", Math.max(step * 0.7, 1));
      body.setAttribute("y", Math.min(y(c.o), y(c.c))); body.setAttribute("height", Math.max(Math.abs(y(c.o) - y(c.c)), 1));
      body.setAttribute("class", cls);
      svg.append(wick, body);
    });
    box.append(svg);
    const last = candles[candles.length - 1];
    box.append(el("p", { class: "empty", text: `${lo} – ${hi} · ${last.c}` }));
  }
  $("shown").replaceChildren(box);
  box.scrollIntoView({ block: "nearest" });
}

// The P/L block: the answer's lines, and the realised result per asset as
// bars either side of a zero line.
function drawPnL(data) {
  const box = el("section", { class: "chart pnl" }, el("h3", { text: `P/L · ${data.period}${data.coin ? " · " + data.coin : ""}` }));
  const assets = (data.byAsset || []).map((a) => ({ coin: a.coin, v: Number(a.realized) }));
  if (assets.length > 0) {
    const ns = "http://www.w3.org/2000/svg";
    const svg = document.createElementNS(ns, "svg");
    const width = 300, height = 180;
    svg.setAttribute("viewBox", `0 0 ${width} ${height}`);
    svg.setAttribute("preserveAspectRatio", "none");
    const top = Math.max(0, ...assets.map((a) => a.v)), bottom = Math.min(0, ...assets.map((a) => a.v));
    const span = top - bottom || 1;
    const y = (v) => (top - v) / span * (height - 8) + 4;
    const step = width / assets.length;
    assets.forEach((a, i) => {
      const bar = document.createElementNS(ns, "rect");
      bar.setAttribute("x", i * step + step * 0.15); bar.setAttribute("width", Math.max(step * 0.7, 1));
      bar.setAttribute("y", Math.min(y(a.v), y(0))); bar.setAttribute("height", Math.max(Math.abs(y(a.v) - y(0)), 1));
      bar.setAttribute("class", a.v >= 0 ? "up" : "down");
      const label = document.createElementNS(ns, "title");
      label.textContent = `${a.coin} ${a.v}`;
      bar.append(label);
      svg.append(bar);
    });
    const zero = document.createElementNS(ns, "line");
    zero.setAttribute("x1", 0); zero.setAttribute("x2", width); zero.setAttribute("y1", y(0)); zero.setAttribute("y2", y(0));
    zero.setAttribute("class", "zero");
    svg.append(zero);
    box.append(svg);
    box.append(el("p", { class: "empty", text: assets.map((a) => a.coin).join(" · ") }));
  }
  const ul = el("ul", { class: "lines" });
  for (const line of data.lines || []) ul.append(el("li", { text: line }));
  box.append(ul);
  $("shown").replaceChildren(box);
  box.scrollIntoView({ block: "nearest" });
}

// ---- settings ----------------------------------------------------------------

// Connecting a provider from the picker: a key is saved at once (it goes only
// to the app, never into the page's storage); a browser sign-in answers later
// with a "signIn" event.
function connectRow(p, reload) {
  const note = el("span", { class: "note" });
  const fail = (answer) => { note.className = "note error"; note.textContent = answer.body.error || String(answer.status); };
  if (p.takesKey) {
    const key = el("input", { type: "password", autocomplete: "off", placeholder: t("keyPlaceholder"), "aria-label": `${p.name} ${t("keyPlaceholder")}` });
    const save = el("button", { type: "button", class: "small", text: t("save"), onclick: async () => {
      const answer = await act("signIn", { provider: p.id, key: key.value });
      key.value = "";
      if (answer.status === 200) reload(); else fail(answer);
    } });
    return el("li", { class: "connect" }, key, save, note);
  }
  if (!p.signIn) return null;
  const button = el("button", { type: "button", class: "small", text: p.signIn, onclick: async () => {
    const answer = await act("signIn", { provider: p.id });
    if (answer.status === 202) { note.className = "note"; note.textContent = t("signingIn"); } else fail(answer);
  } });
  return el("li", { class: "connect" }, button, note);
}

async function openSettings(tab) {
  for (const b of document.querySelectorAll(".tabs button")) b.setAttribute("aria-selected", b.dataset.tab === tab ? "true" : "false");
  const body = $("settings-body");
  body.replaceChildren(el("p", { class: "muted", text: "…" }));
  if (!$("settings-dialog").open) $("settings-dialog").showModal();
  const show = (...nodes) => body.replaceChildren(...nodes);
  const problem = (answer) => show(el("p", { class: "error", text: answer.body.error || String(answer.status) }));
  if (tab === "model") {
    const answer = await act("models");
    if (answer.status !== 200) return problem(answer);
    const list = el("ul", { class: "providers" });
    for (const p of answer.body.providers) {
      const status = p.unavailable || (p.connected ? t("connected") : t("notConnected"));
      const use = el("button", { type: "button", class: "small", text: t("use"), disabled: !p.connected || !!p.unavailable,
        onclick: async () => {
          const chosen = await act("chooseModel", { provider: p.id });
          if (chosen.status === 200) { $("settings-dialog").close(); scheduleRefresh(); } else problem(chosen);
        } });
      list.append(el("li", {}, el("div", {}, el("div", { text: p.name }), el("div", { class: "muted", text: `${p.defaultModel || ""} · ${status}` })), use));
      const row = !p.connected && !p.unavailable && p.kind !== "local" ? connectRow(p, () => openSettings("model")) : null;
      if (row) list.append(row);
    }
    const line = el("p", { class: "note", id: "setup-line" });
    const setup = el("button", { type: "button", text: t("localSetup"), onclick: async () => {
      const started = await act("localSetup");
      if (started.status !== 202) line.textContent = started.body.error || "";
    } });
    show(list, el("p", {}, setup), line);
  } else if (tab === "risk") {
    const answer = await act("settings");
    if (answer.status !== 200) return problem(answer);
    const policy = answer.body.riskPolicy;
    const form = el("form", {});
    for (const key of Object.keys(policy)) {
      form.append(el("label", { class: "row" }, el("span", { text: t(key) }),
        el("input", { name: key, inputmode: "decimal", value: String(policy[key]) })));
    }
    const note = el("p", { class: "note" });
    form.append(el("button", { type: "submit", class: "primary", text: t("save") }), note);
    form.addEventListener("submit", async (e) => {
      e.preventDefault();
      const next = {};
      for (const key of Object.keys(policy)) next[key] = form.elements[key].value.trim();
      const saved = await act("saveRiskPolicy", { riskPolicy: next });
      note.className = saved.status === 200 ? "note" : "note error";
      note.textContent = saved.status === 200 ? t("saved") : saved.body.error;
    });
    show(form, el("p", { class: "muted", text: answer.body.testnet ? t("testnet") : "" }));
  } else if (tab === "book") {
    const answer = await act("addressBook");
    if (answer.status !== 200) return problem(answer);
    const entries = answer.body.addresses || [];
    if (entries.length === 0) return show(el("p", { class: "muted", text: t("noAddresses") }));
    const list = el("ul", { class: "providers" });
    for (const a of entries) {
      list.append(el("li", {}, el("div", {}, el("div", { text: `${a.name} · ${a.network}` }), el("code", { text: a.address }))));
    }
    show(list);
  } else if (tab === "signer") {
    const answer = await act("signerStatus");
    if (answer.status !== 200) return problem(answer);
    const select = el("select", { "aria-label": t("sessionLength") });
    for (const minutes of [0, 5, 10, 15, 30]) {
      const option = el("option", { value: String(minutes * 60), text: minutes === 0 ? t("noSession") : `${minutes} ${t("minutes")}` });
      if ((answer.body.sessionLength || 0) === minutes * 60) option.selected = true;
      select.append(option);
    }
    const note = el("p", { class: "note" });
    select.addEventListener("change", async () => {
      const set = await act("sessionLength", { seconds: Number(select.value) });
      note.className = set.status === 200 ? "note" : "note error";
      note.textContent = set.status === 200 ? t("saved") : set.body.error;
    });
    show(el("label", { class: "row" }, el("span", { text: t("sessionLength") }), select), note,
         el("p", { class: "muted", text: answer.body.evmAddress || "" }));
  } else {
    const answer = await act("settings");
    if (answer.status !== 200) return problem(answer);
    const list = el("ul", { class: "providers" });
    for (const [name, value] of Object.entries(answer.body.endpoints)) {
      list.append(el("li", {}, el("code", { text: name }), el("code", { text: value })));
    }
    show(list);
  }
}

function connect() {
  const source = new EventSource("/api/events");
  source.onmessage = (e) => {
    let event = null;
    try { event = JSON.parse(e.data); } catch (_) { return; }
    if (event && event.kind === "show" && event.data && event.data.what === "command") showCommand(event.data.command);
    if (event && event.kind === "signIn" && event.data) {
      showNotice(event.data.text || "");
      const selected = document.querySelector('.tabs button[aria-selected="true"]');
      if ($("settings-dialog").open && selected && selected.dataset.tab === "model") openSettings("model");
    }
    if (event && event.kind === "setup" && event.data) {
      // The local model setup's steps and progress, until its notice lands in the chat.
      const line = $("setup-line");
      if (line) line.textContent = event.data.text || "";
      showNotice(event.data.kind === "progress" || event.data.kind === "status" ? event.data.text : "");
      return;
    }
    if (event && event.kind === "draft" && state) {
      state.draftReply = event.data && event.data.text || "";
      renderDraft(state.draftReply);
      return;
    }
    scheduleRefresh();
  };
  source.addEventListener("reload", scheduleRefresh);
  source.onopen = () => { streamOpen = true; scheduleRefresh(); };
  source.onerror = () => {
    streamOpen = false;
    delete document.body.dataset.live;
    showNotice(t("offline"));
  };
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
  $("open-settings").addEventListener("click", () => openSettings("model"));
  $("model-name").addEventListener("click", () => openSettings("model"));
  $("close-settings").addEventListener("click", () => $("settings-dialog").close());
  for (const b of document.querySelectorAll(".tabs button")) b.addEventListener("click", () => openSettings(b.dataset.tab));
  $("lock").addEventListener("click", async () => {
    const answer = await act("lock");
    showNotice(answer.status === 200 ? t("saved") : answer.body.error || "");
  });
  document.addEventListener("keydown", (e) => {
    if (e.key === "Escape" && state && state.modelRunning) act("stop");
  });
  connect();
  refresh();
});

// ---- The site wallet's review sheet: what a web page asks, decoded, waits
// here for Approve or Reject. The approval names the request and the digest
// of what was shown, so a sheet that changed meanwhile is not approved.
const SITE_T = {
  en: { siteTitle: "A site asks", balances: "Your balances (simulated)", approve: "Approve", reject: "Reject",
        unknown: "I accept the programs not on orwenna's list", lookalike: "I understand this isn't ",
        lookalikeWarn: (known) => "The address looks like " + known + ", but it's a different site — a common phishing trick.",
        refused: "Refused — it can't be signed", more: (n) => n + " more waiting" },
  ru: { siteTitle: "Сайт просит", balances: "Ваши балансы (симуляция)", approve: "Одобрить", reject: "Отклонить",
        unknown: "Принимаю программы не из списка orwenna", lookalike: "Понимаю, что это не ",
        lookalikeWarn: (known) => "Адрес похож на " + known + ", но это другой сайт — частый приём фишинга.",
        refused: "Отказ — это нельзя подписать", more: (n) => "ещё ждут: " + n },
};
let siteShown = "";

function siteT(key) { return (SITE_T[lang] || SITE_T.en)[key]; }

function siteDialog() {
  let dialog = $("site-sheet");
  if (!dialog) {
    dialog = el("dialog", { id: "site-sheet", class: "activity-dialog site-sheet", "aria-label": "Site request" });
    dialog.addEventListener("cancel", (e) => e.preventDefault());
    document.body.append(dialog);
  }
  return dialog;
}

function renderSiteSheet() {
  const requests = (state && state.siteRequests) || [];
  const dialog = siteDialog();
  if (!requests.length) {
    siteShown = "";
    if (dialog.open) dialog.close();
    return;
  }
  const r = requests[0];
  if (siteShown === r.id + ":" + r.digest + ":" + requests.length && dialog.open) return;
  siteShown = r.id + ":" + r.digest + ":" + requests.length;
  const list = (items, cls) => items && items.length ? el("ul", { class: cls }, ...items.map((x) => el("li", { text: x }))) : null;
  const ticks = [];
  const tick = (name, label) => {
    const box = el("input", { type: "checkbox", name });
    ticks.push(box);
    return el("label", { class: "site-tick" }, box, document.createTextNode(" " + label));
  };
  const approve = el("button", { id: "site-approve", class: "primary", type: "button", text: siteT("approve") });
  const reject = el("button", { id: "site-reject", class: "ghost", type: "button", text: siteT("reject") });
  const decide = async (yes) => {
    approve.disabled = reject.disabled = true;
    const body = { id: r.id, digest: r.digest, approve: yes };
    for (const box of ticks) body[box.name] = box.checked;
    await act("siteDecide", body);
    scheduleRefresh();
  };
  approve.addEventListener("click", () => decide(true));
  reject.addEventListener("click", () => decide(false));
  const syncApprove = () => { approve.disabled = !r.canApprove || ticks.some((b) => !b.checked); };
  dialog.replaceChildren(
    el("header", {}, el("h2", { text: siteT("siteTitle") + " · " + r.origin })),
    el("div", { class: "site-body" },
      el("p", { class: "site-what", text: r.title }),
      list(r.lines, "site-lines"),
      r.changes && r.changes.length ? el("h3", { text: siteT("balances") }) : null,
      list(r.changes, "site-changes"),
      list(r.notes, "site-notes"),
      r.problems && r.problems.length ? list(r.problems, "site-problems") : null,
      r.lookalike ? el("p", { class: "site-problems", text: siteT("lookalikeWarn")(r.lookalike) }) : null,
      r.unknownPrograms && r.unknownPrograms.length ? tick("allowUnknown", siteT("unknown")) : null,
      r.lookalike ? tick("trustLookalike", siteT("lookalike") + r.lookalike) : null,
      requests.length > 1 ? el("p", { class: "site-more", text: siteT("more")(requests.length - 1) }) : null),
    el("div", { class: "card-actions" }, approve, reject));
  for (const box of ticks) box.addEventListener("change", syncApprove);
  syncApprove();
  if (!dialog.open) dialog.showModal();
  // A stray Enter must never approve: the sheet opens on Reject.
  reject.focus();
}
