// `orwenna hl …`: what a Hyperliquid action is signed over, for checking by
// hand. `hash` prints an L1 action's MessagePack bytes and action hash;
// `typed-data` prints a user-signed action's EIP-712 fields and hashes. No key
// is involved.
#include <iostream>
#include <optional>
#include <string>

#include "base/bytes.h"
#include "base/files.h"
#include "base/json.h"
#include "base/uint.h"
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

CommandRegistrar hlRegistrar([](CLI::App& app) {
  CLI::App* hl = app.add_subcommand("hl", "Hyperliquid action bytes, hashes and typed data");
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
});

}  // namespace
}  // namespace orwenna::cmd
