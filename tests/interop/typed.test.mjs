// EIP-712 digests, personal-message hashes, signatures and recovery against
// viem and @noble/curves: random nested typed data (through EIP712), random
// flat page documents with every number form (through TypedData), random
// messages, and random keys whose RFC 6979 signatures must be byte-identical.
import { hashTypedData, hashDomain, hashStruct, hashMessage, getAddress, recoverAddress } from 'viem';
import { privateKeyToAddress } from 'viem/accounts';
import { secp256k1 } from '@noble/curves/secp256k1.js';
import { bytesToHex } from '@noble/hashes/utils.js';
import { readFileSync } from 'node:fs';
import { callHelper, Checker, prng } from './lib.mjs';

const helper = process.argv[2];
const check = new Checker('typed data and EVM signatures');
const rand = prng(712);
const int = (n) => Math.floor(rand() * n);
const pick = (list) => list[int(list.length)];
const randBytes = (n) => Uint8Array.from({ length: n }, () => int(256));
const hex = (b) => '0x' + bytesToHex(b);
const toJson = (value) => JSON.stringify(value, (_, v) => (typeof v === 'bigint' ? v.toString() : v));

const texts = ['', 'Hello, Bob!', 'Привет, мир', '日本語のテキスト', 'emoji 🚀🔥', 'quote " and \\ backslash', 'line\nbreak', 'x'.repeat(300)];
function randString() {
  return int(3) === 0 ? pick(texts) : Array.from({ length: int(40) }, () => String.fromCharCode(32 + int(95))).join('');
}
function randUint(width) {
  const edge = int(5);
  if (edge === 0) return 0n;
  if (edge === 1) return (1n << BigInt(width)) - 1n;
  let v = 0n;
  for (let i = 0; i < width / 8; i++) v = (v << 8n) | BigInt(int(256));
  return v >> BigInt(int(width));
}
const widths = [8, 16, 32, 48, 64, 96, 128, 160, 256];
const atoms = ['string', 'address', 'bool', 'bytes32', 'bytes', 'uint'];

function randAtom(kind) {
  switch (kind) {
    case 'string': return { type: 'string', value: randString() };
    case 'address': return { type: 'address', value: getAddress(hex(randBytes(20))) };
    case 'bool': return { type: 'bool', value: rand() < 0.5 };
    case 'bytes32': return { type: 'bytes32', value: hex(randBytes(32)) };
    case 'bytes': return { type: 'bytes', value: hex(randBytes(pick([0, 1, 31, 32, 33, 64, 200]))) };
    default: { const w = pick(widths); return { type: `uint${w}`, value: randUint(w) }; }
  }
}

const canonicalDomain = [
  ['name', 'string', () => pick(['Ether Mail', 'Permit2', 'Exchange', 'Пример', ''])],
  ['version', 'string', () => pick(['1', '2', '0.1.4'])],
  ['chainId', 'uint256', () => BigInt(pick([1, 10, 137, 8453, 42161, 421614, 1337]))],
  ['verifyingContract', 'address', () => getAddress(hex(randBytes(20)))],
  ['salt', 'bytes32', () => hex(randBytes(32))],
];
function randDomain() {
  const domain = {};
  const fields = [];
  for (const [name, type, make] of canonicalDomain) {
    if (rand() < 0.6) { domain[name] = make(); fields.push({ name, type }); }
  }
  return { domain, fields };
}

// Nested documents: struct types may only refer to types later in the list, so
// there are no cycles; names are shuffled so sorting matters.
function randNested() {
  const names = ['Zeta', 'Asset', 'Person', 'Order', 'Mango', 'Beta'].sort(() => rand() - 0.5).slice(0, 1 + int(4));
  const types = {};
  const makers = {};
  for (let i = names.length - 1; i >= 0; i--) {
    const later = names.slice(i + 1);
    const fields = [];
    const n = 1 + int(5);
    for (let k = 0; k < n; k++) {
      const name = `f${k}`;
      if (later.length > 0 && rand() < 0.35) fields.push({ name, type: pick(later) });
      else fields.push({ name, type: pick(atoms), atom: true });
    }
    const widthsOf = fields.map((f) => (f.atom && f.type === 'uint' ? pick(widths) : 0));
    types[names[i]] = fields.map((f, k) => ({ name: f.name, type: f.type === 'uint' ? `uint${widthsOf[k]}` : f.type }));
    makers[names[i]] = () => {
      const value = {};
      types[names[i]].forEach((f) => {
        if (makers[f.type]) value[f.name] = makers[f.type]();
        else if (f.type.startsWith('uint')) value[f.name] = randUint(Number(f.type.slice(4)));
        else value[f.name] = randAtom(f.type).value;
      });
      return value;
    };
  }
  const { domain, fields } = randDomain();
  types.EIP712Domain = fields;
  return { types, domain, primaryType: names[0], message: makers[names[0]]() };
}

const nested = Array.from({ length: 300 }, randNested);
// The EIP's own example, with its nested Person, rides along.
nested.push({
  types: {
    EIP712Domain: [{ name: 'name', type: 'string' }, { name: 'version', type: 'string' }, { name: 'chainId', type: 'uint256' }, { name: 'verifyingContract', type: 'address' }],
    Person: [{ name: 'name', type: 'string' }, { name: 'wallet', type: 'address' }],
    Mail: [{ name: 'from', type: 'Person' }, { name: 'to', type: 'Person' }, { name: 'contents', type: 'string' }],
  },
  domain: { name: 'Ether Mail', version: '1', chainId: 1n, verifyingContract: '0xCcCCccccCCCCcCCCCCCcCcCccCcCCCcCcccccccC' },
  primaryType: 'Mail',
  message: { from: { name: 'Cow', wallet: '0xCD2a3d9F938E13CD947Ec05AbC7FE734Df8DD826' }, to: { name: 'Bob', wallet: '0xbBbBBBBbbBBBbbbBbbBbbbbBBbBbbbbBbBbbBBbB' }, contents: 'Hello, Bob!' },
});
const ours = callHelper(helper, nested.map((d) => JSON.parse(toJson({ op: 'eip712', ...d }))));
nested.forEach((d, i) => {
  const what = `nested ${i} (${d.primaryType})`;
  if (!ours[i].ok) { check.equal(ours[i].error, undefined, what); return; }
  check.equal(ours[i].ok.digest, hashTypedData(d), `${what} digest`);
  check.equal(ours[i].ok.domain, hashDomain({ domain: d.domain, types: d.types }), `${what} domain separator`);
  check.equal(ours[i].ok.message, hashStruct({ data: d.message, primaryType: d.primaryType, types: d.types }), `${what} struct hash`);
});
check.equal(ours[nested.length - 1].ok.digest, '0xbe609aee343fb3c4b28e1df9e632fca64fcfaede20f02e86244efddf30957bd2', 'Mail digest');

// Flat page documents as JSON text. Numbers are written as a page might: JSON
// number literals (also beyond 2^53), decimal strings, or 0x hex strings.
function numberText(v) {
  const form = int(3);
  if (form === 0) return { json: `@@${v}@@`, shown: v.toString() };
  if (form === 1) return { json: v.toString(), shown: v.toString() };
  const h = '0x' + v.toString(16);
  return { json: h, shown: h };
}
function randFlat() {
  const { domain, fields } = randDomain();
  const n = int(7);
  const typeFields = [];
  const message = {};
  const pageMessage = {};
  const shown = [];
  for (let k = 0; k < n; k++) {
    const a = randAtom(pick(atoms));
    const name = `field${k}`;
    typeFields.push({ name, type: a.type });
    message[name] = a.value;
    if (typeof a.value === 'bigint') {
      const t = numberText(a.value);
      pageMessage[name] = t.json;
      shown.push(t.shown);
    } else if (a.type === 'bool' && rand() < 0.3) {
      pageMessage[name] = a.value ? 'true' : 'false';  // "true" as text counts as true
      shown.push(a.value ? 'true' : 'false');
    } else {
      pageMessage[name] = a.value;
      shown.push(String(a.value));
    }
  }
  const declareDomain = rand() < 0.5;
  const types = { Flat: typeFields };
  if (declareDomain) types.EIP712Domain = fields;
  const pageDomain = { ...domain };
  if (domain.chainId !== undefined) pageDomain.chainId = numberText(domain.chainId).json;
  // Domain keys in shuffled order: inference must not follow them.
  const shuffled = Object.fromEntries(Object.entries(pageDomain).sort(() => rand() - 0.5));
  const text = JSON.stringify({ types, primaryType: 'Flat', domain: shuffled, message: pageMessage }).replace(/"@@(\d+)@@"/g, '$1');
  return { viem: { types, domain, primaryType: 'Flat', message }, text, shown };
}
const flat = Array.from({ length: 300 }, randFlat);
const flatOurs = callHelper(helper, flat.map((f) => ({ op: 'typedData', text: f.text })));
flat.forEach((f, i) => {
  if (!flatOurs[i].ok) { check.equal(flatOurs[i].error, undefined, `flat ${i}: ${f.text}`); return; }
  check.equal(flatOurs[i].ok.digest, hashTypedData(f.viem), `flat ${i} digest: ${f.text}`);
  check.equal(JSON.stringify(flatOurs[i].ok.values), JSON.stringify(f.shown), `flat ${i} shown values`);
});

// The readable documents of the refusal-policy table: what we would show a
// user for signing must be what viem hashes.
const policy = JSON.parse(readFileSync(new URL('../data/typed_data_policy.json', import.meta.url), 'utf8')).cases.filter((c) => !c.error);
function forViem(doc) {
  const convert = (fields, values) => Object.fromEntries(fields.map(({ name, type }) =>
    [name, type.startsWith('uint') ? BigInt(values[name]) : values[name]]).filter(([, v]) => v !== undefined));
  const domainFields = doc.types.EIP712Domain;
  return { ...doc, domain: domainFields ? convert(domainFields, doc.domain) : { ...doc.domain, chainId: doc.domain.chainId === undefined ? undefined : BigInt(doc.domain.chainId) },
    message: convert(doc.types[doc.primaryType], doc.message) };
}
const policyOurs = callHelper(helper, policy.map((c) => ({ op: 'typedData', text: JSON.stringify(c.document) })));
policy.forEach((c, i) => {
  check.equal(policyOurs[i].ok?.digest, hashTypedData(forViem(c.document)), `policy document digest: ${c.name}`);
  check.equal(policyOurs[i].ok?.refusal, c.refusal, `policy document refusal: ${c.name}`);
});

// Personal messages: random bytes and UTF-8 texts.
const messages = [];
for (let i = 0; i < 150; i++) messages.push({ raw: randBytes(pick([0, 1, 9, 10, 32, 99, 100, 1000, int(300)])) });
for (const t of texts) messages.push({ text: t });
const msgOurs = callHelper(helper, messages.map((m) => ({ op: 'personalHash', hex: m.raw ? hex(m.raw) : hex(new TextEncoder().encode(m.text)) })));
messages.forEach((m, i) => {
  const theirs = m.raw ? hashMessage({ raw: m.raw }) : hashMessage(m.text);
  check.equal(msgOurs[i].ok, theirs, `personal message ${i}`);
});

// Signatures: byte-identical with noble's RFC 6979, recovering the key's address.
const N = secp256k1.Point.CURVE().n;
const keys = [];
while (keys.length < 250) {
  const k = randBytes(32);
  if (secp256k1.utils.isValidSecretKey(k)) keys.push(k);
}
const hashes = keys.map(() => randBytes(32));
const sigOurs = callHelper(helper, keys.map((k, i) => ({ op: 'sign', key: hex(k), hash: hex(hashes[i]) })));
const recoverRequests = [];
const expected = [];
for (let i = 0; i < keys.length; i++) {
  const rec = secp256k1.sign(hashes[i], keys[i], { prehash: false, format: 'recovered' });
  const theirs = bytesToHex(rec.slice(1)) + (27 + rec[0]).toString(16);
  check.equal(sigOurs[i].ok, theirs, `signature ${i}`);
  const address = privateKeyToAddress(hex(keys[i]));
  recoverRequests.push({ op: 'recover', signature: '0x' + theirs, hash: hex(hashes[i]) });
  expected.push(address);
  // The same signature with high s and the other recovery id names the same key.
  const s = BigInt('0x' + bytesToHex(rec.slice(33)));
  const high = bytesToHex(rec.slice(1, 33)) + (N - s).toString(16).padStart(64, '0') + (28 - rec[0]).toString(16);
  recoverRequests.push({ op: 'recover', signature: '0x' + high, hash: hex(hashes[i]) });
  expected.push(address);
  // Over another hash both sides recover the same (unrelated) key, or both fail.
  const other = randBytes(32);
  recoverRequests.push({ op: 'recover', signature: '0x' + theirs, hash: hex(other) });
  expected.push(await recoverAddress({ hash: hex(other), signature: '0x' + theirs }).catch(() => 'error'));
}
const recOurs = callHelper(helper, recoverRequests);
recOurs.forEach((r, i) => check.equal(r.ok ?? 'error', expected[i], `recovery ${i}`));
check.finish();
