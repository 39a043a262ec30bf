// Keccak-256 and Base58 against @noble/hashes and @scure/base, over every
// length around the Keccak block size and random payloads with leading zeros.
import { keccak_256 } from '@noble/hashes/sha3.js';
import { bytesToHex } from '@noble/hashes/utils.js';
import { base58 } from '@scure/base';
import { callHelper, Checker, prng } from './lib.mjs';

const helper = process.argv[2];
const check = new Checker('signing primitives');
const rand = prng(7);
const inputs = [];
for (let n = 0; n <= 300; n++) {
  const b = new Uint8Array(n);
  for (let i = 0; i < n; i++) b[i] = Math.floor(rand() * 256);
  inputs.push(b);
}
for (let k = 0; k < 40; k++) {
  const n = 1 + Math.floor(rand() * 64);
  const b = new Uint8Array(n);
  const zeros = Math.floor(rand() * 4);
  for (let i = zeros; i < n; i++) b[i] = Math.floor(rand() * 256);
  inputs.push(b);
}
const hexes = inputs.map((b) => bytesToHex(b));
const k = callHelper(helper, hexes.map((hex) => ({ op: 'keccak256', hex })));
const b58 = callHelper(helper, hexes.map((hex) => ({ op: 'base58', hex })));
inputs.forEach((b, i) => {
  check.equal(k[i].ok, bytesToHex(keccak_256(b)), `keccak of ${b.length} bytes`);
  check.equal(b58[i].ok.text, base58.encode(b), `base58 of ${hexes[i]}`);
  check.equal(b58[i].ok.back, hexes[i], `base58 back of ${hexes[i]}`);
});
check.finish();
