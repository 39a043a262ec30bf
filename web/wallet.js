// The wallet a web page sees: a Solana wallet registered by the Wallet
// Standard and an EVM provider (EIP-1193, announced by EIP-6963). It holds no
// key and decides nothing: every call goes to the app over the "orwenna"
// channel, and the app asks the user. Runs once per frame, before the page's
// own scripts.
(() => {
  "use strict";
  if (window.__orwennaWallet) return;

  const ICON = "data:image/svg+xml;base64," + btoa(
    '<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 32 32"><circle cx="16" cy="16" r="15" fill="#1f6f5c"/>' +
    '<circle cx="16" cy="16" r="8" fill="none" stroke="#fff" stroke-width="3"/></svg>');

  const toB64 = (bytes) => {
    let s = "";
    for (const b of bytes) s += String.fromCharCode(b);
    return btoa(s);
  };
  const fromB64 = (text) => Uint8Array.from(atob(text), (c) => c.charCodeAt(0));

  // An error text "code|message" becomes an Error with a numeric code; a text
  // without a bar is a refusal by the user.
  const toError = (text) => {
    text = String(text);
    const bar = text.indexOf("|");
    const code = bar >= 0 ? Number(text.slice(0, bar)) : 4001;
    const error = new Error(bar >= 0 ? text.slice(bar + 1) : text);
    error.code = Number.isFinite(code) ? code : 4001;
    return error;
  };

  // The channel: the app's own message handler where the page runs inside
  // it, otherwise a window message to the extension's relay in this frame.
  let nextId = 1;
  const waiting = new Map();
  const handler = window.webkit && window.webkit.messageHandlers && window.webkit.messageHandlers.orwenna;
  if (!handler) {
    window.addEventListener("message", (event) => {
      const d = event.data;
      if (event.source !== window || !d || d.orwenna !== "reply" || !waiting.has(d.id)) return;
      const { resolve, reject } = waiting.get(d.id);
      waiting.delete(d.id);
      if (d.error !== undefined) reject(toError(d.error)); else resolve(d.result);
    });
  }
  const call = (method, params) => {
    if (handler) {
      return handler.postMessage({ method, params }).catch((e) => { throw toError(e && e.message !== undefined ? e.message : e); });
    }
    return new Promise((resolve, reject) => {
      const id = nextId++;
      waiting.set(id, { resolve, reject });
      window.postMessage({ orwenna: "call", id, method, params }, window.location.origin === "null" ? "*" : window.location.origin);
    });
  };

  // ---- Solana, by the Wallet Standard
  const SOLANA_CHAINS = Object.freeze(["solana:mainnet"]);
  const listeners = { change: new Set() };
  let account = null;

  const emitChange = () => {
    for (const listener of [...listeners.change]) {
      try { listener({ accounts: wallet.accounts }); } catch (e) { console.error(e); }
    }
  };
  // Inputs given together are answered one after another, in their order.
  const oneByOne = async (inputs, each) => {
    const out = [];
    for (const input of inputs) out.push(await each(input));
    return out;
  };

  const features = {
    "standard:connect": {
      version: "1.0.0",
      connect: async (input) => {
        const reply = await call("connect", { silent: !!(input && input.silent) });
        account = Object.freeze({
          address: reply.address,
          publicKey: fromB64(reply.publicKey),
          chains: SOLANA_CHAINS,
          features: Object.freeze(["solana:signTransaction", "solana:signAndSendTransaction", "solana:signMessage"]),
          label: "orwenna",
        });
        emitChange();
        return { accounts: wallet.accounts };
      },
    },
    "standard:disconnect": {
      version: "1.0.0",
      disconnect: async () => {
        await call("disconnect", {});
        account = null;
        emitChange();
      },
    },
    "standard:events": {
      version: "1.0.0",
      on: (event, listener) => {
        const set = listeners[event] || (listeners[event] = new Set());
        set.add(listener);
        return () => set.delete(listener);
      },
    },
    "solana:signTransaction": {
      version: "1.0.0",
      supportedTransactionVersions: Object.freeze(["legacy", 0]),
      signTransaction: (...inputs) => oneByOne(inputs, async (input) => {
        const reply = await call("signTransaction", { transaction: toB64(input.transaction) });
        return { signedTransaction: fromB64(reply.signed) };
      }),
    },
    "solana:signAndSendTransaction": {
      version: "1.0.0",
      supportedTransactionVersions: Object.freeze(["legacy", 0]),
      signAndSendTransaction: (...inputs) => oneByOne(inputs, async (input) => {
        const reply = await call("signAndSendTransaction", { transaction: toB64(input.transaction) });
        return { signature: fromB64(reply.signature) };
      }),
    },
    "solana:signMessage": {
      version: "1.0.0",
      signMessage: (...inputs) => oneByOne(inputs, async (input) => {
        const reply = await call("signMessage", { message: toB64(input.message) });
        return { signedMessage: input.message, signature: fromB64(reply.signature) };
      }),
    },
  };

  const wallet = {
    version: "1.0.0",
    name: "orwenna",
    icon: ICON,
    chains: SOLANA_CHAINS,
    features,
    get accounts() { return account ? [account] : []; },
  };

  let registrations = 0;
  const register = (api) => {
    registrations += 1;
    try { api.register(wallet); } catch (e) { console.error(e); }
  };
  Object.defineProperty(window, "__orwennaRegistrations", { get: () => registrations, configurable: false });
  try {
    window.dispatchEvent(new CustomEvent("wallet-standard:register-wallet", { detail: (api) => register(api) }));
  } catch (e) { console.error(e); }
  window.addEventListener("wallet-standard:app-ready", (event) => {
    if (event.detail) register(event.detail);
  });
  try {
    const wallets = window.navigator.wallets || (window.navigator.wallets = []);
    wallets.push((api) => register(api));
  } catch (e) { console.error(e); }

  // ---- EVM, by EIP-1193
  const evmListeners = new Map();
  const emit = (event, value) => {
    for (const listener of [...(evmListeners.get(event) || [])]) {
      try { listener(value); } catch (e) { console.error(e); }
    }
  };
  const ethereum = {
    isOrwenna: true,
    request: async (args) => {
      const method = args && args.method;
      const params = args && args.params !== undefined ? args.params : [];
      const text = await call("eth", { method, params: JSON.stringify(params) });
      const result = text === null || text === undefined ? null : JSON.parse(text);
      if (method === "eth_requestAccounts") emit("accountsChanged", result);
      if (method === "wallet_switchEthereumChain") {
        emit("chainChanged", JSON.parse(await call("eth", { method: "eth_chainId", params: "[]" })));
      }
      return result;
    },
    on: (event, listener) => {
      if (!evmListeners.has(event)) evmListeners.set(event, new Set());
      evmListeners.get(event).add(listener);
      return ethereum;
    },
    removeListener: (event, listener) => {
      const set = evmListeners.get(event);
      if (set) set.delete(listener);
      return ethereum;
    },
  };

  // ---- EIP-6963
  const uuid = (crypto.randomUUID && crypto.randomUUID()) ||
    "10000000-1000-4000-8000-100000000000".replace(/[018]/g, (c) => (c ^ (crypto.getRandomValues(new Uint8Array(1))[0] & (15 >> (c / 4)))).toString(16));
  const info = Object.freeze({ uuid, name: "orwenna", icon: ICON, rdns: "app.orwenna" });
  const announce = () => window.dispatchEvent(
    new CustomEvent("eip6963:announceProvider", { detail: Object.freeze({ info, provider: ethereum }) }));
  window.addEventListener("eip6963:requestProvider", announce);
  announce();

  if (window.ethereum === undefined) {
    Object.defineProperty(window, "ethereum", { value: ethereum, configurable: true, writable: false });
  }
  Object.defineProperty(window, "__orwennaWallet", { value: Object.freeze({ wallet, ethereum }), configurable: false });
})();
