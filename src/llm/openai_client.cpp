#include "llm/clients.h"

#include "base/log.h"
#include "base/text.h"
#include "llm/wire.h"

namespace orwenna {

namespace {

constexpr const char* kServicePrefix = "The model service: ";

Json messagesJson(const LLMRequest& request) {
  Json messages = Json::array();
  for (const auto& m : request.messages) {
    Json item = Json::object();
    item["role"] = roleName(m.role);
    item["content"] = m.text;
    messages.push_back(std::move(item));
  }
  return messages;
}

void failOnError(const Json& answer) {
  auto e = answer.find("error");
  if (e != answer.end() && !e->is_null()) throw LLMError(kServicePrefix + errorTextOf(*e));
}

// choices[0].<member>.content as text; "" when absent or not text.
std::string firstChoiceContent(const Json& answer, const char* member) {
  auto choices = answer.find("choices");
  if (choices == answer.end() || !choices->is_array() || choices->empty()) return {};
  const Json& first = (*choices)[0];
  if (!first.is_object()) return {};
  auto part = first.find(member);
  if (part == first.end() || !part->is_object()) return {};
  auto content = part->find("content");
  return content != part->end() && content->is_string() ? content->get<std::string>() : std::string();
}

}  // namespace

OpenAIChatClient::OpenAIChatClient(HttpClient& http, std::string baseURL, std::optional<std::string> key,
                                   bool jsonMode, ChatTimeouts timeouts)
    : http_(http), baseURL_(std::move(baseURL)), key_(std::move(key)), jsonMode_(jsonMode), timeouts_(timeouts) {}

Json OpenAIChatClient::body(const LLMRequest& request, bool stream) const {
  Json b = Json::object();
  b["model"] = request.model;
  b["messages"] = messagesJson(request);
  b["stream"] = stream;
  if (request.wantsJSON && jsonMode_) b["response_format"] = Json{{"type", "json_object"}};
  if (request.thinking) b["reasoning_effort"] = "medium";
  return b;
}

HttpRequest OpenAIChatClient::httpRequest(const LLMRequest& request, bool stream) const {
  HttpRequest r = HttpRequest::postJson(baseURL_ + "/chat/completions", body(request, stream).dump());
  r.headers = {{"Content-Type", "application/json"}};
  if (key_) r.headers.emplace_back("Authorization", "Bearer " + *key_);
  if (stream) r.headers.emplace_back("Accept", "text/event-stream");
  r.timeout = stream ? timeouts_.stream : timeouts_.whole;
  return r;
}

std::string OpenAIChatClient::complete(const LLMRequest& request) {
  HttpResponse response = http_.send(httpRequest(request, false));
  if (!response.ok()) throw LLMError(kServicePrefix + serviceErrorText(response));
  std::string text;
  if (auto answer = parseObject(response.body)) {
    failOnError(*answer);
    text = firstChoiceContent(*answer, "message");
  } else if (!text::trimmed(response.body).empty()) {
    throw LLMError(std::string(kServicePrefix) + "the answer couldn't be read.");
  }
  if (text::trimmed(text).empty()) throw LLMError(kEmptyReply);
  return text;
}

std::string OpenAIChatClient::completeStreaming(const LLMRequest& request, const PartialText& onText) {
  std::string text;
  HttpResponse response = streamLines(http_, httpRequest(request, true), [&](std::string_view line) {
    auto data = sseData(line);
    if (!data) return true;
    if (*data == "[DONE]") return false;
    auto event = parseObject(*data);
    if (!event) return true;  // keep-alives and partial junk carry no text
    failOnError(*event);
    std::string piece = firstChoiceContent(*event, "delta");
    if (!piece.empty()) {
      text += piece;
      if (onText) onText(text);
    }
    return true;
  });
  if (!response.ok()) throw LLMError(kServicePrefix + serviceErrorText(response));
  if (text::trimmed(text).empty()) throw LLMError(kEmptyReply);
  return text;
}

std::vector<std::string> OpenAIChatClient::listModels() {
  HttpRequest r;
  r.url = baseURL_ + "/models";
  if (key_) r.headers.emplace_back("Authorization", "Bearer " + *key_);
  r.timeout = kModelListTimeout;
  HttpResponse response = http_.send(r);
  if (!response.ok()) throw LLMError(kServicePrefix + serviceErrorText(response));
  std::vector<std::string> ids;
  auto answer = parseObject(response.body);
  if (!answer) throw LLMError(std::string(kServicePrefix) + "the model list couldn't be read.");
  auto data = answer->find("data");
  if (data != answer->end() && data->is_array()) {
    for (const auto& entry : *data)
      if (entry.is_object())
        if (auto id = entry.find("id"); id != entry.end() && id->is_string()) ids.push_back(id->get<std::string>());
  }
  return ids;
}

}  // namespace orwenna
