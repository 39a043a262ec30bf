// Builders of the Hyperliquid actions the system sends, as MsgPack maps whose
// key order is the exchange's own (the order is hashed for L1 actions), and the
// number rules the exchange holds prices and sizes to. User-signed actions
// carry their typed-data description in one table, `HLAction::userTypes`.
// Pure; thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/decimal.h"
#include "signing/msgpack.h"

namespace orwenna {

struct HLOrder {
  struct Limit {
    std::string tif;  // "Gtc", "Ioc", … as the caller chooses
  };
  struct Trigger {
    Decimal price;  // the trigger price
    bool isMarket = false;
    std::string tpsl;  // "sl" or "tp"
  };
  using Kind = std::variant<Limit, Trigger>;

  std::int64_t asset = 0;  // never negative
  bool isBuy = false;
  Decimal price;  // limit price; for a trigger, the limit after triggering
  Decimal size;   // in coins
  bool reduceOnly = false;
  Kind kind = Limit{"Gtc"};
  std::optional<std::string> cloid;  // "0x" + 32 hex digits
};

struct HLCancel {
  std::int64_t asset = 0;    // never negative
  std::int64_t orderId = 0;  // never negative
};

// One field of a user-signed action's typed data.
struct HLUserField {
  std::string_view name;
  std::string_view type;  // "string", "bool", "uint64" or "address"
};

// How a user-signed action type becomes typed data.
struct HLUserType {
  std::string_view action;  // the action's "type"
  std::string_view suffix;  // after "HyperliquidTransaction:"
  std::vector<HLUserField> fields;
};

struct HLAction {
  static constexpr std::string_view kSignatureChainId = "0x66eee";

  // {"type": "order", "orders": [wire…], "grouping": grouping}. Every order is
  // checked before anything is built: a negative asset, a number with more than
  // 8 decimals or a malformed cloid throws WalletError.
  static MsgPack order(std::span<const HLOrder> orders, std::string_view grouping);
  // One order wire: a, b, p, s, r, t, then c only with a cloid.
  static MsgPack orderWire(const HLOrder& order);
  // {"type": "cancel", "cancels": [{"a", "o"}…]}; throws for a negative asset or id.
  static MsgPack cancel(std::span<const HLCancel> cancels);
  // {"type": "updateLeverage", "asset", "isCross", "leverage"}; throws for a
  // negative asset or a leverage below 1.
  static MsgPack updateLeverage(std::int64_t asset, bool isCross, std::int64_t leverage);
  // {"type": "vaultTransfer", "vaultAddress", "isDeposit", "usd"}: an L1 action
  // whose "usd" is the amount in millionths of a dollar. Throws for an amount
  // that is not positive or has more than 6 decimals.
  static MsgPack vaultTransfer(const std::string& vaultAddress, bool isDeposit, const Decimal& usd);

  // User-signed actions, keys in the exchange's order; amounts as wireDecimal.
  static MsgPack usdClassTransfer(const Decimal& amount, bool toPerp, std::uint64_t nonce, bool mainnet);
  static MsgPack spotSend(const std::string& destination, const std::string& token, const Decimal& amount,
                          std::uint64_t time, bool mainnet);
  static MsgPack sendAsset(const std::string& destination, const std::string& sourceDex,
                           const std::string& destinationDex, const std::string& token, const Decimal& amount,
                           const std::string& fromSubAccount, std::uint64_t nonce, bool mainnet);
  static MsgPack usdSend(const std::string& destination, const Decimal& amount, std::uint64_t time, bool mainnet);
  static MsgPack approveAgent(const std::string& agentAddress, const std::string& agentName, std::uint64_t nonce,
                              bool mainnet);
  static MsgPack withdraw3(const std::string& destination, const Decimal& amount, std::uint64_t time, bool mainnet);

  // "Mainnet" or "Testnet".
  static std::string_view chainName(bool mainnet) { return mainnet ? "Mainnet" : "Testnet"; }

  // The exchange's decimal text: at most 8 decimals, plain, no trailing zeros.
  // Throws WalletError "<x>: more than 8 decimal places." otherwise.
  static std::string wireDecimal(const Decimal& x);
  // Five significant figures (whole prices keep all their digits), then at most
  // (spot ? 8 : 6) − szDecimals decimals. Throws WalletError for a price ≤ 0.
  static Decimal roundPrice(const Decimal& price, int szDecimals, bool spot);
  // Toward zero to `decimals` places.
  static Decimal roundSize(const Decimal& size, int decimals);

  // True for a map whose "type" is text in the set a trading key may sign.
  static bool isAgentAction(const MsgPack& action);

  // The typed-data table of user-signed actions ("approveAgent" is not in it).
  static const std::vector<HLUserType>& userTypes();
  // The table entry for an action type, or nullptr.
  static const HLUserType* userType(std::string_view actionType);
};

}  // namespace orwenna
