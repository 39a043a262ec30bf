// Solana messages, addresses and the point test against @solana/kit and
// @noble/curves:
// - messages we build equal, byte for byte, what @solana/kit compiles from
//   the same instructions (kit sorts each account group by address where we
//   keep first appearance, so these instruction sets mention accounts in kit's
//   order — the one domain where both rules must agree);
// - @solana/kit decodes every message we build, in any account order, back to
//   the instructions we were given;
// - our parser reads version-0 messages @solana/kit compiles with lookup
//   tables, and resolves their accounts in kit's order;
// - program-derived and associated token addresses equal kit's;
// - the point test agrees with @noble/curves.
import {
  AccountRole,
  address,
  appendTransactionMessageInstructions,
  compileTransaction,
  compileTransactionMessage,
  compressTransactionMessageUsingAddressLookupTables,
  createTransactionMessage,
  decompileTransactionMessage,
  getAddressComparator,
  getAddressDecoder,
  getAddressEncoder,
  getCompiledTransactionMessageDecoder,
  getCompiledTransactionMessageEncoder,
  getProgramDerivedAddress,
  getTransactionEncoder,
  pipe,
  setTransactionMessageFeePayer,
  setTransactionMessageLifetimeUsingBlockhash,
} from '@solana/kit';
import { ed25519 } from '@noble/curves/ed25519.js';
import { sha256 } from '@noble/hashes/sha2.js';
import { bytesToHex, hexToBytes } from '@noble/hashes/utils.js';
import { callHelper, Checker, prng } from './lib.mjs';

const helper = process.argv[2];
const check = new Checker('solana');
const rand = prng(71);
const int = (n) => Math.floor(rand() * n);
const randomBytes = (n) => Uint8Array.from({ length: n }, () => int(256));
const addressDecoder = getAddressDecoder();
const addressEncoder = getAddressEncoder();
const randomAddress = () => addressDecoder.decode(randomBytes(32));
const compare = getAddressComparator();
const COMPUTE_BUDGET = 'ComputeBudget111111111111111111111111111111';
const TOKEN = 'TokenkegQfeZyiNwAJbNbGKPFXCWuBvf9Ss623VQ5DA';
const TOKEN_2022 = 'TokenzQdBNbLqP5VEhdkAS6EPFLC1PHnBqCXEpPxuEb';
const ATA_PROGRAM = 'ATokenGPvbdGVxr1b2hvZbsiqW5xWH25efTNsLJA8knL';

const roleOf = (a) => (a.isSigner ? (a.isWritable ? AccountRole.WRITABLE_SIGNER : AccountRole.READONLY_SIGNER)
  : (a.isWritable ? AccountRole.WRITABLE : AccountRole.READONLY));

function priceInstruction(price) {
  const data = new Uint8Array(9);
  data[0] = 3;
  new DataView(data.buffer).setBigUint64(1, price, true);
  return { programAddress: address(COMPUTE_BUDGET), data };
}

function kitMessage(payer, blockhash, price, instructions) {
  return pipe(
    createTransactionMessage({ version: 'legacy' }),
    (m) => setTransactionMessageFeePayer(address(payer), m),
    (m) => setTransactionMessageLifetimeUsingBlockhash({ blockhash, lastValidBlockHeight: 1n }, m),
    (m) => appendTransactionMessageInstructions([priceInstruction(price), ...instructions.map((ix) => ({
      programAddress: address(ix.program),
      accounts: ix.accounts.map((a) => ({ address: address(a.pubkey), role: roleOf(a) })),
      data: hexToBytes(ix.data),
    }))], m),
  );
}

// Instructions whose accounts first appear in kit's order within each group.
function orderedInstructionSet() {
  const payer = randomAddress();
  const readonlyAfterBudget = () => {
    for (;;) {
      const a = randomAddress();
      if (compare(a, COMPUTE_BUDGET) > 0) return a;
    }
  };
  const programs = Array.from({ length: 1 + int(3) }, readonlyAfterBudget);
  const accounts = Array.from({ length: int(10) }, () => {
    const writable = rand() < 0.5;
    return { pubkey: writable ? randomAddress() : readonlyAfterBudget(), writable, program: false };
  });
  const pool = [...accounts, ...programs.map((p) => ({ pubkey: p, program: true }))]
    .sort((l, r) => compare(l.pubkey, r.pubkey));
  const seen = [];
  const instructions = [];
  let pending = [];
  const repeats = () => {
    const extra = [];
    for (let k = int(3); k > 0 && seen.length; k--) {
      const a = seen[int(seen.length)];
      extra.push({ pubkey: a.pubkey, isSigner: false, isWritable: a.writable });
    }
    if (rand() < 0.3) extra.push({ pubkey: payer, isSigner: rand() < 0.5, isWritable: rand() < 0.5 });
    return extra;
  };
  const close = (program) => {
    instructions.push({
      program,
      accounts: [...pending, ...repeats()],
      data: bytesToHex(randomBytes(int(40))),
    });
    pending = [];
  };
  for (const entry of pool) {
    if (entry.program) {
      close(entry.pubkey);
      continue;
    }
    // A writable account may first be mentioned read-only and upgraded later.
    const weakFirst = entry.writable && rand() < 0.5;
    pending.push({ pubkey: entry.pubkey, isSigner: false, isWritable: entry.writable && !weakFirst });
    if (weakFirst) pending.push({ pubkey: entry.pubkey, isSigner: false, isWritable: true });
    seen.push(entry);
  }
  if (pending.length) close(programs[int(programs.length)]);
  return { payer, instructions };
}

// Any order at all, for decoding.
function randomInstructionSet() {
  const payer = randomAddress();
  const pool = Array.from({ length: 2 + int(12) }, randomAddress);
  const instructions = Array.from({ length: 1 + int(4) }, () => ({
    program: pool[int(pool.length)],
    accounts: Array.from({ length: int(6) }, () => (rand() < 0.15
      ? { pubkey: payer, isSigner: true, isWritable: true }
      : { pubkey: pool[int(pool.length)], isSigner: false, isWritable: rand() < 0.5 })),
    data: bytesToHex(randomBytes(int(60))),
  }));
  return { payer, instructions };
}

const buildRequest = (set, blockhash, price) => ({
  op: 'solana.build', payer: set.payer, blockhash, price: price.toString(), instructions: set.instructions,
});

// 1. Byte-identical builds.
const ordered = Array.from({ length: 150 }, () => ({
  set: orderedInstructionSet(), blockhash: randomAddress(), price: BigInt(int(2 ** 31)) * 1000n + BigInt(int(1000)),
}));
const built = callHelper(helper, ordered.map((o) => buildRequest(o.set, o.blockhash, o.price)));
ordered.forEach((o, i) => {
  if (built[i].error) { check.equal(built[i].error, undefined, `build ${i}`); return; }
  const message = kitMessage(o.set.payer, o.blockhash, o.price, o.set.instructions);
  const kitTx = compileTransaction(message);
  check.equal(built[i].ok.message, bytesToHex(kitTx.messageBytes), `message bytes of build ${i}`);
  check.equal(built[i].ok.transaction, bytesToHex(getTransactionEncoder().encode(kitTx)), `transaction bytes of build ${i}`);
});

// 2. kit decodes what we build, in any order, to the same instructions.
const loose = Array.from({ length: 150 }, () => ({ set: randomInstructionSet(), blockhash: randomAddress(), price: BigInt(int(1e9)) }));
const looseBuilt = callHelper(helper, loose.map((o) => buildRequest(o.set, o.blockhash, o.price)));
const decoder = getCompiledTransactionMessageDecoder();
loose.forEach((o, i) => {
  if (looseBuilt[i].error) { check.equal(looseBuilt[i].error, undefined, `loose build ${i}`); return; }
  const compiled = decoder.decode(hexToBytes(looseBuilt[i].ok.message));
  const back = decompileTransactionMessage(compiled);
  check.equal(back.feePayer.address, o.set.payer, `fee payer of ${i}`);
  check.equal(back.lifetimeConstraint.blockhash, o.blockhash, `blockhash of ${i}`);
  check.equal(back.instructions.length, o.set.instructions.length + 1, `instruction count of ${i}`);
  check.equal(back.instructions[0].programAddress, COMPUTE_BUDGET, `price instruction of ${i}`);
  check.equal(bytesToHex(back.instructions[0].data), bytesToHex(priceInstruction(o.price).data), `price of ${i}`);
  // The role of each account is the OR of every mention.
  const roles = new Map([[o.set.payer, AccountRole.WRITABLE_SIGNER]]);
  for (const ix of o.set.instructions) {
    for (const a of ix.accounts) roles.set(a.pubkey, (roles.get(a.pubkey) ?? 0) | roleOf(a));
  }
  o.set.instructions.forEach((ix, k) => {
    const got = back.instructions[k + 1];
    check.equal(got.programAddress, ix.program, `program of ${i}/${k}`);
    check.equal(bytesToHex(got.data ?? new Uint8Array()), ix.data, `data of ${i}/${k}`);
    check.equal((got.accounts ?? []).map((a) => `${a.address}:${a.role}`).join(','),
      ix.accounts.map((a) => `${a.pubkey}:${roles.get(a.pubkey)}`).join(','), `accounts of ${i}/${k}`);
  });
});

// 3. Version-0 messages with lookup tables, compiled by kit, read by us.
const v0Cases = Array.from({ length: 100 }, () => {
  const payer = randomAddress();
  const tableCount = 1 + int(3);
  const tables = {};
  for (let t = 0; t < tableCount; t++) tables[randomAddress()] = Array.from({ length: 1 + int(20) }, randomAddress);
  const tableEntries = Object.values(tables).flat();
  const loose = Array.from({ length: 3 }, randomAddress);
  const programs = Array.from({ length: 2 }, randomAddress);
  const pick = () => (rand() < 0.7 ? tableEntries[int(tableEntries.length)] : loose[int(loose.length)]);
  const instructions = Array.from({ length: 1 + int(4) }, () => ({
    programAddress: address(programs[int(programs.length)]),
    accounts: Array.from({ length: int(8) }, () => ({ address: address(pick()), role: rand() < 0.5 ? AccountRole.WRITABLE : AccountRole.READONLY })),
    data: randomBytes(int(30)),
  }));
  const message = pipe(
    createTransactionMessage({ version: 0 }),
    (m) => setTransactionMessageFeePayer(address(payer), m),
    (m) => setTransactionMessageLifetimeUsingBlockhash({ blockhash: randomAddress(), lastValidBlockHeight: 1n }, m),
    (m) => appendTransactionMessageInstructions(instructions, m),
    (m) => compressTransactionMessageUsingAddressLookupTables(m, tables),
  );
  const compiled = compileTransactionMessage(message);
  const bytes = getCompiledTransactionMessageEncoder().encode(compiled);
  return { tables, compiled, bytes, instructions };
});
const parsedV0 = callHelper(helper, v0Cases.map((c) => ({ op: 'solana.parseMessage', hex: bytesToHex(c.bytes), tables: c.tables })));
v0Cases.forEach((c, i) => {
  const ours = parsedV0[i];
  if (ours.error) { check.equal(ours.error, undefined, `v0 parse ${i}`); return; }
  const m = ours.ok;
  const lookups = c.compiled.addressTableLookups ?? [];
  check.equal(m.version, 0, `v0 version ${i}`);
  check.equal(m.header.join(','), [c.compiled.header.numSignerAccounts, c.compiled.header.numReadonlySignerAccounts,
    c.compiled.header.numReadonlyNonSignerAccounts].join(','), `v0 header ${i}`);
  check.equal(m.staticKeys.join(','), c.compiled.staticAccounts.join(','), `v0 static keys ${i}`);
  check.equal(JSON.stringify(m.lookups), JSON.stringify(lookups.map((l) => ({
    table: l.lookupTableAddress, writable: [...l.writableIndexes], readonly: [...l.readonlyIndexes] }))), `v0 lookups ${i}`);
  check.equal(JSON.stringify(m.instructions.map((ix) => [ix.programIndex, ix.accounts, ix.data])),
    JSON.stringify(c.compiled.instructions.map((ix) => [ix.programAddressIndex, [...(ix.accountIndices ?? [])],
      bytesToHex(ix.data ?? new Uint8Array())])), `v0 instructions ${i}`);
  // Resolved accounts read through each instruction's indexes give back the
  // addresses kit was handed.
  c.instructions.forEach((ix, k) => {
    const got = m.instructions[k];
    check.equal(m.resolved[got.programIndex], ix.programAddress, `v0 program of ${i}/${k}`);
    check.equal(got.accounts.map((j) => m.resolved[j]).join(','), ix.accounts.map((a) => a.address).join(','),
      `v0 accounts of ${i}/${k}`);
  });
});

// 4. Program-derived and associated token addresses.
const pdaCases = Array.from({ length: 300 }, () => ({
  program: randomAddress(),
  seeds: Array.from({ length: int(4) }, () => randomBytes(int(33))),
}));
const ataCases = Array.from({ length: 300 }, (_, i) => ({
  owner: randomAddress(), mint: randomAddress(), tokenProgram: i % 3 === 0 ? TOKEN_2022 : TOKEN,
}));
const pdas = callHelper(helper, pdaCases.map((c) => ({ op: 'solana.pda', program: c.program, seeds: c.seeds.map(bytesToHex) })));
const atas = callHelper(helper, ataCases.map((c) => ({ op: 'solana.ata', ...c })));
for (let i = 0; i < pdaCases.length; i++) {
  const [pda, bump] = await getProgramDerivedAddress({ programAddress: address(pdaCases[i].program), seeds: pdaCases[i].seeds });
  check.equal(pdas[i].ok?.address, pda, `pda ${i}`);
  check.equal(pdas[i].ok?.bump, bump, `bump ${i}`);
}
for (let i = 0; i < ataCases.length; i++) {
  const c = ataCases[i];
  const [ata] = await getProgramDerivedAddress({
    programAddress: address(ATA_PROGRAM),
    seeds: [addressEncoder.encode(address(c.owner)), addressEncoder.encode(address(c.tokenProgram)), addressEncoder.encode(address(c.mint))],
  });
  check.equal(atas[i].ok, ata, `ata ${i}`);
}

// 5. The point test: random bytes, public keys, and hashes (mostly off the curve).
const points = [];
for (let i = 0; i < 400; i++) points.push(randomBytes(32));
for (let i = 0; i < 200; i++) points.push(ed25519.getPublicKey(randomBytes(32)));
for (let i = 0; i < 400; i++) points.push(sha256(randomBytes(40)));
const curve = callHelper(helper, points.map((p) => ({ op: 'solana.isOnCurve', hex: bytesToHex(p) })));
let onCount = 0;
points.forEach((p, i) => {
  let noble;
  try { ed25519.Point.fromBytes(p); noble = true; } catch { noble = false; }
  onCount += noble ? 1 : 0;
  check.equal(curve[i].ok, noble, `isOnCurve ${bytesToHex(p)}`);
});
check.equal(onCount > 300 && onCount < 700, true, `a mix of points and non-points (${onCount} on the curve)`);

check.finish();
