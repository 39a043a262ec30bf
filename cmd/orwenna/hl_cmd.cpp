// `orwenna hl …`: what a Hyperliquid action is signed over, for checking by
// hand, and the account as the exchange sees it. `hash` prints an L1 action's
// MessagePack bytes and action hash; `typed-data` prints a user-signed
// action's EIP-712 fields and hashes (no key is involved); `positions`,
// `orders` and `fills` read an address's account and `mids` the mid prices,
// on mainnet or, with --testnet or the "testnet" setting, on testnet
// (ORWENNA_HL_API, ORWENNA_HL_TESTNET_API).
#include <iostream>
#include <optional>
#include <string>

#include <fmt/format.h>

#include "app/services.h"
#include "base/bytes.h"
#include "base/files.h"
#include "base/json.h"
#include "base/uint.h"
#include "hyperliquid/account.h"
#include "orwenna/command.h"
#include "signing/eip712.h"
#include "signing/hl_signer.h"
#include "signing/msgpack.h"

namespace orwenna::cmd {
namespace {

MsgPack readAction(const std::string& path) {
  std::optional<std::string> text = readFile(path);
  if (!text) throw CommandFailure("Can't read " + path + ".");
  std::optional<Json> json = parseJson(*text);
  if (!json) throw CommandFailure(path + " is not JSON.");
  return MsgPack::fromPlainJson(*json);
}

std::string valueText(const EIP712::Value& v) {
  switch (v.kind()) {
    case EIP712::Value::Kind::string:
    case EIP712::Value::Kind::address: return v.text();
    case EIP712::Value::Kind::uint: return toDecimalString(v.number());
    case EIP712::Value::Kind::boolean: return v.flag() ? "true" : "false";
    case EIP712::Value::Kind::bytes32:
    case EIP712::Value::Kind::bytes: return toHex0x(v.data());
    case EIP712::Value::Kind::structure: return v.text();
  }
  return "";
}

Json fieldsJson(const std::vector<EIP712::Field>& fields) {
  Json out = Json::array();
  for (const EIP712::Field& f : fields) out.push_back({{"name", f.name}, {"type", f.type}, {"value", valueText(f.value)}});
  return out;
}

struct HashOptions {
  std::string path;
  std::uint64_t nonce = 0;
  std::string vault;
  std::optional<std::uint64_t> expires;
  bool json = false;
};

void runHash(const HashOptions& o) {
  MsgPack action = readAction(o.path);
  std::optional<std::string> vault;
  if (!o.vault.empty()) vault = o.vault;
  Bytes packed = action.encoded();
  std::string hash = toHex0x(HLSigner::actionHash(action, vault, o.nonce, o.expires));
  if (o.json) {
    std::cout << Json{{"msgpack", toHex(packed)}, {"actionHash", hash}}.dump() << '\n';
  } else {
    std::cout << "MessagePack (" << packed.size() << " bytes): " << toHex(packed) << '\n'
              << "Action hash: " << hash << '\n';
  }
}

struct TypedOptions {
  std::string path;
  bool testnet = false;
  bool json = false;
};

void runTypedData(const TypedOptions& o) {
  MsgPack action = readAction(o.path);
  const MsgPack* type = action.find("type");
  bool approve = type != nullptr && type->stringValue() != nullptr && *type->stringValue() == "approveAgent";
  EIP712::Typed typed =
      approve ? HLSigner::approveAgentTypedData(action, !o.testnet) : HLSigner::userTypedData(action, !o.testnet);
  EIP712::Parts parts = EIP712::parts(typed);
  std::string digest = toHex0x(EIP712::digest(parts));
  if (o.json) {
    std::cout << Json{{"primaryType", typed.type},
                      {"domain", fieldsJson(typed.domain)},
                      {"message", fieldsJson(typed.message)},
                      {"domainSeparator", toHex0x(parts.domain)},
                      {"messageHash", toHex0x(parts.message)},
                      {"digest", digest}}
                     .dump()
              << '\n';
    return;
  }
  std::cout << "Primary type: " << typed.type << "\nDomain:\n";
  for (const EIP712::Field& f : typed.domain) std::cout << "  " << f.name << " (" << f.type << "): " << valueText(f.value) << '\n';
  std::cout << "Message:\n";
  for (const EIP712::Field& f : typed.message) std::cout << "  " << f.name << " (" << f.type << "): " << valueText(f.value) << '\n';
  std::cout << "Domain separator: " << toHex0x(parts.domain) << '\n'
            << "Message hash: " << toHex0x(parts.message) << '\n'
            << "Digest: " << digest << '\n';
}

struct AccountOptions {
  std::string address;
  bool testnet = false;
  bool json = false;
};

Hyperliquid::InfoApi infoFor(const Services& services, bool testnet) {
  return {services.http, services.clock, services.endpoints.hyperliquid.root(!(testnet || services.hyperliquidTestnet))};
}

void checkAddress(const std::string& address) {
  std::optional<Bytes> bytes = address.starts_with("0x") ? fromHex(address) : std::nullopt;
  if (!bytes || bytes->size() != 20) throw CommandFailure("Not an EVM address: " + address);
}

std::string optionalText(const std::optional<Decimal>& value) { return value ? value->toString() : "-"; }

Json optionalJson(const std::optional<Decimal>& value) { return value ? Json(value->toString()) : Json(nullptr); }

void runPositions(const AccountOptions& o) {
  checkAddress(o.address);
  const Services services = Services::fromProcess();
  auto positions = HyperliquidAccount::positions(infoFor(services, o.testnet), o.address);
  if (o.json) {
    Json out = Json::array();
    for (const auto& p : positions) {
      out.push_back({{"coin", p.coin},
                     {"size", p.size.toString()},
                     {"entry", p.entry.toString()},
                     {"unrealizedPnl", p.unrealizedPnl.toString()},
                     {"liquidation", optionalJson(p.liquidation)}});
    }
    std::cout << out.dump(2) << '\n';
    return;
  }
  if (positions.empty()) std::cout << "No open positions.\n";
  for (const auto& p : positions) {
    std::cout << fmt::format("{:<10} {:<5} {:>14}  entry {}  PnL {}  liquidation {}\n", p.coin,
                             p.size.isNegative() ? "short" : "long", p.size.abs().toString(), p.entry.toString(),
                             p.unrealizedPnl.toString(), optionalText(p.liquidation));
  }
}

Json orderJson(const HyperliquidAccount::Order& o) {
  Json children = Json::array();
  for (const auto& c : o.children) children.push_back(orderJson(c));
  return Json{{"coin", o.coin},
              {"oid", o.oid},
              {"isTrigger", o.isTrigger},
              {"triggerPx", optionalJson(o.triggerPx)},
              {"limitPx", optionalJson(o.limitPx)},
              {"sz", optionalJson(o.size)},
              {"side", o.side ? Json(*o.side) : Json(nullptr)},
              {"orderType", o.orderType ? Json(*o.orderType) : Json(nullptr)},
              {"reduceOnly", o.reduceOnly},
              {"children", std::move(children)}};
}

void printOrder(const HyperliquidAccount::Order& o, const std::string& indent) {
  std::string price = o.isTrigger ? "trigger " + optionalText(o.triggerPx) : "at " + optionalText(o.limitPx);
  std::cout << fmt::format("{}{:<10} {:<4} {:>14} {}  {}{}  #{}\n", indent, o.coin, o.isBuy() ? "buy" : "sell",
                           optionalText(o.size), price, o.orderType.value_or("order"),
                           o.reduceOnly ? ", reduce-only" : "", o.oid);
  for (const auto& c : o.children) printOrder(c, indent + "  ");
}

void runOrders(const AccountOptions& o) {
  checkAddress(o.address);
  const Services services = Services::fromProcess();
  auto orders = HyperliquidAccount::openOrders(infoFor(services, o.testnet), o.address);
  if (o.json) {
    Json out = Json::array();
    for (const auto& order : orders) out.push_back(orderJson(order));
    std::cout << out.dump(2) << '\n';
    return;
  }
  if (orders.empty()) std::cout << "No open orders.\n";
  for (const auto& order : orders) printOrder(order, "");
}

void runFills(const AccountOptions& o) {
  checkAddress(o.address);
  const Services services = Services::fromProcess();
  auto fills = HyperliquidAccount::fills(infoFor(services, o.testnet), o.address);
  if (o.json) {
    Json out = Json::array();
    for (const auto& f : fills) {
      out.push_back({{"coin", f.coin}, {"px", f.px}, {"closedPnl", f.closedPnl}, {"dir", f.dir},
                     {"time", static_cast<std::int64_t>(f.time)}});
    }
    std::cout << out.dump(2) << '\n';
    return;
  }
  if (fills.empty()) std::cout << "No fills.\n";
  for (const auto& f : fills) {
    std::cout << fmt::format("{}  {:<10} {:<12} at {}  closed PnL {}\n", iso8601(static_cast<std::int64_t>(f.time)),
                             f.coin, f.dir, f.px, f.closedPnl);
  }
}

struct MidsOptions {
  bool testnet = false;
  bool json = false;
};

void runMids(const MidsOptions& o) {
  const Services services = Services::fromProcess();
  auto mids = HyperliquidAccount::mids(infoFor(services, o.testnet));
  if (o.json) {
    Json out = Json::object();
    for (const auto& [coin, px] : mids) out[coin] = px.toString();
    std::cout << out.dump(2) << '\n';
    return;
  }
  for (const auto& [coin, px] : mids) std::cout << fmt::format("{:<12} {}\n", coin, px.toString());
}

CommandRegistrar hlRegistrar([](CLI::App& app) {
  CLI::App* hl = app.add_subcommand("hl", "Hyperliquid action bytes, hashes and typed data; account reads");
  hl->require_subcommand(1);

  auto hashOptions = std::make_shared<HashOptions>();
  CLI::App* hash = hl->add_subcommand("hash", "MessagePack bytes and action hash of an L1 action (exchange JSON)");
  hash->add_option("ACTION.json", hashOptions->path, "the action as the exchange's JSON")->required();
  hash->add_option("--nonce", hashOptions->nonce, "the nonce, milliseconds since 1970")->required();
  hash->add_option("--vault", hashOptions->vault, "vault or subaccount address, 0x + 40 hex digits");
  hash->add_option("--expires", hashOptions->expires, "expiry, milliseconds since 1970");
  hash->add_flag("--json", hashOptions->json, "print JSON");
  hash->callback([hashOptions] { runHash(*hashOptions); });

  auto typedOptions = std::make_shared<TypedOptions>();
  CLI::App* typed = hl->add_subcommand("typed-data", "EIP-712 typed data and digest of a user-signed action");
  typed->add_option("ACTION.json", typedOptions->path, "the action as the exchange's JSON")->required();
  typed->add_flag("--testnet", typedOptions->testnet, "sign for testnet instead of mainnet");
  typed->add_flag("--json", typedOptions->json, "print JSON");
  typed->callback([typedOptions] { runTypedData(*typedOptions); });

  auto account = [hl](const char* name, const char* what, void (*run)(const AccountOptions&)) {
    auto options = std::make_shared<AccountOptions>();
    CLI::App* sub = hl->add_subcommand(name, what);
    sub->add_option("ADDRESS", options->address, "the account's 0x address")->required();
    sub->add_flag("--testnet", options->testnet, "read Hyperliquid's testnet");
    sub->add_flag("--json", options->json, "print JSON");
    sub->callback([options, run] { run(*options); });
  };
  account("positions", "open positions of an account", runPositions);
  account("orders", "open orders of an account, with the stop and take attached to each entry", runOrders);
  account("fills", "an account's recent fills", runFills);

  auto midsOptions = std::make_shared<MidsOptions>();
  CLI::App* mids = hl->add_subcommand("mids", "mid prices of every market");
  mids->add_flag("--testnet", midsOptions->testnet, "read Hyperliquid's testnet");
  mids->add_flag("--json", midsOptions->json, "print JSON");
  mids->callback([midsOptions] { runMids(*midsOptions); });
});

}  // namespace
}  // namespace orwenna::cmd
