#include "signer/one_click_deposit_check.h"

#include <exception>

#include "base/decimal.h"
#include "base/json.h"
#include "base/uint.h"
#include "chains/evm_call.h"
#include "chains/spl.h"

namespace orwenna {

namespace {

std::uint64_t littleEndian64(const Bytes& data, std::size_t at) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | data[at + static_cast<std::size_t>(i)];
  return v;
}

const Json& oneClickMember(const Json& object, const char* key) {
  static const Json none;
  if (!object.is_object()) return none;
  auto it = object.find(key);
  return it == object.end() ? none : *it;
}

std::string oneClickText(const Json& object, const char* key) {
  const Json& v = oneClickMember(object, key);
  if (v.is_string()) return v.get<std::string>();
  if (v.is_number_unsigned() || v.is_number_integer()) return v.dump();
  return {};
}

}  // namespace

std::optional<std::string> OneClickDepositCheck::paid(const SolanaMessage& message,
                                                      const std::vector<std::string>& accounts,
                                                      const std::string& deposit) {
  UInt256 total(0);
  bool any = false;
  auto key = [&](int index) -> std::string {
    return index >= 0 && static_cast<std::size_t>(index) < accounts.size() ? accounts[static_cast<std::size_t>(index)]
                                                                           : std::string();
  };
  for (const auto& ix : message.instructions) {
    const std::string program = key(ix.programIndex);
    if (program == SolanaPrograms::kSystem && ix.data.size() == 12 && ix.data[0] == 2 && ix.data[1] == 0 &&
        ix.data[2] == 0 && ix.data[3] == 0 && ix.accounts.size() >= 2 && key(ix.accounts[1]) == deposit) {
      total += UInt256(littleEndian64(ix.data, 4));
      any = true;
    } else if ((program == SolanaPrograms::kToken || program == SolanaPrograms::kToken2022) && ix.data.size() >= 10 &&
               ix.data[0] == 12 && ix.accounts.size() >= 4) {
      const std::string destination = key(ix.accounts[2]);
      if (destination == SPL::associatedTokenAddress(deposit, key(ix.accounts[1]), program)) {
        total += UInt256(littleEndian64(ix.data, 1));
        any = true;
      }
    }
  }
  if (!any) return std::nullopt;
  return toDecimalString(total);
}

std::optional<std::string> OneClickDepositCheck::paid(const std::string& to, ByteView data, const std::string& value,
                                                      const std::string& deposit) {
  EVMCall call = EVMCall::decode(to, data);
  if (call.kind == EVMCall::Kind::transfer && EVMCall::sameAddress(call.to, deposit)) {
    return toDecimalString(call.amount);
  }
  if (call.kind == EVMCall::Kind::plain && EVMCall::sameAddress(to, deposit) && value != "0") return value;
  return std::nullopt;
}

Verdict OneClickDepositCheck::check(HttpClient* http, const std::string& root, const std::string& deposit,
                                    const std::string& amount, std::int64_t nowMillis,
                                    const std::function<bool(const std::string& address)>& ours) {
  Verdict v;
  auto refuse = [&](std::string sentence) {
    v.problems.push_back(std::move(sentence));
    return v;
  };
  if (http == nullptr || root.empty()) return refuse("The signer has no way to ask 1Click about the deposit address.");
  if (deposit.empty() || deposit.find_first_of("&?#/ %") != std::string::npos) {
    return refuse("The deposit address " + deposit + " can't be asked about.");
  }
  HttpRequest request;
  request.url = root + "/v0/status?depositAddress=" + deposit;
  request.timeout = kTimeLimit;
  std::optional<Json> answer;
  try {
    HttpResponse response = http->send(request);
    if (!response.ok()) {
      return refuse("1Click knows no quote with the deposit address " + deposit + " (HTTP " +
                    std::to_string(response.status) + ").");
    }
    answer = parseJson(response.body);
  } catch (const std::exception& e) {
    return refuse(std::string("1Click didn't answer the signer: ") + e.what() + ".");
  }
  if (!answer || !answer->is_object()) return refuse("1Click's answer to the signer is not JSON.");
  const Json& response = oneClickMember(*answer, "quoteResponse");
  const Json& asked = oneClickMember(response, "quoteRequest");
  const Json& quote = oneClickMember(response, "quote");
  if (!asked.is_object() || !quote.is_object()) {
    return refuse("1Click shows no quote behind the deposit address " + deposit + ".");
  }
  if (oneClickText(quote, "depositAddress") != deposit) {
    return refuse("1Click's quote belongs to another deposit address than " + deposit + ".");
  }
  if (const std::string status = oneClickText(*answer, "status"); status != "PENDING_DEPOSIT") {
    return refuse("1Click's quote for " + deposit + " is no longer waiting for a deposit (" + status + ").");
  }
  if (auto deadline = parseIso8601(oneClickText(quote, "deadline")); !deadline || *deadline <= nowMillis) {
    return refuse("1Click's quote for " + deposit + " has run out.");
  }
  const std::string recipient = oneClickText(asked, "recipient");
  if (!ours(recipient)) {
    return refuse("1Click would deliver to " + (recipient.empty() ? std::string("no one") : recipient) +
                  ", which is neither your wallet nor in the address book.");
  }
  const std::string refundTo = oneClickText(asked, "refundTo");
  if (!ours(refundTo)) {
    return refuse("1Click would refund to " + (refundTo.empty() ? std::string("no one") : refundTo) +
                  ", which is neither your wallet nor in the address book.");
  }
  auto quoted = Decimal::tryParse(oneClickText(quote, "amountIn"));
  auto sent = Decimal::tryParse(amount);
  if (!quoted || !sent || *quoted != *sent) {
    return refuse("The transaction sends " + amount + " to " + deposit + ", but 1Click's quote takes " +
                  oneClickText(quote, "amountIn") + ".");
  }
  v.checks.push_back("1Click itself shows " + deposit + " as the deposit address of a live quote for " + amount +
                     " delivering to " + recipient + ".");
  return v;
}

}  // namespace orwenna
