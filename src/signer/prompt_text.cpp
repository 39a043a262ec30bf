#include "signer/prompt_text.h"

#include <fmt/format.h>

#include "chains/evm_network.h"
#include "signing/accounts.h"

namespace orwenna {

namespace {

std::string textOr(const MsgPack& map, std::string_view key, std::string_view otherwise = "?") {
  const MsgPack* v = map.find(key);
  if (v && v->stringValue()) return *v->stringValue();
  if (v && v->uintValue()) return std::to_string(*v->uintValue());
  if (v && v->boolValue()) return *v->boolValue() ? "true" : "false";
  return std::string(otherwise);
}

std::string orderLine(const MsgPack& order) {
  const MsgPack* buy = order.find("b");
  std::string side = buy && buy->boolValue() && *buy->boolValue() ? "Buy" : "Sell";
  std::string line = fmt::format("{} {} of asset #{} at {}", side, textOr(order, "s"), textOr(order, "a"),
                                 textOr(order, "p"));
  if (const MsgPack* t = order.find("t")) {
    if (const MsgPack* trigger = t->find("trigger")) {
      std::string tpsl = textOr(*trigger, "tpsl");
      line += fmt::format(", {} triggered at {}", tpsl == "sl" ? "stop-loss" : tpsl == "tp" ? "take-profit" : tpsl,
                          textOr(*trigger, "triggerPx"));
    } else if (const MsgPack* limit = t->find("limit")) {
      line += fmt::format(" ({})", textOr(*limit, "tif"));
    }
  }
  const MsgPack* r = order.find("r");
  if (r && r->boolValue() && *r->boolValue()) line += ", reduce only";
  return line;
}

std::string lamportsText(std::uint64_t lamports) { return PromptWords::units(UInt256(lamports), 9) + " SOL"; }

std::uint64_t littleEndian(ByteView data, std::size_t offset, std::size_t bytes) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < bytes && offset + i < data.size(); ++i) {
    v |= static_cast<std::uint64_t>(data[offset + i]) << (8 * i);
  }
  return v;
}

}  // namespace

std::string PromptWords::units(const UInt256& amount, int decimals) {
  std::string digits = toDecimalString(amount);
  if (decimals <= 0) return digits;
  const auto d = static_cast<std::size_t>(decimals);
  if (digits.size() <= d) digits.insert(0, d - digits.size() + 1, '0');
  std::string whole = digits.substr(0, digits.size() - d);
  std::string frac = digits.substr(digits.size() - d);
  while (!frac.empty() && frac.back() == '0') frac.pop_back();
  return frac.empty() ? whole : whole + "." + frac;
}

std::string PromptWords::message(ByteView bytes) {
  bool printable = true;
  for (std::uint8_t c : bytes) {
    if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7f) printable = false;
  }
  return printable ? asString(bytes) : toHex0x(bytes);
}

std::string PromptWords::hyperliquid(const MsgPack& action, bool mainnet) {
  const std::string where = mainnet ? "Hyperliquid" : "Hyperliquid testnet";
  std::string type = textOr(action, "type");
  std::vector<std::string> lines;
  if (type == "order") {
    if (const MsgPack* orders = action.find("orders"); orders && orders->arrayValue()) {
      for (const auto& o : *orders->arrayValue()) lines.push_back(orderLine(o));
    }
  } else if (type == "cancel") {
    if (const MsgPack* cancels = action.find("cancels"); cancels && cancels->arrayValue()) {
      for (const auto& c : *cancels->arrayValue()) {
        lines.push_back(fmt::format("Cancel order {} on asset #{}", textOr(c, "o"), textOr(c, "a")));
      }
    }
  } else if (type == "updateLeverage") {
    const MsgPack* cross = action.find("isCross");
    lines.push_back(fmt::format("Leverage of asset #{} set to {}× ({})", textOr(action, "asset"),
                                textOr(action, "leverage"),
                                cross && cross->boolValue() && *cross->boolValue() ? "cross" : "isolated"));
  } else if (type == "usdSend") {
    lines.push_back(fmt::format("Send {} USDC to {}", textOr(action, "amount"), textOr(action, "destination")));
  } else if (type == "withdraw3") {
    lines.push_back(fmt::format("Withdraw {} USDC to {}", textOr(action, "amount"), textOr(action, "destination")));
  } else if (type == "spotSend") {
    lines.push_back(fmt::format("Send {} {} to {}", textOr(action, "amount"), textOr(action, "token"),
                                textOr(action, "destination")));
  } else if (type == "sendAsset") {
    lines.push_back(fmt::format("Send {} {} to {} (from {} to {})", textOr(action, "amount"), textOr(action, "token"),
                                textOr(action, "destination"), textOr(action, "sourceDex", "perp"),
                                textOr(action, "destinationDex", "perp")));
  } else if (type == "usdClassTransfer") {
    const MsgPack* toPerp = action.find("toPerp");
    lines.push_back(fmt::format("Move {} USDC to the {} balance", textOr(action, "amount"),
                                toPerp && toPerp->boolValue() && *toPerp->boolValue() ? "perp" : "spot"));
  } else if (type == "vaultTransfer") {
    const MsgPack* deposit = action.find("isDeposit");
    lines.push_back(fmt::format("{} {} USDC {} vault {}",
                                deposit && deposit->boolValue() && *deposit->boolValue() ? "Deposit" : "Withdraw",
                                textOr(action, "usd"), deposit && deposit->boolValue() && *deposit->boolValue()
                                                           ? "into"
                                                           : "from",
                                textOr(action, "vaultAddress")));
  } else if (type == "approveAgent") {
    lines.push_back(fmt::format("Approve the trading key {}: it may place and cancel orders, never withdraw",
                                textOr(action, "agentAddress")));
  } else {
    lines.push_back("Action " + type);
  }
  std::string out;
  for (const auto& l : lines) out += l + "\n";
  return out + "on " + where + ".";
}

std::string PromptWords::solana(const SolanaMessage& message, const std::vector<std::string>& accounts) {
  auto key = [&](const SolanaMessage::Instruction& ix, std::size_t position) -> std::string {
    if (position >= ix.accounts.size()) return "?";
    auto index = static_cast<std::size_t>(ix.accounts[position]);
    return index < accounts.size() ? accounts[index] : "?";
  };
  std::string out;
  for (const auto& ix : message.instructions) {
    auto p = static_cast<std::size_t>(ix.programIndex);
    std::string program = p < accounts.size() ? accounts[p] : "?";
    if (program == SolanaPrograms::kSystem && ix.data.size() >= 12 && littleEndian(ix.data, 0, 4) == 2) {
      out += fmt::format("Send {} to {}\n", lamportsText(littleEndian(ix.data, 4, 8)), key(ix, 1));
    } else if ((program == SolanaPrograms::kToken || program == SolanaPrograms::kToken2022) && !ix.data.empty() &&
               ix.data[0] == 12 && ix.data.size() >= 10) {
      out += fmt::format("Send {} of token {} to token account {}\n",
                         units(UInt256(littleEndian(ix.data, 1, 8)), ix.data[9]), key(ix, 1), key(ix, 2));
    } else if ((program == SolanaPrograms::kToken || program == SolanaPrograms::kToken2022) && !ix.data.empty() &&
               ix.data[0] == 3 && ix.data.size() >= 9) {
      out += fmt::format("Send {} base units of a token to token account {}\n",
                         toDecimalString(UInt256(littleEndian(ix.data, 1, 8))), key(ix, 1));
    } else if (program == SolanaPrograms::kComputeBudget) {
      continue;
    } else {
      out += "Call " + SolanaPrograms::label(program).value_or(program) + "\n";
    }
  }
  return out + "on Solana, paid by " + (message.staticKeys.empty() ? "?" : message.staticKeys[0]) + ".";
}

std::string PromptWords::evmCall(const EVMCall& call, std::uint64_t chainId, const UInt256& value) {
  const EVMNetwork* network = EVMNetwork::byChainId(chainId);
  const std::string where = network ? network->name : "network " + std::to_string(chainId);
  const std::string coin = EVMNetwork::gasCoinForGas(chainId);
  const bool usdc = network && !network->usdc.empty() && EVMCall::sameAddress(call.target, network->usdc);
  auto tokenAmount = [&](const UInt256& amount) {
    return usdc ? units(amount, network->usdcDecimals) + " USDC"
                : toDecimalString(amount) + " base units of token " + call.target;
  };
  std::string line;
  switch (call.kind) {
    case EVMCall::Kind::plain:
      line = fmt::format("Send {} {} to {}", units(value, 18), coin, call.target);
      break;
    case EVMCall::Kind::transfer:
      line = fmt::format("Send {} to {}", tokenAmount(call.amount), EVMAccount::checksummed(call.to));
      break;
    case EVMCall::Kind::approve:
    case EVMCall::Kind::increaseAllowance:
      line = fmt::format("Allow {} to spend {}", call.to, tokenAmount(call.amount));
      break;
    default:
      line = fmt::format("Call {} ({}) on {}", EVMCall::kindName(call.kind), call.selector, call.target);
      if (value != 0) line += fmt::format(", paying {} {}", units(value, 18), coin);
      break;
  }
  return line + "\non " + where + ".";
}

}  // namespace orwenna
