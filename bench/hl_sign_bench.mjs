// Peer comparison for bench/hl_sign_bench.cpp: runs our Google Benchmark
// program, then builds and signs the same order (and the same withdrawal)
// with @nktkas/hyperliquid over a viem local account, and prints both times
// per operation and how many times faster ours is.
//
// Run from the repository root after `make bench` (and `make test` or
// `npm ci` in tests/interop, which installs the libraries):
//   node bench/hl_sign_bench.mjs [build/bench/bench/hl_sign_bench]
import { spawnSync } from 'node:child_process';
import { encode } from '../tests/interop/node_modules/@msgpack/msgpack/dist.esm/index.mjs';
import { keccak_256 } from '../tests/interop/node_modules/@noble/hashes/sha3.js';
import { Withdraw3Types } from '../tests/interop/node_modules/@nktkas/hyperliquid/esm/api/exchange/mod.js';
import {
  createL1ActionHash, signL1Action, signUserSignedAction,
} from '../tests/interop/node_modules/@nktkas/hyperliquid/esm/signing/mod.js';
import { privateKeyToAccount } from '../tests/interop/node_modules/viem/_esm/accounts/index.js';

const program = process.argv[2] ?? 'build/bench/bench/hl_sign_bench';
const run = spawnSync(program, ['--benchmark_format=json'], { encoding: 'utf8', maxBuffer: 64 << 20 });
if (run.status !== 0) {
  console.error(`could not run ${program} (build it with \`make bench\`): ${run.stderr || run.error}`);
  process.exit(1);
}
const ours = Object.fromEntries(JSON.parse(run.stdout).benchmarks.map((b) => [b.name, b.cpu_time]));

// Nanoseconds per call: calibrate to about a second, take the best of three.
async function measure(fn) {
  let n = 1;
  for (;;) {
    const t0 = process.hrtime.bigint();
    for (let i = 0; i < n; i++) await fn(i);
    const ns = Number(process.hrtime.bigint() - t0);
    if (ns > 2e8) { n = Math.ceil((n * 1e9) / ns); break; }
    n *= 4;
  }
  let best = Infinity;
  for (let round = 0; round < 3; round++) {
    const t0 = process.hrtime.bigint();
    for (let i = 0; i < n; i++) await fn(i);
    best = Math.min(best, Number(process.hrtime.bigint() - t0) / n);
  }
  return best;
}

const key = `0x${Buffer.from(keccak_256(new TextEncoder().encode('hl bench key'))).toString('hex')}`;
const wallet = privateKeyToAccount(key);
const nonce = 1765000000000;
const order = () => ({
  type: 'order',
  orders: [{ a: 0, b: true, p: '64231.5', s: '0.0123', r: false, t: { limit: { tif: 'Gtc' } } }],
  grouping: 'na',
});
const withdraw = (i) => ({
  type: 'withdraw3', destination: '0x5e9ee1089755c3435139848e47e6635505d5a13a', amount: '25', time: nonce + i,
  signatureChainId: '0x66eee', hyperliquidChain: 'Mainnet',
});

const rows = [
  ['build + sign one order (L1)', 'BM_HLSignOrder', '@nktkas signL1Action',
    () => measure((i) => signL1Action({ wallet, action: order(), nonce: nonce + i }))],
  ['build + MessagePack of the order', 'BM_HLBuildAndPackOrder', '@msgpack/msgpack encode',
    () => measure(() => encode(order()))],
  ['action hash of the order', 'BM_HLActionHashOrder', '@nktkas createL1ActionHash',
    () => measure((i) => createL1ActionHash({ action: order(), nonce: nonce + i }))],
  ['build + sign a withdrawal (user)', 'BM_HLSignUserWithdraw', '@nktkas signUserSignedAction',
    () => measure((i) => signUserSignedAction({ wallet, action: withdraw(i), types: Withdraw3Types }))],
];

console.log('operation'.padEnd(36) + 'ours ns'.padStart(12) + 'theirs ns'.padStart(12) + '  ratio  (theirs)');
let below = 0;
for (const [what, name, peer, time] of rows) {
  const theirs = await time();
  const mine = ours[name];
  const ratio = theirs / mine;
  if (name === 'BM_HLSignOrder' && ratio < 10) below++;
  console.log(what.padEnd(36) + mine.toFixed(0).padStart(12) + theirs.toFixed(0).padStart(12) + `  ${ratio.toFixed(1)}x  (${peer})`);
}
if (below > 0) console.log('signing an order is less than 10x faster than the peer');
