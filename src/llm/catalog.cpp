#include "llm/catalog.h"

namespace orwenna {

namespace {

ProviderInfo keyed(std::string id, std::string name, ProviderKind kind, std::string defaultModel,
                   std::vector<std::string> models, std::string note) {
  ProviderInfo p;
  p.id = std::move(id);
  p.name = std::move(name);
  p.kind = kind;
  p.defaultModel = std::move(defaultModel);
  p.models = std::move(models);
  p.note = std::move(note);
  p.takesKey = kind == ProviderKind::apiKey;
  return p;
}

ProviderInfo subscription(std::string id, std::string name, std::string defaultModel, std::vector<std::string> models,
                          std::string note, std::optional<std::string> signIn, std::optional<std::string> existing) {
  ProviderInfo p;
  p.id = std::move(id);
  p.name = std::move(name);
  p.kind = ProviderKind::subscription;
  p.defaultModel = std::move(defaultModel);
  p.models = std::move(models);
  p.note = std::move(note);
  p.signInLabel = std::move(signIn);
  p.existingLoginLabel = std::move(existing);
  return p;
}

std::vector<ProviderInfo> buildCatalog() {
  std::vector<ProviderInfo> c;
  c.push_back(keyed("deepseek", "DeepSeek API", ProviderKind::apiKey, "deepseek-flash",
                    {"deepseek-flash", "deepseek-v4-pro"}, "Key from platform.deepseek.com/api_keys."));
  c.push_back(keyed("openai", "OpenAI API", ProviderKind::apiKey, "gpt-6.1-sol",
                    {"gpt-6.1-sol", "gpt-6-astra", "gpt-6-sol", "gpt-6-luna"},
                    "Key from platform.openai.com/api-keys, billed separately from a ChatGPT subscription."));
  c.push_back(keyed("anthropic", "Anthropic API", ProviderKind::apiKey, "claude-opus-5-5",
                    {"claude-opus-5-5", "claude-sonnet-5-5", "claude-fable-5-1", "claude-haiku-4-5"},
                    "Key from console.anthropic.com/settings/keys, billed separately from a Claude subscription."));
  c.push_back(keyed("xai", "xAI Grok API", ProviderKind::apiKey, "grok-4.7", {"grok-4.7", "grok-4.6"},
                    "Key from console.x.ai, paid with credits."));
  c.push_back(keyed("gemini", "Google Gemini API", ProviderKind::apiKey, "gemini-3.8-flash", {"gemini-3.8-flash"},
                    "Key from Google AI Studio."));
  c.push_back(keyed("ollama", "Ollama on this Mac", ProviderKind::local, "gemma4:26b",
                    {"nemotron-3-super:120b", "gemma4:31b", "gemma4:26b", "gemma4:12b"},
                    "No network or key. The app downloads the biggest model that fits this Mac's memory."));
  c.push_back(keyed("lmstudio", "LM Studio on this Mac", ProviderKind::local, "", {},
                    "No network or key. Start the server in LM Studio and pick a model from the list."));

  c.push_back(subscription("openrouter", "OpenRouter", "deepseek/deepseek-v4.1-flash",
                           {"deepseek/deepseek-v4.1-flash", "openai/gpt-6.1-sol", "anthropic/claude-sonnet-5.5",
                            "anthropic/claude-opus-5.5", "google/gemini-3.8-flash", "x-ai/grok-4.7",
                            "qwen/qwen3.8-flash"},
                           "One sign-in for OpenAI, Anthropic, Google, xAI and DeepSeek models. Paid with OpenRouter "
                           "credits.",
                           "Sign in with OpenRouter", std::nullopt));
  c.push_back(subscription("chatgpt", "ChatGPT (subscription)", "gpt-6.1-sol", {"gpt-6.1-sol"},
                           "Plus or Pro. Same sign-in as Codex CLI, OpenClaw and OpenCode; usage counts against the "
                           "subscription limits.",
                           "Sign in with ChatGPT", "Use the Codex CLI login"));
  c.push_back(subscription("claude-code", "Claude (subscription via Claude Code)", "claude-opus-5-5",
                           {"claude-opus-5-5", "claude-sonnet-5-5", "claude-fable-5-1", "claude-haiku-4-5"},
                           "Runs the installed Claude Code with no tools. Anthropic doesn't officially allow "
                           "third-party sign-in — a gray area.",
                           std::nullopt, "Use the installed Claude Code"));
  // The on-device model exists only on Apple's systems; the entry stays so
  // the list reads the same everywhere, with the reason it can't be picked.
  ProviderInfo apple = subscription("apple", "Apple Intelligence", "apple-on-device",
                                    {"apple-on-device", "apple-private-cloud"},
                                    "Apple's Foundation Models: free, no key. They run only on a Mac.", std::nullopt,
                                    std::nullopt);
  apple.unavailable = "Apple Intelligence isn't available on this machine.";
  c.push_back(std::move(apple));

  ProviderInfo grok = subscription("grok-subscription", "Grok (SuperGrok / X Premium+)", "", {},
                                   "xAI opens subscription sign-in only to partners (Hermes, OpenClaw). For now, "
                                   "connect Grok with an xAI API key.",
                                   std::nullopt, std::nullopt);
  grok.unavailable = grok.note;
  c.push_back(std::move(grok));
  ProviderInfo gemini = subscription("gemini-subscription", "Gemini (Google AI Pro / Ultra)", "", {},
                                     "A Google AI subscription doesn't cover the API. Connect Gemini with a key from "
                                     "Google AI Studio.",
                                     std::nullopt, std::nullopt);
  gemini.unavailable = gemini.note;
  c.push_back(std::move(gemini));
  return c;
}

}  // namespace

const std::vector<ProviderInfo>& providerCatalog() {
  static const std::vector<ProviderInfo> catalog = buildCatalog();
  return catalog;
}

const ProviderInfo* findProvider(std::string_view id) {
  for (const auto& p : providerCatalog())
    if (p.id == id) return &p;
  return nullptr;
}

bool providerTakesJsonMode(std::string_view id) {
  // Anthropic's compatibility layer and LM Studio refuse or ignore the
  // json_object form; the prompt asks for JSON there instead.
  return id != "anthropic" && id != "lmstudio";
}

LLMEndpoints LLMEndpoints::defaults() {
  LLMEndpoints e;
  e.providerBase = {
      {"deepseek", "https://api.deepseek.com"},
      {"openai", "https://api.openai.com/v1"},
      {"anthropic", "https://api.anthropic.com/v1"},
      {"xai", "https://api.x.ai/v1"},
      {"gemini", "https://generativelanguage.googleapis.com/v1beta/openai"},
      {"ollama", "http://127.0.0.1:11434/v1"},
      {"lmstudio", "http://127.0.0.1:1234/v1"},
  };
  e.openRouter = "https://openrouter.ai";
  e.chatgptBackend = "https://chatgpt.com";
  e.openaiAuth = "https://auth.openai.com";
  return e;
}

std::string LLMEndpoints::baseURL(const std::string& id) const {
  auto it = providerBase.find(id);
  return it == providerBase.end() ? std::string() : it->second;
}

}  // namespace orwenna
