// The site wallet in headless Chromium with our extension loaded (a Chromium
// profile whose native-messaging host entry runs orwenna-site-host against
// tests/browser/site_harness.cpp): a local dapp finds the wallet by the Wallet
// Standard and EIP-6963, connects, has personal_sign approved in the review
// sheet of the web interface, sends an EIP-1559 transaction that reaches the
// fake EVM node and a Solana transfer that reaches the fake Solana node; a
// draining permit is refused with its sentence; an unknown method and a
// disconnected origin get their codes; a second origin (another port) does
// not inherit the first's connection. "open SITE" in the chat reaches the
// browser opener. The review sheet's screenshot goes to $ORWENNA_SCREENSHOTS.
import { spawn } from "node:child_process";
import { createRequire } from "node:module";
import { existsSync, mkdirSync, mkdtempSync, rmSync } from "node:fs";
import { createServer } from "node:http";
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
const hostProgram = process.env.ORWENNA_SITE_HOST;
assert.ok(hostProgram && existsSync(hostProgram), "ORWENNA_SITE_HOST names the built orwenna-site-host");

const home = mkdtempSync(join(tmpdir(), "orwenna-site-"));
const shots = process.env.ORWENNA_SCREENSHOTS || join(home, "screenshots");
mkdirSync(shots, { recursive: true });
const harness = spawn(process.argv[2], [hostProgram], { env: { ...process.env, ORWENNA_HOME: home }, stdio: ["ignore", "pipe", "inherit"] });
const lines = [];
const ready = new Promise((resolve) => {
  let buffer = "";
  harness.stdout.on("data", (chunk) => {
    buffer += chunk;
    let newline;
    while ((newline = buffer.indexOf("\n")) >= 0) {
      const line = buffer.slice(0, newline);
      buffer = buffer.slice(newline + 1);
      if (line.startsWith("{")) resolve(JSON.parse(line)); else lines.push(line);
    }
  });
});

// The test dapp: one page, served on two ports (two origins).
const dappPage = "<!doctype html><title>dapp</title><h1>Test dapp</h1>";
const servers = [];
const listen = () => new Promise((resolve) => {
  const s = createServer((_, res) => { res.writeHead(200, { "Content-Type": "text/html" }); res.end(dappPage); });
  servers.push(s);
  s.listen(0, "127.0.0.1", () => resolve(s.address().port));
});

const rpc = async (url, method, params) => {
  const res = await fetch(url, { method: "POST", headers: { "Content-Type": "application/json" },
                                 body: JSON.stringify({ jsonrpc: "2.0", id: 1, method, params }) });
  return (await res.json()).result;
};

// Base58 and a legacy System transfer, as a dapp's own library would build them.
const B58 = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
const b58decode = (s) => {
  let n = 0n;
  for (const c of s) n = n * 58n + BigInt(B58.indexOf(c));
  const out = [];
  while (n > 0n) { out.unshift(Number(n & 255n)); n >>= 8n; }
  for (const c of s) { if (c !== "1") break; out.unshift(0); }
  return out;
};
const transfer = (from, to, lamports, blockhash) => {
  const data = [2, 0, 0, 0];
  let l = BigInt(lamports);
  for (let i = 0; i < 8; i++) { data.push(Number(l & 255n)); l >>= 8n; }
  const message = [1, 0, 1, 3, ...b58decode(from), ...b58decode(to), ...new Array(32).fill(0), ...b58decode(blockhash),
                   1, 2, 2, 0, 1, data.length, ...data];
  return [1, ...new Array(64).fill(0), ...message];
};

const stranger = "0x2222222222222222222222222222222222222222";
const strangerSolana = "9WzDXwBbmkg8ZTbNMqUxvQRAyrZzDsGYdLVL9zYtAWWM";
const permit = {
  types: {
    EIP712Domain: [{ name: "name", type: "string" }, { name: "chainId", type: "uint256" }, { name: "verifyingContract", type: "address" }],
    Permit: [{ name: "owner", type: "address" }, { name: "spender", type: "address" }, { name: "value", type: "uint256" },
             { name: "nonce", type: "uint256" }, { name: "deadline", type: "uint256" }],
  },
  primaryType: "Permit",
  domain: { name: "USD Coin", chainId: 8453, verifyingContract: "0x833589fcd6edb6e08f4c7c32d4f71b54bda02913" },
  message: { owner: stranger, spender: stranger, value: "115792089237316195423570985008687907853269984665640564039457584007913129639935", nonce: 0, deadline: 9999999999 },
};

let context;
let failed = false;
try {
  const info = await ready;
  const [portA, portB] = [await listen(), await listen()];
  const originA = `http://localhost:${portA}`;
  const originB = `http://localhost:${portB}`;
  context = await chromium.launchPersistentContext(info.profile, {
    executablePath: browserPath,
    headless: true,
    viewport: { width: 1280, height: 800 },
    ignoreDefaultArgs: ["--disable-extensions"],
    args: ["--no-sandbox", "--headless=new", `--disable-extensions-except=${info.extension}`, `--load-extension=${info.extension}`],
  });
  const worker = context.serviceWorkers()[0] || await context.waitForEvent("serviceworker", { timeout: 15000 });
  assert.ok(worker.url().startsWith("chrome-extension://dpfphknfmnjpkjlnbccjpoeooobndjgg/"), `our extension's worker: ${worker.url()}`);

  const app = await context.newPage();
  await app.goto(info.url);
  await app.waitForSelector("body[data-live]");
  const dapp = await context.newPage();
  await dapp.goto(originA + "/");

  // What a dapp calls; a rejection comes back as {code, message}.
  const call = (page, method, params) => page.evaluate(async ([method, params]) => {
    try { return { result: await window.ethereum.request({ method, params }) }; }
    catch (e) { return { code: e.code, message: e.message }; }
  }, [method, params]);
  // Starts a call that waits for the user, and approves its sheet in the app.
  const approved = async (page, start, expectTitle) => {
    const pending = start();
    await app.waitForSelector("#site-sheet[open] #site-approve:not([disabled])", { timeout: 15000 });
    const title = await app.textContent("#site-sheet .site-what");
    if (expectTitle) assert.ok(title.includes(expectTitle), `the sheet says what is asked: ${title}`);
    const shot = await app.screenshot({ path: join(shots, `site-sheet-${expectTitle ? expectTitle.replace(/\W+/g, "-") : "x"}.png`) });
    assert.ok(shot.length > 0);
    await app.click("#site-approve");
    const answer = await pending;
    await app.waitForSelector("#site-sheet", { state: "hidden", timeout: 10000 });
    return answer;
  };

  // The wallet is there before the page's own scripts, found both ways.
  const found = await dapp.evaluate(() => new Promise((resolve) => {
    const announced = [];
    window.addEventListener("eip6963:announceProvider", (e) => announced.push(e.detail.info));
    window.dispatchEvent(new Event("eip6963:requestProvider"));
    const wallets = [];
    window.dispatchEvent(new CustomEvent("wallet-standard:app-ready", { detail: { register: (w) => wallets.push(w) } }));
    resolve({ announced, names: wallets.map((w) => w.name), features: wallets.length ? Object.keys(wallets[0].features) : [],
              registrations: window.__orwennaRegistrations, isOrwenna: window.ethereum && window.ethereum.isOrwenna });
  }));
  assert.equal(found.isOrwenna, true);
  assert.deepEqual(found.announced.map((i) => [i.name, i.rdns]), [["orwenna", "app.orwenna"]]);
  assert.deepEqual(found.names, ["orwenna"]);
  assert.ok(found.features.includes("solana:signAndSendTransaction") && found.features.includes("standard:connect"));
  assert.ok(found.registrations >= 1);

  // Unknown methods and calls before connecting.
  assert.deepEqual(await call(dapp, "wallet_getCapabilities", []), { code: 4200, message: "orwenna doesn't support wallet_getCapabilities" });
  assert.deepEqual(await call(dapp, "personal_sign", ["0x6869", info.evm]), { code: 4100, message: "Connect the site first." });
  assert.deepEqual(await call(dapp, "eth_accounts", []), { result: [] });

  // Connect, then personal_sign approved in the review sheet.
  const accounts = await approved(dapp, () => call(dapp, "eth_requestAccounts", []), "asks to see your EVM address");
  assert.deepEqual(accounts, { result: [info.evm] });
  const signed = await approved(dapp, () => call(dapp, "personal_sign", ["0x48656c6c6f2c206f7277656e6e61", info.evm]),
                                "asks you to sign a message");
  assert.match(signed.result, /^0x[0-9a-f]{128}(1b|1c)$/, `a 65-byte signature: ${JSON.stringify(signed)}`);

  // A permit that drains is refused with its sentence, and shows no sheet.
  assert.deepEqual(await call(dapp, "eth_signTypedData_v4", [info.evm, JSON.stringify(permit)]), {
    code: 4001,
    message: "Permit: this is permission to spend your tokens (Permit) — the drainers' main trick. orwenna doesn't sign these.",
  });

  // An EIP-1559 send on Base reaches the fake node.
  assert.deepEqual(await call(dapp, "wallet_switchEthereumChain", [{ chainId: "0x2105" }]), { result: null });
  assert.deepEqual(await call(dapp, "eth_chainId", []), { result: "0x2105" });
  const sent = await approved(dapp, () => call(dapp, "eth_sendTransaction", [{ from: info.evm, to: stranger, value: "0x38d7ea4c68000" }]),
                              "asks you to send a transaction on Base");
  assert.match(sent.result || "", /^0x[0-9a-f]{64}$/, `a transaction hash: ${JSON.stringify(sent)}`);
  assert.equal(await rpc(info.evmNode, "eth_getBalance", [stranger, "latest"]), "0x38d7ea4c68000");
  const tx = await rpc(info.evmNode, "eth_getTransactionByHash", [sent.result]);
  if (tx) assert.equal(tx.type, "0x2", "an EIP-1559 transaction");
  // A read goes to the node as it is.
  assert.deepEqual(await call(dapp, "eth_getBalance", [stranger, "latest"]), { result: "0x38d7ea4c68000" });

  // A Solana transfer through the Wallet Standard.
  const { value: { blockhash } } = await rpc(info.solanaNode, "getLatestBlockhash", []);
  const wire = transfer(info.solana, strangerSolana, 30_000_000, blockhash);
  const solanaWallet = () => dapp.evaluate(() => new Promise((resolve) => {
    window.dispatchEvent(new CustomEvent("wallet-standard:app-ready", { detail: { register: (w) => resolve(w.name) } }));
  }));
  assert.equal(await solanaWallet(), "orwenna");
  const connected = await approved(dapp, () => dapp.evaluate(async () => {
    let wallet;
    window.dispatchEvent(new CustomEvent("wallet-standard:app-ready", { detail: { register: (w) => { wallet = w; } } }));
    const { accounts } = await wallet.features["standard:connect"].connect();
    window.__testWallet = wallet;
    return accounts.map((a) => a.address);
  }), "asks to see your Solana address");
  assert.deepEqual(connected, [info.solana]);
  const signature = await approved(dapp, () => dapp.evaluate(async (bytes) => {
    const wallet = window.__testWallet;
    const [out] = await wallet.features["solana:signAndSendTransaction"].signAndSendTransaction(
      { transaction: new Uint8Array(bytes), account: wallet.accounts[0], chain: "solana:mainnet" });
    return out.signature.length;
  }, wire), "sign and send a Solana transaction");
  assert.equal(signature, 64);
  const { value: lamports } = await rpc(info.solanaNode, "getBalance", [strangerSolana]);
  assert.equal(lamports, 30_000_000);

  // A second origin (another port) inherits nothing.
  const other = await context.newPage();
  await other.goto(originB + "/");
  assert.deepEqual(await call(other, "eth_accounts", []), { result: [] });
  assert.deepEqual(await call(other, "personal_sign", ["0x6869", info.evm]), { code: 4100, message: "Connect the site first." });
  assert.deepEqual(await call(other, "eth_chainId", []), { result: "0x1" });

  // A request declined in the sheet, and one whose page goes away.
  const declined = dapp.evaluate(() => window.ethereum.request({ method: "personal_sign", params: ["0x6e6f", "x"] })
    .then(() => null, (e) => ({ code: e.code, message: e.message })));
  await app.waitForSelector("#site-sheet[open] #site-reject", { timeout: 15000 });
  await app.click("#site-reject");
  assert.deepEqual(await declined, { code: 4001, message: "The user declined." });
  await app.waitForSelector("#site-sheet", { state: "hidden", timeout: 10000 });
  const abandoned = other.evaluate(() => window.ethereum.request({ method: "eth_requestAccounts" }).catch(() => {})).catch(() => {});
  await app.waitForSelector("#site-sheet[open]", { timeout: 15000 });
  await other.close();
  await abandoned;
  await app.waitForSelector("#site-sheet", { state: "hidden", timeout: 15000 });

  // "open SITE" in the chat reaches the browser opener.
  await app.fill("#input", "open app.example");
  await app.press("#input", "Enter");
  for (let i = 0; i < 100 && !lines.includes("OPEN app.example"); i++) await new Promise((r) => setTimeout(r, 50));
  assert.ok(lines.includes("OPEN app.example"), `the opener was asked: ${lines.join(" | ")}`);
  assert.ok(lines.some((l) => l === `ACTIVITY localhost: EVM transaction sent on chain 8453`), lines.join(" | "));
} catch (e) {
  failed = true;
  console.error(e);
} finally {
  if (context) await context.close().catch(() => {});
  for (const s of servers) s.close();
  harness.kill("SIGTERM");
  await new Promise((r) => harness.on("exit", r));
  rmSync(home, { recursive: true, force: true });
}
process.exit(failed ? 1 : 0);
