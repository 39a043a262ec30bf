// EVM encodings against viem:
// - signing hashes, unsigned and signed serialisations of generated EIP-1559
//   and EIP-7702 transactions equal serializeTransaction's (and keccak256 of it);
// - authorisation hashes equal hashAuthorization's;
// - a batch of calls becomes the type-4 transaction viem builds from
//   encodeFunctionData(execute((address,uint256,bytes)[])) sent to the wallet
//   itself, with one authorisation to the batch contract for nonce + 1;
// - ABI encodings of generated arguments equal encodeAbiParameters';
// - ENS namehashes equal namehash's.
import { encodeAbiParameters, encodeFunctionData, keccak256, serializeTransaction } from 'viem';
import { hashAuthorization } from 'viem/utils';
import { namehash } from 'viem/ens';
import { callHelper, Checker, prng } from './lib.mjs';

const helper = process.argv[2];
const check = new Checker('evm');
const rand = prng(1559);
const int = (n) => Math.floor(rand() * n);
const hex = (n) => '0x' + Array.from({ length: n }, () => int(256).toString(16).padStart(2, '0')).join('');
const BATCH = '0x4cd241e8d1510e30b2076397afc7508ae59c66c9';
// Numbers of every size, zero and the byte boundaries included.
const bigOf = (maxBytes) => {
  const pick = int(6);
  if (pick === 0) return 0n;
  if (pick === 1) return BigInt(int(128));
  if (pick === 2) return 128n;
  const bytes = 1 + int(maxBytes);
  return BigInt(hex(bytes));
};
const sig = () => ({ r: hex(32), s: hex(32), yParity: int(2) });
const padded = (s) => '0x' + s.slice(2).padStart(64, '0');

// 1. Transactions.
const txs = Array.from({ length: 400 }, (_, i) => {
  const maxFeePerGas = bigOf(16);
  const tip = maxFeePerGas === 0n ? 0n : maxFeePerGas / BigInt(1 + int(4));
  const withAuth = i % 2 === 1;
  return {
    chainId: [1, 10, 56, 137, 999, 8453, 42161, 4217, 4663][int(9)],
    nonce: bigOf(6),
    maxPriorityFeePerGas: tip,
    maxFeePerGas,
    gas: bigOf(4),
    to: hex(20),
    value: bigOf(32),
    data: [`0x`, hex(1), hex(55), hex(56), hex(int(300))][int(5)],
    authorizations: withAuth
      ? Array.from({ length: 1 + int(3) }, () => ({ chainId: [0, 1, 8453][int(3)], address: rand() < 0.5 ? BATCH : hex(20), nonce: bigOf(6), ...sig() }))
      : [],
    signature: sig(),
  };
});
const ours = callHelper(helper, txs.map((t) => ({
  op: 'evm.tx',
  chainId: String(t.chainId), nonce: String(t.nonce), maxPriorityFeePerGas: String(t.maxPriorityFeePerGas),
  maxFeePerGas: String(t.maxFeePerGas), gas: String(t.gas), to: t.to, value: String(t.value), data: t.data,
  authorizations: t.authorizations.map((a) => ({ ...a, chainId: String(a.chainId), nonce: String(a.nonce), r: padded(a.r), s: padded(a.s) })),
  signature: { ...t.signature, r: padded(t.signature.r), s: padded(t.signature.s) },
})));
txs.forEach((t, i) => {
  if (ours[i].error) { check.equal(ours[i].error, undefined, `tx ${i}`); return; }
  const base = {
    chainId: t.chainId, nonce: Number(t.nonce), maxPriorityFeePerGas: t.maxPriorityFeePerGas,
    maxFeePerGas: t.maxFeePerGas, gas: t.gas, to: t.to, value: t.value, data: t.data, accessList: [],
  };
  const viemTx = t.authorizations.length
    ? { ...base, type: 'eip7702', authorizationList: t.authorizations.map((a) => ({ chainId: a.chainId, address: a.address, nonce: Number(a.nonce), r: a.r, s: a.s, yParity: a.yParity })) }
    : { ...base, type: 'eip1559' };
  const unsigned = serializeTransaction(viemTx);
  check.equal(ours[i].ok.unsigned, unsigned, `unsigned tx ${i}`);
  check.equal(ours[i].ok.hash, keccak256(unsigned), `signing hash ${i}`);
  check.equal(ours[i].ok.signed, serializeTransaction(viemTx, t.signature), `signed tx ${i}`);
});

// 2. Authorisation hashes.
const auths = Array.from({ length: 200 }, (_, i) => ({ chainId: int(3) === 0 ? 0 : 1 + int(100000), address: i % 2 ? BATCH : hex(20), nonce: Number(bigOf(6)) }));
const authOurs = callHelper(helper, auths.map((a) => ({ op: 'evm.authorizationHash', chainId: String(a.chainId), address: a.address, nonce: String(a.nonce) })));
auths.forEach((a, i) => check.equal(authOurs[i].ok, hashAuthorization({ chainId: a.chainId, address: a.address, nonce: a.nonce }), `authorization hash ${i}`));

// 2b. Batches of calls.
const executeAbi = [{ type: 'function', name: 'execute', stateMutability: 'payable', outputs: [],
  inputs: [{ name: 'calls', type: 'tuple[]', components: [{ name: 'to', type: 'address' }, { name: 'value', type: 'uint256' }, { name: 'data', type: 'bytes' }] }] }];
const batches = Array.from({ length: 300 }, () => {
  const maxFeePerGas = bigOf(12);
  return {
    chainId: [1, 10, 56, 137, 8453, 42161][int(6)], nonce: BigInt(int(3) === 0 ? 0 : int(1e9)), wallet: hex(20),
    maxPriorityFeePerGas: maxFeePerGas / 2n, maxFeePerGas, gas: bigOf(4),
    calls: Array.from({ length: 1 + int(4) }, () => ({ to: hex(20), data: [hex(4), hex(36), hex(68), hex(int(200))][int(4)] })),
    authSignature: sig(), signature: sig(),
  };
});
const batchOurs = callHelper(helper, batches.map((b) => ({
  op: 'evm.batch', chainId: String(b.chainId), nonce: String(b.nonce), wallet: b.wallet, calls: b.calls,
  maxPriorityFeePerGas: String(b.maxPriorityFeePerGas), maxFeePerGas: String(b.maxFeePerGas), gas: String(b.gas),
  authSignature: { ...b.authSignature, r: padded(b.authSignature.r), s: padded(b.authSignature.s) },
  signature: { ...b.signature, r: padded(b.signature.r), s: padded(b.signature.s) },
})));
batches.forEach((b, i) => {
  if (batchOurs[i].error) { check.equal(batchOurs[i].error, undefined, `batch ${i}`); return; }
  const data = encodeFunctionData({ abi: executeAbi, functionName: 'execute', args: [b.calls.map((c) => ({ to: c.to, value: 0n, data: c.data }))] });
  check.equal(batchOurs[i].ok.data, data, `batch calldata ${i}`);
  const authorization = { chainId: b.chainId, address: BATCH, nonce: Number(b.nonce) + 1 };
  check.equal(batchOurs[i].ok.authHash, hashAuthorization(authorization), `batch authorization hash ${i}`);
  const viemTx = {
    type: 'eip7702', chainId: b.chainId, nonce: Number(b.nonce), maxPriorityFeePerGas: b.maxPriorityFeePerGas,
    maxFeePerGas: b.maxFeePerGas, gas: b.gas, to: b.wallet, value: 0n, data, accessList: [],
    authorizationList: [{ ...authorization, ...b.authSignature }],
  };
  check.equal(batchOurs[i].ok.unsigned, serializeTransaction(viemTx), `batch tx ${i}`);
  check.equal(batchOurs[i].ok.signed, serializeTransaction(viemTx, b.signature), `signed batch tx ${i}`);
});

// 3. ABI encodings.
const scalarTypes = ['address', 'uint256', 'bool', 'bytes32', 'bytes'];
const valueOf = (type) => {
  if (type.endsWith('[]')) return Array.from({ length: int(4) }, () => valueOf(type.slice(0, -2)));
  if (type === 'address') return hex(20);
  if (type === 'uint256') return bigOf(32);
  if (type === 'bool') return rand() < 0.5;
  if (type === 'bytes32') return hex(32);
  return hex(int(70));
};
const abiCases = Array.from({ length: 300 }, () => {
  const types = Array.from({ length: int(6) }, () => scalarTypes[int(5)] + (rand() < 0.3 ? '[]' : ''));
  return { types, values: types.map(valueOf) };
});
const json = (v) => (typeof v === 'bigint' ? String(v) : Array.isArray(v) ? v.map(json) : v);
const abiOurs = callHelper(helper, abiCases.map((c) => ({ op: 'evm.abi', types: c.types, values: c.values.map(json) })));
abiCases.forEach((c, i) => {
  const theirs = encodeAbiParameters(c.types.map((type) => ({ type })), c.values);
  check.equal(abiOurs[i].ok, theirs, `abi ${c.types.join(',')}`);
});

// 4. Namehashes.
const letters = 'abcdefghijklmnopqrstuvwxyz0123456789';
const label = () => Array.from({ length: 1 + int(12) }, () => letters[int(letters.length)]).join('');
const names = ['eth', 'vitalik.eth', 'a.b.c.eth', ...Array.from({ length: 100 }, () => Array.from({ length: 1 + int(3) }, label).join('.') + '.eth')];
const nameOurs = callHelper(helper, names.map((name) => ({ op: 'evm.namehash', name })));
names.forEach((n, i) => check.equal(nameOurs[i].ok, namehash(n), `namehash ${n}`));

check.finish();
