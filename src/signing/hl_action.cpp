#include "signing/hl_action.h"

#include <algorithm>
#include <cmath>

#include "base/bytes.h"
#include "signing/wallet_error.h"

namespace orwenna {

namespace {

MsgPack text(std::string_view s) { return MsgPack::string(std::string(s)); }

void checkAsset(std::int64_t asset) {
  if (asset < 0) throw WalletError("Invalid asset index " + std::to_string(asset) + ": it can't be negative.");
}

void checkCloid(const std::string& cloid) {
  bool ok = cloid.size() == 34 && cloid.starts_with("0x") && fromHex(cloid).has_value();
  if (!ok) throw WalletError("cloid must be 0x plus 32 hex characters.");
}

// Everything that can refuse an order, run over all orders before any is built.
void checkOrder(const HLOrder& order) {
  checkAsset(order.asset);
  (void)HLAction::wireDecimal(order.price);
  (void)HLAction::wireDecimal(order.size);
  if (const auto* trigger = std::get_if<HLOrder::Trigger>(&order.kind)) (void)HLAction::wireDecimal(trigger->price);
  if (order.cloid) checkCloid(*order.cloid);
}

MsgPack orderType(const HLOrder::Kind& kind) {
  if (const auto* limit = std::get_if<HLOrder::Limit>(&kind)) {
    return MsgPack::map({{"limit", MsgPack::map({{"tif", text(limit->tif)}})}});
  }
  const auto& trigger = std::get<HLOrder::Trigger>(kind);
  return MsgPack::map({{"trigger", MsgPack::map({
                                       {"isMarket", MsgPack::boolean(trigger.isMarket)},
                                       {"triggerPx", text(HLAction::wireDecimal(trigger.price))},
                                       {"tpsl", text(trigger.tpsl)},
                                   })}});
}

MsgPack withChain(MsgPack::Map entries, bool mainnet) {
  entries.emplace_back("signatureChainId", text(HLAction::kSignatureChainId));
  entries.emplace_back("hyperliquidChain", text(HLAction::chainName(mainnet)));
  return MsgPack::map(std::move(entries));
}

}  // namespace

MsgPack HLAction::orderWire(const HLOrder& order) {
  checkOrder(order);
  MsgPack::Map wire;
  wire.reserve(7);
  wire.emplace_back("a", MsgPack::uint(static_cast<std::uint64_t>(order.asset)));
  wire.emplace_back("b", MsgPack::boolean(order.isBuy));
  wire.emplace_back("p", text(wireDecimal(order.price)));
  wire.emplace_back("s", text(wireDecimal(order.size)));
  wire.emplace_back("r", MsgPack::boolean(order.reduceOnly));
  wire.emplace_back("t", orderType(order.kind));
  if (order.cloid) wire.emplace_back("c", text(*order.cloid));
  return MsgPack::map(std::move(wire));
}

MsgPack HLAction::order(std::span<const HLOrder> orders, std::string_view grouping) {
  for (const HLOrder& o : orders) checkOrder(o);
  MsgPack::Array wires;
  wires.reserve(orders.size());
  for (const HLOrder& o : orders) wires.push_back(orderWire(o));
  return MsgPack::map({
      {"type", text("order")},
      {"orders", MsgPack::array(std::move(wires))},
      {"grouping", text(grouping)},
  });
}

MsgPack HLAction::cancel(std::span<const HLCancel> cancels) {
  for (const HLCancel& c : cancels) {
    checkAsset(c.asset);
    if (c.orderId < 0) throw WalletError("Invalid order id " + std::to_string(c.orderId) + ": it can't be negative.");
  }
  MsgPack::Array items;
  items.reserve(cancels.size());
  for (const HLCancel& c : cancels) {
    items.push_back(MsgPack::map({
        {"a", MsgPack::uint(static_cast<std::uint64_t>(c.asset))},
        {"o", MsgPack::uint(static_cast<std::uint64_t>(c.orderId))},
    }));
  }
  return MsgPack::map({{"type", text("cancel")}, {"cancels", MsgPack::array(std::move(items))}});
}

MsgPack HLAction::updateLeverage(std::int64_t asset, bool isCross, std::int64_t leverage) {
  checkAsset(asset);
  if (leverage < 1) throw WalletError("Invalid leverage " + std::to_string(leverage) + ": it must be at least 1.");
  return MsgPack::map({{"type", text("updateLeverage")},
                       {"asset", MsgPack::uint(static_cast<std::uint64_t>(asset))},
                       {"isCross", MsgPack::boolean(isCross)},
                       {"leverage", MsgPack::uint(static_cast<std::uint64_t>(leverage))}});
}

MsgPack HLAction::vaultTransfer(const std::string& vaultAddress, bool isDeposit, const Decimal& usd) {
  Decimal micro = usd.scaledByPowerOfTen(6);
  std::optional<std::int64_t> units = micro.toInt64();
  if (!usd.isPositive() || !units) {
    throw WalletError("Invalid vault amount " + usd.toString() + ": it must be positive, with at most 6 decimals.");
  }
  return MsgPack::map({{"type", text("vaultTransfer")},
                       {"vaultAddress", text(vaultAddress)},
                       {"isDeposit", MsgPack::boolean(isDeposit)},
                       {"usd", MsgPack::uint(static_cast<std::uint64_t>(*units))}});
}

MsgPack HLAction::usdClassTransfer(const Decimal& amount, bool toPerp, std::uint64_t nonce, bool mainnet) {
  return withChain({{"type", text("usdClassTransfer")},
                    {"amount", text(wireDecimal(amount))},
                    {"toPerp", MsgPack::boolean(toPerp)},
                    {"nonce", MsgPack::uint(nonce)}},
                   mainnet);
}

MsgPack HLAction::spotSend(const std::string& destination, const std::string& token, const Decimal& amount,
                           std::uint64_t time, bool mainnet) {
  return withChain({{"type", text("spotSend")},
                    {"destination", text(destination)},
                    {"token", text(token)},
                    {"amount", text(wireDecimal(amount))},
                    {"time", MsgPack::uint(time)}},
                   mainnet);
}

MsgPack HLAction::sendAsset(const std::string& destination, const std::string& sourceDex,
                            const std::string& destinationDex, const std::string& token, const Decimal& amount,
                            const std::string& fromSubAccount, std::uint64_t nonce, bool mainnet) {
  return withChain({{"type", text("sendAsset")},
                    {"destination", text(destination)},
                    {"sourceDex", text(sourceDex)},
                    {"destinationDex", text(destinationDex)},
                    {"token", text(token)},
                    {"amount", text(wireDecimal(amount))},
                    {"fromSubAccount", text(fromSubAccount)},
                    {"nonce", MsgPack::uint(nonce)}},
                   mainnet);
}

MsgPack HLAction::usdSend(const std::string& destination, const Decimal& amount, std::uint64_t time, bool mainnet) {
  // The chain keys come first here: this is the order the exchange documents.
  return MsgPack::map({{"type", text("usdSend")},
                       {"signatureChainId", text(kSignatureChainId)},
                       {"hyperliquidChain", text(chainName(mainnet))},
                       {"destination", text(destination)},
                       {"amount", text(wireDecimal(amount))},
                       {"time", MsgPack::uint(time)}});
}

MsgPack HLAction::approveAgent(const std::string& agentAddress, const std::string& agentName, std::uint64_t nonce,
                               bool mainnet) {
  return withChain({{"type", text("approveAgent")},
                    {"agentAddress", text(agentAddress)},
                    {"agentName", text(agentName)},
                    {"nonce", MsgPack::uint(nonce)}},
                   mainnet);
}

MsgPack HLAction::withdraw3(const std::string& destination, const Decimal& amount, std::uint64_t time, bool mainnet) {
  return withChain({{"type", text("withdraw3")},
                    {"destination", text(destination)},
                    {"amount", text(wireDecimal(amount))},
                    {"time", MsgPack::uint(time)}},
                   mainnet);
}

std::string HLAction::wireDecimal(const Decimal& x) {
  Decimal rounded = x.rounded(8, RoundingMode::halfAwayFromZero);
  if (rounded != x) throw WalletError(x.toString() + ": more than 8 decimal places.");
  if (x.isZero()) return "0";
  return x.toString();
}

Decimal HLAction::roundPrice(const Decimal& price, int szDecimals, bool spot) {
  if (!price.isPositive()) {
    throw WalletError("A price of " + price.toString() + " can't be rounded: it must be above zero.");
  }
  int e = static_cast<int>(std::floor(std::log10(price.toDouble())));
  Decimal p1 = price.rounded(std::max(4 - e, 0), RoundingMode::halfAwayFromZero);
  return p1.rounded((spot ? 8 : 6) - szDecimals, RoundingMode::halfAwayFromZero);
}

Decimal HLAction::roundSize(const Decimal& size, int decimals) {
  return size.rounded(decimals, RoundingMode::towardZero);
}

bool HLAction::isAgentAction(const MsgPack& action) {
  const MsgPack* type = action.find("type");
  const std::string* name = type ? type->stringValue() : nullptr;
  if (name == nullptr) return false;
  static constexpr std::string_view kAgentTypes[] = {"order", "cancel", "updateLeverage", "batchModify", "modify"};
  return std::find(std::begin(kAgentTypes), std::end(kAgentTypes), *name) != std::end(kAgentTypes);
}

const std::vector<HLUserType>& HLAction::userTypes() {
  static const std::vector<HLUserType> table = {
      {"usdClassTransfer", "UsdClassTransfer", {{"amount", "string"}, {"toPerp", "bool"}, {"nonce", "uint64"}}},
      {"spotSend",
       "SpotSend",
       {{"destination", "string"}, {"token", "string"}, {"amount", "string"}, {"time", "uint64"}}},
      {"sendAsset",
       "SendAsset",
       {{"destination", "string"},
        {"sourceDex", "string"},
        {"destinationDex", "string"},
        {"token", "string"},
        {"amount", "string"},
        {"fromSubAccount", "string"},
        {"nonce", "uint64"}}},
      {"withdraw3", "Withdraw", {{"destination", "string"}, {"amount", "string"}, {"time", "uint64"}}},
      {"usdSend", "UsdSend", {{"destination", "string"}, {"amount", "string"}, {"time", "uint64"}}},
  };
  return table;
}

const HLUserType* HLAction::userType(std::string_view actionType) {
  for (const HLUserType& t : userTypes()) {
    if (t.action == actionType) return &t;
  }
  return nullptr;
}

}  // namespace orwenna
