#include "defi/jupiter_recurring.h"

#include <utility>

namespace orwenna {

namespace {

std::optional<std::string> recurringText(const Json& object, const char* key) {
  if (!object.is_object()) return std::nullopt;
  auto it = object.find(key);
  if (it == object.end()) return std::nullopt;
  if (it->is_string()) return it->get<std::string>();
  if (it->is_number_integer()) return std::to_string(it->get<std::int64_t>());
  if (it->is_number()) return Decimal::fromJson(*it).toString();
  return std::nullopt;
}

Decimal recurringDecimal(const Json& object, const char* key) {
  return Decimal::tryParse(recurringText(object, key).value_or("0")).value_or(Decimal(0));
}

}  // namespace

JupiterRecurring::JupiterRecurring(HttpClient& http, std::string base) : http_(http), base_(std::move(base)) {}

JupiterRecurring::Request JupiterRecurring::readRequest(int status, const std::string& body) {
  auto json = parseJson(body);
  auto id = json ? recurringText(*json, "requestId") : std::nullopt;
  auto tx = json ? recurringText(*json, "transaction") : std::nullopt;
  if (status >= 200 && status < 300 && id && tx) {
    auto bytes = fromBase64(*tx);
    if (!bytes || bytes->empty()) throw JupiterError("the transaction isn't Base64.");
    return {*id, std::move(*bytes)};
  }
  if (auto error = json ? recurringText(*json, "error") : std::nullopt) throw JupiterError(*error);
  throw JupiterError(Jupiter::excerpt(body));
}

JupiterRecurring::Request JupiterRecurring::post(const std::string& path, const Json& body) const {
  HttpRequest request = HttpRequest::postJson(base_ + path, body.dump());
  request.timeout = Jupiter::kTimeLimit;
  HttpResponse response = http_.send(request);
  return readRequest(response.status, response.body);
}

JupiterRecurring::Request JupiterRecurring::create(const std::string& wallet, const std::string& inputMint,
                                                   const std::string& outputMint, std::uint64_t inAmount,
                                                   int numberOfOrders, std::int64_t interval) const {
  Json time{{"inAmount", inAmount},     {"numberOfOrders", numberOfOrders}, {"interval", interval},
            {"minPrice", nullptr},      {"maxPrice", nullptr},              {"startAt", nullptr}};
  return post("/createOrder", Json{{"user", wallet},
                                   {"inputMint", inputMint},
                                   {"outputMint", outputMint},
                                   {"params", Json{{"time", time}}}});
}

JupiterRecurring::Request JupiterRecurring::cancel(const std::string& wallet, const std::string& orderKey) const {
  return post("/cancelOrder", Json{{"order", orderKey}, {"user", wallet}, {"recurringType", "time"}});
}

std::pair<std::vector<JupiterRecurring::Order>, int> JupiterRecurring::readOrders(const std::string& body) {
  auto json = parseJson(body);
  if (!json || !json->is_object()) throw JupiterError(Jupiter::excerpt(body));
  std::vector<Order> out;
  auto time = json->find("time");
  if (time != json->end() && time->is_array()) {
    for (const Json& o : *time) {
      Order order;
      order.key = recurringText(o, "orderKey").value_or("");
      order.inputMint = recurringText(o, "inputMint").value_or("");
      order.outputMint = recurringText(o, "outputMint").value_or("");
      order.deposited = recurringDecimal(o, "inDeposited");
      order.used = recurringDecimal(o, "inUsed");
      order.perCycle = recurringDecimal(o, "inAmountPerCycle");
      order.every = recurringDecimal(o, "cycleFrequency").toInt64().value_or(0);
      order.received = recurringDecimal(o, "outReceived");
      order.createdAt = recurringText(o, "createdAt");
      auto trades = o.find("trades");
      order.fills = trades != o.end() && trades->is_array() ? trades->size() : 0;
      if (!order.key.empty()) out.push_back(std::move(order));
    }
  }
  const int pages = static_cast<int>(recurringDecimal(*json, "totalPages").toInt64().value_or(1));
  return {std::move(out), pages};
}

std::vector<JupiterRecurring::Order> JupiterRecurring::orders(const std::string& wallet) const {
  std::vector<Order> all;
  for (int page = 1; page <= kMaxPages; ++page) {
    HttpRequest request;
    request.url = base_ + "/getRecurringOrders?user=" + wallet +
                  "&orderStatus=active&recurringType=time&includeFailedTx=false&page=" + std::to_string(page);
    request.timeout = Jupiter::kTimeLimit;
    HttpResponse response = http_.send(request);
    if (!response.ok()) {
      auto json = parseJson(response.body);
      if (auto error = json ? recurringText(*json, "error") : std::nullopt) throw JupiterError(*error);
      throw JupiterError(Jupiter::excerpt(response.body));
    }
    auto [orders, pages] = readOrders(response.body);
    all.insert(all.end(), orders.begin(), orders.end());
    if (page >= pages) break;
  }
  return all;
}

}  // namespace orwenna
