// The web interface in headless Chromium, against tests/browser/harness.cpp:
// a message goes in and the reply streams; a trade line shows the plan
// blocks; a money card waits for Confirm and a double click executes once;
// Stop ends a reading; a reload restores the chat; foreign and cookieless
// POSTs are refused; a Russian chat gets Russian fixed replies; the alerts
// board shows what is armed and removes it. Screenshots
// of the main screens go to $ORWENNA_SCREENSHOTS.
import { spawn } from "node:child_process";
import { createRequire } from "node:module";
import { existsSync, mkdirSync, mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import assert from "node:assert/strict";

const require = createRequire(new URL("../interop/package.json", import.meta.url));
let chromium;
try {
  ({ chromium } = require("playwright-core"));
} catch {
  console.log("skipped: playwright-core is not installed (npm ci in tests/interop)");
  process.exit(77);
}
const browserPath = ["/usr/bin/chromium", "/usr/bin/chromium-browser"].find(existsSync);
if (!browserPath) {
  console.log("skipped: Chromium is not installed");
  process.exit(77);
}

const home = mkdtempSync(join(tmpdir(), "orwenna-browser-"));
const shots = process.env.ORWENNA_SCREENSHOTS || join(home, "screenshots");
mkdirSync(shots, { recursive: true });
const harness = spawn(process.argv[2], [], { env: { ...process.env, ORWENNA_HOME: home }, stdio: ["ignore", "pipe", "inherit"] });
const exited = new Promise((resolve) => harness.on("exit", resolve));
let executed = 0;
let first;
const ready = new Promise((resolve) => {
  let buffer = "";
  harness.stdout.on("data", (chunk) => {
    buffer += chunk;
    let newline;
    while ((newline = buffer.indexOf("\n")) >= 0) {
      const line = buffer.slice(0, newline);
      buffer = buffer.slice(newline + 1);
      if (!first) { first = JSON.parse(line); resolve(first); }
      else if (line.startsWith("EXECUTED ")) executed = Number(line.slice(9));
    }
  });
});

const browser = await chromium.launch({ executablePath: browserPath, headless: true, args: ["--no-sandbox"] });
let failed = false;
try {
  const { url, stopped, yesNothingRu } = await ready;
  const origin = new URL(url).origin;
  const context = await browser.newContext({ viewport: { width: 1280, height: 800 } });
  const page = await context.newPage();
  await page.goto(url);
  assert.equal(new URL(page.url()).search, "", "the one-time code leaves the address bar");
  // Sending before the event stream is open would miss the streamed draft.
  await page.waitForSelector("body[data-live]");

  const send = async (text) => {
    await page.fill("#input", text);
    await page.press("#input", "Enter");
  };
  const lastBubble = () => page.locator("#messages .bubble").last();

  // A message goes in, the reply streams into the draft, then lands.
  await send("hello");
  await page.waitForSelector("#draft:not([hidden])", { timeout: 5000 });
  const partial = await page.textContent("#draft");
  await page.waitForFunction(() => document.querySelector("#messages").textContent.includes("Hello! I can size a trade"));
  assert.ok(partial.length > 0 && partial.length < "Hello! I can size a trade, move money between your wallets, or read your balances.".length,
            `the draft showed a part of the reply first, got ${JSON.stringify(partial)}`);
  assert.ok(await page.isHidden("#draft"), "the draft is gone once the reply landed");
  await page.screenshot({ path: join(shots, "chat.png") });

  // The alerts board lists what is armed; Remove takes one out of the file.
  await page.waitForSelector("#board:not([hidden]) .board-item");
  assert.deepEqual(await page.locator("#board .board-item .side").allTextContents(), ["RISES", "FALLS", "⏰"]);
  assert.match(await page.locator("#board li.alert").first().textContent(), /BTC 95,000.*watching · 4\.38% away/);
  assert.match(await page.locator("#board li.task").textContent(), /buy SOL for 10 USDC.*every week · next/);
  await page.screenshot({ path: join(shots, "alerts-board.png") });
  await page.locator("#board li.alert").first().locator("button").click();
  await page.waitForFunction(() => document.querySelectorAll("#board li.alert").length === 1);
  assert.match(await page.locator("#board li.alert").textContent(), /ETH 2,500/);

  // A trade line puts the plan blocks beside the chat.
  await send("long BTC with 25 risk");
  await page.waitForSelector("#blocks .block", { timeout: 10000 });
  const labels = await page.locator("#blocks .block h3").allTextContents();
  assert.ok(labels.length >= 3, `plan blocks shown: ${labels.join(", ")}`);
  // A plan that can be placed waits on its own card.
  await page.waitForSelector("#card:not([hidden])", { timeout: 10000 });
  assert.match(await page.textContent("#card-steps"), /long BTC/);
  await page.screenshot({ path: join(shots, "plan.png") });
  await page.click("#card-cancel");
  await page.waitForSelector("#card", { state: "hidden" });

  // A money card waits for Confirm; a double click runs it once.
  await send("send 5 USDC to bob");
  await page.waitForSelector("#card:not([hidden])", { timeout: 10000 });
  assert.match(await page.textContent("#card-steps"), /send 5 USDC to bob/);
  await page.screenshot({ path: join(shots, "card.png") });
  assert.equal(executed, 0, "nothing ran before Confirm");
  await page.dblclick("#card-confirm");
  await page.waitForFunction(() => {
    const card = document.querySelector("#card");
    return card.hidden || card.dataset.status !== "waiting";
  });
  await page.waitForFunction(() => document.querySelector("#messages").textContent.includes("Sent."));
  assert.equal(executed, 1, "a double click executes once");

  // Stop ends a reading with the Stopped sentence.
  await send("a slow question");
  await page.waitForSelector("#stop:not([hidden])", { timeout: 5000 });
  await page.click("#stop");
  await page.waitForFunction((text) => document.querySelector("#messages").textContent.includes(text), stopped);

  // A reload restores the chat and the canvas.
  const before = await page.locator("#messages .bubble").allTextContents();
  const title = await page.textContent("#canvas-title");
  await page.reload();
  await page.waitForSelector("body[data-live]");
  await page.waitForFunction((n) => document.querySelectorAll("#messages .bubble").length >= n, before.length);
  assert.deepEqual(await page.locator("#messages .bubble").allTextContents(), before);
  assert.equal(await page.textContent("#canvas-title"), title);

  // The activity log opens.
  await page.click("#show-activity");
  await page.waitForSelector("#activity li");
  await page.screenshot({ path: join(shots, "activity.png") });
  await page.click("#close-activity");

  // A POST from another origin, or without the session cookie, does nothing.
  const cookies = await context.cookies();
  const session = cookies.find((c) => c.name === "orwenna_session");
  assert.ok(session && session.httpOnly && session.sameSite === "Strict", "the session cookie is HttpOnly and Strict");
  const headers = { "Content-Type": "application/json", "X-Orwenna-Action": "1" };
  let res = await fetch(origin + "/api/send", { method: "POST", headers: { ...headers, Origin: "http://evil.example",
      Cookie: `orwenna_session=${session.value}` }, body: JSON.stringify({ text: "send 5 USDC to bob" }) });
  assert.equal(res.status, 403);
  res = await fetch(origin + "/api/send", { method: "POST", headers: { ...headers, Origin: origin },
      body: JSON.stringify({ text: "send 5 USDC to bob" }) });
  assert.equal(res.status, 401);
  const foreign = await browser.newPage();
  await foreign.setContent("<p>another site</p>");
  const fromForeign = await foreign.evaluate(async (target) => {
    try {
      const r = await fetch(target + "/api/send", { method: "POST", credentials: "include",
        headers: { "Content-Type": "application/json", "X-Orwenna-Action": "1" }, body: "{\"text\":\"hi\"}" });
      return r.status;
    } catch (e) { return "blocked"; }
  }, origin);
  assert.notEqual(fromForeign, 202, "a foreign page's POST is not accepted");

  // A chart line draws candles beside the chat.
  await send("chart BTC for the week");
  await page.waitForSelector(".chart svg rect", { timeout: 10000 });
  assert.ok(await page.locator(".chart svg rect").count() >= 20, "the candles are drawn");
  await page.screenshot({ path: join(shots, "chart.png") });
  // A token's page shows the month of its deepest pool in the same place.
  await send("show token DezXAZ8z7PnrnRJjz3wXBoRgixCa6xjnB7YaB1pPB263");
  await page.waitForFunction(() => document.querySelector(".chart h3")?.textContent.includes("Bonk · month"), null, { timeout: 10000 });
  assert.equal(await page.locator(".chart svg rect").count(), 30, "a candle a day");
  await page.screenshot({ path: join(shots, "token-chart.png") });

  // The model picker lists the providers and switches the model.
  await page.click("#open-settings");
  await page.waitForSelector(".providers li");
  assert.equal(await page.locator(".providers li").count(), 4, "three providers and the key field of the one not connected");
  assert.ok(await page.locator(".providers li").nth(2).locator("button").isDisabled(), "a provider not connected can't be used");
  await page.screenshot({ path: join(shots, "settings.png") });
  // An empty key is refused with the panel's sentence; a pasted one connects it.
  await page.locator(".providers li.connect button").click();
  await page.waitForFunction(() => document.querySelector(".providers li.connect .error")?.textContent.includes("nothing was changed"));
  await page.fill('.providers li.connect input[type="password"]', "sk-browser-test");
  await page.locator(".providers li.connect button").click();
  await page.waitForFunction(() => document.querySelectorAll(".providers li").length === 3);
  assert.ok(!(await page.locator(".providers li").nth(2).locator("button").isDisabled()), "a connected provider can be used");
  await page.locator(".providers li").nth(1).locator("button").click();
  await page.waitForFunction(() => document.querySelector("#model-name").textContent === "Other Model");
  await page.click("#open-settings");
  await page.click('[data-tab="risk"]');
  await page.waitForSelector('input[name="maxRiskPct"]');
  await page.click("#close-settings");

  // A Russian chat gets Russian fixed replies and a Russian page.
  await page.click("#new-canvas");
  await page.waitForFunction(() => document.querySelectorAll("#messages .bubble").length === 0);
  await send("да");
  await page.waitForFunction((text) => document.querySelector("#messages").textContent.includes(text), yesNothingRu);
  await page.waitForFunction(() => document.documentElement.lang === "ru");
  assert.equal(await page.textContent("#send"), "Отправить");
  await page.screenshot({ path: join(shots, "russian.png") });

  // A narrow window keeps the chat usable.
  await page.setViewportSize({ width: 420, height: 800 });
  await page.screenshot({ path: join(shots, "narrow.png") });
  assert.ok(await page.isVisible("#composer"));
  console.log(`browser checks passed; screenshots in ${shots}`);
} catch (e) {
  failed = true;
  console.error(e);
} finally {
  await browser.close();
  harness.kill("SIGTERM");
  await exited;
  rmSync(home, { recursive: true, force: true });
}
process.exit(failed ? 1 : 0);
