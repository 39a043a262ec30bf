#include "execution/hl_reply.h"

#include "base/json.h"

namespace orwenna {

namespace {

std::optional<Decimal> replyDecimal(const Json& object, std::string_view key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return std::nullopt;
  return Decimal::tryParse(it->get<std::string>());
}

std::optional<std::uint64_t> replyOid(const Json& object) {
  auto it = object.find("oid");
  if (it == object.end() || !it->is_number_unsigned()) return std::nullopt;
  return it->get<std::uint64_t>();
}

HLOrderStatus statusOf(const Json& s) {
  HLOrderStatus out;
  if (s.is_string()) {
    out.message = s.get<std::string>();
    return out;
  }
  if (!s.is_object()) return out;
  if (auto e = s.find("error"); e != s.end() && e->is_string()) {
    out.kind = HLOrderStatus::Kind::error;
    out.message = e->get<std::string>();
  } else if (auto f = s.find("filled"); f != s.end() && f->is_object()) {
    auto size = replyDecimal(*f, "totalSz");
    auto px = replyDecimal(*f, "avgPx");
    if (size && px) {
      out.kind = HLOrderStatus::Kind::filled;
      out.size = *size;
      out.avgPx = *px;
    } else {
      out.kind = HLOrderStatus::Kind::error;
      out.message = "Hyperliquid reported a fill without a readable size or price.";
    }
    out.oid = replyOid(*f);
  } else if (auto r = s.find("resting"); r != s.end()) {
    out.kind = HLOrderStatus::Kind::resting;
    if (r->is_object()) out.oid = replyOid(*r);
  }
  return out;
}

}  // namespace

std::string HLReply::text() const {
  switch (kind) {
    case Kind::filled: return "filled " + size.toString() + " at " + avgPx.toString();
    case Kind::error: return message;
    case Kind::ok: return "ok";
    case Kind::resting: return "resting on the book";
  }
  return "ok";
}

HLReply HLReply::parse(std::string_view bytes) {
  HLReply reply;
  std::optional<Json> json = parseJson(bytes);
  if (!json || !json->is_object()) {
    reply.kind = Kind::error;
    reply.message = std::string(bytes);
    reply.unclear = true;
    return reply;
  }
  auto status = json->find("status");
  if (status == json->end() || !status->is_string() || status->get<std::string>() != "ok") {
    reply.kind = Kind::error;
    auto response = json->find("response");
    reply.message = response != json->end() && response->is_string() ? response->get<std::string>()
                                                                      : std::string(bytes);
    return reply;
  }
  const Json* statuses = nullptr;
  if (auto response = json->find("response"); response != json->end() && response->is_object()) {
    if (auto data = response->find("data"); data != response->end() && data->is_object()) {
      if (auto list = data->find("statuses"); list != data->end() && list->is_array()) statuses = &*list;
    }
  }
  if (statuses == nullptr || statuses->empty()) return reply;
  for (const Json& s : *statuses) reply.statuses.push_back(statusOf(s));
  for (const HLOrderStatus& s : reply.statuses) {
    if (s.failed()) {
      reply.kind = Kind::error;
      reply.message = s.message;
      return reply;
    }
  }
  const HLOrderStatus& first = reply.statuses.front();
  if (first.kind == HLOrderStatus::Kind::filled) {
    reply.kind = Kind::filled;
    reply.size = first.size;
    reply.avgPx = first.avgPx;
  } else if (first.kind == HLOrderStatus::Kind::resting) {
    reply.kind = Kind::resting;
  }
  return reply;
}

HLReply HLReply::parse(int httpStatus, std::string_view bytes) {
  HLReply reply = parse(bytes);
  if (httpStatus >= 500) reply.unclear = true;
  return reply;
}

}  // namespace orwenna
