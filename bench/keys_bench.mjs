// The key operations of bench/keys_bench.cpp, measured with the npm libraries
// a JavaScript wallet would use (@scure/bip39, @scure/bip32, viem, @noble/hashes,
// @noble/curves), imported from tests/interop/node_modules (run `make test` or
// `npm ci` there first).
//
//   node bench/keys_bench.mjs                      # the libraries alone
//   node bench/keys_bench.mjs build/bench/bench/keys_bench
//                                                  # also runs ours, prints ours/theirs
//
// Each line reports nanoseconds per operation; "faster" is how many times ours
// beats the library (above 1 means ours is faster).
import { execFileSync } from 'node:child_process';

const modules = new URL('../tests/interop/node_modules/', import.meta.url);
const load = (path) => import(new URL(path, modules).href);
const { mnemonicToSeedSync } = await load('@scure/bip39/index.js');
const { HDKey } = await load('@scure/bip32/index.js');
const { privateKeyToAddress } = await load('viem/_esm/accounts/index.js');
const { keccak_256 } = await load('@noble/hashes/sha3.js');
const { hmac } = await load('@noble/hashes/hmac.js');
const { sha512 } = await load('@noble/hashes/sha2.js');
const { ed25519 } = await load('@noble/curves/ed25519.js');
const { base58 } = await load('@scure/base/index.js');

const phrase = 'legal winner thank year wave sausage worth useful legal winner thank yellow';
const seed = mnemonicToSeedSync(phrase, 'TREZOR');
const word = new Uint8Array(32).fill(0xab);
const mib = Uint8Array.from({ length: 1 << 20 }, (_, i) => (i * 31) & 0xff);

function slip10(seedBytes, indexes) {
  let I = hmac(sha512, new TextEncoder().encode('ed25519 seed'), seedBytes);
  for (const index of indexes) {
    const data = new Uint8Array(37);
    data.set(I.slice(0, 32), 1);
    new DataView(data.buffer).setUint32(33, (index | 0x80000000) >>> 0, false);
    I = hmac(sha512, I.slice(32), data);
  }
  return I.slice(0, 32);
}

// Nanoseconds per call: repeat until at least `budgetMs` has passed.
function measure(fn, budgetMs = 1000) {
  for (let i = 0; i < 3; i++) fn();
  let n = 0;
  const start = process.hrtime.bigint();
  let elapsed = 0n;
  while (elapsed < BigInt(budgetMs) * 1000000n) {
    fn();
    n++;
    elapsed = process.hrtime.bigint() - start;
  }
  return Number(elapsed) / n;
}

const theirs = {
  BM_PhraseToSeed: measure(() => mnemonicToSeedSync(phrase, 'TREZOR')),
  BM_SeedToEvmAddress: measure(() =>
    privateKeyToAddress(`0x${Buffer.from(HDKey.fromMasterSeed(seed).derive("m/44'/60'/0'/0/0").privateKey).toString('hex')}`)),
  BM_SeedToSolanaAddress: measure(() => base58.encode(ed25519.getPublicKey(slip10(seed, [44, 501, 0, 0])))),
  BM_Keccak256Of32Bytes: measure(() => keccak_256(word)),
  BM_Keccak256Of1MiB: measure(() => keccak_256(mib)),
};

let ours = {};
if (process.argv[2]) {
  const out = execFileSync(process.argv[2], ['--benchmark_format=json', '--benchmark_min_time=0.5'], { encoding: 'utf8' });
  for (const b of JSON.parse(out).benchmarks) {
    const scale = { ns: 1, us: 1e3, ms: 1e6, s: 1e9 }[b.time_unit];
    ours[b.name] = b.real_time * scale;
  }
}

const fmt = (ns) => (ns === undefined ? '—' : ns >= 1e6 ? `${(ns / 1e6).toFixed(2)} ms` : ns >= 1e3 ? `${(ns / 1e3).toFixed(2)} µs` : `${ns.toFixed(0)} ns`);
console.log('operation                 ours         npm libraries   faster');
for (const [name, t] of Object.entries(theirs)) {
  const o = ours[name];
  const ratio = o ? `${(t / o).toFixed(1)}×` : '';
  console.log(`${name.replace('BM_', '').padEnd(24)}  ${fmt(o).padEnd(11)}  ${fmt(t).padEnd(14)}  ${ratio}`);
}
