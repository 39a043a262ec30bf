// Executor: the one place where a confirmed trade becomes signed actions.
//
// `prepare` signs nothing: it checks the plan and the account, decides how
// the margin reaches Hyperliquid (already there, a transfer to a builder
// dex's margin, USDC brought from Solana over Relay, a first deposit through
// NEAR Intents' 1Click that opens the account without Relay's opening fee, or
// USDC brought from an EVM network over Relay, with a little gas bought there
// from Solana first when the network lacks it) and writes the card's lines. `perform` runs after Confirm: it re-checks the price, moves the
// money, re-checks the price again when money travelled, and opens the
// position through HLOrders. A Prepared is used once: a second perform of it
// (a double Confirm) is refused, and perform reads the account again, so one
// plan never opens two positions.
//
// Every stop before a signature ends "Nothing was signed."; a stop after one
// says where the money is, and a failure after a signature never claims that
// nothing was signed.
//
// Thread-safe. One user move runs at a time (a second waits); Hyperliquid
// submissions take HLOrders' own short lock, which the guardian shares by
// using the same HLOrders, so a four-minute bridge wait never holds up a stop
// move. The references in Setup must outlive the executor.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/decimal.h"
#include "base/http.h"
#include "chains/evm_network.h"
#include "chains/evm_rpc.h"
#include "chains/solana_rpc.h"
#include "execution/bridge_client.h"
#include "execution/evm_send.h"
#include "execution/envelope.h"
#include "execution/execution_error.h"
#include "execution/hl_orders.h"
#include "execution/journal.h"
#include "trading/market.h"
#include "trading/risk_calc.h"
#include "trading/trade_intent.h"

namespace orwenna {

// The user's addresses: Solana, and the EVM one that is also the Hyperliquid
// account.
struct TradeWallet {
  std::string solana;
  std::string evm;
};

// A move that would lose more than a move may lose on its own: the larger of
// $1 and 3% of what it pays.
class CostlyMove : public ExecutionError {
 public:
  static inline const Decimal kMaxLossUSD = Decimal(1);
  static inline const Decimal kMaxLossShare = Decimal::parse("0.03");
  // Whether losing `lost` of `paid` is more than that.
  [[nodiscard]] static bool exceeds(const Decimal& lost, const Decimal& paid);

  CostlyMove(Decimal lost, Decimal paid, std::string what);
  Decimal lost;
  Decimal paid;
  std::string what;
};

class Executor {
 public:
  // How long a bridge credit is waited for, and how often it is looked at.
  static constexpr std::chrono::seconds kBridgeWait{240};
  static constexpr std::chrono::seconds kBridgePoll{5};
  // How long an approval (the bridge's Envelope) stays good after Confirm.
  static constexpr std::chrono::seconds kEnvelopeLife{120};

  struct Setup {
    TradeWallet wallet;
    HLOrders& orders;  // also the signer, journal and nonces of every Hyperliquid action
    Clock& clock;
    HttpClient& http;
    SolanaRPC* solana = nullptr;   // none: no funding from Solana
    BridgeClient* relay = nullptr;  // none: no funding from Solana
    std::function<void(const std::string&)> report;  // one progress line; may be empty
    FundingBridge* funding = nullptr;  // none: nothing comes from EVM networks, no gas top-up
    OpeningRoute* opening = nullptr;   // none: Relay opens the account
    // A node of an EVM network; empty: nothing comes from EVM networks.
    std::function<EVMRPC(const EVMNetwork&)> evm = {};
  };

  // What a funding deposit on an EVM network needs of its gas coin first:
  // this much USDC from Solana over Relay buys it.
  static inline const Decimal kGasTopupUSDC = Decimal::parse("0.5");
  // The networks whose USDC may fund a trade, in the order they are tried.
  static constexpr const char* kFundingNetworks[] = {"base", "arbitrum", "ethereum"};
  // How long a 1Click opening is waited for (it usually takes 2–4 minutes).
  static constexpr std::chrono::seconds kOpeningWait{600};

  // USDC brought from Solana over Relay before the trade.
  struct BridgeStep {
    std::string requestId;
    Bytes unsigned_;  // the Solana message as built for signing
    std::vector<std::string> accounts;
    std::map<std::string, std::string> tokenOwners;
    std::uint64_t lastValid = 0;
    Decimal spend;
    Decimal arriving;
    std::string feesUSD;
    std::string chain = "hyperliquid";
    Decimal opening;  // part of spend: the one-time opening of the Hyperliquid account
    std::optional<std::string> note;
  };

  struct DexTransfer {
    std::string dex;
    Decimal usdc;
  };

  // USDC brought from an EVM network over Relay.
  struct FundFrom {
    const EVMNetwork* net = nullptr;
    Decimal usdc;      // leaving the network
    Decimal arriving;  // expected on Hyperliquid
    Decimal gasTopup;  // USDC from Solana bought as gas there first; zero when the network has enough
  };

  // The account opened through 1Click: what leaves Solana and what arrives.
  struct OpenVia1Click {
    Decimal units;
    Decimal arriving;
  };

  struct Prepared {
    TradeIntent intent;
    Market market;
    Sizing sizing;
    int leverage = 1;
    std::optional<BridgeStep> bridge;
    std::optional<DexTransfer> dexTransfer;
    std::optional<FundFrom> fundFrom;
    std::optional<OpenVia1Click> openVia1Click;
    std::vector<std::string> changes;
    std::vector<std::string> steps;
    std::int64_t preparedAt = 0;
    Decimal mid;  // the price the re-checks compare with

    // Shared by copies: whichever copy is performed first uses it up.
    std::shared_ptr<std::atomic<bool>> used = std::make_shared<std::atomic<bool>>(false);
  };

  struct Opened {
    std::string asset;
    Decimal size;  // signed: negative for a short
    Decimal entry;
    Decimal stop;
    std::optional<Decimal> take;
    bool pending = false;  // a limit entry resting on the book
    std::optional<Decimal> partialTake;
    bool partialPlaced = false;
    std::optional<Decimal> trailingPct;  // asked for: the guardian keeps it
    bool protectedByStop = false;
    std::vector<std::string> lines;  // what was done, in order
  };

  explicit Executor(Setup setup);

  // Told of every position opened (or limit entry placed): the fill's size
  // and price are what exit rules and the guardian start from. Set before
  // the first move.
  void onTraded(std::function<void(const Opened&)> traded) { traded_ = std::move(traded); }

  // REQUIRES: sizing is RiskCalc's for this intent and market. Reads the
  // account (and Solana, and a Relay quote, when money must come from there).
  // Throws ExecutionError ending "Nothing was signed." or naming what is
  // missing.
  Prepared prepare(const TradeIntent& intent, const Market& market, const Sizing& sizing);
  // Throws ExecutionError; the message says where the money is.
  Opened perform(const Prepared& prepared);

  // The other Hyperliquid moves, one user move at a time like perform.
  HLOrders::Report classTransfer(const Decimal& usdc, bool toPerp);
  HLOrders::Report usdSend(const std::string& destination, const Decimal& usdc);
  // `symbol` is a spot token ("HYPE"); buys spend `usdc`, sells sell `amount`
  // (all of it when absent).
  HLOrders::Report spotBuy(const std::string& symbol, const Decimal& usdc);
  HLOrders::Report spotSell(const std::string& symbol, const std::optional<Decimal>& amount);
  HLOrders::Report vaultDeposit(const std::string& vault, const Decimal& usdc);
  HLOrders::Report vaultWithdraw(const std::string& vault, const std::optional<Decimal>& usdc);

  HLOrders& orders() { return s_.orders; }
  // Held by a caller running its own move on `orders()` (a position order).
  [[nodiscard]] std::unique_lock<std::mutex> oneMove() { return std::unique_lock(moveMutex_); }
  const TradeWallet& wallet() const { return s_.wallet; }

  // The Relay step alone (exposed for its own tests): quote afresh, check
  // against `envelope`, simulate, sign, journal, send, confirm and wait for
  // the credit. Throws ExecutionError.
  void runBridge(const BridgeStep& planned, const Envelope& envelope);
  // The 1Click opening: quote afresh, check the deposit address's binding and
  // `envelope`, pay it from Solana, journal the deposit and wait for the
  // credit. Throws ExecutionError.
  void runOpening(const OpenVia1Click& planned, const Envelope& envelope);
  // USDC from an EVM network over Relay (after the gas top-up when planned).
  // Throws ExecutionError.
  void runFundFrom(const FundFrom& planned, const Envelope& envelope);

 private:
  Decimal midOf(const std::string& coin) const;
  void say(const std::string& line) const;
  void requireNoPositionOrOrder(const Market& market) const;
  Decimal freeOn(const std::optional<std::string>& dex) const;
  // After the block height passed: one more look, so a late landing is not
  // reported as money that stayed on Solana.
  bool landedAfterAll(const std::string& signature) const;
  Decimal solanaUSDC() const;
  // Polls the perp balance (and Relay's status, which may say refund) until
  // `wanted` more than `baseline` shows; throws on a refund or after the wait.
  void awaitRelayCredit(const std::string& requestId, const Decimal& baseline, const Decimal& wanted,
                        const std::string& returned, const std::string& from);
  void buyGas(const EVMNetwork& net, const EVMRPC& rpc);
  // A funding plan from an EVM network holding `bring`, or nothing; sets
  // `gasShort` when one holds it but cannot pay its gas.
  std::optional<FundFrom> fundingFromEVM(const Decimal& shortfall, const Decimal& bring, const Decimal& onSolana,
                                         std::optional<std::string>& gasShort);

  Setup s_;
  std::function<void(const Opened&)> traded_;
  std::mutex moveMutex_;
  EVMNonces evmNonces_;
};

// A builder dex's free margin from its "clearinghouseState" answer.
[[nodiscard]] Decimal withdrawableIn(const Json& clearinghouseState);

}  // namespace orwenna
