// Keys and addresses against the public libraries: accounts of random phrases
// and indexes (@scure/bip39 + @scure/bip32 + viem for EVM, SLIP-10 ed25519
// written here over @noble/hashes + @noble/curves for Solana and NEAR), phrase
// checksums, segwit decoding (@scure/base), key import and EVM address checks
// (viem).
import { entropyToMnemonic, mnemonicToSeedSync, validateMnemonic } from '@scure/bip39';
import { wordlist } from '@scure/bip39/wordlists/english.js';
import { HDKey } from '@scure/bip32';
import { privateKeyToAddress } from 'viem/accounts';
import { isAddress, getAddress } from 'viem';
import { hmac } from '@noble/hashes/hmac.js';
import { sha512 } from '@noble/hashes/sha2.js';
import { bytesToHex, utf8ToBytes } from '@noble/hashes/utils.js';
import { ed25519 } from '@noble/curves/ed25519.js';
import { base58, bech32, bech32m } from '@scure/base';
import { callHelper, Checker, prng } from './lib.mjs';

const helper = process.argv[2];
const check = new Checker('keys');
const rand = prng(2026);
const randomBytes = (n) => Uint8Array.from({ length: n }, () => Math.floor(rand() * 256));
const pick = (list) => list[Math.floor(rand() * list.length)];

function slip10Ed25519(seed, indexes) {
  let I = hmac(sha512, utf8ToBytes('ed25519 seed'), seed);
  for (const index of indexes) {
    const data = new Uint8Array(37);
    data.set(I.slice(0, 32), 1);
    new DataView(data.buffer).setUint32(33, (index | 0x80000000) >>> 0, false);
    I = hmac(sha512, I.slice(32), data);
  }
  return I.slice(0, 32);
}

// Accounts of random phrases of every length, with and without passphrases.
const passphrases = ['', '', 'TREZOR', 'correct horse', 'café', 'cafe\u0301', 'ﬁnance', 'пароль 123', '  spaced  '];
const cases = [];
for (let i = 0; i < 300; i++) {
  const entropy = randomBytes(pick([16, 20, 24, 28, 32]));
  const index = rand() < 0.7 ? Math.floor(rand() * 20) : Math.floor(rand() * 0x80000000);
  cases.push({ entropy, index, passphrase: pick(passphrases) });
}
const ours = callHelper(helper, cases.map((c) => ({ op: 'keysAccounts', entropy: bytesToHex(c.entropy), index: c.index, passphrase: c.passphrase })));
cases.forEach((c, i) => {
  const what = `entropy ${bytesToHex(c.entropy)} index ${c.index} passphrase ${JSON.stringify(c.passphrase)}`;
  const phrase = entropyToMnemonic(c.entropy, wordlist);
  const seed = mnemonicToSeedSync(phrase, c.passphrase);
  const evmKey = HDKey.fromMasterSeed(seed).derive(`m/44'/60'/0'/0/${c.index}`).privateKey;
  check.equal(ours[i].ok.phrase, phrase, `phrase of ${what}`);
  check.equal(ours[i].ok.seed, bytesToHex(seed), `seed of ${what}`);
  check.equal(ours[i].ok.evm, privateKeyToAddress(`0x${bytesToHex(evmKey)}`), `EVM account of ${what}`);
  check.equal(ours[i].ok.solana, base58.encode(ed25519.getPublicKey(slip10Ed25519(seed, [44, 501, c.index, 0]))), `Solana account of ${what}`);
  check.equal(ours[i].ok.near, bytesToHex(ed25519.getPublicKey(slip10Ed25519(seed, [44, 397, c.index]))), `NEAR account of ${what}`);
});

// Phrase validation: valid phrases, swapped words and replaced words.
const phrases = [];
for (let i = 0; i < 400; i++) {
  const words = entropyToMnemonic(randomBytes(pick([16, 20, 24, 28, 32])), wordlist).split(' ');
  const kind = i % 4;
  if (kind === 1) {
    const a = Math.floor(rand() * words.length), b = Math.floor(rand() * words.length);
    [words[a], words[b]] = [words[b], words[a]];
  } else if (kind === 2) {
    words[Math.floor(rand() * words.length)] = pick(wordlist);
  } else if (kind === 3) {
    words[words.length - 1] = pick(wordlist);
  }
  phrases.push(words.join(' '));
}
const normalized = callHelper(helper, phrases.map((phrase) => ({ op: 'mnemonicNormalize', phrase })));
let validPhrases = 0;
phrases.forEach((phrase, i) => {
  const valid = validateMnemonic(phrase, wordlist);
  if (valid) validPhrases++;
  check.equal(normalized[i].ok, valid ? phrase : null, `validity of ${phrase}`);
});
// Both outcomes must really occur, or the comparison above proves little.
check.equal(validPhrases > 80 && validPhrases < 320, true, `a mix of valid and invalid phrases (${validPhrases} valid)`);

// Segwit addresses: random programs, then each with one character changed.
function theirSegwit(hrp, address) {
  try {
    const lower = address.toLowerCase();
    if (address !== lower && address !== address.toUpperCase()) return null;
    let decoded, m = false;
    try { decoded = bech32.decode(lower, 90); } catch { decoded = bech32m.decode(lower, 90); m = true; }
    if (decoded.prefix !== hrp || decoded.words.length === 0) return null;
    const version = decoded.words[0];
    if (version > 16 || (version === 0) === m) return null;
    const program = (version === 0 ? bech32 : bech32m).fromWords(decoded.words.slice(1));
    if (program.length < 2 || program.length > 40) return null;
    if (version === 0 && program.length !== 20 && program.length !== 32) return null;
    return { version, program: bytesToHex(program) };
  } catch { return null; }
}
const addresses = [];
const charset = 'qpzry9x8gf2tvdw0s3jn54khce6mua7l';
for (let i = 0; i < 300; i++) {
  const version = rand() < 0.5 ? 0 : 1 + Math.floor(rand() * 16);
  const length = version === 0 ? pick([20, 32]) : 2 + Math.floor(rand() * 39);
  const program = randomBytes(length);
  const words = [version, ...bech32.toWords(program)];
  let address = (version === 0 ? bech32 : bech32m).encode(rand() < 0.8 ? 'bc' : 'tb', words, 90);
  if (rand() < 0.2) address = address.toUpperCase();
  addresses.push(address);
  const pos = 3 + Math.floor(rand() * (address.length - 3));
  const replaced = address.slice(0, pos) + pick([...charset]) + address.slice(pos + 1);
  addresses.push(address === address.toUpperCase() ? replaced.toUpperCase() : replaced);
}
const segwit = callHelper(helper, addresses.map((address) => ({ op: 'segwitDecode', hrp: 'bc', address })));
let decodedAddresses = 0;
addresses.forEach((address, i) => {
  const theirs = theirSegwit('bc', address);
  if (theirs) decodedAddresses++;
  check.equal(JSON.stringify(segwit[i].ok), JSON.stringify(theirs), `segwit ${address}`);
});
check.equal(decodedAddresses > 100 && decodedAddresses < 500, true, `a mix of good and bad addresses (${decodedAddresses} good)`);

// Pasted keys: EVM hex in any case and prefix, Solana secrets, keypairs and key files.
const pasted = [];
for (let i = 0; i < 200; i++) {
  const secret = randomBytes(32);
  if (i % 2 === 0) {
    let hex = bytesToHex(secret);
    if (rand() < 0.3) hex = hex.toUpperCase();
    pasted.push({ text: pick(['', '0x', '0X']) + hex, kind: 'evm', secret });
  } else {
    const pair = new Uint8Array([...secret, ...ed25519.getPublicKey(secret)]);
    const form = pick(['secret', 'pair', 'file']);
    const text = form === 'secret' ? base58.encode(secret) : form === 'pair' ? base58.encode(pair) : JSON.stringify([...pair]);
    pasted.push({ text, kind: 'solana', secret });
  }
}
const imported = callHelper(helper, pasted.map((p) => ({ op: 'importKey', text: p.text })));
pasted.forEach((p, i) => {
  const r = imported[i].ok;
  const expected = p.kind === 'evm'
    ? (() => { try { return privateKeyToAddress(`0x${bytesToHex(p.secret)}`); } catch { return undefined; } })()
    : base58.encode(ed25519.getPublicKey(p.secret));
  check.equal(r.kind, p.kind, `kind of ${p.text}`);
  check.equal(r.address, expected, `address of ${p.text}`);
});

// EVM address checks: viem's strict checksum test decides, in every letter case.
const evm = [];
for (let i = 0; i < 300; i++) {
  const checksummed = getAddress(`0x${bytesToHex(randomBytes(20))}`);
  const mode = i % 4;
  let text = checksummed;
  if (mode === 1) text = checksummed.toLowerCase();
  if (mode === 2) {
    const chars = [...checksummed];
    const letters = chars.map((c, k) => (k > 1 && /[a-fA-F]/.test(c) ? k : -1)).filter((k) => k >= 0);
    if (letters.length) {
      const k = pick(letters);
      chars[k] = chars[k] === chars[k].toUpperCase() ? chars[k].toLowerCase() : chars[k].toUpperCase();
    }
    text = chars.join('');
  }
  if (mode === 3) text = `0x${checksummed.slice(2).toUpperCase()}`;
  evm.push(text);
}
const problems = callHelper(helper, evm.map((address) => ({ op: 'addressProblem', network: 'ethereum', address })));
const badChecksum = 'The checksum doesn’t match, so a character is wrong. Copy the address again from the source.';
let refused = 0;
evm.forEach((address, i) => {
  if (problems[i].ok) refused++;
  const lettersMixed = /[a-f]/.test(address.slice(2)) && /[A-F]/.test(address.slice(2));
  const theirs = !lettersMixed || isAddress(address, { strict: true }) ? null : badChecksum;
  check.equal(problems[i].ok, theirs, `check of ${address}`);
});
check.equal(refused > 30 && refused < 150, true, `a mix of accepted and refused addresses (${refused} refused)`);

check.finish();
