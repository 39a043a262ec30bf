// Peer comparison for bench/evm_signer_bench.cpp: runs our Google Benchmark
// program, measures @noble/curves (sign, recover) and viem (EIP-712 digest,
// page document read, personal-message hash) on the same inputs, and prints
// both times per operation and how many times faster ours is.
//
// Run from the repository root after `make bench` (and `make test` or
// `npm ci` in tests/interop, which installs the libraries):
//   node bench/evm_signer_bench.mjs [build/bench/bench/evm_signer_bench]
import { spawnSync } from 'node:child_process';
import { secp256k1 } from '../tests/interop/node_modules/@noble/curves/secp256k1.js';
import { keccak_256 } from '../tests/interop/node_modules/@noble/hashes/sha3.js';
import { getAddress, hashTypedData, hashMessage } from '../tests/interop/node_modules/viem/_esm/index.js';

const program = process.argv[2] ?? 'build/bench/bench/evm_signer_bench';
const run = spawnSync(program, ['--benchmark_format=json'], { encoding: 'utf8', maxBuffer: 64 << 20 });
if (run.status !== 0) {
  console.error(`could not run ${program} (build it with \`make bench\`): ${run.stderr || run.error}`);
  process.exit(1);
}
const ours = Object.fromEntries(JSON.parse(run.stdout).benchmarks.map((b) => [b.name, b.cpu_time]));

// Nanoseconds per call: calibrate to about one second, take the best of three.
function measure(fn) {
  let n = 1;
  for (;;) {
    const t0 = process.hrtime.bigint();
    for (let i = 0; i < n; i++) fn(i);
    const ns = Number(process.hrtime.bigint() - t0);
    if (ns > 2e8) { n = Math.ceil((n * 1e9) / ns); break; }
    n *= 4;
  }
  let best = Infinity;
  for (let round = 0; round < 3; round++) {
    const t0 = process.hrtime.bigint();
    for (let i = 0; i < n; i++) fn(i);
    best = Math.min(best, Number(process.hrtime.bigint() - t0) / n);
  }
  return best;
}

const text = (s) => new TextEncoder().encode(s);
const keys = Array.from({ length: 16 }, (_, i) => keccak_256(text(`bench key ${i}`)));
const hashes = Array.from({ length: 16 }, (_, i) => keccak_256(text(`bench message ${i}`)));
const sigs = keys.map((k, i) => secp256k1.sign(hashes[i], k, { prehash: false, format: 'recovered' }));
const toHex = (b) => Array.from(b, (x) => x.toString(16).padStart(2, '0')).join('');

function recoverAddress(i) {
  const point = secp256k1.Signature.fromBytes(sigs[i], 'recovered').recoverPublicKey(hashes[i]);
  return getAddress('0x' + toHex(keccak_256(point.toBytes(false).subarray(1)).subarray(12)));
}

const mail = {
  types: {
    EIP712Domain: [{ name: 'name', type: 'string' }, { name: 'version', type: 'string' }, { name: 'chainId', type: 'uint256' }, { name: 'verifyingContract', type: 'address' }],
    Person: [{ name: 'name', type: 'string' }, { name: 'wallet', type: 'address' }],
    Mail: [{ name: 'from', type: 'Person' }, { name: 'to', type: 'Person' }, { name: 'contents', type: 'string' }],
  },
  domain: { name: 'Ether Mail', version: '1', chainId: 1, verifyingContract: '0xCcCCccccCCCCcCCCCCCcCcCccCcCCCcCcccccccC' },
  primaryType: 'Mail',
  message: { from: { name: 'Cow', wallet: '0xCD2a3d9F938E13CD947Ec05AbC7FE734Df8DD826' }, to: { name: 'Bob', wallet: '0xbBbBBBBbbBBBbbbBbbBbbbbBBbBbbbbBbBbbBBbB' }, contents: 'Hello, Bob!' },
};
const permitText = JSON.stringify({
  types: {
    EIP712Domain: [{ name: 'name', type: 'string' }, { name: 'version', type: 'string' }, { name: 'chainId', type: 'uint256' }, { name: 'verifyingContract', type: 'address' }],
    Permit: [{ name: 'owner', type: 'address' }, { name: 'spender', type: 'address' }, { name: 'value', type: 'uint256' }, { name: 'nonce', type: 'uint256' }, { name: 'deadline', type: 'uint256' }],
  },
  primaryType: 'Permit',
  domain: { name: 'USD Coin', version: '2', chainId: 1, verifyingContract: '0xA0b86991c6218b36c1d19D4a2e9Eb0cE3606eB48' },
  message: { owner: '0x7E5F4552091A69125d5DfCb7b8C2659029395Bdf', spender: '0x2B5AD5c4795c026514f8317c7a215E218DcCD6cF', value: '1000000', nonce: 0, deadline: 1893456000 },
});
const hundred = new Uint8Array(100).fill(97);

const rows = [
  ['ECDSA sign (recoverable, RFC 6979)', 'BM_EVMSign', '@noble/curves sign', () => measure((i) => secp256k1.sign(hashes[i & 15], keys[i & 15], { prehash: false, format: 'recovered' }))],
  ['recover signer address', 'BM_EVMRecoverAddress', '@noble/curves recover + keccak + EIP-55', () => measure((i) => recoverAddress(i & 15))],
  ['EIP-712 digest, Mail example', 'BM_EIP712DigestMail', 'viem hashTypedData', () => measure(() => hashTypedData(mail))],
  ['read a page permit + digest', 'BM_TypedDataParsePermit', 'JSON.parse + viem hashTypedData', () => measure(() => hashTypedData(JSON.parse(permitText)))],
  ['personal-message hash, 100 bytes', 'BM_PersonalMessageHash100', 'viem hashMessage', () => measure(() => hashMessage({ raw: hundred }))],
];

console.log('operation'.padEnd(38) + 'ours ns'.padStart(12) + 'theirs ns'.padStart(12) + '  ratio  (theirs)');
let slower = 0;
for (const [what, name, peer, time] of rows) {
  const theirs = time();
  const mine = ours[name];
  const ratio = theirs / mine;
  if (ratio < 1) slower++;
  console.log(what.padEnd(38) + mine.toFixed(0).padStart(12) + theirs.toFixed(0).padStart(12) + `  ${ratio.toFixed(1)}x  (${peer})`);
}
if (slower > 0) console.log(`ours is slower on ${slower} line(s)`);
