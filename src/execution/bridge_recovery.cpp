#include "execution/bridge_recovery.h"

#include <cctype>

#include <fmt/format.h>

#include "base/json.h"

namespace orwenna {

namespace {

constexpr std::string_view kSeenLater = " (seen later)";

bool isFinalOneClick(std::string_view status) {
  return status == "SUCCESS" || status == "REFUNDED" || status == "FAILED";
}

std::string percentEncoded(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += fmt::format("%{:02X}", c);
    }
  }
  return out;
}

}  // namespace

HttpBridgeStatus::HttpBridgeStatus(HttpClient& http, std::string relayBase, std::string oneClickBase)
    : http_(http), relayBase_(std::move(relayBase)), oneClickBase_(std::move(oneClickBase)) {}

std::string HttpBridgeStatus::get(const std::string& url, const char* service) {
  HttpRequest request;
  request.url = url;
  request.timeout = kTimeLimit;
  HttpResponse response = http_.send(request);
  if (!response.ok()) throw Error(fmt::format("{} answered HTTP {}.", service, response.status));
  auto json = parseJson(response.body);
  if (!json || !json->is_object()) throw Error(fmt::format("{} answered something that is not JSON.", service));
  auto status = optionalString(*json, "status");
  if (!status) throw Error(fmt::format("{} answered without a status.", service));
  return *status;
}

std::string HttpBridgeStatus::relayStatus(const std::string& requestId) {
  return get(relayBase_ + "/intents/status/v3?requestId=" + percentEncoded(requestId), "Relay");
}

std::string HttpBridgeStatus::oneClickStatus(const std::string& depositAddress) {
  return get(oneClickBase_ + "/v0/status?depositAddress=" + percentEncoded(depositAddress), "1Click");
}

BridgeRecovery::Result BridgeRecovery::run(Journal& journal, BridgeStatusSource& source, std::int64_t nowMillis) {
  using Kind = Journal::Entry::Kind;
  Result result;
  for (const auto& entry : journal.pendingBridges(nowMillis, kWindowSeconds)) {
    const std::int64_t age = nowMillis - entry.at;
    if (age <= kMinAgeSeconds * 1000) continue;
    std::optional<Kind> kind;
    std::string note;
    try {
      if (entry.chain == "relay") {
        std::string status = source.relayStatus(entry.id);
        if (status == "success") {
          kind = Kind::settled;
          note = "Relay delivered";
        } else if (status == "refund") {
          kind = Kind::failed;
          note = "Relay refunded";
        }
      } else if (entry.chain == "1click") {
        std::string status = source.oneClickStatus(entry.id);
        if (status == "SUCCESS") {
          kind = Kind::settled;
          note = "1Click delivered";
        } else if (isFinalOneClick(status)) {
          kind = Kind::failed;
          note = "1Click ended " + status;
        } else if (status == "PENDING_DEPOSIT" && entry.note.starts_with("Receive:") &&
                   age > kDepositExpirySeconds * 1000) {
          kind = Kind::expired;
          note = "The deposit never arrived";
        }
      }
    } catch (const std::exception& e) {
      result.unreadable.push_back(fmt::format("{} {}: {}", entry.chain, entry.id, e.what()));
      continue;
    }
    if (!kind) continue;
    Journal::Entry outcome{nowMillis, entry.chain, entry.id, *kind, note + std::string(kSeenLater)};
    journal.append(outcome);
    result.appended.push_back(std::move(outcome));
  }
  return result;
}

}  // namespace orwenna
