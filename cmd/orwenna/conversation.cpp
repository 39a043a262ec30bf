#include "orwenna/conversation.h"

#include <chrono>
#include <thread>

#include "base/log.h"
#include "orwenna/command.h"
#include "platform/defaults.h"
#include "trading/risk_policy.h"

namespace orwenna::cmd {

Conversation::Conversation(const ConversationOptions& options)
    : paths_(AppPaths::fromEnvironment()), services_(Services::fromProcess()) {
  paths_.ensureExist();
  log::openLog(paths_.dataDir);
  try {
    chosen_ = connectModel(services_, options.provider, options.model);
  } catch (const CommandFailure&) {
    if (!options.provider.empty()) throw;  // asked for by name: say why it can't be used
  }
  Agent::UserAddresses me;
  if (!options.evm.empty()) me.evm = options.evm;
  if (!options.solana.empty()) me.solana = options.solana;
  tools_ = std::make_shared<Agent::ReadTools>(services_, me);
  lookups_ = std::make_shared<Agent::Lookups>(tools_->lookups());
  classifier_ = std::make_shared<SecondCheckClassifier>(services_.secondCheck());

  Workspace::Services s(services_.clock, SecureRandom::shared(), loop_, paths_.dataDir);
  if (chosen_) {
    s.ask = ChatRouter::askWith(*chosen_->client, chosen_->model);
    s.modelName = chosen_->name;
    s.providerID = chosen_->providerID;
  }
  s.lookup = lookups_->callback();
  // The table is read once, on the first worker that asks; no copy per turn.
  auto tools = tools_;
  s.markets = [tools] { return std::shared_ptr<const MarketTable>(tools, &tools->markets().table()); };
  if (classifier_->connected()) s.secondCheck = classifier_.get();
  s.policy = RiskPolicy::load();
  const SignerLocation signer = SignerLocation::forApp(paths_);
  addressBook_ = std::make_unique<SignerAddressBook>(signer);
  signerLock_ = std::make_unique<SignerLockPort>(signer);
  sendSigner_ = std::make_unique<SocketTradeSigner>(signer);
  journal_ = std::make_unique<Journal>(Journal::inDataFolder(paths_.dataDir));
  // The active wallet's addresses, asked of the signer for each step: the user may switch wallets.
  auto activeAddresses = [signer] {
    WalletAddresses addresses;
    try {
      SignerReply status = SignerClient(signer).send(signer_request::Status{});
      addresses.solana = status.solanaAddress;
      addresses.evm = status.evmAddress;
      addresses.near = status.nearAddress;
    } catch (const Error& e) {
      log::warn("send: the signer's addresses couldn't be read: {}", e.what());
    }
    return addresses;
  };
  sends_ = std::make_unique<SendMoves>(services_, *addressBook_, *sendSigner_, *journal_, activeAddresses);
  swaps_ = std::make_unique<SwapMoves>(services_, *sendSigner_, *journal_, activeAddresses, sends_.get());
  desk_ = std::make_unique<TradeDesk>(
      services_, TradeDesk::Options{signer, paths_.dataDir, {options.solana, options.evm},
                                    services_.hyperliquidTestnet, swaps_.get(),
                                    // Progress of a long move (a bridge) shows in the chat as it happens.
                                    [this](const std::string& line) {
                                      loop_.post([this, line] {
                                        if (workspace_) workspace_->reply(line);
                                      });
                                    }});
  s.executor = desk_.get();
  s.addressBook = addressBook_.get();
  s.signerLock = signerLock_.get();
  loop_.sync([&] {
    workspace_ = std::make_unique<Workspace>(std::move(s));
    workspace_->setMemory(Agent::Memory::load(Defaults::standard()));
  });
}

Conversation::~Conversation() {
  loop_.sync([&] {
    workspace_->setListener(nullptr);
    workspace_->flush();
    workspace_.reset();
  });
  loop_.stop();
}

void Conversation::waitIdle() {
  for (;;) {
    bool idle = false;
    loop_.sync([&] { idle = workspace_->idle(); });
    if (idle) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace orwenna::cmd
