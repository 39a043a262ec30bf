// A local fake JSON-RPC 2.0 node (Solana's, and any EVM node's: both speak
// POST "/" on 127.0.0.1, one handler per method), and a client that sends an
// https address's calls to a fake. Thread-safe where the server calls in.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/http.h"
#include "base/json.h"
#include "chains/solana_rpc.h"
#include "fakes/fake_server.h"
#include "support/test_support.h"

namespace orwenna::testing {

// A user's wallets as the node and lookup tests address them.
inline const std::string kSolanaWallet = "9WzDXwBbmkg8ZTbNMqUxvQRAyrZzDsGYdLVL9zYtAWWM";
inline const std::string kEvmWallet = "0x1111111111111111111111111111111111111111";

class FakeSolanaNode {
 public:
  // Answers one call: given the params, the whole HTTP answer.
  using Method = std::function<FakeResponse(const Json& params)>;

  FakeSolanaNode() {
    server_.on("POST", "/", [this](const RecordedRequest& request) {
      auto body = parseJson(request.body);
      if (!body || !body->contains("method")) return FakeResponse::json(R"({"jsonrpc":"2.0","id":1,"error":{"code":-32700,"message":"Parse error"}})");
      std::string method = (*body)["method"].get<std::string>();
      Method handler;
      {
        std::lock_guard lock(mutex_);
        auto it = methods_.find(method);
        if (it == methods_.end()) {
          return FakeResponse::json(R"({"jsonrpc":"2.0","id":1,"error":{"code":-32601,"message":"Method not found"}})");
        }
        handler = it->second;
      }
      return handler(body->value("params", Json::array()));
    });
  }

  void on(const std::string& method, Method handler) {
    std::lock_guard lock(mutex_);
    methods_[method] = std::move(handler);
  }
  // A fixed "result".
  void result(const std::string& method, Json result) {
    on(method, [result](const Json&) { return ok(result); });
  }
  static FakeResponse ok(const Json& result) {
    return FakeResponse::json(Json{{"jsonrpc", "2.0"}, {"result", result}, {"id", 1}}.dump());
  }
  static FakeResponse rpcError(int code, const std::string& message) {
    return FakeResponse::json(
        Json{{"jsonrpc", "2.0"}, {"error", {{"code", code}, {"message", message}}}, {"id", 1}}.dump());
  }

  std::string url() const { return server_.url(); }
  std::vector<RecordedRequest> requests() const { return server_.requests(); }
  std::vector<Json> bodies() const {
    std::vector<Json> out;
    for (const auto& r : server_.requests()) out.push_back(*parseJson(r.body));
    return out;
  }

 private:
  FakeServer server_;
  std::mutex mutex_;
  std::map<std::string, Method> methods_;
};

// Plain JSON-RPC 2.0, so an EVM node is faked by the same class.
using FakeRpcNode = FakeSolanaNode;

// Sends every call to `target` whatever its address, so checks that insist on
// https reach a plain-http fake.
struct RedirectClient final : HttpClient {
  explicit RedirectClient(std::string to) : target(std::move(to)) {}
  HttpResponse send(const HttpRequest& r) override {
    HttpRequest copy = r;
    copy.url = target;
    return CurlHttpClient::shared().send(copy);
  }
  HttpResponse stream(const HttpRequest& r, const LineHandler& h) override {
    return CurlHttpClient::shared().stream(r, h);
  }
  std::string target;
};

}  // namespace orwenna::testing
