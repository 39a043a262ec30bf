// SolanaGuard on transactions compiled by @solana/kit (legacy and version 0,
// with lookup tables holding the recipients' accounts): owner-only transfers,
// a stranger's token account, forbidden token operations, a close to a
// stranger, Relay deposits, another fee payer, and priority fees around the
// cap. Associated token accounts of the expected lines come from kit.
import {
  AccountRole,
  address,
  appendTransactionMessageInstructions,
  compileTransaction,
  compressTransactionMessageUsingAddressLookupTables,
  createTransactionMessage,
  getAddressDecoder,
  getAddressEncoder,
  getProgramDerivedAddress,
  getTransactionEncoder,
  pipe,
  setTransactionMessageFeePayer,
  setTransactionMessageLifetimeUsingBlockhash,
} from '@solana/kit';
import { bytesToHex } from '@noble/hashes/utils.js';
import { callHelper, Checker, prng } from './lib.mjs';

const helper = process.argv[2];
const check = new Checker('guards');
const rand = prng(811);
const int = (n) => Math.floor(rand() * n);
const randomAddress = () => getAddressDecoder().decode(Uint8Array.from({ length: 32 }, () => int(256)));
const SYSTEM = '11111111111111111111111111111111';
const COMPUTE_BUDGET = 'ComputeBudget111111111111111111111111111111';
const TOKEN = 'TokenkegQfeZyiNwAJbNbGKPFXCWuBvf9Ss623VQ5DA';
const TOKEN_2022 = 'TokenzQdBNbLqP5VEhdkAS6EPFLC1PHnBqCXEpPxuEb';
const ATA_PROGRAM = 'ATokenGPvbdGVxr1b2hvZbsiqW5xWH25efTNsLJA8knL';
const RELAY = '99vQwtBwYtrqqD9YSXbdum3KBdxPAVxYTaQ3cfnJSrN2';
const PROGRAMS = [SYSTEM, COMPUTE_BUDGET, TOKEN, TOKEN_2022, ATA_PROGRAM, RELAY];
const CAP = 5_000_000_000_000n; // 0.005 SOL in 10^-15 SOL units (micro-lamports)

const le = (value, bytes) => {
  const out = new Uint8Array(bytes);
  let v = BigInt(value);
  for (let i = 0; i < bytes; i++) { out[i] = Number(v & 0xffn); v >>= 8n; }
  return out;
};
const cat = (...parts) => Uint8Array.from(parts.flatMap((p) => [...p]));
const ro = (a) => ({ address: address(a), role: AccountRole.READONLY });
const rw = (a) => ({ address: address(a), role: AccountRole.WRITABLE });
const signer = (a) => ({ address: address(a), role: AccountRole.WRITABLE_SIGNER });
const ix = (program, accounts, data) => ({ programAddress: address(program), accounts, data });

const solTransfer = (from, to, lamports) => ix(SYSTEM, [signer(from), rw(to)], cat(le(2, 4), le(lamports, 8)));
const unitPrice = (price) => ix(COMPUTE_BUDGET, [], cat([3], le(price, 8)));
const unitLimit = (units) => ix(COMPUTE_BUDGET, [], cat([2], le(units, 4)));
const transferChecked = (program, source, mint, dest, owner, amount) =>
  ix(program, [rw(source), ro(mint), rw(dest), signer(owner)], cat([12], le(amount, 8), [6]));
const createAta = (payer, ata, wallet, mint, program) =>
  ix(ATA_PROGRAM, [signer(payer), rw(ata), ro(wallet), ro(mint), ro(SYSTEM), ro(program)], Uint8Array.of(1));
const relayDeposit = (sender, depositor, amount) => ix(RELAY,
  [ro(randomAddress()), signer(sender), ro(depositor), rw(randomAddress()), ro(SYSTEM)],
  cat([13, 158, 13, 223, 95, 213, 28, 6], le(amount, 8), new Uint8Array(32).fill(7)));

async function ataOf(wallet, mint, program) {
  const enc = getAddressEncoder();
  const [pda] = await getProgramDerivedAddress({
    programAddress: address(ATA_PROGRAM), seeds: [enc.encode(wallet), enc.encode(program), enc.encode(mint)] });
  return pda;
}

// Plain decimal text of n × 10^-15 (SOL from micro-lamports × units).
function sol(n) {
  const s = n.toString().padStart(16, '0');
  const text = `${s.slice(0, -15)}.${s.slice(-15)}`.replace(/0+$/, '').replace(/\.$/, '');
  return text;
}

function compile(payer, instructions, tableAccounts) {
  const v0 = tableAccounts.length > 0 && rand() < 0.7;
  const tables = {};
  if (v0) tables[randomAddress()] = [randomAddress(), ...tableAccounts, randomAddress()];
  let message = pipe(
    createTransactionMessage({ version: v0 ? 0 : 'legacy' }),
    (m) => setTransactionMessageFeePayer(address(payer), m),
    (m) => setTransactionMessageLifetimeUsingBlockhash({ blockhash: randomAddress(), lastValidBlockHeight: 1n }, m),
    (m) => appendTransactionMessageInstructions(instructions, m),
  );
  if (v0) message = compressTransactionMessageUsingAddressLookupTables(message, tables);
  return { transaction: bytesToHex(getTransactionEncoder().encode(compileTransaction(message))), tables, v0 };
}

const cases = [];
async function addCase(name, payer, owner, recipients, instructions, tableAccounts, expected) {
  const { transaction, tables, v0 } = compile(payer, instructions, tableAccounts);
  cases.push({ name: `${name}${v0 ? ' (v0)' : ''}`, expected,
    request: { op: 'guard.solana', transaction, owner, recipients, programs: PROGRAMS, maxPriorityFee: '0.005', tables } });
}

for (let round = 0; round < 25; round++) {
  const owner = randomAddress(), friend = randomAddress(), stranger = randomAddress(), mint = randomAddress();
  const tokenProgram = rand() < 0.5 ? TOKEN : TOKEN_2022;
  const ownAta = await ataOf(owner, mint, tokenProgram);
  const friendAta = await ataOf(friend, mint, tokenProgram);
  const strangerAta = await ataOf(stranger, mint, tokenProgram);
  const price = BigInt(1 + int(100_000));
  const head = [unitLimit(200_000), unitPrice(price)];
  const feeLine = `Priority fee up to ${sol(price * 200_000n)} SOL.`;

  await addCase('SOL to a recipient', owner, owner, [friend], [...head, solTransfer(owner, friend, 1 + int(1e9))], [friend],
    { problems: [], checks: ['Only your wallet signs and pays the fee.', `Instruction 3: SOL → approved address ${friend}.`, feeLine] });
  await addCase('SOL to a stranger', owner, owner, [friend], [...head, solTransfer(owner, stranger, 5000)], [stranger],
    { problems: [`SOL goes to someone else's address ${stranger}`] });
  await addCase('another fee payer', stranger, owner, [friend], [...head, solTransfer(stranger, owner, 5000)], [],
    { problems: ['Only your wallet may sign and pay for the transaction.'], checks: [] });
  await addCase('tokens to a recipient', owner, owner, [friend],
    [...head, createAta(owner, friendAta, friend, mint, tokenProgram), transferChecked(tokenProgram, ownAta, mint, friendAta, owner, 10)],
    [friendAta, mint],
    { problems: [], checks: ['Only your wallet signs and pays the fee.', `Creates a token account owned by ${friend}`,
      `Instruction 4: tokens → approved address ${friend}.`, feeLine] });
  await addCase('tokens to a stranger', owner, owner, [friend],
    [...head, createAta(owner, strangerAta, stranger, mint, tokenProgram), transferChecked(tokenProgram, ownAta, mint, strangerAta, owner, 10)],
    [strangerAta, stranger],
    { problems: [`Creates a token account for someone else's wallet ${stranger}`, `Tokens go to someone else's account ${strangerAta}`] });
  await addCase('tokens to the own account', owner, owner, [],
    [...head, transferChecked(tokenProgram, randomAddress(), mint, ownAta, owner, 10)], [mint],
    { problems: [], checks: ['Only your wallet signs and pays the fee.', 'Instruction 3: tokens → your token account.', feeLine] });
  const op = [4, 6, 7, 8, 13][int(5)];
  await addCase(`token operation ${op}`, owner, owner, [friend],
    [...head, ix(tokenProgram, [rw(ownAta), ro(stranger), signer(owner)], cat([op], le(1, 8)))], [stranger],
    { problems: [`Instruction 3: token operation ${op} is forbidden (approvals, owner changes and the like).`] });
  await addCase('close to a stranger', owner, owner, [friend],
    [...head, ix(tokenProgram, [rw(ownAta), rw(stranger), signer(owner)], Uint8Array.of(9))], [stranger],
    { problems: ["Closing the account sends the remainder to someone else's address."] });
  const amount = BigInt(1 + int(1e9));
  await addCase('Relay deposit', owner, owner, [], [...head, relayDeposit(owner, owner, amount)], [],
    { problems: [], checks: ['Only your wallet signs and pays the fee.',
      `Relay deposit: ${amount} units from your wallet. The quote sets the recipient.`, feeLine] });
  await addCase('Relay deposit for another depositor', owner, owner, [], [...head, relayDeposit(owner, stranger, amount)], [stranger],
    { problems: ['Relay deposit is not from your wallet.'] });

  // Priority fees at and around the cap, with and without a limit instruction.
  const units = rand() < 0.3 ? null : BigInt(1 + int(1_400_000));
  const limit = units ?? 200_000n;
  const atCap = CAP / limit;
  const chosen = [atCap, atCap + 1n, atCap > 0n ? atCap - 1n : 0n][int(3)];
  const fee = chosen * limit;
  const budget = units === null ? [unitPrice(chosen)] : [unitLimit(units), unitPrice(chosen)];
  const line = `Priority fee up to ${sol(fee)} SOL`;
  await addCase(`priority fee ${chosen} × ${limit}`, owner, owner, [], [...budget, solTransfer(owner, owner, 1)], [],
    fee > CAP ? { problems: [`${line} is too high.`] } : { problems: [], checksInclude: chosen > 0n ? `${line}.` : undefined });
}

check.equal(cases.some((c) => c.name.endsWith('(v0)')), true, 'version-0 messages among the cases');
const answers = callHelper(helper, cases.map((c) => c.request));
cases.forEach((c, i) => {
  const a = answers[i];
  if (a.error) { check.equal(a.error, undefined, c.name); return; }
  check.equal(JSON.stringify(a.ok.problems), JSON.stringify(c.expected.problems), `problems of ${c.name}`);
  if (c.expected.checks) check.equal(JSON.stringify(a.ok.checks), JSON.stringify(c.expected.checks), `checks of ${c.name}`);
  if (c.expected.checksInclude) check.equal(a.ok.checks.includes(c.expected.checksInclude), true, `fee line of ${c.name}`);
});
check.finish();
