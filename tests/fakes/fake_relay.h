// A fake Relay on 127.0.0.1: POST /quote/v2 answers a Solana → Hyperliquid
// USDC quote in Relay's shape (steps → items → data → instructions with hex
// data, details with currencyIn / currencyOut, fees.relayer), with one
// deposit_token instruction of the Relay Depository from the quoted user;
// GET /intents/status/v3 answers the scripted status. What each quote pays
// out, its recipient and its amount can be scripted to test the checks made
// before signing. Thread-safe.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "base/bytes.h"
#include "base/decimal.h"
#include "base/json.h"
#include "fakes/fake_server.h"

namespace orwenna::testing {

class FakeRelay {
 public:
  static constexpr const char* kDepository = "99vQwtBwYtrqqD9YSXbdum3KBdxPAVxYTaQ3cfnJSrN2";

  FakeRelay() {
    server_.on("POST", "/quote/v2", [this](const RecordedRequest& r) { return quote(r); });
    server_.on("GET", "/intents/status/v3", [this](const RecordedRequest&) {
      std::lock_guard lock(mutex_);
      return FakeResponse::json(Json{{"status", status_}}.dump());
    });
  }

  std::string url() const { return server_.url(); }
  FakeServer& server() { return server_; }
  int quotes() const {
    int n = 0;
    for (const auto& r : server_.requests()) n += r.path == "/quote/v2";
    return n;
  }

  // The share of the input that arrives (0.99 by default: Relay's fee).
  void setPayout(const Decimal& share) {
    std::lock_guard lock(mutex_);
    payout_ = share;
  }
  void setStatus(std::string status) {
    std::lock_guard lock(mutex_);
    status_ = std::move(status);
  }
  // Quotes pay this recipient instead of the one asked for.
  void redirectTo(std::string recipient) {
    std::lock_guard lock(mutex_);
    redirect_ = std::move(recipient);
  }
  void dropAmount() {
    std::lock_guard lock(mutex_);
    dropAmount_ = true;
  }

 private:
  FakeResponse quote(const RecordedRequest& r) {
    std::lock_guard lock(mutex_);
    auto body = parseJson(r.body);
    if (!body || !body->contains("amount") || !body->contains("user")) {
      return FakeResponse::json(R"({"message":"Invalid request"})", 400);
    }
    const std::string user = (*body)["user"].get<std::string>();
    const std::string units = (*body)["amount"].get<std::string>();
    const Decimal in = Decimal::parse(units) / Decimal(1'000'000);
    const Decimal out = (in * payout_).rounded(6, RoundingMode::down);
    ++count_;
    const std::string id = "0xrequest" + std::to_string(count_);
    // deposit_token: discriminator, amount (u64 LE), id ([u8; 32]).
    Bytes data{11, 156, 96, 218, 39, 163, 180, 19};
    std::uint64_t amount = static_cast<std::uint64_t>(Decimal::parse(units).toInt64().value_or(0));
    for (int i = 0; i < 8; ++i) data.push_back(static_cast<std::uint8_t>(amount >> (8 * i)));
    data.resize(data.size() + 32, 7);
    Json keys = Json::array({Json{{"pubkey", "Bw8yGXzfQ4ywTRqDT8PBZfXztCLR4DkTkgHJw2LCW3qs"}, {"isSigner", false}, {"isWritable", true}},
                             Json{{"pubkey", user}, {"isSigner", true}, {"isWritable", true}},
                             Json{{"pubkey", user}, {"isSigner", false}, {"isWritable", false}}});
    Json ix{{"programId", kDepository}, {"keys", keys}, {"data", toHex(data)}};
    Json currencyIn{{"amountFormatted", in.toString()}, {"amountUsd", in.toString()}};
    if (!dropAmount_) currencyIn["amount"] = units;
    Json answer{
        {"steps", Json::array({Json{{"id", "deposit"}, {"kind", "transaction"}, {"requestId", id},
                                    {"items", Json::array({Json{{"status", "incomplete"},
                                                                {"data", Json{{"instructions", Json::array({ix})}}}}})}}})},
        {"fees", {{"relayer", {{"amountUsd", (in - out).toString()}}}}},
        {"details",
         {{"sender", user},
          {"recipient", redirect_.value_or((*body)["recipient"].get<std::string>())},
          {"currencyIn", currencyIn},
          {"currencyOut", {{"amount", (out * Decimal(1'000'000)).toString()}, {"amountFormatted", out.toString()}}},
          {"timeEstimate", 12}}}};
    return FakeResponse::json(answer.dump());
  }

  std::mutex mutex_;
  Decimal payout_ = Decimal::parse("0.99");
  std::string status_ = "pending";
  std::optional<std::string> redirect_;
  bool dropAmount_ = false;
  int count_ = 0;
  FakeServer server_;
};

}  // namespace orwenna::testing
