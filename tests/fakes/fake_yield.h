// Fakes of the lending places: an Aave v3 pool and an ERC-4626 vault run as
// contracts of a FakeEVMLedger (so calldata is executed against balances and
// allowances, and eth_call reads answer from the same state), and a fake of
// Jupiter Lend's Earn API building transactions against a FakeSolanaLedger's
// node. Thread-safe where the servers call in.
#pragma once

#include <mutex>
#include <string>

#include "chains/abi.h"
#include "chains/solana_rpc.h"
#include "chains/spl.h"
#include "fakes/fake_ledgers.h"
#include "fakes/fake_server.h"

namespace orwenna::testing {

inline Bytes abiWords(std::initializer_list<UInt256> words) {
  Bytes out;
  for (const auto& w : words) {
    auto b = toBigEndian32(w);
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}
inline UInt256 addressWord(const std::string& address) { return fromBigEndian(*fromHex(address)); }

// An Aave v3 pool over one asset: supply mints the aToken to the beneficiary,
// withdraw burns it (all of it for 2^256 − 1), borrow mints variable debt,
// repay burns it; getReserveData and getUserAccountData answer from the
// settings below. The pool must hold the asset it lends out.
struct FakeAavePool {
  std::string pool, asset, aToken, debtToken;
  UInt256 liquidityRateRay;
  // getUserAccountData: collateral, debt, available borrows (8 decimals),
  // liquidation threshold (bps), health factor (18 decimals).
  UInt256 collateralBase, debtBase, availableBase, thresholdBps = 8000;

  void install(FakeEVMLedger& ledger) const {
    // Deployed tokens answer balanceOf even before anyone holds them.
    ledger.fundToken(aToken, pool, 0);
    ledger.fundToken(debtToken, pool, 0);
    FakeAavePool me = *this;
    ledger.contract(pool, [me](FakeEVMLedger::Run& run) -> std::optional<std::string> {
      const std::string sel = run.selector();
      const UInt256 max = ~UInt256(0);
      if (sel == toHex(ABI::selector("getReserveData(address)"))) {
        run.answer = abiWords({0, 0, me.liquidityRateRay, 0, 0, 0, 0, 0, addressWord(me.aToken), 0,
                               addressWord(me.debtToken), 0, 0, 0, 0});
        return std::nullopt;
      }
      if (sel == toHex(ABI::selector("getUserAccountData(address)"))) {
        run.answer = abiWords({me.collateralBase, me.debtBase, me.availableBase, me.thresholdBps, 7500, 0});
        return std::nullopt;
      }
      if (run.address(0) != text::asciiLowercased(me.asset)) return "unknown reserve";
      if (sel == "617ba037") {  // supply(asset, amount, onBehalfOf, referral)
        if (!run.pull(me.asset, run.from, run.word(1))) return "transfer amount exceeds allowance";
        run.mint(me.aToken, run.address(2), run.word(1));
        return std::nullopt;
      }
      if (sel == "69328dec") {  // withdraw(asset, amount, to)
        UInt256 amount = run.word(1) == max ? run.balance(me.aToken, run.from) : run.word(1);
        if (!run.burn(me.aToken, run.from, amount) || !run.pay(me.asset, run.address(2), amount)) return "not enough";
        return std::nullopt;
      }
      if (sel == "a415bcad") {  // borrow(asset, amount, rateMode, referral, onBehalfOf)
        run.mint(me.debtToken, run.address(4), run.word(1));
        return run.pay(me.asset, run.from, run.word(1)) ? std::nullopt : std::optional<std::string>("no liquidity");
      }
      if (sel == "573ade81") {  // repay(asset, amount, rateMode, onBehalfOf)
        UInt256 owed = run.balance(me.debtToken, run.address(3));
        UInt256 amount = run.word(1) == max || run.word(1) > owed ? owed : run.word(1);
        if (!run.pull(me.asset, run.from, amount)) return "transfer amount exceeds allowance";
        run.burn(me.debtToken, run.address(3), amount);
        return std::nullopt;
      }
      return "unknown function";
    });
  }
};

// An ERC-4626 vault whose shares are its own token; a share is worth
// `priceNum / priceDen` of the asset. maxWithdraw is capped by `liquidity`.
struct FakeVault {
  std::string vault, asset;
  UInt256 priceNum = 102, priceDen = 100;
  UInt256 liquidity = ~UInt256(0);

  void install(FakeEVMLedger& ledger) const {
    FakeVault me = *this;
    ledger.contract(vault, [me](FakeEVMLedger::Run& run) -> std::optional<std::string> {
      const std::string sel = run.selector();
      auto toAssets = [&](const UInt256& shares) { return shares * me.priceNum / me.priceDen; };
      auto toShares = [&](const UInt256& assets) { return (assets * me.priceDen + me.priceNum - 1) / me.priceNum; };
      auto is = [&](const char* signature) { return sel == toHex(ABI::selector(signature)); };
      if (is("asset()")) return run.answer = abiWords({addressWord(me.asset)}), std::nullopt;
      if (is("balanceOf(address)")) return run.answer = abiWords({run.balance(me.vault, run.address(0))}), std::nullopt;
      if (is("convertToAssets(uint256)")) return run.answer = abiWords({toAssets(run.word(0))}), std::nullopt;
      if (is("maxWithdraw(address)")) {
        UInt256 held = toAssets(run.balance(me.vault, run.address(0)));
        run.answer = abiWords({held < me.liquidity ? held : me.liquidity});
        return std::nullopt;
      }
      if (sel == "6e553f65") {  // deposit(assets, receiver)
        if (!run.pull(me.asset, run.from, run.word(0))) return "transfer amount exceeds allowance";
        run.mint(me.vault, run.address(1), run.word(0) * me.priceDen / me.priceNum);
        return std::nullopt;
      }
      if (sel == "b460af94" || sel == "ba087652") {  // withdraw(assets, …), redeem(shares, …)
        if (run.address(2) != run.from) return "not the owner";
        const bool redeem = sel == "ba087652";
        UInt256 shares = redeem ? run.word(0) : toShares(run.word(0));
        UInt256 assets = redeem ? toAssets(run.word(0)) : run.word(0);
        if (assets > me.liquidity) return "not enough liquidity";
        if (!run.burn(me.vault, run.from, shares) || !run.pay(me.asset, run.address(1), assets)) return "not enough";
        return std::nullopt;
      }
      return "unknown function";
    });
  }
};

// Jupiter Lend's Earn API: /earn/tokens and /earn/positions answer what is
// set; /earn/deposit builds a transaction for the asked amount that pays
// `payTo`'s token account (the lending program's in an honest answer).
class FakeJupiterLend {
 public:
  explicit FakeJupiterLend(const SolanaRPC& rpc) : rpc_(rpc) {
    server_.on("GET", "/earn/tokens", [this](const RecordedRequest&) {
      std::lock_guard lock(mutex_);
      return FakeResponse::json(tokens.dump());
    });
    server_.on("GET", "/earn/positions", [this](const RecordedRequest&) {
      std::lock_guard lock(mutex_);
      return FakeResponse::json(positions.dump());
    });
    server_.on("POST", "/earn/deposit", [this](const RecordedRequest& r) { return build(r); });
  }

  std::string url() const { return server_.url(); }
  std::vector<RecordedRequest> requests() const { return server_.requests(); }

  Json tokens = Json::array();
  Json positions = Json::array();
  std::string payTo;

 private:
  FakeResponse build(const RecordedRequest& r) {
    std::lock_guard lock(mutex_);
    Json body = Json::parse(r.body);
    const std::string user = body.at("signer").get<std::string>();
    auto ixs = SPL::transferInstructions({user, payTo, body.at("asset").get<std::string>(),
                                          std::string(SolanaPrograms::kToken),
                                          std::stoull(body.at("amount").get<std::string>()), 6, false});
    auto latest = rpc_.latestBlockhash();
    auto built = SolanaTransaction::build(ixs, user, latest.blockhash, 1000);
    return FakeResponse::json(Json{{"transaction", toBase64(built.transaction)}}.dump());
  }

  const SolanaRPC& rpc_;
  FakeServer server_;
  std::mutex mutex_;
};

}  // namespace orwenna::testing
