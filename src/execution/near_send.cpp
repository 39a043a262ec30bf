#include "execution/near_send.h"

#include <algorithm>

#include "execution/execution_error.h"
#include "signing/accounts.h"
#include "signing/base58.h"

namespace orwenna {

namespace {

// The sentence of a node error: the user's when there is one.
std::string nearProblem(const Error& e) {
  if (const auto* near = dynamic_cast<const NearRPCError*>(&e)) {
    if (auto user = NearRPC::userMessage(near->nodeText())) return *user;
    if (auto user = NearRPC::userMessage(near->what())) return *user;
  }
  return e.what();
}

Decimal nearDecimal(const UInt128& yocto) { return Decimal::parse(yoctoToNear(yocto)); }

}  // namespace

NearSender::NearSender(const NearRPC& rpc, TradeSigner& signer, Journal& journal, Clock& clock)
    : rpc_(rpc), signer_(signer), journal_(journal), clock_(clock) {}

UInt128 NearSender::reserve(NearMove::Kind kind, const NearRPC::Account& account, const UInt128& gasPrice) {
  UInt128 gas = kBaseGas;
  if (kind == NearMove::Kind::intentDeposit) {
    gas += 3 * UInt128(NearTransaction::kStorageGas) + NearTransaction::kTransferGas;
  }
  // Twice the gas at today's price: the price may rise before it lands.
  UInt128 out = UInt128(account.storageUsage) * kStoragePricePerByte + 2 * gas * gasPrice;
  if (kind == NearMove::Kind::intentDeposit) out += 2 * NearTransaction::kStorageDeposit + 1;
  return out;
}

std::optional<UInt128> NearSender::sendable(NearMove::Kind kind, const NearRPC::Account& account,
                                            const UInt128& gasPrice) {
  UInt128 keep = reserve(kind, account, gasPrice);
  if (account.amount <= keep) return std::nullopt;
  return account.amount - keep;
}

ChainSendOutcome NearSender::send(const NearMove& move) {
  ChainSendOutcome outcome;
  outcome.chain = "near";
  Bytes publicKey;
  std::uint64_t nonce = 0;
  NearRPC::Block block;
  UInt128 amount = 0;
  std::string receiver;
  std::vector<NearAction> actions;
  try {
    NearTransaction::requireImplicitAccount(move.account);
    publicKey = *fromHex(move.account, false);
    const auto permitted = [&](const std::string& a) {
      return std::find(move.recipients.begin(), move.recipients.end(), a) != move.recipients.end();
    };
    if (move.kind != NearMove::Kind::intentDeposit && !permitted(move.to)) {
      throw ExecutionError(nothingSigned("Funds go to someone else's address " + move.to));
    }
    nonce = rpc_.accessKeyNonce(move.account, publicKey);
    block = rpc_.latestBlock();
    NearRPC::Account account = rpc_.account(move.account);
    if (move.kind == NearMove::Kind::deleteAccount) {
      UInt128 wrapped = rpc_.wrappedBalance(move.account);
      if (wrapped > 0) {
        throw ExecutionError(nothingSigned("The account still holds " + yoctoToNear(wrapped) +
                                           " wrapped NEAR; closing it would leave them behind. Unwrap or send them "
                                           "first"));
      }
      if (!NearTransaction::isImplicitAccount(move.to)) {
        try {
          (void)rpc_.account(move.to);
        } catch (const NearRPCError& e) {
          if (!NearRPC::isMissingAccount(e.nodeText()) && !NearRPC::isMissingAccount(e.what())) throw;
          throw ExecutionError(nothingSigned("The account " + move.to +
                                             " doesn't exist on NEAR; closing into it would lose the balance"));
        }
      }
      amount = account.amount;
      receiver = move.account;
      actions = {NearAction::deleteAccount(move.to)};
    } else {
      auto most = sendable(move.kind, account, block.gasPrice);
      amount = move.amount.value_or(most.value_or(0));
      if (!most || amount > *most) {
        const UInt128 kept = reserve(move.kind, account, block.gasPrice);
        throw ExecutionError(nothingSigned((most ? "Only " + yoctoToNear(*most) : std::string("No")) +
                                           " NEAR can go: the account keeps " + yoctoToNear(kept) +
                                           " NEAR for its storage and the transaction"));
      }
      if (amount == 0) throw ExecutionError(nothingSigned("There is nothing to send"));
      if (move.kind == NearMove::Kind::transfer) {
        receiver = move.to;
        actions = {NearAction::transfer(amount)};
      } else {
        receiver = std::string(NearTransaction::kWrapContract);
        actions = NearTransaction::intentDeposit(move.account, move.to, amount);
      }
    }
  } catch (const ExecutionError&) {
    throw;
  } catch (const Error& e) {
    throw ExecutionError(nothingSigned(nearProblem(e)));
  }
  auto violations = move.envelope.violations(clock_.nowMillis(), nearDecimal(amount), move.output, move.destination);
  if (!violations.empty()) throw ExecutionError(nothingSigned(violations));

  Bytes signedTx;
  try {
    switch (move.kind) {
      case NearMove::Kind::transfer:
        signedTx = signer_.signNearTransfer({amount.str(), move.to, move.recipients, nonce, block.hash});
        break;
      case NearMove::Kind::deleteAccount:
        signedTx = signer_.signNearDeleteAccount({move.to, move.recipients, nonce, block.hash});
        break;
      case NearMove::Kind::intentDeposit:
        signedTx = signer_.signNearIntentDeposit({amount.str(), move.to, nonce, block.hash});
        break;
    }
  } catch (const Error& e) {
    throw ExecutionError(nothingSigned(e.what()));
  }
  const Bytes expected = NearTransaction::encode(move.account, publicKey, nonce, receiver, block.hash, actions);
  const auto digest = NearTransaction::hash(expected);
  const bool same = signedTx.size() == expected.size() + 65 &&
                    std::equal(expected.begin(), expected.end(), signedTx.begin()) && signedTx[expected.size()] == 0 &&
                    Ed25519::verify(publicKey, digest, ByteView(signedTx).last(64));
  if (!same) {
    throw ExecutionError("What was signed isn't what was checked, so it was not sent. The money is still in your wallet.");
  }
  outcome.id = Base58::encode(digest);
  journal_.append({clock_.nowMillis(), "near", outcome.id, Journal::Entry::Kind::signed_, move.note});
  if (move.onSigned) move.onSigned(outcome.id);
  try {
    (void)rpc_.sendTx(signedTx);
  } catch (const NearRPCError& e) {
    outcome.kind = ChainSendOutcome::Kind::failed;
    outcome.detail = nearProblem(e);
    journal_.append({clock_.nowMillis(), "near", outcome.id, Journal::Entry::Kind::failed, e.what()});
    return outcome;
  } catch (const Error& e) {
    outcome.kind = ChainSendOutcome::Kind::unknown;
    outcome.detail = e.what();
    return outcome;
  }
  outcome.kind = ChainSendOutcome::Kind::confirmed;
  journal_.append({clock_.nowMillis(), "near", outcome.id, Journal::Entry::Kind::confirmed, "Confirmed."});
  return outcome;
}

}  // namespace orwenna
