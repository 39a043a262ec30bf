#include "llm/clients.h"

#include "base/text.h"
#include "llm/wire.h"

namespace orwenna {

namespace {


// Appends one answer object's text; throws on its error.
void takeMessage(const Json& answer, std::string& text) {
  if (auto e = answer.find("error"); e != answer.end() && !e->is_null()) throw LLMError("Ollama: " + errorTextOf(*e));
  auto message = answer.find("message");
  if (message == answer.end() || !message->is_object()) return;
  auto content = message->find("content");
  if (content != message->end() && content->is_string()) text += content->get<std::string>();
}

}  // namespace

OllamaChatClient::OllamaChatClient(HttpClient& http, std::string base, ChatTimeouts timeouts)
    : http_(http), base_(std::move(base)), timeouts_(timeouts) {}

Json OllamaChatClient::body(const LLMRequest& request, bool stream) const {
  Json b = Json::object();
  b["model"] = request.model;
  b["stream"] = stream;
  b["options"] = Json{{"num_ctx", 16384}};
  Json messages = Json::array();
  for (const auto& m : request.messages) messages.push_back(Json{{"role", roleName(m.role)}, {"content", m.text}});
  b["messages"] = std::move(messages);
  if (!request.thinking) b["think"] = false;
  if (request.wantsJSON) b["format"] = "json";
  return b;
}

std::string OllamaChatClient::complete(const LLMRequest& request) {
  HttpRequest r = HttpRequest::postJson(base_ + "/api/chat", body(request, false).dump());
  r.timeout = timeouts_.whole;
  HttpResponse response = http_.send(r);
  if (!response.ok()) throw LLMError("Ollama: " + serviceErrorText(response));
  std::string text;
  if (auto answer = parseObject(response.body)) {
    takeMessage(*answer, text);
  } else if (!text::trimmed(response.body).empty()) {
    throw LLMError("Ollama: the answer couldn't be read.");
  }
  if (text::trimmed(text).empty()) throw LLMError(kEmptyReply);
  return text;
}

std::string OllamaChatClient::completeStreaming(const LLMRequest& request, const PartialText& onText) {
  HttpRequest r = HttpRequest::postJson(base_ + "/api/chat", body(request, true).dump());
  r.timeout = timeouts_.stream;
  std::string text;
  HttpResponse response = streamLines(http_, r, [&](std::string_view line) {
    if (text::trimmed(line).empty()) return true;
    auto answer = parseObject(line);
    if (!answer) throw LLMError("Ollama: the answer couldn't be read.");
    std::size_t before = text.size();
    takeMessage(*answer, text);
    if (text.size() != before && onText) onText(text);
    auto done = answer->find("done");
    return !(done != answer->end() && done->is_boolean() && done->get<bool>());
  });
  if (!response.ok()) throw LLMError("Ollama: " + serviceErrorText(response));
  if (text::trimmed(text).empty()) throw LLMError(kEmptyReply);
  return text;
}

}  // namespace orwenna
