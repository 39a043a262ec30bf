#include "signer/signer_service.h"

#include <algorithm>
#include <cctype>

#include <fmt/format.h>

#include "base/files.h"
#include "chains/abi.h"
#include "chains/evm_call.h"
#include "chains/evm_network.h"
#include "chains/evm_transaction.h"
#include "chains/near_transaction.h"
#include "chains/solana_transaction.h"
#include "guards/tx_guard.h"
#include "signer/prompt_text.h"
#include "signer/one_click_deposit_check.h"
#include "signer/relay_deposit_check.h"
#include "signing/accounts.h"
#include "signing/address_check.h"
#include "signing/derivation.h"
#include "signing/hl_action.h"
#include "signing/hl_signer.h"
#include "signing/imported_key.h"
#include "signing/mnemonic.h"
#include "signing/signer_client.h"
#include "signing/typed_data.h"
#include "signing/wallet_error.h"

namespace orwenna {

namespace sr = signer_request;

namespace {

constexpr const char* kNothingSigned = " Nothing was signed.";
// Followed by the guard's problems, each one sentence.
constexpr const char* kGuardRefused = "Nothing was signed: the signer's guard refused it.";
constexpr const char* kCheckText = "orwenna-signer";
constexpr const char* kCheckLabel = "check";
// How long after enableAgent switching that key on needs no second prompt:
// the app posts the approval and reports the exchange's answer at once.
constexpr std::int64_t kAgentPostingMillis = 10 * 60'000;
// The highest Solana priority fee the signer accepts, in SOL.
constexpr const char* kMaxSolanaPriorityFee = "0.005";

SignerReply refused(std::string error, std::vector<std::string> problems = {}, std::vector<std::string> checks = {}) {
  SignerReply r = SignerReply::refusal(std::move(error), std::move(problems));
  r.checks = std::move(checks);
  return r;
}

SignerReply done() {
  SignerReply r;
  r.ok = true;
  return r;
}

bool sameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string newId(Random& random) {
  std::uint8_t bytes[8];
  random.fill(bytes);
  return toHex(bytes);
}

const char* notSupportedLedger = "Ledger wallets don't sign through this signer yet. Nothing was signed.";

}  // namespace

struct SignerService::Ask {
  std::string title;
  std::string description;
  bool presence = false;
  bool management = false;
  bool forcePassphrase = false;
  bool unattended = false;
  bool signature = false;
};

SignerService::SignerService(SignerConfig config, Prompter& prompter, Clock& clock, Random& random)
    : config_(std::move(config)), prompter_(prompter), clock_(clock), random_(random), session_(clock) {
  ensureDirectory(config_.folder, 0700);
  keystore_ = Keystore::load(config_.folder);
  session_.setLength(SessionState::validLength(keystore_.sessionLength) ? keystore_.sessionLength : 0);
}

SignerService::~SignerService() = default;

void SignerService::save() { keystore_.save(config_.folder); }

void SignerService::endSession() {
  std::lock_guard state(state_);
  session_.endSession();
}

SignerReply SignerService::status() {
  SignerReply r = done();
  r.hasWallet = !keystore_.wallets.empty();
  std::vector<SignerWallet> wallets;
  for (const auto& w : keystore_.wallets) wallets.push_back(w.record());
  r.wallets = std::move(wallets);
  if (const StoredWallet* active = keystore_.wallet(keystore_.activeWallet)) {
    r.activeWallet = active->id;
    r.solanaAddress = active->solana;
    r.evmAddress = active->evm;
    r.nearAddress = active->near;
    if (active->evm) {
      if (StoredAgent* agent = keystore_.agentFor(*active->evm)) {
        r.agentAddress = agent->address;
        r.agentActive = agent->active;
      } else {
        r.agentActive = false;
      }
    }
  }
  r.sessionLength = session_.length();
  return r;
}

std::optional<SignerReply> SignerService::approve(const Ask& ask) {
  if (ask.unattended) return std::nullopt;
  const Approval need = ask.forcePassphrase ? Approval::passphrase : session_.needed(ask.presence, ask.management);
  if (need == Approval::none) return std::nullopt;

  PromptText text{ask.title, ask.description, "Passphrase:"};
  const bool choosing = need == Approval::passphrase && !keystore_.hasPassphrase();
  if (choosing) {
    text.description += "\n\nChoose a passphrase: it encrypts the signer's keys on this computer.";
    text.prompt = "New passphrase:";
    text.repeat = "Again:";
  } else if (need == Approval::passphrase) {
    text.description += "\n\nType the signer's passphrase to approve.";
  }
  // The state is free while the user reads, so `status` still answers.
  stateLock_->unlock();
  PromptAnswer answer;
  try {
    answer = need == Approval::confirm ? prompter_.confirm(text) : prompter_.passphrase(text);
  } catch (...) {
    stateLock_->lock();
    throw;
  }
  stateLock_->lock();

  switch (answer.outcome) {
    case PromptAnswer::Outcome::approved:
      break;
    case PromptAnswer::Outcome::declined:
      return refused(std::string("The approval was declined.") + kNothingSigned);
    case PromptAnswer::Outcome::timedOut:
      return refused("The approval timed out.");
    case PromptAnswer::Outcome::failed:
      return refused("The approval prompt could not be shown (" + answer.error + ")." + kNothingSigned);
  }
  if (need == Approval::passphrase) {
    if (answer.pin.empty()) return refused(std::string("No passphrase was typed.") + kNothingSigned);
    if (choosing) {
      ScryptParams params;
      params.salt.resize(16);
      random_.fill(params.salt);
      params.log2N = config_.scryptLog2N;
      SecretBytes key = Sealing::deriveKey(answer.pin, params);
      keystore_.check = Sealing::seal(key, asBytes(kCheckText), kCheckLabel, random_);
      keystore_.kdf = params;
      save();
      session_.unlock(std::move(key));
    } else {
      SecretBytes key = Sealing::deriveKey(answer.pin, *keystore_.kdf);
      if (!Sealing::open(key, *keystore_.check, kCheckLabel)) {
        return refused(std::string("The passphrase is wrong.") + kNothingSigned);
      }
      session_.unlock(std::move(key));
    }
  }
  if (ask.signature) session_.approved();
  return std::nullopt;
}

SecretBytes SignerService::openWallet(const StoredWallet& wallet) {
  std::optional<SecretBytes> plain;
  if (wallet.automation) {
    SecretBytes device = Keystore::deviceKey(config_.folder, random_);
    plain = Sealing::open(device, wallet.sealed, wallet.sealLabel());
  } else {
    const SecretBytes* key = session_.storageKey();
    if (!key) throw SignerServiceError(std::string("The signer is locked.") + kNothingSigned);
    plain = Sealing::open(*key, wallet.sealed, wallet.sealLabel());
  }
  if (!plain) throw SignerServiceError("The wallet «" + wallet.label + "» does not open: its sealed key is damaged.");
  return std::move(*plain);
}

SecretBytes SignerService::evmKey(const StoredWallet& wallet) {
  SecretBytes secret = openWallet(wallet);
  if (wallet.kind == StoredWallet::Kind::phrase) return Derivation::secp256k1(secret.span(), WalletPath::evm(0));
  return secret;
}

SecretBytes SignerService::solanaKey(const StoredWallet& wallet) {
  SecretBytes secret = openWallet(wallet);
  if (wallet.kind == StoredWallet::Kind::phrase) return Derivation::ed25519(secret.span(), WalletPath::solana(0));
  return secret;
}

SecretBytes SignerService::nearKey(const StoredWallet& wallet) {
  SecretBytes secret = openWallet(wallet);
  if (wallet.kind == StoredWallet::Kind::phrase) return Derivation::ed25519(secret.span(), WalletPath::near(0));
  return secret;
}

// ---- the cases -----------------------------------------------------------------

struct SignerServiceHandlers {
  using Ask = SignerService::Ask;
  SignerService& s;
  const std::optional<std::string>& asWallet;
  // A 1Click deposit address the signer confirmed itself, payable by this one request.
  std::vector<std::string> paying;

  Keystore& ks() { return s.keystore_; }

  // The wallet the request runs with, or the refusal.
  std::variant<StoredWallet*, SignerReply> target() {
    if (asWallet) {
      if (StoredWallet* w = ks().wallet(*asWallet)) return w;
      return refused("The signer has no wallet " + *asWallet + "." + kNothingSigned);
    }
    if (StoredWallet* w = ks().wallet(ks().activeWallet)) return w;
    return refused(std::string("The signer holds no wallet yet: create or import one first.") + kNothingSigned);
  }

  // Destinations the guard may accept for this move besides the wallet itself.
  std::vector<std::string> allowed(const std::vector<std::string>& requested, bool evm) {
    std::vector<std::string> out;
    auto same = [&](const std::string& a, const std::string& b) { return evm ? sameText(a, b) : a == b; };
    for (const auto& r : requested) {
      bool own = std::any_of(ks().wallets.begin(), ks().wallets.end(), [&](const StoredWallet& w) {
        const auto& mine = evm ? w.evm : w.solana;
        return mine && same(*mine, r);
      });
      bool booked = std::any_of(ks().addressBook.begin(), ks().addressBook.end(),
                                [&](const SignerAddress& a) { return same(a.address, r); });
      bool confirmed = std::any_of(paying.begin(), paying.end(), [&](const std::string& p) { return same(p, r); });
      if (own || booked || confirmed) out.push_back(r);
    }
    return out;
  }

  Ask signAsk(const StoredWallet& w, std::string title, std::string description) {
    Ask a;
    a.title = std::move(title);
    a.description = std::move(description) + "\n\nWallet: " + w.label;
    a.presence = w.requirePresence;
    a.unattended = w.automation;
    a.signature = true;
    return a;
  }

  static Ask manageAsk(std::string title, std::string description) {
    Ask a;
    a.title = std::move(title);
    a.description = std::move(description);
    a.management = true;
    return a;
  }

  bool duplicate(const std::optional<std::string>& evm, const std::optional<std::string>& solana) {
    return std::any_of(ks().wallets.begin(), ks().wallets.end(), [&](const StoredWallet& w) {
      return (evm && w.evm && sameText(*w.evm, *evm)) || (solana && w.solana && *w.solana == *solana);
    });
  }

  std::string nextLabel(std::string_view stem) {
    int n = 1;
    for (const auto& w : ks().wallets) {
      if (w.label.rfind(stem, 0) == 0) ++n;
    }
    return fmt::format("{} {}", stem, n);
  }

  // Stores a new wallet sealed under the storage key (or the device key).
  SignerReply store(StoredWallet wallet, ByteView secret) {
    SecretBytes device;
    const SecretBytes* key = nullptr;
    if (wallet.automation) {
      device = Keystore::deviceKey(s.config_.folder, s.random_);
      key = &device;
    } else {
      key = s.session_.storageKey();
    }
    if (!key) return refused(std::string("The signer is locked.") + kNothingSigned);
    wallet.sealed = Sealing::seal(*key, secret, wallet.sealLabel(), s.random_);
    const std::string id = wallet.id;
    ks().wallets.push_back(std::move(wallet));
    if (ks().activeWallet.empty() || !ks().wallet(ks().activeWallet)) ks().activeWallet = id;
    s.save();
    SignerReply r = s.status();
    return r;
  }

  StoredWallet phraseWallet(const SecretBytes& seed, std::string label, bool presence) {
    StoredWallet w;
    w.id = newId(s.random_);
    w.label = std::move(label);
    w.kind = StoredWallet::Kind::phrase;
    w.requirePresence = presence;
    SecretBytes evm = Derivation::secp256k1(seed.span(), WalletPath::evm(0));
    SecretBytes sol = Derivation::ed25519(seed.span(), WalletPath::solana(0));
    SecretBytes near = Derivation::ed25519(seed.span(), WalletPath::near(0));
    w.evm = EVMAccount::address(evm.span());
    w.solana = SolanaAccount::address(sol.span());
    w.near = NearAccount::implicitAccount(near.span());
    return w;
  }

  // ---- wallets

  SignerReply operator()(const sr::Status&) { return s.status(); }

  SignerReply operator()(const sr::ImportMnemonic& c) {
    std::string phrase = Mnemonic::normalize(c.phrase);
    SecretBytes seed = Mnemonic::seed(phrase, c.passphrase);
    wipeString(phrase);
    StoredWallet w = phraseWallet(seed, nextLabel("Wallet"), c.requirePresence);
    if (duplicate(w.evm, w.solana)) return refused("That wallet is already in the signer.");
    Ask ask = manageAsk("Import a wallet", fmt::format("Import a recovery phrase into the signer:\nEVM · Hyperliquid "
                                                       "{}\nSolana {}{}",
                                                       *w.evm, *w.solana,
                                                       c.requirePresence ? "\nEvery signature will ask for the passphrase."
                                                                         : ""));
    if (auto no = s.approve(ask)) return *no;
    return store(std::move(w), seed.span());
  }

  SignerReply operator()(const sr::CreateWallet& c) {
    std::string phrase = Mnemonic::generate(s.random_);
    SecretBytes seed = Mnemonic::seed(phrase, "");
    StoredWallet w = phraseWallet(seed, nextLabel("Wallet"), c.requirePresence);
    Ask ask = manageAsk("Create a wallet", "Create a new wallet with a 12-word recovery phrase inside the signer.");
    if (auto no = s.approve(ask)) {
      wipeString(phrase);
      return *no;
    }
    SignerReply r = store(std::move(w), seed.span());
    if (r.ok) r.phrase = phrase;
    wipeString(phrase);
    return r;
  }

  SignerReply operator()(const sr::ImportPrivateKey& c) {
    ImportedKey key = ImportedKey::parse(c.key);
    StoredWallet w;
    w.id = newId(s.random_);
    if (key.kind() == ImportedKey::Kind::evm) {
      w.kind = StoredWallet::Kind::evmKey;
      w.evm = key.address();
      w.label = nextLabel("EVM key");
    } else {
      w.kind = StoredWallet::Kind::solanaKey;
      w.solana = key.address();
      w.near = NearAccount::implicitAccount(key.secret().span());
      w.label = nextLabel("Solana key");
    }
    if (duplicate(w.evm, w.solana)) return refused("That wallet is already in the signer.");
    Ask ask = manageAsk("Import a key", fmt::format("Import a {} private key into the signer:\n{}", key.label(),
                                                    key.address()));
    if (auto no = s.approve(ask)) return *no;
    return store(std::move(w), key.secret().span());
  }

  SignerReply operator()(const sr::Forget&) {
    if (ks().wallets.empty() && !ks().hasPassphrase()) return s.status();
    Ask ask = manageAsk("Erase the signer's keys",
                        fmt::format("Erase every key the signer holds ({} wallets) from this computer. Without their "
                                    "recovery phrases they are gone for good.",
                                    ks().wallets.size()));
    if (auto no = s.approve(ask)) return *no;
    Keystore::erase(s.config_.folder);
    ks() = Keystore{};
    s.session_.lock();
    return s.status();
  }

  SignerReply operator()(const sr::SetActiveWallet& c) {
    if (!ks().wallet(c.id)) return refused("The signer has no wallet " + c.id + ".");
    ks().activeWallet = c.id;
    s.save();
    return s.status();
  }

  SignerReply operator()(const sr::RemoveWallet& c) {
    StoredWallet* w = ks().wallet(c.id);
    if (!w) return refused("The signer has no wallet " + c.id + ".");
    Ask ask = manageAsk("Remove a wallet", "Remove the wallet «" + w->label + "» and its keys from the signer:\n" +
                                               w->evm.value_or("") + (w->evm && w->solana ? "\n" : "") +
                                               w->solana.value_or(""));
    if (auto no = s.approve(ask)) return *no;
    w = ks().wallet(c.id);
    std::optional<std::string> evm = w->evm;
    ks().wallets.erase(ks().wallets.begin() + (w - ks().wallets.data()));
    if (evm && !duplicate(evm, std::nullopt)) {
      std::erase_if(ks().agents, [&](const StoredAgent& a) { return sameText(a.owner, *evm); });
    }
    if (ks().activeWallet == c.id) ks().activeWallet = ks().wallets.empty() ? "" : ks().wallets.front().id;
    s.save();
    return s.status();
  }

  SignerReply operator()(const sr::RenameWallet& c) {
    StoredWallet* w = ks().wallet(c.id);
    if (!w) return refused("The signer has no wallet " + c.id + ".");
    if (auto p = AddressCheck::labelProblem(c.label)) return refused(*p);
    if (c.label.empty()) return refused("A wallet needs a name.");
    w->label = c.label;
    s.save();
    return s.status();
  }

  SignerReply operator()(const sr::NearAddress&) {
    auto t = target();
    if (auto* r = std::get_if<SignerReply>(&t)) return *r;
    StoredWallet* w = std::get<StoredWallet*>(t);
    if (!w->near) return refused(*w->record().keyProblem("near"));
    SignerReply r = done();
    r.nearAddress = w->near;
    return r;
  }

  SignerReply operator()(const sr::CreateAutomationWallet&) {
    if (auto it = std::find_if(ks().wallets.begin(), ks().wallets.end(),
                               [](const StoredWallet& w) { return w.automation; });
        it != ks().wallets.end()) {
      return s.status();
    }
    std::string phrase = Mnemonic::generate(s.random_);
    SecretBytes seed = Mnemonic::seed(phrase, "");
    wipeString(phrase);
    StoredWallet w = phraseWallet(seed, "Automation", false);
    w.automation = true;
    Ask ask = manageAsk("Create the automation wallet",
                        fmt::format("Create a separate wallet that signs scheduled moves without asking:\nEVM · "
                                    "Hyperliquid {}\nSolana {}\nIt pays only your own wallets and the address book.",
                                    *w.evm, *w.solana));
    if (auto no = s.approve(ask)) return *no;
    const std::string previous = ks().activeWallet;
    SignerReply r = store(std::move(w), seed.span());
    if (!previous.empty() && ks().activeWallet != previous) {
      ks().activeWallet = previous;
      s.save();
      r = s.status();
    }
    return r;
  }

  // ---- address book

  SignerReply operator()(const sr::AddressBook&) {
    SignerReply r = done();
    r.addresses = ks().addressBook;
    return r;
  }

  SignerReply operator()(const sr::SaveAddresses& c) {
    if (c._0.empty()) return refused("No addresses to save.");
    std::string lines;
    for (const auto& a : c._0) {
      auto network = AddressCheck::networkFromRawValue(a.network);
      if (!network) return refused("Unknown network " + a.network + ".");
      if (auto p = AddressCheck::problem(a.address, *network)) return refused(a.name + ": " + *p);
      if (auto p = AddressCheck::nameProblem(a.name)) return refused(*p);
      if (auto p = AddressCheck::labelProblem(a.memo)) return refused(*p);
      if (a.name.empty()) return refused("An address needs a name.");
      lines += fmt::format("{} — {} ({}){}\n", a.name, a.address, AddressCheck::displayName(*network),
                           a.memo.empty() ? "" : ", memo " + a.memo);
    }
    Ask ask = manageAsk("Save addresses", "Let the signer pay these addresses:\n" + lines);
    if (auto no = s.approve(ask)) return *no;
    for (const auto& a : c._0) {
      std::erase_if(ks().addressBook,
                    [&](const SignerAddress& b) { return b.name == a.name && b.network == a.network; });
      ks().addressBook.push_back(a);
    }
    s.save();
    return (*this)(sr::AddressBook{});
  }

  SignerReply operator()(const sr::RemoveAddress& c) {
    auto it = std::find_if(ks().addressBook.begin(), ks().addressBook.end(),
                           [&](const SignerAddress& a) { return a.name == c.name && a.network == c.network; });
    if (it == ks().addressBook.end()) return refused("The address book has no " + c.name + " on " + c.network + ".");
    Ask ask = manageAsk("Remove an address", "Remove " + it->name + " — " + it->address + " from the address book.");
    if (auto no = s.approve(ask)) return *no;
    std::erase_if(ks().addressBook,
                  [&](const SignerAddress& a) { return a.name == c.name && a.network == c.network; });
    s.save();
    return (*this)(sr::AddressBook{});
  }

  // ---- sessions

  SignerReply operator()(const sr::Lock&) {
    s.session_.lock();
    return s.status();
  }

  SignerReply operator()(const sr::EndSession&) {
    s.session_.endSession();
    return s.status();
  }

  SignerReply operator()(const sr::SetSessionLength& c) {
    if (!SessionState::validLength(c.seconds)) {
      return refused("A session lasts 5 to 30 minutes, or there is none (0).");
    }
    if (c.seconds > s.session_.length()) {
      Ask ask = manageAsk("Longer signing sessions",
                          fmt::format("After one approval, sign further moves without asking for {} minutes.",
                                      c.seconds / 60));
      ask.forcePassphrase = true;
      if (auto no = s.approve(ask)) return *no;
    }
    s.session_.setLength(c.seconds);
    s.session_.endSession();
    ks().sessionLength = c.seconds;
    s.save();
    return s.status();
  }

  // ---- Hyperliquid

  SignerReply operator()(const sr::SignHyperliquidL1& c) {
    auto t = target();
    if (auto* r = std::get_if<SignerReply>(&t)) return *r;
    StoredWallet* w = std::get<StoredWallet*>(t);
    if (auto p = w->record().keyProblem("evm")) return refused(*p);
    StoredAgent* agent = ks().agentFor(*w->evm);
    Verdict v = HLGuard::check(c.action.toPlainJson(), *w->evm, {}, agent ? agent->address : "");
    if (!v.clean()) return refused(std::string(kGuardRefused), v.problems, v.checks);
    SignerReply r = done();
    r.checks = v.checks;
    if (agent && agent->active && HLAction::isAgentAction(c.action)) {
      SecretBytes device = Keystore::deviceKey(s.config_.folder, s.random_);
      auto key = Sealing::open(device, agent->sealed, agent->sealLabel());
      if (!key) return refused("The trading key does not open: its sealed key is damaged." + std::string(kNothingSigned));
      r.signature = HLSigner::signL1(c.action, key->span(), c.nonce, std::nullopt, std::nullopt, c.mainnet);
      r.agentAddress = agent->address;
      r.checks.push_back("Signed by the trading key.");
      return r;
    }
    if (auto no = s.approve(signAsk(*w, "Sign a Hyperliquid action", PromptWords::hyperliquid(c.action, c.mainnet)))) {
      return *no;
    }
    SecretBytes key = s.evmKey(*w);
    r.signature = HLSigner::signL1(c.action, key.span(), c.nonce, std::nullopt, std::nullopt, c.mainnet);
    return r;
  }

  SignerReply operator()(const sr::SignHyperliquidUser& c) {
    auto t = target();
    if (auto* r = std::get_if<SignerReply>(&t)) return *r;
    StoredWallet* w = std::get<StoredWallet*>(t);
    if (auto p = w->record().keyProblem("evm")) return refused(*p);
    StoredAgent* agent = ks().agentFor(*w->evm);
    const MsgPack* type = c.action.find("type");
    if (type && type->stringValue() && *type->stringValue() == "approveAgent") {
      // The trading key is approved only through enableAgent, where the
      // signer made the key itself.
      return refused(std::string("The signer approves only a trading key it made itself (enableAgent).") +
                     kNothingSigned);
    }
    Verdict v = HLGuard::check(c.action.toPlainJson(), *w->evm, allowed(c.recipients, true),
                               agent ? agent->address : "");
    if (!v.clean()) return refused(std::string(kGuardRefused), v.problems, v.checks);
    // Throws for an action outside the typed-data table before anyone is asked.
    (void)HLSigner::userTypedData(c.action, c.mainnet);
    if (auto no = s.approve(signAsk(*w, "Sign a Hyperliquid transfer", PromptWords::hyperliquid(c.action, c.mainnet)))) {
      return *no;
    }
    SecretBytes key = s.evmKey(*w);
    SignerReply r = done();
    r.checks = v.checks;
    r.signature = HLSigner::signUser(c.action, key.span(), c.mainnet);
    return r;
  }

  SignerReply operator()(const sr::SignRelayNonceMapping& c) {
    auto t = target();
    if (auto* r = std::get_if<SignerReply>(&t)) return *r;
    StoredWallet* w = std::get<StoredWallet*>(t);
    if (auto p = w->record().keyProblem("evm")) return refused(*p);
    if (!sameText(c.wallet, *w->evm)) {
      return refused("The Relay mapping names the wallet " + c.wallet + ", not this one (" + *w->evm + ")." +
                     kNothingSigned);
    }
    (void)HLSigner::relayNonceMappingTypedData(c.wallet, c.depositor, c.id, c.nonce);
    if (auto no = s.approve(signAsk(*w, "Sign a Relay deposit",
                                    fmt::format("Map Relay deposit nonce {} of wallet {} to the depositor {}.", c.nonce,
                                                c.wallet, c.depositor)))) {
      return *no;
    }
    SecretBytes key = s.evmKey(*w);
    SignerReply r = done();
    r.signature = HLSigner::signRelayNonceMapping(c.wallet, c.depositor, c.id, c.nonce, key.span());
    return r;
  }

  // A move out of Hyperliquid: the recipient must be the user's, and Relay
  // itself must name the action's destination as its depository for that
  // move (RelayDepositCheck) before the guard accepts it for this one action.
  SignerReply relayHyperliquidDeposit(const StoredWallet& w, const sr::SignRelayHyperliquidDeposit& c) {
    const bool evmRecipient = c.recipient.starts_with("0x");
    if (allowed({c.recipient}, evmRecipient).empty()) {
      return refused("The bridge pays " + c.recipient + ", which is neither your wallet nor in the address book." +
                     kNothingSigned);
    }
    const Json action = c.action.toPlainJson();
    Verdict confirmed = RelayDepositCheck::check(
        s.config_.http, s.config_.relayApi, action,
        {*w.evm, c.recipient, c.destinationChainId, c.destinationCurrency});
    if (!confirmed.clean()) return refused(std::string(kGuardRefused), confirmed.problems, confirmed.checks);
    const std::string destination = action.value("destination", std::string());
    StoredAgent* agent = ks().agentFor(*w.evm);
    Verdict v = HLGuard::check(action, *w.evm, {destination}, agent ? agent->address : "");
    v.checks.insert(v.checks.begin(), confirmed.checks.begin(), confirmed.checks.end());
    if (!v.clean()) return refused(std::string(kGuardRefused), v.problems, v.checks);
    (void)HLSigner::userTypedData(c.action, c.mainnet);
    if (auto no = s.approve(signAsk(w, "Sign a Relay bridge deposit",
                                    PromptWords::hyperliquid(c.action, c.mainnet) + "\nBridged by Relay to " +
                                        c.recipient + "."))) {
      return *no;
    }
    SecretBytes key = s.evmKey(w);
    SignerReply r = done();
    r.checks = v.checks;
    r.signature = HLSigner::signUser(c.action, key.span(), c.mainnet);
    return r;
  }

  // One of the user's wallets on any network, or an address-book entry.
  bool ours(const std::string& address) {
    if (address.empty()) return false;
    auto same = [&](const std::string& mine) { return mine == address || (address.starts_with("0x") && sameText(mine, address)); };
    for (const StoredWallet& w : ks().wallets) {
      if ((w.solana && same(*w.solana)) || (w.evm && same(*w.evm)) || (w.near && same(*w.near))) return true;
    }
    return std::any_of(ks().addressBook.begin(), ks().addressBook.end(),
                       [&](const SignerAddress& a) { return same(a.address); });
  }

  // What the transaction sends to the deposit address, confirmed with 1Click
  // before the transaction itself goes through its own handler and guard.
  SignerReply oneClickDeposit(const StoredWallet& w, const sr::SignOneClickDeposit& c) {
    std::optional<SignerRequest> inner;
    try {
      auto json = parseJson(c.request);
      if (json) inner = SignerRequest::fromJson(*json);
    } catch (const SignerProtocolError&) {
    }
    const auto* solana = inner ? inner->get<sr::SignSolana>() : nullptr;
    const auto* evm = inner ? inner->get<sr::SignEVMTransaction>() : nullptr;
    if (!solana && !evm) {
      return refused(std::string("Only a Solana or EVM transaction pays a 1Click deposit address.") + kNothingSigned);
    }
    std::optional<std::string> amount;
    if (solana) {
      if (auto p = w.record().keyProblem("solana")) return refused(*p);
      SolanaMessage message = SolanaTransaction::parseMessage(SolanaTransaction::checkForSigning(solana->wire, *w.solana));
      if (!message.lookups.empty()) {
        return refused(std::string("A 1Click deposit is paid without lookup tables.") + kNothingSigned);
      }
      amount = OneClickDepositCheck::paid(message, message.staticKeys, c.depositAddress);
    } else {
      amount = OneClickDepositCheck::paid(evm->to, evm->data, toDecimalString(evm->value), c.depositAddress);
    }
    if (!amount) {
      return refused("The transaction sends nothing to the deposit address " + c.depositAddress + "." + kNothingSigned);
    }
    Verdict confirmed =
        OneClickDepositCheck::check(s.config_.http, s.config_.oneClickApi, c.depositAddress, *amount,
                                    s.clock_.nowMillis(), [this](const std::string& a) { return ours(a); });
    if (!confirmed.clean()) return refused(std::string(kGuardRefused), confirmed.problems, confirmed.checks);
    SignerServiceHandlers payingOnce{s, asWallet, {c.depositAddress}};
    SignerReply r = std::visit(payingOnce, inner->value());
    if (r.ok) r.checks.insert(r.checks.begin(), confirmed.checks.begin(), confirmed.checks.end());
    return r;
  }

  SignerReply operator()(const sr::SignOneClickDeposit& c) {
    auto t = target();
    if (auto* r = std::get_if<SignerReply>(&t)) return *r;
    return oneClickDeposit(*std::get<StoredWallet*>(t), c);
  }

  SignerReply operator()(const sr::SignRelayHyperliquidDeposit& c) {
    auto t = target();
    if (auto* r = std::get_if<SignerReply>(&t)) return *r;
    StoredWallet* w = std::get<StoredWallet*>(t);
    if (auto p = w->record().keyProblem("evm")) return refused(*p);
    return relayHyperliquidDeposit(*w, c);
  }

  SignerReply operator()(const sr::EnableAgent&) {
    auto t = target();
    if (auto* r = std::get_if<SignerReply>(&t)) return *r;
    StoredWallet* w = std::get<StoredWallet*>(t);
    if (auto p = w->record().keyProblem("evm")) return refused(*p);
    SecretBytes agentKey(32);
    do {
      s.random_.fill(agentKey.span());
    } while (!EVMAccount::isValidSecret(agentKey.span()));
    const std::string agentAddress = EVMAccount::address(agentKey.span());
    const std::uint64_t nonce = static_cast<std::uint64_t>(s.clock_.nowMillis());
    MsgPack action = HLAction::approveAgent(agentAddress, "orwenna", nonce, true);
    Verdict v = HLGuard::check(action.toPlainJson(), *w->evm, {}, agentAddress);
    if (!v.clean()) return refused(std::string(kGuardRefused), v.problems, v.checks);
    Ask ask = signAsk(*w, "Turn on the trading key", PromptWords::hyperliquid(action, true));
    ask.management = true;
    ask.signature = false;
    ask.unattended = false;
    if (auto no = s.approve(ask)) return *no;
    SecretBytes accountKey = s.evmKey(*w);
    SignerReply r = done();
    r.checks = v.checks;
    r.signature = HLSigner::signApproveAgent(action, accountKey.span(), true);
    SecretBytes device = Keystore::deviceKey(s.config_.folder, s.random_);
    StoredAgent agent{*w->evm, agentAddress, false, {}};
    agent.sealed = Sealing::seal(device, agentKey.span(), agent.sealLabel(), s.random_);
    std::erase_if(ks().agents, [&](const StoredAgent& a) { return sameText(a.owner, *w->evm); });
    ks().agents.push_back(std::move(agent));
    s.save();
    s.agentJustApproved_ = std::pair{agentAddress, s.clock_.monotonicMillis()};
    r.action = std::move(action);
    r.nonce = nonce;
    r.agentAddress = agentAddress;
    r.agentActive = false;
    return r;
  }

  SignerReply operator()(const sr::SetAgentActive& c) {
    auto t = target();
    if (auto* r = std::get_if<SignerReply>(&t)) return *r;
    StoredWallet* w = std::get<StoredWallet*>(t);
    if (auto p = w->record().keyProblem("evm")) return refused(*p);
    StoredAgent* agent = ks().agentFor(*w->evm);
    if (!agent) return refused("There is no trading key yet: turn it on first.");
    const auto just = std::exchange(s.agentJustApproved_, std::nullopt);
    const bool justApproved = just && just->first == agent->address &&
                              s.clock_.monotonicMillis() - just->second < kAgentPostingMillis;
    if (c._0 && !agent->active && !justApproved) {
      Ask ask = manageAsk("Use the trading key",
                          "Sign orders, stops and closes with the trading key " + agent->address +
                              " without asking. It can't withdraw money.\n\nWallet: " + w->label);
      if (auto no = s.approve(ask)) return *no;
      agent = ks().agentFor(*w->evm);
    }
    agent->active = c._0;
    s.save();
    SignerReply r = done();
    r.agentAddress = agent->address;
    r.agentActive = agent->active;
    return r;
  }

  SignerReply operator()(const sr::LedgerAgent&) { return refused(notSupportedLedger); }
  SignerReply operator()(const sr::SetLedgerAgentActive&) { return refused(notSupportedLedger); }
  SignerReply operator()(const sr::SignLedgerAgentL1&) { return refused(notSupportedLedger); }
  // ---- NEAR: the transaction is rebuilt here from the request's fields.

  // A NEAR account the wallet may pay: one of the signer's own, or a saved one.
  bool nearPayable(const std::string& account, const std::vector<std::string>& recipients) {
    const bool requested = std::find(recipients.begin(), recipients.end(), account) != recipients.end();
    const bool own = std::any_of(ks().wallets.begin(), ks().wallets.end(),
                                 [&](const StoredWallet& w) { return w.near && *w.near == account; });
    const bool booked = std::any_of(ks().addressBook.begin(), ks().addressBook.end(),
                                    [&](const SignerAddress& a) { return a.address == account; });
    return requested && (own || booked);
  }

  struct NearMove {
    StoredWallet* wallet = nullptr;
    std::optional<SignerReply> refusal;
  };
  NearMove nearWallet(const Bytes& blockHash) {
    auto t = target();
    if (auto* r = std::get_if<SignerReply>(&t)) return {nullptr, *r};
    StoredWallet* w = std::get<StoredWallet*>(t);
    if (auto p = w->record().keyProblem("near")) return {nullptr, refused(*p)};
    if (blockHash.size() != 32) return {nullptr, refused(std::string("A NEAR block hash is 32 bytes.") + kNothingSigned)};
    return {w, std::nullopt};
  }

  std::optional<UInt128> nearAmount(const std::string& text, Verdict& v) {
    auto amount = parseUInt128(text);
    if (!amount || *amount == 0) {
      v.problems.push_back("The amount " + text + " isn't a positive number of yoctoNEAR.");
      return std::nullopt;
    }
    return amount;
  }

  SignerReply signNear(StoredWallet& w, const std::string& title, const std::string& description, std::uint64_t nonce,
                       const std::string& receiver, const Bytes& blockHash, const std::vector<NearAction>& actions,
                       Verdict& v) {
    if (!v.clean()) return refused(std::string(kGuardRefused), v.problems, v.checks);
    if (auto no = s.approve(signAsk(w, title, description))) return *no;
    SecretBytes key = s.nearKey(w);
    SignerReply r = done();
    r.checks = v.checks;
    r.signedWire = NearTransaction::signedBytes(key.span(), nonce, receiver, blockHash, actions);
    return r;
  }

  SignerReply operator()(const sr::SignNearTransfer& c) {
    auto m = nearWallet(c.blockHash);
    if (m.refusal) return *m.refusal;
    Verdict v;
    auto amount = nearAmount(c.amount, v);
    if (!NearTransaction::isAccountId(c.receiver)) {
      v.problems.push_back("Not a NEAR account: " + c.receiver);
    } else if (c.receiver == *m.wallet->near) {
      v.problems.push_back("Transfer to yourself");
    } else if (!nearPayable(c.receiver, c.recipients)) {
      v.problems.push_back("Funds go to someone else's address " + c.receiver);
    } else {
      v.checks.push_back("NEAR → approved address " + c.receiver);
    }
    if (!amount) return refused(std::string(kGuardRefused), v.problems, v.checks);
    return signNear(*m.wallet, "Send NEAR", "Send " + yoctoToNear(*amount) + " NEAR to " + c.receiver, c.nonce,
                    c.receiver, c.blockHash, {NearAction::transfer(*amount)}, v);
  }

  SignerReply operator()(const sr::SignNearDeleteAccount& c) {
    auto m = nearWallet(c.blockHash);
    if (m.refusal) return *m.refusal;
    Verdict v;
    if (!NearTransaction::isAccountId(c.beneficiary) || c.beneficiary == *m.wallet->near) {
      v.problems.push_back("Not a NEAR account to close into: " + c.beneficiary);
    } else if (!nearPayable(c.beneficiary, c.recipients)) {
      v.problems.push_back("Funds go to someone else's address " + c.beneficiary);
    } else {
      v.checks.push_back("The account closes into approved address " + c.beneficiary);
    }
    return signNear(*m.wallet, "Close the NEAR account",
                    "Delete the NEAR account " + *m.wallet->near + " and send everything in it to " + c.beneficiary,
                    c.nonce, *m.wallet->near, c.blockHash, {NearAction::deleteAccount(c.beneficiary)}, v);
  }

  SignerReply operator()(const sr::SignNearIntentDeposit& c) {
    auto m = nearWallet(c.blockHash);
    if (m.refusal) return *m.refusal;
    Verdict v;
    auto amount = nearAmount(c.amount, v);
    if (!NearTransaction::isAccountId(c.depositAddress) || c.depositAddress == *m.wallet->near) {
      v.problems.push_back("Not a deposit address: " + c.depositAddress);
    } else {
      v.checks.push_back("Wraps NEAR and sends it to the deposit address " + c.depositAddress);
    }
    if (!amount) return refused(std::string(kGuardRefused), v.problems, v.checks);
    return signNear(*m.wallet, "Deposit NEAR",
                    "Wrap " + yoctoToNear(*amount) + " NEAR and send it to the deposit address " + c.depositAddress,
                    c.nonce, std::string(NearTransaction::kWrapContract), c.blockHash,
                    NearTransaction::intentDeposit(*m.wallet->near, c.depositAddress, *amount), v);
  }

  // ---- messages and typed data

  SignerReply operator()(const sr::SignPersonal& c) {
    auto t = target();
    if (auto* r = std::get_if<SignerReply>(&t)) return *r;
    StoredWallet* w = std::get<StoredWallet*>(t);
    if (auto p = w->record().keyProblem("evm")) return refused(*p);
    if (auto no = s.approve(signAsk(*w, "Sign a message", "Sign this message with " + *w->evm + ":\n" +
                                                              PromptWords::message(c.message)))) {
      return *no;
    }
    SecretBytes key = s.evmKey(*w);
    SignerReply r = done();
    r.signature = EVMSigner::sign(PersonalMessage::hash(c.message), key.span());
    r.signatureBytes = r.signature->bytes();
    return r;
  }

  SignerReply operator()(const sr::SignTypedData& c) {
    auto t = target();
    if (auto* r = std::get_if<SignerReply>(&t)) return *r;
    StoredWallet* w = std::get<StoredWallet*>(t);
    if (auto p = w->record().keyProblem("evm")) return refused(*p);
    TypedData typed = TypedData::parse(asString(c.json));
    if (auto refusal = TypedData::refusal(typed)) return refused(*refusal + kNothingSigned);
    std::string fields;
    for (const auto& f : typed.fields) fields += f.name + ": " + f.value + "\n";
    if (auto no = s.approve(signAsk(*w, "Sign typed data",
                                    fmt::format("{} for {} (chain {})\n{}", typed.primaryType, typed.domainName,
                                                typed.chainId, fields)))) {
      return *no;
    }
    SecretBytes key = s.evmKey(*w);
    SignerReply r = done();
    r.signature = EVMSigner::sign(typed.digest, key.span());
    r.signatureBytes = r.signature->bytes();
    return r;
  }

  SignerReply operator()(const sr::SignSolanaMessage& c) {
    auto t = target();
    if (auto* r = std::get_if<SignerReply>(&t)) return *r;
    StoredWallet* w = std::get<StoredWallet*>(t);
    if (auto p = w->record().keyProblem("solana")) return refused(*p);
    bool isTransaction = false;
    try {
      (void)SolanaTransaction::parseMessage(c.message);
      isTransaction = true;
    } catch (const std::exception&) {
    }
    if (isTransaction) {
      return refused(std::string("That message is a Solana transaction: it is signed only as one, through its "
                                 "checks.") +
                     kNothingSigned);
    }
    if (auto no = s.approve(signAsk(*w, "Sign a message", "Sign this message with " + *w->solana + ":\n" +
                                                              PromptWords::message(c.message)))) {
      return *no;
    }
    SecretBytes key = s.solanaKey(*w);
    auto signature = Ed25519::sign(key.span(), c.message);
    SignerReply r = done();
    r.signatureBytes = Bytes(signature.begin(), signature.end());
    return r;
  }

  // ---- Solana

  SignerReply operator()(const sr::SignSolana& c) {
    auto t = target();
    if (auto* r = std::get_if<SignerReply>(&t)) return *r;
    StoredWallet* w = std::get<StoredWallet*>(t);
    if (auto p = w->record().keyProblem("solana")) return refused(*p);
    Bytes messageBytes = SolanaTransaction::checkForSigning(c.wire, *w->solana);
    SolanaMessage message = SolanaTransaction::parseMessage(messageBytes);
    std::vector<std::string> accounts = message.staticKeys;
    if (!message.lookups.empty()) {
      std::size_t looked = 0;
      for (const auto& l : message.lookups) looked += l.writable.size() + l.readonly.size();
      if (c.accounts.size() != accounts.size() + looked ||
          !std::equal(accounts.begin(), accounts.end(), c.accounts.begin())) {
        return refused(std::string("The account list doesn't match the transaction.") + kNothingSigned);
      }
      accounts = c.accounts;
    }
    SolanaPolicy policy;
    policy.owner = *w->solana;
    for (const auto& r : allowed(c.recipients, false)) policy.recipients.insert(r);
    policy.programs = SolanaPolicy::allow({SolanaPrograms::kSystem, SolanaPrograms::kComputeBudget,
                                           SolanaPrograms::kToken, SolanaPrograms::kToken2022,
                                           SolanaPrograms::kAssociatedToken});
    for (const auto& id : c.extraPrograms) {
      if (auto label = SolanaPolicy::programLabel(id)) policy.programs[id] = *label;
    }
    policy.maxPriorityFee = Decimal::parse(kMaxSolanaPriorityFee);
    Verdict v = SolanaGuard::check(message, accounts, policy);
    if (!v.clean()) {
      return refused(std::string(kGuardRefused), v.problems, v.checks);
    }
    if (auto no = s.approve(signAsk(*w, "Sign a Solana transaction", PromptWords::solana(message, accounts)))) {
      return *no;
    }
    SecretBytes key = s.solanaKey(*w);
    auto signature = Ed25519::sign(key.span(), messageBytes);
    SignerReply r = done();
    r.checks = v.checks;
    r.signedWire = SolanaTransaction::attach(c.wire, signature);
    return r;
  }

  // ---- EVM

  // Guards one call: the call rules, and a payment only to the wallet itself
  // or an allowed recipient.
  void judgeCall(const EVMCall& call, const UInt256& value, const std::string& wallet,
                 const std::vector<std::string>& recipients, Verdict& v) {
    const std::int64_t now = s.clock_.nowMillis() / 1000;
    if (auto p = EVMCall::problem(call, wallet, now)) {
      v.problems.push_back(*p);
      return;
    }
    auto permitted = [&](const std::string& to) {
      return EVMCall::sameAddress(to, wallet) ||
             std::any_of(recipients.begin(), recipients.end(),
                         [&](const std::string& r) { return EVMCall::sameAddress(r, to); });
    };
    if (call.kind == EVMCall::Kind::plain || value != 0) {
      if (call.kind == EVMCall::Kind::plain && !permitted(call.target)) {
        v.problems.push_back("Funds go to someone else's address " + call.target);
        return;
      }
    }
    if (call.kind == EVMCall::Kind::transfer) {
      if (!permitted(call.to)) {
        v.problems.push_back("Tokens go to someone else's address " + EVMAccount::checksummed(call.to));
        return;
      }
      v.checks.push_back("Tokens → approved address " + EVMAccount::checksummed(call.to));
      return;
    }
    if (call.kind == EVMCall::Kind::plain) {
      v.checks.push_back("Funds → approved address " + call.target);
      return;
    }
    v.checks.push_back(std::string("Call rules pass: ") + std::string(EVMCall::kindName(call.kind)) + ".");
  }

  void judgeFee(std::uint64_t gasLimit, std::uint64_t maxFee, std::uint64_t priority, std::uint64_t chainId,
                Verdict& v) {
    if (!EVMNetwork::byChainId(chainId)) {
      v.problems.push_back("The signer doesn't know network " + std::to_string(chainId) + ".");
      return;
    }
    if (priority > maxFee) v.problems.push_back("The priority fee is above the fee cap of the transaction.");
    UInt256 fee = UInt256(gasLimit) * UInt256(maxFee);
    if (auto p = EVMNetwork::feeProblem(fee, chainId)) {
      v.problems.push_back(*p);
    } else {
      v.checks.push_back("Network fee at most " + PromptWords::units(fee, 18) + " " +
                         EVMNetwork::gasCoinForGas(chainId) + ".");
    }
  }

  static constexpr std::uint64_t kTempoChainId = 4217;
  static constexpr std::uint64_t kMostPaidToAService = 1'000'000;  // $1 in 6-decimal units

  SignerReply operator()(const sr::SignEVMTransaction& c) {
    auto t = target();
    if (auto* r = std::get_if<SignerReply>(&t)) return *r;
    StoredWallet* w = std::get<StoredWallet*>(t);
    if (auto p = w->record().keyProblem("evm")) return refused(*p);
    if (auto p = AddressCheck::problem(c.to, AddressCheck::Network::ethereum)) return refused(*p + kNothingSigned);
    EVMCall call = EVMCall::decode(c.to, c.data);
    Verdict v;
    judgeFee(c.gasLimit, c.maxFee, c.maxPriorityFee, c.chainId, v);
    auto recipients = allowed(c.recipients, true);
    // A paid API call pays a service nobody saved: only on Tempo, whose
    // tokens are 6-decimal stablecoins, at most one dollar, and only with a
    // prompt the user answers.
    if (c.chainId == kTempoChainId && call.kind == EVMCall::Kind::transfer && c.value == 0 &&
        call.amount <= UInt256(kMostPaidToAService) && !w->automation &&
        std::any_of(c.recipients.begin(), c.recipients.end(),
                    [&](const std::string& r) { return EVMCall::sameAddress(r, call.to); })) {
      recipients.push_back(call.to);
      v.checks.push_back("A payment of at most $1 on Tempo to a service's address, as the app asked.");
    }
    judgeCall(call, c.value, *w->evm, recipients, v);
    if (!v.clean()) {
      return refused(std::string(kGuardRefused), v.problems, v.checks);
    }
    if (auto no = s.approve(signAsk(*w, "Sign a transaction", PromptWords::evmCall(call, c.chainId, c.value)))) {
      return *no;
    }
    EVMTransaction tx;
    tx.chainId = c.chainId;
    tx.nonce = c.nonce;
    tx.maxPriorityFeePerGas = c.maxPriorityFee;
    tx.maxFeePerGas = c.maxFee;
    tx.gasLimit = c.gasLimit;
    tx.to = c.to;
    tx.value = c.value;
    tx.data = c.data;
    SecretBytes key = s.evmKey(*w);
    SignerReply r = done();
    r.checks = v.checks;
    r.signedRaw = EVMTransaction::signedBytes(tx, EVMSigner::sign(EVMTransaction::signingHash(tx), key.span()));
    return r;
  }

  SignerReply operator()(const sr::SignEVMBatch& c) {
    auto t = target();
    if (auto* r = std::get_if<SignerReply>(&t)) return *r;
    StoredWallet* w = std::get<StoredWallet*>(t);
    if (auto p = w->record().keyProblem("evm")) return refused(*p);
    std::vector<Batch7702::Call> calls;
    for (const auto& call : c.calls) calls.push_back({call.to, call.data});
    Verdict v;
    judgeFee(c.gasLimit, c.maxFee, c.maxPriorityFee, c.chainId, v);
    const std::int64_t now = s.clock_.nowMillis() / 1000;
    v.problems = Batch7702::problems(calls, *w->evm, c.chainId, now);
    std::string lines;
    const auto recipients = allowed(c.recipients, true);
    if (v.problems.empty()) {
      for (const auto& call : calls) {
        EVMCall decoded = EVMCall::decode(call.to, call.data);
        judgeCall(decoded, 0, *w->evm, recipients, v);
        lines += PromptWords::evmCall(decoded, c.chainId, 0) + "\n";
      }
    }
    if (!v.clean()) {
      return refused(std::string(kGuardRefused), v.problems, v.checks);
    }
    if (auto no = s.approve(signAsk(*w, "Sign a batch of calls", lines))) return *no;
    // The wallet calls itself, its code delegated to the batch contract, which
    // runs the calls in order; the authorisation rides in the same transaction.
    EVMTransaction tx = Batch7702::transaction(c.chainId, c.nonce, c.maxPriorityFee, c.maxFee, c.gasLimit, *w->evm,
                                               calls);
    SecretBytes key = s.evmKey(*w);
    auto& auth = tx.authorizations.front();
    auth.signature = EVMSigner::sign(EVMTransaction::authorizationHash(auth.chainId, auth.nonce), key.span());
    SignerReply r = done();
    r.checks = v.checks;
    r.signedRaw = EVMTransaction::signedBytes(tx, EVMSigner::sign(EVMTransaction::signingHash(tx), key.span()));
    return r;
  }

  SignerReply operator()(const sr::AsWallet&) {
    return refused("An asWallet request holds another asWallet.");
  }
};

SignerReply SignerService::dispatch(const SignerRequest& request, const std::optional<std::string>& asWallet) {
  SignerServiceHandlers handlers{*this, asWallet, {}};
  return std::visit(handlers, request.value());
}

SignerReply SignerService::handle(const SignerRequest& request) {
  try {
    if (request.get<sr::Status>()) {
      std::lock_guard state(state_);
      return status();
    }
    std::lock_guard serial(serial_);
    std::unique_lock state(state_);
    stateLock_ = &state;
    struct Reset {
      std::unique_lock<std::mutex>** slot;
      ~Reset() { *slot = nullptr; }
    } reset{&stateLock_};
    if (const auto* wrapped = request.get<sr::AsWallet>()) {
      return dispatch(*wrapped->request, wrapped->id);
    }
    return dispatch(request, std::nullopt);
  } catch (const Error& e) {
    std::string text = e.what();
    if (!text.empty() && text.back() != '.') text += '.';
    const bool signs = debugAPIAccess(request.unwrapped()) == DebugAPIAccess::moneyMove;
    if (signs && text.find(kNothingSigned + 1) == std::string::npos) text += kNothingSigned;
    return refused(text);
  } catch (const std::exception& e) {
    return refused(std::string("The signer failed: ") + e.what() + "." + kNothingSigned);
  }
}

}  // namespace orwenna
