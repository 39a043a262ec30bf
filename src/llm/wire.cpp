#include "llm/wire.h"

#include "base/bytes.h"
#include "base/text.h"
#include "llm/loopback_server.h"

namespace orwenna {

std::optional<Json> parseObject(std::string_view text) {
  std::optional<Json> j = parseJson(text);
  if (!j || !j->is_object()) return std::nullopt;
  return j;
}

std::string errorTextOf(const Json& error) {
  if (error.is_string()) return error.get<std::string>();
  if (error.is_object()) {
    if (auto m = error.find("message"); m != error.end() && m->is_string()) return m->get<std::string>();
    if (auto c = error.find("code"); c != error.end() && c->is_string()) return c->get<std::string>();
  }
  return error.dump();
}

std::string serviceErrorText(const HttpResponse& response) {
  if (auto j = parseObject(response.body)) {
    if (auto e = j->find("error"); e != j->end() && !e->is_null()) {
      if (auto d = j->find("error_description"); d != j->end() && d->is_string()) return d->get<std::string>();
      return errorTextOf(*e);
    }
    for (const char* key : {"error_description", "message", "detail"})
      if (auto m = j->find(key); m != j->end() && m->is_string()) return m->get<std::string>();
  }
  std::string body = text::trimmed(text::sanitized(response.body));
  if (body.empty()) return "HTTP " + std::to_string(response.status);
  if (body.size() > 300) {
    std::size_t cut = 300;
    while (cut > 0 && (static_cast<unsigned char>(body[cut]) & 0xC0) == 0x80) --cut;  // whole characters only
    body = body.substr(0, cut) + "…";
  }
  return body;
}

std::string formBody(const std::vector<std::pair<std::string, std::string>>& items) {
  std::string out;
  for (const auto& [name, value] : items) {
    if (!out.empty()) out += '&';
    out += percentEncode(name) + "=" + percentEncode(value);
  }
  return out;
}

std::optional<Json> jwtPayload(std::string_view token) {
  std::size_t first = token.find('.');
  if (first == std::string_view::npos) return std::nullopt;
  std::size_t second = token.find('.', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  std::string_view part = token.substr(first + 1, second - first - 1);
  std::optional<Bytes> bytes = fromBase64Url(part);
  if (!bytes) return std::nullopt;
  return parseObject(asString(*bytes));
}

}  // namespace orwenna

namespace orwenna {

HttpResponse streamLines(HttpClient& http, const HttpRequest& request,
                         const std::function<bool(std::string_view line)>& onLine) {
  std::exception_ptr failure;
  HttpResponse response = http.stream(request, [&](std::string_view line) {
    try {
      return onLine(line);
    } catch (...) {
      failure = std::current_exception();
      return false;
    }
  });
  if (failure) std::rethrow_exception(failure);
  return response;
}

std::optional<std::string_view> sseData(std::string_view line) {
  if (line.rfind("data:", 0) != 0) return std::nullopt;
  line.remove_prefix(5);
  if (!line.empty() && line.front() == ' ') line.remove_prefix(1);
  return line;
}

}  // namespace orwenna
