// `orwenna evm …`: read calldata into a known call and its refusal, build a
// transaction's signing hash and unsigned bytes, read a balance, resolve an
// ENS name and check a node. Node clients come from Services
// (app/services.h): ORWENNA_EVM_RPC_<KEY> or the network's public nodes.
#include <iostream>
#include <optional>
#include <string>

#include "app/services.h"
#include "base/bytes.h"
#include "base/clock.h"
#include "base/uint.h"
#include "chains/abi.h"
#include "chains/ens.h"
#include "chains/evm_call.h"
#include "chains/evm_network.h"
#include "chains/evm_rpc.h"
#include "chains/evm_transaction.h"
#include "orwenna/command.h"

namespace orwenna::cmd {

namespace {

const EVMNetwork& networkNamed(const std::string& name) {
  const EVMNetwork* n = EVMNetwork::byKey(name);
  if (!n) {
    std::string keys;
    for (const auto& each : EVMNetwork::all()) keys += (keys.empty() ? "" : ", ") + each.key;
    throw CommandFailure("No EVM network called " + name + " (one of: " + keys + ").");
  }
  return *n;
}

UInt256 number(const std::string& option, const std::string& text) {
  auto v = parseUInt256(text);
  if (!v) throw CommandFailure(option + " takes a whole number of at most 256 bits, not " + text + ".");
  return *v;
}

Bytes hexData(const std::string& text) {
  auto b = fromHex(text);
  if (!b) throw CommandFailure("Not hex data: " + text);
  return *b;
}

void printCall(const EVMCall& c) {
  std::cout << "call: " << EVMCall::kindName(c.kind) << '\n';
  if (!c.selector.empty()) std::cout << "  selector: " << c.selector << '\n';
  if (!c.to.empty()) std::cout << "  counterparty: " << c.to << '\n';
  if (c.from) std::cout << "  from/owner: " << *c.from << '\n';
  if (!c.asset.empty()) std::cout << "  asset: " << c.asset << '\n';
  switch (c.kind) {
    case EVMCall::Kind::approve:
    case EVMCall::Kind::increaseAllowance:
    case EVMCall::Kind::transfer:
    case EVMCall::Kind::transferFrom:
    case EVMCall::Kind::permit2Approve:
    case EVMCall::Kind::unwrap:
    case EVMCall::Kind::cctpBurn:
    case EVMCall::Kind::borrow:
    case EVMCall::Kind::repay:
    case EVMCall::Kind::lending:
      std::cout << "  amount: " << toDecimalString(c.amount) << (EVMCall::isUnlimited(c.amount) ? " (unlimited)" : "")
                << '\n';
      break;
    default:
      break;
  }
  if (c.kind == EVMCall::Kind::permit2Approve) std::cout << "  expiration: " << c.expiration << '\n';
  if (c.kind == EVMCall::Kind::setApprovalForAll || c.kind == EVMCall::Kind::delegation) {
    std::cout << "  granted: " << (c.granted ? "yes" : "no") << '\n';
  }
  if (c.kind == EVMCall::Kind::cctpBurn) {
    std::cout << "  domain: " << c.domain << "\n  mint recipient: "
              << (c.recipient ? *c.recipient : toHex0x(c.mintRecipient) + " (not an EVM address)") << '\n';
  }
  for (const auto& r : c.recipients) std::cout << "  recipient: " << r << '\n';
  if (c.kind == EVMCall::Kind::v4Swap) {
    std::cout << "  commands: " << toHex0x(c.commands) << "\n  inputs: " << c.inputs.size() << '\n';
  }
}

CommandRegistrar evmRegistrar([](CLI::App& app) {
  CLI::App* evm = app.add_subcommand("evm", "EVM calldata, transactions, balances, ENS names, nodes");
  evm->require_subcommand(1);

  auto* decodeCmd = evm->add_subcommand("decode-call", "Show what calldata does and whether orwenna would refuse it");
  static std::string callTo, callData;
  static std::string wallet = "0x0000000000000000000000000000000000000000";
  decodeCmd->add_option("TO", callTo, "the called contract")->required();
  decodeCmd->add_option("DATA", callData, "the calldata in hex")->required();
  decodeCmd->add_option("--wallet", wallet, "the signing wallet the rules judge against");
  decodeCmd->callback([] {
    EVMCall call = EVMCall::decode(callTo, hexData(callData));
    printCall(call);
    const auto now = SystemClock::shared().nowMillis() / 1000;
    if (auto problem = EVMCall::problem(call, wallet, now)) {
      std::cout << "refused (wallet " << wallet << "): " << *problem << '\n';
    } else {
      std::cout << "passes the call rules (wallet " << wallet << ")\n";
    }
  });

  auto* txCmd = evm->add_subcommand("tx", "The signing hash and unsigned bytes of an EIP-1559 transaction");
  static std::string chain, nonce, to, tip, maxFee, gas, data = "0x", value = "0";
  txCmd->add_option("--chain", chain)->required();
  txCmd->add_option("--nonce", nonce)->required();
  txCmd->add_option("--to", to)->required();
  txCmd->add_option("--max-priority-fee", tip, "wei per gas")->required();
  txCmd->add_option("--max-fee", maxFee, "wei per gas")->required();
  txCmd->add_option("--gas", gas)->required();
  txCmd->add_option("--data", data, "calldata in hex");
  txCmd->add_option("--value", value, "wei");
  txCmd->callback([] {
    EVMTransaction tx;
    tx.chainId = number("--chain", chain);
    tx.nonce = number("--nonce", nonce);
    tx.maxPriorityFeePerGas = number("--max-priority-fee", tip);
    tx.maxFeePerGas = number("--max-fee", maxFee);
    tx.gasLimit = number("--gas", gas);
    tx.to = to;
    tx.value = number("--value", value);
    tx.data = hexData(data);
    std::cout << "signing hash: " << toHex0x(EVMTransaction::signingHash(tx)) << '\n';
    std::cout << "unsigned: " << toHex0x(tx.unsignedBytes()) << '\n';
  });

  auto* balanceCmd = evm->add_subcommand("balance", "The gas-coin balance of an address on a network");
  static std::string balanceNetwork, balanceAddress;
  balanceCmd->add_option("NETWORK", balanceNetwork, "a key such as base or bnb")->required();
  balanceCmd->add_option("ADDRESS", balanceAddress)->required();
  balanceCmd->callback([] {
    const EVMNetwork& n = networkNamed(balanceNetwork);
    (void)ABI::addressBytes(balanceAddress);
    UInt256 wei = Services::fromProcess().evm(n).balance(balanceAddress);
    std::cout << formatUnits(wei, 18) << " " << n.gasCoin.value_or(EVMNetwork::gasCoinForGas(n.chainId)) << " ("
              << toDecimalString(wei) << " wei)\n";
  });

  auto* resolveCmd = evm->add_subcommand("resolve", "The address an ENS name points at");
  static std::string name;
  resolveCmd->add_option("NAME", name, "e.g. example.eth")->required();
  resolveCmd->callback([] {
    EVMRPC rpc = Services::fromProcess().evm(*EVMNetwork::byChainId(1));
    std::cout << ENS::resolve(name, rpc) << '\n';
  });

  auto* nodeCmd = evm->add_subcommand("node-check", "Check that a node serves a network and the calls orwenna makes");
  static std::string nodeNetwork, url;
  nodeCmd->add_option("NETWORK", nodeNetwork)->required();
  nodeCmd->add_option("URL", url)->required();
  nodeCmd->callback([] {
    const EVMNetwork& n = networkNamed(nodeNetwork);
    const Services services = Services::fromProcess();
    if (auto problem = EVMNodes::check(url, n.chainId, services.http, services.clock)) {
      throw CommandFailure(*problem);
    }
    std::cout << "The node serves " << n.name << " and the calls orwenna makes.\n";
  });
});

}  // namespace

}  // namespace orwenna::cmd
