#include "chains/evm_rpc.h"

#include <algorithm>

#include "base/regex.h"
#include "base/text.h"
#include "chains/rpc_retry.h"
#include "signing/keccak.h"

namespace orwenna {

namespace {

bool contains(std::string_view haystack, std::string_view needle) { return haystack.find(needle) != std::string_view::npos; }

EVMRPCError badAnswer(const std::string& method, const std::string& what) {
  return EVMRPCError(EVMRPCError::Kind::badAnswer, 0, "EVM RPC " + method + ": " + what);
}

// The address in the low 20 bytes of a 32-byte topic or word, lower case.
std::optional<std::string> addressOfTopic(const Json& topic) {
  if (!topic.is_string()) return std::nullopt;
  auto b = fromHex(topic.get<std::string>());
  if (!b || b->size() != 32) return std::nullopt;
  return toHex0x(ByteView(*b).subspan(12));
}

constexpr std::string_view kTransfer = "0xddf252ad1be2c89b69c2b068fc378daa952ba7f163c4a11628f55a4df523b3ef";
constexpr std::string_view kDeposit = "0xe1fffcc4923d04b559f4d29a8bfc6cda04eb5b0d3c460751c2402c5c5cc9109c";
constexpr std::string_view kWithdrawal = "0x7fcf532c15f0a6db0bd6d0e038bea71d30d808c7d98cb3bf7268a95bf5081b65";
constexpr std::string_view kApproval = "0x8c5be1e5ebec7d5bd14f71427d1e84f3dd0314c0f7b2291e5b200ac8c7c3b925";
constexpr std::string_view kApprovalForAll = "0x17307eab39ab6107e8899845ad3d59bd9653f200f220920489ca2b5937696c31";
constexpr std::string_view kTransferSingle = "0xc3d58168c5ae7397731d063d5bbf3d657854427343f4c083240f7aacaa2d0f62";
constexpr std::string_view kTransferBatch = "0x4a39dc06d4c0dbc64b70af90fd698a233a518aa5d07e595d983b8c0526c8f7fb";

EVMRPCError unexpectedReply() {
  return EVMRPCError(EVMRPCError::Kind::badAnswer, 0, "eth_simulateV1: unexpected reply");
}

}  // namespace

// ---- Node error texts ------------------------------------------------------

bool EVMNodeText::lacksMethod(std::string_view text) {
  const std::string t = text::lowercased(text);
  return contains(t, "method not found") || contains(t, "unsupported method") || contains(t, "method not allowed");
}

bool EVMNodeText::refusesKey(std::string_view text) {
  const std::string t = text::lowercased(text);
  for (std::string_view p : {"not supported", "not whitelisted", "unauthorized", "invalid api key", "api key",
                             "forbidden", "authenticat"}) {
    if (contains(t, p)) return true;
  }
  return false;
}

bool EVMNodeText::isInsufficientFunds(std::string_view text) {
  const std::string t = text::lowercased(text);
  return (contains(t, "insufficient funds") || contains(t, "outoffunds")) && !contains(t, "revert");
}

std::string EVMNodeText::insufficientFundsMessage(std::string_view text, std::string_view wallet,
                                                  std::uint64_t chainId) {
  static const Regex have(R"(have (\d+))");
  static const Regex want(R"(want (\d+))");
  static const Regex address(R"(address (0x[0-9a-fA-F]{40}))");
  std::string who(wallet);
  if (who.empty()) {
    if (auto m = address.firstMatch(text)) who = std::string(*m->group(1));
  }
  const std::string coin = EVMNetwork::gasCoinForGas(chainId);
  std::string out = "Not enough " + coin + " for gas: the wallet " + (who.empty() ? std::string("") : who);
  if (who.empty()) out.pop_back();  // "the wallet" alone
  auto h = have.firstMatch(text);
  auto w = want.firstMatch(text);
  if (h && w) {
    out += " has " + std::string(*h->group(1)) + " and " + "needs " + std::string(*w->group(1)) + " with the fee";
  } else {
    out += " can't pay this network's fee";
  }
  return out + "." + " Send it a little " + coin + ", then try again.";
}

// ---- Simulation --------------------------------------------------------------

EVMSimulation EVMSimulation::read(const Json& result, std::string_view wallet, std::string_view wrappedCoin) {
  if (!result.is_array() || result.empty()) throw unexpectedReply();
  EVMSimulation sim;
  const std::string me = text::asciiLowercased(wallet);
  const std::string wrapped = text::asciiLowercased(wrappedCoin);
  const std::string native(kNative);
  for (const auto& block : result) {
    if (!block.is_object() || !block.contains("calls") || !block["calls"].is_array()) throw unexpectedReply();
    for (const auto& call : block["calls"]) {
      if (!call.is_object() || !call.contains("status") || !call["status"].is_string()) throw unexpectedReply();
      auto status = parseUInt256Hex(call["status"].get<std::string>());
      if (!status || *status != 1) {
        const Json* message = nullptr;
        if (auto e = call.find("error"); e != call.end() && e->is_object()) {
          if (auto m = e->find("message"); m != e->end() && m->is_string()) message = &*m;
        }
        sim.revert = message ? message->get<std::string>() : std::string("reverted");
        return sim;
      }
      const Json logs = call.contains("logs") ? call["logs"] : Json::array();
      if (!logs.is_array()) throw unexpectedReply();
      // Nodes that trace transfers already show the coin moving into or out of
      // the wrapper; the wrapper's own events then count only for its token.
      bool traced = false;
      for (const auto& log : logs) {
        if (log.is_object() && log.contains("address") && log["address"].is_string() &&
            text::asciiLowercased(log["address"].get<std::string>()) == native) {
          traced = true;
        }
      }
      for (const auto& log : logs) {
        if (!log.is_object() || !log.contains("address") || !log["address"].is_string() || !log.contains("topics") ||
            !log["topics"].is_array()) {
          throw unexpectedReply();
        }
        const std::string emitter = text::asciiLowercased(log["address"].get<std::string>());
        const Json& topics = log["topics"];
        if (topics.empty() || !topics[0].is_string()) continue;
        const std::string topic0 = text::asciiLowercased(topics[0].get<std::string>());
        std::optional<Bytes> data = Bytes{};
        if (auto d = log.find("data"); d != log.end()) {
          data = d->is_string() ? fromHex(d->get<std::string>()) : std::nullopt;
        }
        if (!data) throw unexpectedReply();
        std::optional<UInt256> word;
        if (data->size() >= 32) word = fromBigEndian(ByteView(*data).first(32));
        auto topicAddress = [&](std::size_t i) -> std::string {
          if (i >= topics.size()) return {};
          return addressOfTopic(topics[i]).value_or("");
        };
        if (topic0 == kTransfer && topics.size() == 3 && word) {
          if (topicAddress(1) == me) sim.changes[emitter] -= BigInt(*word);
          if (topicAddress(2) == me) sim.changes[emitter] += BigInt(*word);
        } else if (topic0 == kTransfer && topics.size() == 4) {
          if (topicAddress(1) == me || topicAddress(2) == me) sim.nfts.insert(emitter);
        } else if ((topic0 == kTransferSingle || topic0 == kTransferBatch) && topics.size() == 4) {
          if (topicAddress(2) == me || topicAddress(3) == me) sim.nfts.insert(emitter);
        } else if ((topic0 == kDeposit || topic0 == kWithdrawal) && topics.size() == 2 && word &&
                   (wrapped.empty() || emitter == wrapped) && topicAddress(1) == me) {
          const BigInt amount(*word);
          const bool deposit = topic0 == kDeposit;
          sim.changes[emitter] += deposit ? amount : -amount;
          if (!traced) sim.changes[native] += deposit ? -amount : amount;
        } else if (topic0 == kApproval && topics.size() == 3 && word && topicAddress(1) == me && *word != 0) {
          sim.grants.push_back({"approval", emitter, topicAddress(2), (*word >> 96) != 0});
        } else if (topic0 == kApproval && topics.size() == 4 && topicAddress(1) == me) {
          std::string approved = topicAddress(2);
          if (!approved.empty() && approved != "0x0000000000000000000000000000000000000000") {
            sim.grants.push_back({"nftApproval", emitter, approved, false});
          }
        } else if (topic0 == kApprovalForAll && topics.size() == 3 && word && topicAddress(1) == me && *word != 0) {
          sim.grants.push_back({"approvalForAll", emitter, topicAddress(2), true});
        }
      }
    }
  }
  for (auto it = sim.changes.begin(); it != sim.changes.end();) {
    it = it->second == 0 ? sim.changes.erase(it) : std::next(it);
  }
  return sim;
}

// ---- Client ------------------------------------------------------------------

Json EVMRPC::CallRequest::toJson() const {
  Json j = Json::object();
  if (!from.empty()) j["from"] = from;
  j["to"] = to;
  j["value"] = toHexQuantity(value);
  j["data"] = toHex0x(data);
  return j;
}

EVMRPC::EVMRPC(HttpClient& http, Clock& clock, std::string url, std::uint64_t chainId,
               std::vector<std::string> fallbacks, std::optional<std::string> sendURL, bool followsSettings)
    : http_(http),
      clock_(clock),
      url_(std::move(url)),
      chainId_(chainId),
      fallbacks_(std::move(fallbacks)),
      sendURL_(std::move(sendURL)),
      followsSettings_(followsSettings) {}

EVMRPC EVMRPC::forNetwork(HttpClient& http, Clock& clock, const EVMNetwork& network, std::vector<std::string> nodes) {
  if (nodes.empty()) nodes = network.defaultNodes;
  std::string main = nodes.front();
  nodes.erase(nodes.begin());
  return EVMRPC(http, clock, std::move(main), network.chainId, std::move(nodes), std::nullopt, true);
}

Json EVMRPC::call(const std::string& method, const Json& params, std::string_view wallet) const {
  std::vector<std::string> nodes{url_};
  nodes.insert(nodes.end(), fallbacks_.begin(), fallbacks_.end());
  return callOn(nodes, method, params, wallet);
}

Json EVMRPC::callOn(const std::vector<std::string>& nodes, const std::string& method, const Json& params,
                    std::string_view wallet) const {
  const std::string body = RPCRetry::requestBody(method, params);
  const bool severalNodes = nodes.size() > 1;
  return RPCRetry::run(nodes, clock_, [&](const std::string& url) -> Json {
    HttpRequest req = HttpRequest::postJson(url, body);
    req.timeout = RPCRetry::kTimeout;
    HttpResponse res = http_.send(req);
    if (!res.ok()) {
      EVMRPCError error(EVMRPCError::Kind::http, res.status,
                        "EVM RPC " + method + ": HTTP " + std::to_string(res.status));
      const bool retry = RPCRetry::isRetryableStatus(res.status, severalNodes);
      throw RPCRetry::Again(retry, std::make_exception_ptr(error), error.what());
    }
    auto json = parseJson(res.body);
    if (!json || !json->is_object()) {
      throw EVMRPCError(EVMRPCError::Kind::notJson, 0,
                        "EVM RPC " + method + ", response isn't JSON: " + RPCRetry::excerpt(res.body));
    }
    if (auto it = json->find("error"); it != json->end() && !it->is_null()) {
      const std::string message = RPCRetry::errorMessage(*it);
      if (EVMNodeText::isInsufficientFunds(message)) {
        throw EVMRPCError(EVMRPCError::Kind::insufficientFunds, 0,
                          EVMNodeText::insufficientFundsMessage(message, wallet, chainId_), message);
      }
      EVMRPCError error(EVMRPCError::Kind::rpc, 0, "EVM RPC " + method + ": " + message, message);
      const bool retry = RPCRetry::isRetryableText(message) || (severalNodes && EVMNodeText::refusesKey(message));
      throw RPCRetry::Again(retry, std::make_exception_ptr(error), error.what());
    }
    auto result = json->find("result");
    if (result == json->end()) throw badAnswer(method, "the answer has no result");
    return *result;
  });
}

UInt256 EVMRPC::quantity(const std::string& method, const Json& params) const {
  Json result = call(method, params);
  std::string text = result.is_string() ? result.get<std::string>() : result.dump();
  auto v = result.is_string() ? parseUInt256Hex(text) : std::nullopt;
  if (!v) throw EVMRPCError(EVMRPCError::Kind::badAnswer, 0, "EVM RPC " + method + ": not a number (" + text + ")");
  return *v;
}

UInt256 EVMRPC::balance(const std::string& address) const {
  return quantity("eth_getBalance", Json::array({address, "latest"}));
}

Bytes EVMRPC::ethCall(const std::string& to, ByteView data) const {
  Json result = call("eth_call", Json::array({Json{{"to", to}, {"data", toHex0x(data)}}, "latest"}));
  std::optional<Bytes> bytes = result.is_string() ? fromHex(result.get<std::string>()) : std::nullopt;
  if (!bytes) throw badAnswer("eth_call", "the answer isn't hex");
  return *bytes;
}

UInt256 EVMRPC::gasPrice() const { return quantity("eth_gasPrice", Json::array()); }

UInt256 EVMRPC::maxPriorityFee() const { return quantity("eth_maxPriorityFeePerGas", Json::array()); }

EVMRPC::Fees EVMRPC::fees() const {
  const UInt256 price = gasPrice();
  UInt256 tip = 0;
  try {
    tip = maxPriorityFee();
  } catch (const std::exception&) {
    tip = 0;  // nodes without the method: the base fee alone
  }
  auto doubled = checkedMul(price, 2);
  auto total = doubled ? checkedAdd(*doubled, tip) : std::nullopt;
  if (!total) throw badAnswer("eth_gasPrice", "the gas price is out of range");
  return Fees{tip, *total};
}

Json EVMRPC::latestBlock() const { return call("eth_getBlockByNumber", Json::array({"latest", false})); }

UInt256 EVMRPC::estimateGas(const CallRequest& request, std::optional<Bytes> code) const {
  Json params = Json::array({request.toJson(), "latest"});
  if (code) params.push_back(Json{{request.from, Json{{"code", toHex0x(*code)}}}});
  Json result = call("eth_estimateGas", params, request.from);
  auto v = result.is_string() ? parseUInt256Hex(result.get<std::string>()) : std::nullopt;
  if (!v) {
    throw EVMRPCError(EVMRPCError::Kind::badAnswer, 0,
                      "EVM RPC eth_estimateGas: not a number (" + (result.is_string() ? result.get<std::string>()
                                                                                      : result.dump()) + ")");
  }
  return *v;
}

UInt256 EVMRPC::nonce(const std::string& address) const {
  return quantity("eth_getTransactionCount", Json::array({address, "pending"}));
}

std::string EVMRPC::sendRaw(ByteView signedTransaction, std::string_view wallet) const {
  std::vector<std::string> nodes;
  if (sendURL_) {
    nodes.push_back(*sendURL_);
  } else {
    nodes.push_back(url_);
    nodes.insert(nodes.end(), fallbacks_.begin(), fallbacks_.end());
  }
  const std::string ours = toHex0x(Keccak::hash256(signedTransaction));
  Json result;
  try {
    result = callOn(nodes, "eth_sendRawTransaction", Json::array({toHex0x(signedTransaction)}), wallet);
  } catch (const EVMRPCError& e) {
    const std::string t = text::lowercased(e.nodeText());
    if (e.kind() == EVMRPCError::Kind::rpc && (contains(t, "already known") || contains(t, "known transaction"))) {
      return ours;
    }
    throw;
  }
  if (!result.is_string() || result.get<std::string>().empty()) throw ChainError("No transaction hash");
  return result.get<std::string>();
}

std::optional<EVMRPC::Receipt> EVMRPC::receipt(const std::string& hash) const {
  Json result = call("eth_getTransactionReceipt", Json::array({hash}));
  if (result.is_null()) return std::nullopt;
  if (!result.is_object()) throw badAnswer("eth_getTransactionReceipt", "the receipt isn't an object");
  auto status = result.find("status");
  if (status == result.end() || !status->is_string()) return std::nullopt;
  auto value = parseUInt256Hex(status->get<std::string>());
  if (!value) throw badAnswer("eth_getTransactionReceipt", "not a number (" + status->get<std::string>() + ")");
  return Receipt{*value == 1, result};
}

EVMRPC::Receipt EVMRPC::waitForReceipt(const std::string& hash, int timeoutSeconds, std::int64_t intervalMillis) const {
  const std::int64_t start = clock_.monotonicMillis();
  std::string lastError;
  while (true) {
    try {
      if (auto r = receipt(hash)) return *r;
    } catch (const std::exception& e) {
      // The transaction is out; a node hiccup must not lose track of it.
      lastError = e.what();
    }
    if (clock_.monotonicMillis() - start >= std::int64_t{timeoutSeconds} * 1000) {
      throw ChainError("No receipt after " + std::to_string(timeoutSeconds) + " seconds for " + hash +
                       (lastError.empty() ? std::string(".") : " (last error: " + lastError + ")."));
    }
    clock_.sleepFor(intervalMillis);
  }
}

EVMSimulation EVMRPC::simulate(const std::vector<CallRequest>& calls, std::string_view wrappedCoin,
                               const std::map<std::string, Bytes>& code) const {
  Json list = Json::array();
  for (const auto& c : calls) list.push_back(c.toJson());
  Json block{{"calls", list}};
  if (!code.empty()) {
    Json overrides = Json::object();
    for (const auto& [address, bytes] : code) overrides[address] = Json{{"code", toHex0x(bytes)}};
    block["stateOverrides"] = std::move(overrides);
  }
  Json params = Json::array({Json{{"blockStateCalls", Json::array({std::move(block)})},
                                  {"traceTransfers", true},
                                  {"validation", false}},
                             "latest"});
  const std::string wallet = calls.empty() ? std::string() : calls.front().from;
  return EVMSimulation::read(call("eth_simulateV1", params, wallet), wallet, wrappedCoin);
}

// ---- Node check --------------------------------------------------------------

std::optional<std::string> EVMNodes::check(const std::string& url, std::uint64_t chainId, HttpClient& http,
                                           Clock& clock) {
  if (!url.starts_with("https://")) return "A node's address starts with https://.";
  EVMRPC rpc(http, clock, url, chainId);
  const std::string keyMessage =
      "The node turned the key away: copy the whole address again, key included — or this plan doesn't serve these "
      "calls.";
  auto refused = [](const EVMRPCError& e) {
    return e.httpStatus() == 401 || e.httpStatus() == 403 || EVMNodeText::refusesKey(e.nodeText());
  };
  try {
    Json id = rpc.call("eth_chainId", Json::array());
    auto served = id.is_string() ? parseUInt256Hex(id.get<std::string>()) : std::nullopt;
    if (!served) return "The node didn't answer: EVM RPC eth_chainId: not a number (" + id.dump() + ")";
    if (*served != chainId) {
      const EVMNetwork* ours = EVMNetwork::byChainId(chainId);
      return "That node is on network " + toDecimalString(*served) + ", not " +
             (ours ? ours->name : std::to_string(chainId)) + ".";
    }
    Json block;
    try {
      block = rpc.latestBlock();
    } catch (const EVMRPCError& e) {
      if (refused(e)) return keyMessage;
      return "The node didn't give its latest block.";
    }
    if (!block.is_object() || !block.contains("number") || !block["number"].is_string()) {
      return "The node didn't give its latest block.";
    }
    std::string probeHash = "0x" + std::string(64, '0');
    if (auto txs = block.find("transactions"); txs != block.end() && txs->is_array() && !txs->empty() &&
                                               (*txs)[0].is_string()) {
      probeHash = (*txs)[0].get<std::string>();
    }
    try {
      Json r = rpc.call("eth_getTransactionReceipt", Json::array({probeHash}));
      if (!r.is_null() && !r.is_object()) return "The node doesn't give transaction receipts.";
    } catch (const EVMRPCError& e) {
      if (refused(e)) return keyMessage;
      if (EVMNodeText::lacksMethod(e.nodeText())) return "The node doesn't give transaction receipts.";
      throw;
    }
    (void)rpc.nonce("0x0000000000000000000000000000000000000001");
    // A contract that writes one storage slot costs well over 40,000 gas; a
    // node that ignores the override sees a plain transfer.
    const std::string probe = "0x00000000000000000000000000000000000e0b0d";
    Json params = Json::array({Json{{"from", "0x0000000000000000000000000000000000000001"}, {"to", probe},
                                    {"value", "0x0"}, {"data", "0x"}},
                               "latest", Json{{probe, Json{{"code", "0x600160005500"}}}}});
    Json gasJson = rpc.call("eth_estimateGas", params);
    auto gas = gasJson.is_string() ? parseUInt256Hex(gasJson.get<std::string>()) : std::nullopt;
    if (!gas) return "The node didn't answer: EVM RPC eth_estimateGas: not a number (" + gasJson.dump() + ")";
    if (*gas < 40'000) {
      return "The node ignores state overrides in a dry run (" + toDecimalString(*gas) +
             " gas): batched moves would go out short of gas.";
    }
    return std::nullopt;
  } catch (const EVMRPCError& e) {
    if (refused(e)) return keyMessage;
    return std::string("The node didn't answer: ") + e.what();
  } catch (const std::exception& e) {
    return std::string("The node didn't answer: ") + e.what();
  }
}

}  // namespace orwenna
