// PKCE challenges against @noble/hashes' SHA-256 and Node's base64url, the
// prompt cache key against an FNV-1a written with BigInt, and the account id
// read from JWTs that Node encodes.
import { sha256 } from '@noble/hashes/sha2.js';
import { callHelper, Checker, prng } from './lib.mjs';

const helper = process.argv[2];
const check = new Checker('model sign-in');
const rand = prng(20261207);
const unreserved = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~';

const verifiers = [];
for (let i = 0; i < 200; i++) {
  const n = 43 + Math.floor(rand() * 86);  // 43..128 characters
  let v = '';
  for (let j = 0; j < n; j++) v += unreserved[Math.floor(rand() * unreserved.length)];
  verifiers.push(v);
}
const challenges = callHelper(helper, verifiers.map((verifier) => ({ op: 'pkce', verifier })));
verifiers.forEach((v, i) => {
  const expected = Buffer.from(sha256(new TextEncoder().encode(v))).toString('base64url');
  check.equal(challenges[i].ok, expected, `S256 challenge of ${v}`);
});

function fnv1a64(text) {
  let h = 0xcbf29ce484222325n;
  for (const byte of new TextEncoder().encode(text)) {
    h ^= BigInt(byte);
    h = (h * 0x100000001b3n) & 0xffffffffffffffffn;
  }
  return h;
}
const texts = ['', 'a', 'You read chat.', 'Ты читаешь чат. 👍🏽\n\nAnswer in JSON.'];
for (let i = 0; i < 100; i++) {
  let t = '';
  const n = Math.floor(rand() * 300);
  for (let j = 0; j < n; j++) t += String.fromCodePoint(32 + Math.floor(rand() * (rand() < 0.8 ? 95 : 1100)));
  texts.push(t);
}
const keys = callHelper(helper, texts.map((instructions) => ({ op: 'promptCacheKey', instructions })));
texts.forEach((t, i) => check.equal(keys[i].ok, 'orwenna-' + fnv1a64(t).toString(36), `cache key ${i}`));

const jwts = [];
const accounts = [];
for (let i = 0; i < 50; i++) {
  const account = rand() < 0.2 ? null : `acct-${Math.floor(rand() * 1e9)}-ключ`;
  const payload = { exp: 1796541540 + i, sub: 'user', email: 'ü@example.com' };
  if (account) payload['https://api.openai.com/auth'] = { chatgpt_account_id: account, plan: 'plus' };
  const enc = (o) => Buffer.from(JSON.stringify(o)).toString('base64url');
  jwts.push(`${enc({ alg: 'RS256', typ: 'JWT' })}.${enc(payload)}.c2ln`);
  accounts.push(account);
}
const read = callHelper(helper, jwts.map((jwt) => ({ op: 'chatgptAccount', jwt })));
accounts.forEach((a, i) => check.equal(read[i].ok, a, `account id of token ${i}`));
check.finish();
