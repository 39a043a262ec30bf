// The real orwenna-signer against the public libraries: phrases imported over
// its socket must show the accounts @scure/bip39 + @scure/bip32 + viem (EVM)
// and SLIP-10 over @noble/curves (Solana, NEAR) derive, and an order it signs
// must equal @nktkas/hyperliquid's signature with the key those libraries
// derive, r, s and v byte for byte. Run as: node this-file PATH/TO/orwenna-signer
import { spawn } from 'node:child_process';
import { mkdtempSync, writeFileSync, existsSync, readFileSync, rmSync } from 'node:fs';
import { connect } from 'node:net';
import { tmpdir } from 'node:os';
import { join, dirname } from 'node:path';
import { fileURLToPath } from 'node:url';
import { entropyToMnemonic, mnemonicToSeedSync } from '@scure/bip39';
import { wordlist } from '@scure/bip39/wordlists/english.js';
import { HDKey } from '@scure/bip32';
import { privateKeyToAccount } from 'viem/accounts';
import { hmac } from '@noble/hashes/hmac.js';
import { sha512 } from '@noble/hashes/sha2.js';
import { bytesToHex, utf8ToBytes } from '@noble/hashes/utils.js';
import { ed25519 } from '@noble/curves/ed25519.js';
import { base58 } from '@scure/base';
import { signL1Action } from '@nktkas/hyperliquid/signing';
import { Checker, prng } from './lib.mjs';

const program = process.argv[2];
const here = dirname(fileURLToPath(import.meta.url));
const check = new Checker('signer service');
const rand = prng(6101);
const randomBytes = (n) => Uint8Array.from({ length: n }, () => Math.floor(rand() * 256));

function slip10(seed, indexes) {
  let I = hmac(sha512, utf8ToBytes('ed25519 seed'), seed);
  for (const index of indexes) {
    const data = new Uint8Array(37);
    data.set(I.slice(0, 32), 1);
    new DataView(data.buffer).setUint32(33, (index | 0x80000000) >>> 0, false);
    I = hmac(sha512, I.slice(32), data);
  }
  return I.slice(0, 32);
}

// MsgPack's tagged JSON form, as the signer protocol carries an action.
function tagged(v) {
  if (v === null) return { kind: 'null' };
  if (typeof v === 'boolean') return { kind: 'bool', bool: v };
  if (typeof v === 'number') return { kind: 'uint', uint: v };
  if (typeof v === 'string') return { kind: 'string', string: v };
  if (Array.isArray(v)) return { kind: 'array', array: v.map(tagged) };
  return { kind: 'map', keys: Object.keys(v), values: Object.values(v).map(tagged) };
}

const phrases = [];
for (let i = 0; i < 12; i++) phrases.push(entropyToMnemonic(randomBytes([16, 20, 24, 28, 32][i % 5]), wordlist));
const passphrases = ['', 'TREZOR', 'пароль 123', 'café'];

const home = mkdtempSync(join(tmpdir(), 'orwenna-signer-interop-'));
const script = join(home, 'script');
writeFileSync(script, ['PIN interop passphrase', ...phrases.slice(1).map(() => 'OK'), 'OK'].join('\n') + '\n');
const env = {
  ...process.env, ORWENNA_HOME: home, ORWENNA_TEST: '1', ORWENNA_SIGNER_SCRYPT_LOG2N: '10',
  ORWENNA_PINENTRY: join(here, '..', 'signer', 'fake_pinentry.sh'), FAKE_PINENTRY_SCRIPT: script,
};
const socketPath = join(home, 'run', 'signer.sock');
const signer = spawn(program, [], { env, stdio: 'ignore' });

function call(request) {
  return new Promise((resolve, reject) => {
    const body = Buffer.from(JSON.stringify(request));
    const head = Buffer.alloc(4);
    head.writeUInt32BE(body.length);
    const chunks = [];
    const s = connect(socketPath, () => s.end(Buffer.concat([head, body])));
    s.on('data', (c) => chunks.push(c));
    s.on('error', reject);
    s.on('close', () => {
      const all = Buffer.concat(chunks);
      if (all.length < 4) return reject(new Error('no reply'));
      resolve(JSON.parse(all.subarray(4, 4 + all.readUInt32BE(0)).toString('utf8')));
    });
  });
}

try {
  for (let i = 0; i < 100 && !existsSync(socketPath); i++) await new Promise((r) => setTimeout(r, 50));
  const keys = [];
  for (const [i, phrase] of phrases.entries()) {
    const passphrase = passphrases[i % passphrases.length];
    const reply = await call({ importMnemonic: { phrase, passphrase, requirePresence: false } });
    const seed = mnemonicToSeedSync(phrase, passphrase);
    const evmKey = HDKey.fromMasterSeed(seed).derive("m/44'/60'/0'/0/0").privateKey;
    keys.push(`0x${bytesToHex(evmKey)}`);
    const wallet = reply.wallets?.at(-1) ?? {};
    const what = `phrase #${i} (${phrase.split(' ').length} words, passphrase ${JSON.stringify(passphrase)})`;
    check.equal(reply.ok, true, `${what} imported`);
    check.equal(wallet.evm, privateKeyToAccount(keys[i]).address, `${what} EVM account`);
    check.equal(wallet.solana, base58.encode(ed25519.getPublicKey(slip10(seed, [44, 501, 0, 0]))), `${what} Solana account`);
    check.equal(wallet.near, bytesToHex(ed25519.getPublicKey(slip10(seed, [44, 397, 0]))), `${what} NEAR account`);
  }
  // The first wallet is the active one: its order signature, byte for byte.
  const action = {
    type: 'order',
    orders: [{ a: 0, b: true, p: '64231.5', s: '0.0123', r: false, t: { limit: { tif: 'Gtc' } } }],
    grouping: 'na',
  };
  const nonce = 1765000000000;
  const reply = await call({ signHyperliquidL1: { action: tagged(action), nonce, mainnet: true } });
  const theirs = await signL1Action({ wallet: privateKeyToAccount(keys[0]), action, nonce });
  const hex = (b64) => `0x${Buffer.from(b64 ?? '', 'base64').toString('hex')}`;
  check.equal(reply.ok, true, 'order signed');
  check.equal(hex(reply.signature?.r), theirs.r, 'order r');
  check.equal(hex(reply.signature?.s), theirs.s, 'order s');
  check.equal(reply.signature?.v, theirs.v, 'order v');
} finally {
  const lock = join(home, 'run', 'signer.lock');
  if (existsSync(lock)) { try { process.kill(Number(readFileSync(lock, 'utf8'))); } catch {} }
  signer.kill();
  await new Promise((r) => setTimeout(r, 200));
  rmSync(home, { recursive: true, force: true });
}
check.finish();
