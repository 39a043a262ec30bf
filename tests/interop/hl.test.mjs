// Hyperliquid actions against the public libraries: our MessagePack bytes
// against @msgpack/msgpack; our builders' wire JSON against the exchange's
// documented shapes; our action hashes and L1 and user-signed signatures
// against @nktkas/hyperliquid (r, s and v byte for byte, recovering to the
// key's address); Relay's nonce mapping against viem; our rounded prices and
// sizes against @nktkas/hyperliquid's tick-size formatters.
import { encode } from '@msgpack/msgpack';
import {
  ApproveAgentTypes, SendAssetTypes, SpotSendTypes, UsdClassTransferTypes, UsdSendTypes, Withdraw3Types,
} from '@nktkas/hyperliquid/api/exchange';
import { createL1ActionHash, signL1Action, signUserSignedAction } from '@nktkas/hyperliquid/signing';
import { formatPrice, formatSize } from '@nktkas/hyperliquid/utils';
import { hashTypedData } from 'viem';
import { privateKeyToAccount } from 'viem/accounts';
import { callHelper, Checker, prng } from './lib.mjs';

const helper = process.argv[2];
const check = new Checker('hyperliquid');
const rand = prng(2026);
const pick = (xs) => xs[Math.floor(rand() * xs.length)];
const int = (lo, hi) => lo + Math.floor(rand() * (hi - lo + 1));
const hexOf = (bytes) => Buffer.from(bytes).toString('hex');
const randomHex = (n) => Array.from({ length: n }, () => int(0, 255).toString(16).padStart(2, '0')).join('');
const address = () => `0x${randomHex(20)}`;

// JSON text that keeps BigInt values as plain digits (the helper reads uint64).
function jsonText(v) {
  if (typeof v === 'bigint') return v.toString();
  if (Array.isArray(v)) return `[${v.map(jsonText).join(',')}]`;
  if (v !== null && typeof v === 'object') {
    return `{${Object.entries(v).map(([k, x]) => `${JSON.stringify(k)}:${jsonText(x)}`).join(',')}}`;
  }
  return JSON.stringify(v);
}
// With useBigInt64, @msgpack/msgpack writes uint64 only for BigInt values
// (plain numbers of 2^32 and more would become floats), so those go as BigInt.
function bigify(v) {
  if (typeof v === 'number' && Number.isInteger(v) && v >= 2 ** 32) return BigInt(v);
  if (Array.isArray(v)) return v.map(bigify);
  if (v !== null && typeof v === 'object') return Object.fromEntries(Object.entries(v).map(([k, x]) => [k, bigify(x)]));
  return v;
}
const packHex = (v) => hexOf(encode(bigify(v), { useBigInt64: true }));

// A decimal with up to `maxDecimals` decimals and its exchange text (no
// trailing zeros); `padded` adds zeros our builder must strip.
function decimal(maxInt, maxDecimals) {
  const whole = int(0, maxInt);
  const decimals = int(0, maxDecimals);
  let frac = '';
  for (let i = 0; i < decimals; i++) frac += int(0, 9);
  let wire = frac.replace(/0+$/, '') ? `${whole}.${frac.replace(/0+$/, '')}` : `${whole}`;
  if (wire === '0') wire = '1';
  const padded = rand() < 0.3 ? (wire.includes('.') ? `${wire}000` : `${wire}.00`) : wire;
  return { wire, padded };
}

const keys = Array.from({ length: 6 }, () => `0x${randomHex(32)}`);
const wallets = keys.map((k) => privateKeyToAccount(k));

// ---- Generic values at every width boundary -------------------------------
const values = [];
const textOf = (n) => Array.from({ length: n }, (_, i) => 'abcdefghij'[i % 10]).join('');
for (const n of [0, 1, 31, 32, 33, 255, 256, 65535, 65536, 70000]) values.push({ s: textOf(n) });
values.push({ cyr: 'Ж'.repeat(16), emoji: '🍺❤', mixed: 'naïve ΣΩ 漢字' });
for (const n of [0, 1, 127, 128, 255, 256, 65535, 65536, 4294967295, 4294967296, 2 ** 53 - 1]) values.push({ n });
for (const b of [2n ** 53n, 2n ** 63n, 2n ** 64n - 1n]) values.push({ big: b });
for (const n of [0, 1, 15, 16, 17, 300]) {
  values.push({ arr: Array.from({ length: n }, (_, i) => i) });
  values.push(Object.fromEntries(Array.from({ length: n }, (_, i) => [`k${i}`, i % 2 === 0 ? null : true])));
}
for (let i = 0; i < 40; i++) {
  const depth = int(1, 4);
  let v = pick([null, true, false, int(0, 1e6), textOf(int(0, 40))]);
  for (let d = 0; d < depth; d++) v = rand() < 0.5 ? [v, int(0, 300), 'x'] : { z: v, a: false, m: textOf(int(0, 35)) };
  values.push(v);
}
const packed = callHelper(helper, values.map((v) => ({ op: 'hl.msgpack', text: jsonText(v) })));
const viaTagged = callHelper(helper, values.map((v) => ({ op: 'hl.tagged', text: jsonText(v) })));
values.forEach((v, i) => {
  const want = packHex(v);
  check.equal(packed[i].ok, want, `msgpack of ${jsonText(v).slice(0, 80)}`);
  check.equal(viaTagged[i].ok, want, `tagged round trip of ${jsonText(v).slice(0, 80)}`);
});

// ---- L1 actions: orders, cancels, leverage ----------------------------------
function randomOrder() {
  const price = decimal(pick([1, 100, 100000]), 6);
  const size = decimal(pick([1, 50, 10000]), 5);
  const o = {
    asset: pick([0, 1, 5, 127, 128, int(0, 300), 10000 + int(0, 500), 110000 + int(0, 50)]),
    isBuy: rand() < 0.5, price: price.padded, size: size.padded, reduceOnly: rand() < 0.3,
  };
  let t;
  if (rand() < 0.35) {
    const trigger = decimal(100000, 4);
    o.trigger = trigger.padded; o.isMarket = rand() < 0.5; o.tpsl = pick(['sl', 'tp']);
    t = { trigger: { isMarket: o.isMarket, triggerPx: trigger.wire, tpsl: o.tpsl } };
  } else {
    o.tif = pick(['Gtc', 'Ioc', 'Alo']);
    t = { limit: { tif: o.tif } };
  }
  const wire = { a: o.asset, b: o.isBuy, p: price.wire, s: size.wire, r: o.reduceOnly, t };
  if (rand() < 0.5) { o.cloid = `0x${randomHex(16)}`; wire.c = o.cloid; }
  return { o, wire };
}

const l1 = [];  // { expected action object }
const orderRequests = [];
for (let i = 0; i < 150; i++) {
  const orders = Array.from({ length: pick([1, 1, 2, 3]) }, randomOrder);
  const grouping = pick(['na', 'normalTpsl', 'positionTpsl']);
  orderRequests.push({ op: 'hl.order', orders: orders.map((x) => x.o), grouping });
  l1.push({ type: 'order', orders: orders.map((x) => x.wire), grouping });
}
const cancelRequests = [];
for (let i = 0; i < 50; i++) {
  const cancels = Array.from({ length: int(1, 4) }, () => ({ a: int(0, 20000), o: pick([int(0, 1e6), int(1e10, 2 ** 45)]) }));
  cancelRequests.push({ op: 'hl.cancel', cancels });
  l1.push({ type: 'cancel', cancels });
}
const built = callHelper(helper, [...orderRequests, ...cancelRequests]);
built.forEach((b, i) => {
  check.equal(b.ok?.json, JSON.stringify(l1[i]), `builder wire ${i} ${b.error ?? ''}`);
  check.equal(b.ok?.hex, packHex(l1[i]), `builder bytes ${i}`);
});
for (let i = 0; i < 40; i++) {
  l1.push({ type: 'updateLeverage', asset: int(0, 200), isCross: rand() < 0.5, leverage: int(1, 50) });
}
l1.push({ type: 'scheduleCancel', time: 1700000000000 });
l1.push({ type: 'vaultTransfer', vaultAddress: address(), isDeposit: true, usd: 5000000 });

const l1Jobs = l1.map((action) => {
  const k = int(0, keys.length - 1);
  const nonce = 1700000000000 + int(0, 1e9);
  return {
    action, k, nonce,
    vault: rand() < 0.4 ? address() : undefined,
    expires: rand() < 0.4 ? nonce + int(1000, 600000) : undefined,
    mainnet: rand() < 0.5,
  };
});
const l1Ours = callHelper(helper, l1Jobs.map((j) => ({
  op: 'hl.signL1', text: jsonText(j.action), key: keys[j.k], nonce: j.nonce,
  vault: j.vault ?? null, expires: j.expires ?? null, mainnet: j.mainnet,
})));
for (const [i, j] of l1Jobs.entries()) {
  const what = `L1 ${j.action.type} #${i}${j.vault ? ' vault' : ''}${j.expires ? ' expires' : ''} ${j.mainnet ? 'mainnet' : 'testnet'}`;
  const ours = l1Ours[i].ok;
  if (!ours) { check.equal(l1Ours[i].error, undefined, what); continue; }
  const args = { action: j.action, nonce: j.nonce, vaultAddress: j.vault, expiresAfter: j.expires };
  const theirs = await signL1Action({ wallet: wallets[j.k], ...args, isTestnet: !j.mainnet });
  check.equal(ours.hash, createL1ActionHash(args), `${what} action hash`);
  check.equal(ours.r, theirs.r, `${what} r`);
  check.equal(ours.s, theirs.s, `${what} s`);
  check.equal(ours.v, theirs.v, `${what} v`);
  check.equal(ours.recovered, wallets[j.k].address, `${what} recovers`);
  const body = { action: j.action, nonce: j.nonce, signature: theirs, vaultAddress: j.vault ?? null };
  check.equal(ours.body, JSON.stringify(body), `${what} body`);
}

// ---- User-signed actions ------------------------------------------------------
const userTypes = {
  usdClassTransfer: UsdClassTransferTypes, spotSend: SpotSendTypes, sendAsset: SendAssetTypes,
  usdSend: UsdSendTypes, withdraw3: Withdraw3Types, approveAgent: ApproveAgentTypes,
};
function userAction(type, mainnet) {
  const chain = { signatureChainId: '0x66eee', hyperliquidChain: mainnet ? 'Mainnet' : 'Testnet' };
  const amount = decimal(pick([1, 1000, 10000000]), 8);
  const time = 1700000000000 + int(0, 1e9);
  switch (type) {
    case 'usdClassTransfer': {
      const f = { amount: amount.padded, toPerp: rand() < 0.5, nonce: time };
      return { f, action: { type, amount: amount.wire, toPerp: f.toPerp, nonce: time, ...chain } };
    }
    case 'spotSend': {
      const f = { destination: address(), token: pick(['USDC:0x6d1e7cde53ba9467b783cb7c530ce054', 'PURR:0xc4bf3f870c0e9465323c0b6ed28096c2']), amount: amount.padded, time };
      return { f, action: { type, destination: f.destination, token: f.token, amount: amount.wire, time, ...chain } };
    }
    case 'sendAsset': {
      const f = {
        destination: address(), sourceDex: pick(['', 'xyz']), destinationDex: pick(['', 'spot', 'xyz']),
        token: 'USDC:0x6d1e7cde53ba9467b783cb7c530ce054', amount: amount.padded,
        fromSubAccount: rand() < 0.5 ? '' : address(), nonce: time,
      };
      return { f, action: { type, destination: f.destination, sourceDex: f.sourceDex, destinationDex: f.destinationDex, token: f.token, amount: amount.wire, fromSubAccount: f.fromSubAccount, nonce: time, ...chain } };
    }
    case 'usdSend': {
      const f = { destination: address(), amount: amount.padded, time };
      return { f, action: { type, ...chain, destination: f.destination, amount: amount.wire, time } };
    }
    case 'withdraw3': {
      const f = { destination: address(), amount: amount.padded, time };
      return { f, action: { type, destination: f.destination, amount: amount.wire, time, ...chain } };
    }
    default: {
      const f = { agentAddress: address(), agentName: pick(['', 'orwenna', 'agent 7', 'Ж']), nonce: time };
      return { f, action: { type, agentAddress: f.agentAddress, agentName: f.agentName, nonce: time, ...chain } };
    }
  }
}
const userJobs = [];
for (const type of Object.keys(userTypes)) {
  for (let i = 0; i < 24; i++) {
    const mainnet = i % 2 === 0;
    userJobs.push({ type, mainnet, k: int(0, keys.length - 1), ...userAction(type, mainnet) });
  }
}
const userBuilt = callHelper(helper, userJobs.map((j) => ({ op: 'hl.user', type: j.type, fields: j.f, mainnet: j.mainnet })));
const userSigned = callHelper(helper, userJobs.map((j) => ({
  op: 'hl.signUser', text: JSON.stringify(j.action), key: keys[j.k], mainnet: j.mainnet,
})));
for (const [i, j] of userJobs.entries()) {
  const what = `${j.type} #${i} ${j.mainnet ? 'mainnet' : 'testnet'}`;
  check.equal(userBuilt[i].ok?.json, JSON.stringify(j.action), `${what} builder ${userBuilt[i].error ?? ''}`);
  check.equal(userBuilt[i].ok?.hex, packHex(j.action), `${what} builder bytes`);
  const ours = userSigned[i].ok;
  if (!ours) { check.equal(userSigned[i].error, undefined, what); continue; }
  const theirs = await signUserSignedAction({ wallet: wallets[j.k], action: j.action, types: userTypes[j.type] });
  check.equal(ours.r, theirs.r, `${what} r`);
  check.equal(ours.s, theirs.s, `${what} s`);
  check.equal(ours.v, theirs.v, `${what} v`);
  check.equal(ours.recovered, wallets[j.k].address, `${what} recovers`);
}

// ---- Relay's nonce mapping -------------------------------------------------------
const relayJobs = Array.from({ length: 24 }, () => ({
  k: int(0, keys.length - 1), wallet: address(), id: `0x${randomHex(32)}`, nonce: BigInt(int(0, 2 ** 31)) * 4096n + BigInt(int(0, 4095)),
}));
const relayOurs = callHelper(helper, relayJobs.map((j) => ({
  op: 'hl.relay', key: keys[j.k], wallet: j.wallet, depositor: wallets[j.k].address, id: j.id, nonce: Number(j.nonce),
})));
for (const [i, j] of relayJobs.entries()) {
  const typed = {
    domain: { name: 'RelayNonceMapping', version: '2', chainId: 1, verifyingContract: '0x0000000000000000000000000000000000000000' },
    types: {
      NonceMapping: [
        { name: 'chainId', type: 'string' }, { name: 'wallet', type: 'address' }, { name: 'depositor', type: 'address' },
        { name: 'id', type: 'bytes32' }, { name: 'nonce', type: 'uint256' },
      ],
    },
    primaryType: 'NonceMapping',
    message: { chainId: 'hyperliquid', wallet: j.wallet, depositor: wallets[j.k].address, id: j.id, nonce: j.nonce },
  };
  const ours = relayOurs[i].ok;
  if (!ours) { check.equal(relayOurs[i].error, undefined, `relay #${i}`); continue; }
  const sig = await wallets[j.k].signTypedData(typed);
  check.equal(ours.digest, hashTypedData(typed), `relay #${i} digest`);
  check.equal(ours.r, `0x${sig.slice(2, 66)}`, `relay #${i} r`);
  check.equal(ours.s, `0x${sig.slice(66, 130)}`, `relay #${i} s`);
  check.equal(ours.v, parseInt(sig.slice(130, 132), 16), `relay #${i} v`);
}

// ---- Rounding ------------------------------------------------------------------------
// Our rounded price must already satisfy the library's tick rules (its
// formatter leaves it unchanged); our size must equal its truncation.
const roundJobs = [];
for (let i = 0; i < 200; i++) {
  const magnitude = pick([0.00001, 0.001, 0.1, 1, 10, 1000, 100000]);
  const value = (rand() * magnitude * 10).toFixed(int(0, 10));
  const spot = rand() < 0.4;
  roundJobs.push({ value: value === '0' || /^0\.?0*$/.test(value) ? '1.5' : value, szDecimals: spot ? int(0, 7) : int(0, 5), spot });
}
const rounded = callHelper(helper, roundJobs.map((j) => ({ op: 'hl.round', ...j })));
for (const [i, j] of roundJobs.entries()) {
  const ours = rounded[i].ok;
  const what = `round ${j.value} sz${j.szDecimals} ${j.spot ? 'spot' : 'perp'}`;
  if (!ours) { check.equal(rounded[i].error, undefined, what); continue; }
  if (ours.price !== '0') check.equal(formatPrice(ours.price, j.szDecimals, j.spot ? 'spot' : 'perp'), ours.price, `${what} price`);
  if (ours.size !== '0') check.equal(ours.size, formatSize(j.value, j.szDecimals), `${what} size`);
}

console.log(`actions: ${values.length} values, ${l1Jobs.length} L1, ${userJobs.length} user-signed, ${relayJobs.length} relay, ${roundJobs.length} rounding`);
check.finish();
