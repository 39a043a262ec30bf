// NEAR transactions against near-api-js: on a generated corpus, the signed
// transactions we build from the same fields (transfers, function calls,
// account deletion, and the wrap-and-deposit calls to wrap.near) equal, byte
// for byte, what near-api-js encodes and signs, and our transaction id is
// the Base58 of the hash near-api-js signs.
import { transactions, utils } from 'near-api-js';
import { ed25519 } from '@noble/curves/ed25519.js';
import { sha256 } from '@noble/hashes/sha2.js';
import { bytesToHex, hexToBytes } from '@noble/hashes/utils.js';
import { callHelper, Checker, prng } from './lib.mjs';

const helper = process.argv[2];
const check = new Checker('near');
const rand = prng(397);
const int = (n) => Math.floor(rand() * n);
const randomBytes = (n) => Uint8Array.from({ length: n }, () => int(256));
const bigOf = (bytes) => BigInt('0x' + (bytesToHex(bytes) || '0'));
const u64 = () => bigOf(randomBytes(1 + int(8)));
const u128 = () => bigOf(randomBytes(1 + int(16)));
const letters = 'abcdefghijklmnopqrstuvwxyz0123456789';
const word = () => Array.from({ length: 1 + int(10) }, () => letters[int(letters.length)]).join('');
const accountId = () => [word, () => `${word()}.near`, () => `${word()}-${word()}.${word()}.near`,
  () => bytesToHex(randomBytes(32))][int(4)]();
const { serialize } = utils;
const text = new TextEncoder();

function theirs(seed, nonce, receiver, blockHash, actions) {
  const pub = ed25519.getPublicKey(seed);
  const publicKey = utils.PublicKey.fromString('ed25519:' + serialize.base_encode(pub));
  const tx = transactions.createTransaction(bytesToHex(pub), publicKey, receiver, nonce, actions, blockHash);
  const encoded = transactions.encodeTransaction(tx);
  const hash = sha256(encoded);
  const signature = new transactions.Signature({ keyType: 0, data: ed25519.sign(hash, seed) });
  const signed = new transactions.SignedTransaction({ transaction: tx, signature });
  return { signed: bytesToHex(signed.encode()), id: serialize.base_encode(hash) };
}

const cases = [];
for (let i = 0; i < 1200; i++) {
  const seed = randomBytes(32);
  const blockHash = randomBytes(32);
  const nonce = u64();
  const receiver = accountId();
  const ours = [];
  const near = [];
  for (let n = int(5); n >= 0; n--) {
    const kind = int(3);
    if (kind === 0) {
      const deposit = u128();
      ours.push({ type: 'transfer', deposit: deposit.toString() });
      near.push(transactions.transfer(deposit));
    } else if (kind === 1) {
      const beneficiary = accountId();
      ours.push({ type: 'deleteAccount', beneficiary });
      near.push(transactions.deleteAccount(beneficiary));
    } else {
      const method = word();
      const args = JSON.stringify({ account_id: accountId(), amount: u128().toString(), flag: rand() < 0.5 });
      const gas = u64();
      const deposit = u128();
      ours.push({ type: 'functionCall', method, args, gas: gas.toString(), deposit: deposit.toString() });
      near.push(transactions.functionCall(method, text.encode(args), gas, deposit));
    }
  }
  cases.push({
    request: { op: 'near.signed', seed: bytesToHex(seed), nonce: nonce.toString(), receiver,
      blockHash: bytesToHex(blockHash), actions: ours },
    expected: theirs(seed, nonce, receiver, blockHash, near),
    what: `case ${i}`,
  });
}

const STORAGE = 1250000000000000000000n;
for (let i = 0; i < 200; i++) {
  const seed = randomBytes(32);
  const blockHash = randomBytes(32);
  const nonce = u64();
  const sender = bytesToHex(ed25519.getPublicKey(seed));
  const depositAddress = accountId();
  const amount = u128();
  const actions = [
    transactions.functionCall('storage_deposit', text.encode(JSON.stringify({ account_id: sender, registration_only: true })), 15000000000000n, STORAGE),
    transactions.functionCall('storage_deposit', text.encode(JSON.stringify({ account_id: depositAddress, registration_only: true })), 15000000000000n, STORAGE),
    transactions.functionCall('near_deposit', text.encode('{}'), 15000000000000n, amount),
    transactions.functionCall('ft_transfer', text.encode(JSON.stringify({ receiver_id: depositAddress, amount: amount.toString() })), 30000000000000n, 1n),
  ];
  cases.push({
    request: { op: 'near.intentDeposit', seed: bytesToHex(seed), nonce: nonce.toString(), sender, depositAddress,
      amount: amount.toString(), blockHash: bytesToHex(blockHash) },
    expected: { signed: theirs(seed, nonce, 'wrap.near', blockHash, actions).signed },
    what: `deposit ${i}`,
  });
}

const answers = callHelper(helper, cases.map((c) => c.request));
answers.forEach((a, i) => {
  const c = cases[i];
  if (a.error) { check.equal(a.error, '(no error)', c.what); return; }
  check.equal(a.ok.signed, c.expected.signed, `${c.what} signed bytes`);
  if (c.expected.id) check.equal(a.ok.id, c.expected.id, `${c.what} id`);
});
// Their decoder reads ours back.
const first = transactions.SignedTransaction.decode(hexToBytes(answers[0].ok.signed));
check.equal(first.transaction.receiverId, cases[0].request.receiver, 'decoded receiver');
check.finish();
