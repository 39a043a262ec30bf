#include "llm/clients.h"

#include <algorithm>

#include "base/log.h"
#include "base/text.h"
#include "llm/sign_in.h"
#include "llm/wire.h"

namespace orwenna {

std::string promptCacheKey(std::string_view instructions) {
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : instructions) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string digits;
  do {
    digits += kDigits[hash % 36];
    hash /= 36;
  } while (hash != 0);
  std::reverse(digits.begin(), digits.end());
  return "orwenna-" + digits;
}

const std::string& chatGPTSessionID() {
  static const std::string id = makeUuid(SecureRandom::shared());
  return id;
}

ChatGPTClient::ChatGPTClient(HttpClient& http, Clock& clock, LLMEndpoints endpoints, Source source, SaveTokens save,
                             std::string sessionID, ChatTimeouts timeouts)
    : http_(http),
      clock_(clock),
      endpoints_(std::move(endpoints)),
      source_(std::move(source)),
      save_(std::move(save)),
      sessionID_(std::move(sessionID)),
      timeouts_(timeouts) {}

ChatGPTClient::Access ChatGPTClient::access() {
  std::lock_guard lock(mutex_);  // one renewal at a time: a refresh token may be good for one use only
  if (auto* path = std::get_if<std::filesystem::path>(&source_)) {
    ChatGPTAccess a = readCodexLogin(*path, clock_);
    return {a.accessToken, a.accountID};
  }
  auto& tokens = std::get<OAuthTokens>(source_);
  if (needsRefresh(tokens, clock_)) {
    tokens = refreshChatGPTTokens(endpoints_, http_, clock_, tokens);
    if (save_) save_(tokens);
  }
  if (!tokens.accountID || tokens.accountID->empty()) throw LLMError("No chatgpt_account_id; sign in again.");
  return {tokens.access, *tokens.accountID};
}

Json ChatGPTClient::body(const LLMRequest& request) const {
  std::string instructions;
  Json input = Json::array();
  for (const auto& m : request.messages) {
    if (m.role == LLMMessage::Role::system) {
      if (!instructions.empty()) instructions += "\n\n";
      instructions += m.text;
      continue;
    }
    bool user = m.role == LLMMessage::Role::user;
    Json part = Json::object();
    part["type"] = user ? "input_text" : "output_text";
    part["text"] = m.text;
    Json item = Json::object();
    item["type"] = "message";
    item["role"] = user ? "user" : "assistant";
    item["content"] = Json::array({std::move(part)});
    input.push_back(std::move(item));
  }
  Json b = Json::object();
  b["model"] = request.model;
  b["instructions"] = instructions;
  b["input"] = std::move(input);
  b["store"] = false;
  b["stream"] = true;
  b["prompt_cache_key"] = promptCacheKey(instructions);
  if (request.thinking) b["reasoning"] = Json{{"effort", "high"}};
  return b;
}

std::string ChatGPTClient::complete(const LLMRequest& request) { return completeStreaming(request, nullptr); }

std::string ChatGPTClient::completeStreaming(const LLMRequest& request, const PartialText& onText) {
  Access a = access();
  HttpRequest r = HttpRequest::postJson(endpoints_.chatgptBackend + "/backend-api/codex/responses",
                                        body(request).dump());
  r.headers = {{"Authorization", "Bearer " + a.token},
               {"chatgpt-account-id", a.accountID},
               {"OpenAI-Beta", "responses=experimental"},
               {"originator", "codex_cli_rs"},
               {"session_id", sessionID_},
               {"Accept", "text/event-stream"},
               {"Content-Type", "application/json"}};
  r.timeout = timeouts_.stream;
  std::string text;
  std::string eventName;
  HttpResponse response = streamLines(http_, r, [&](std::string_view line) {
    if (line.rfind("event:", 0) == 0) {
      eventName = text::trimmed(line.substr(6));
      return true;
    }
    auto data = sseData(line);
    if (!data) return true;
    auto event = parseObject(*data);
    if (!event) return true;
    std::string type = optionalString(*event, "type").value_or(eventName);
    if (type == "response.output_text.delta") {
      if (auto d = event->find("delta"); d != event->end() && d->is_string() && !d->get<std::string>().empty()) {
        text += d->get<std::string>();
        if (onText) onText(text);
      }
    } else if (type == "response.completed" || type == "response.incomplete") {
      if (type == "response.incomplete") log::info("ChatGPT answer ended incomplete");
      return false;
    } else if (type == "response.failed" || type == "error") {
      std::string message = "the request failed";
      const Json* holder = &*event;
      if (auto resp = event->find("response"); resp != event->end() && resp->is_object()) holder = &*resp;
      if (auto e = holder->find("error"); e != holder->end() && !e->is_null()) {
        message = errorTextOf(*e);
      } else if (auto m = event->find("message"); m != event->end() && m->is_string()) {
        message = m->get<std::string>();
      }
      throw LLMError("ChatGPT: " + message);
    }
    return true;
  });
  if (!response.ok()) throw LLMError("ChatGPT: " + serviceErrorText(response));
  if (text::trimmed(text).empty()) throw LLMError("ChatGPT returned an empty reply.");
  return text;
}

std::vector<std::string> ChatGPTClient::listModels() {
  Access a = access();
  HttpRequest r;
  r.url = endpoints_.chatgptBackend + "/backend-api/codex/models?client_version=0.200.0";
  r.headers = {{"Authorization", "Bearer " + a.token}, {"chatgpt-account-id", a.accountID}};
  r.timeout = kModelListTimeout;
  HttpResponse response = http_.send(r);
  if (!response.ok()) throw LLMError("ChatGPT: " + serviceErrorText(response));
  auto answer = parseObject(response.body);
  if (!answer) throw LLMError("ChatGPT: the model list couldn't be read.");
  struct Entry {
    std::optional<double> priority;
    std::string slug;
  };
  std::vector<Entry> entries;
  auto models = answer->find("models");
  if (models != answer->end() && models->is_array()) {
    for (const auto& m : *models) {
      if (!m.is_object() || optionalString(m, "visibility") != "list") continue;
      auto slug = optionalString(m, "slug");
      if (!slug || slug->empty()) continue;
      std::optional<double> priority;
      if (auto p = m.find("priority"); p != m.end() && p->is_number()) priority = p->get<double>();
      entries.push_back({priority, *slug});
    }
  }
  std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    if (a.priority && b.priority) return *a.priority < *b.priority;
    return a.priority.has_value() && !b.priority.has_value();
  });
  std::vector<std::string> slugs;
  for (auto& e : entries) slugs.push_back(std::move(e.slug));
  return slugs;
}

}  // namespace orwenna
