// Our hex, Base64, JSON and Decimal-from-JSON-number against Node's Buffer,
// @noble/hashes' hex and JavaScript's own shortest round-trip number text.
import { bytesToHex } from '@noble/hashes/utils.js';
import { callHelper, Checker, prng } from './lib.mjs';

const helper = process.argv[2];
const check = new Checker('base codecs');
const rand = prng(20261206);

const blobs = [];
for (let n = 0; n < 70; n++) {
  const b = new Uint8Array(n);
  for (let i = 0; i < n; i++) b[i] = Math.floor(rand() * 256);
  blobs.push(b);
}
const codecAnswers = callHelper(helper, blobs.map((b) => ({ op: 'codecs', hex: Buffer.from(b).toString('hex') })));
blobs.forEach((b, i) => {
  const a = codecAnswers[i].ok;
  const buf = Buffer.from(b);
  check.equal(a.hex, bytesToHex(b), `hex of ${b.length} bytes`);
  check.equal(a.base64, buf.toString('base64'), `base64 of ${b.length} bytes`);
  check.equal(a.base64url, buf.toString('base64url'), `base64url of ${b.length} bytes`);
  check.equal(a.fromBase64, buf.toString('hex'), `base64 decode of ${b.length} bytes`);
});

// JSON.stringify keeps insertion order, as ordered_json must.
const docs = [
  { zeta: 1, alpha: [1, 2, { y: 'Привет', b: null }], mid: true, 'ключ': 'значение' },
  { type: 'order', orders: [{ a: 0, b: true, p: '100.5', s: '0.01', r: false }], grouping: 'na' },
  { emoji: '👍🏽', escaped: 'line\nbreak "quoted" \\ tab\t', big: 9007199254740991, neg: -42 },
];
const jsonAnswers = callHelper(helper, docs.map((d) => ({ op: 'json', text: JSON.stringify(d) })));
docs.forEach((d, i) => check.equal(jsonAnswers[i].ok, JSON.stringify(d), `JSON round trip ${i}`));

// JavaScript prints the shortest text that reads back as the same double;
// expand its exponent form to plain text, as our Decimal prints.
function plain(x) {
  let s = String(x);
  const m = s.match(/^(-?)(\d)(?:\.(\d+))?e([+-]\d+)$/);
  if (!m) return s;
  const [, sign, lead, frac = '', expText] = m;
  const exp = Number(expText);
  const digits = lead + frac;
  if (exp < 0) return `${sign}0.${'0'.repeat(-exp - 1)}${digits}`;
  return sign + digits + '0'.repeat(Math.max(0, exp - frac.length));
}
const numbers = [0.1, 0.2 + 0.1, 1e-7, 123456.789, 5e-324, 1.7976931348623157e308, -2.5e-5, 100, 0.30000000000000004];
for (let i = 0; i < 400; i++) {
  const mant = rand() * 2 - 1;
  const exp = Math.floor(rand() * 40) - 20;
  numbers.push(Number((mant * 10 ** exp).toPrecision(1 + Math.floor(rand() * 17))));
}
const finite = numbers.filter((x) => Math.abs(x) === 0 || (Math.abs(x) > 1e-120 && Math.abs(x) < 1e120));
const decAnswers = callHelper(helper, finite.map((x) => ({ op: 'decimal', value: x })));
finite.forEach((x, i) => {
  const expected = plain(x);
  const got = decAnswers[i].ok ?? decAnswers[i].error;
  // Beyond 38 significant digits nothing is lost: doubles carry at most 17.
  check.equal(got, expected === '-0' ? '0' : expected, `decimal of ${x}`);
});

check.finish();
