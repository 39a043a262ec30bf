// Credentials and their stored form, PKCE, the catalog, display names.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <set>

#include "base/files.h"
#include "llm/catalog.h"
#include "llm/clients.h"
#include "llm/llm.h"
#include "llm/providers.h"
#include "llm/llm_test_support.h"
#include "platform/credential_store.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

using testing::ScriptedRandom;
using testing::TempDir;

TEST(Credential, JsonFormsAreExactAndRoundTrip) {
  OAuthTokens withAccount{"acc", "ref", 1796541540000, std::string("acct-1")};
  OAuthTokens withoutAccount{"acc2", "ref2", 1796541541000, std::nullopt};
  struct Case {
    Credential credential;
    std::string json;
  } cases[] = {
      {Credential::apiKey("sk-1"), R"({"apiKey":{"_0":"sk-1"}})"},
      {Credential::oauth(withAccount),
       R"({"oauth":{"_0":{"access":"acc","refresh":"ref","expires":"2026-12-06T07:19:00Z","accountID":"acct-1"}}})"},
      {Credential::oauth(withoutAccount),
       R"({"oauth":{"_0":{"access":"acc2","refresh":"ref2","expires":"2026-12-06T07:19:01Z"}}})"},
      {Credential::external("/home/u/.codex/auth.json"), R"({"external":{"path":"/home/u/.codex/auth.json"}})"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.credential.toJson().dump(), c.json);
    EXPECT_EQ(Credential::fromJson(*parseJson(c.json)), c.credential) << c.json;
  }
  // A null account id reads as none.
  auto nullAccount = parseJson(R"({"oauth":{"_0":{"access":"a","refresh":"r","expires":"2026-12-06T07:19:00Z","accountID":null}}})");
  EXPECT_FALSE(Credential::fromJson(*nullAccount).oauthValue()->accountID);
}

TEST(Credential, DecodingRefusesMalformedForms) {
  const std::string keys = "Invalid number of keys found, expected one.";
  struct Case {
    const char* json;
    std::string message;
  } cases[] = {
      {R"({})", keys},
      {R"({"apiKey":{"_0":"k"},"external":{"path":"/x"}})", keys},
      {R"([])", keys},
      {R"({"apiKey":{}})", keys},
      {R"({"apiKey":{"_0":"k","_1":"j"}})", keys},
      {R"({"apiKey":{"_0":5}})", "Field \"_0\" is not a string"},
      {R"({"password":{"_0":"k"}})", "Unknown credential kind \"password\""},
      {R"({"oauth":{"_0":{"access":"a","refresh":"r","expires":"tomorrow"}}})", "Field \"expires\" is not a date"},
      {R"({"oauth":{"_0":{"access":"a","expires":"2026-12-06T07:19:00Z"}}})", "Missing field \"refresh\""},
  };
  for (const auto& c : cases) {
    try {
      (void)Credential::fromJson(*parseJson(c.json));
      ADD_FAILURE() << "accepted " << c.json;
    } catch (const JsonShapeError& e) {
      EXPECT_EQ(std::string(e.what()), c.message) << c.json;
    }
  }
}

TEST(PKCE, MatchesThePublishedS256Example) {
  Json vectors = testing::loadTestJson("pkce_rfc7636.json");
  for (const auto& v : vectors["valid"]) {
    std::vector<std::uint8_t> octets = v["octets"].get<std::vector<std::uint8_t>>();
    ScriptedRandom random(octets);
    PKCE made = PKCE::make(random);
    EXPECT_EQ(made.verifier, v["verifier"].get<std::string>());
    EXPECT_EQ(made.challenge, v["challenge"].get<std::string>());
    EXPECT_EQ(PKCE::fromVerifier(v["verifier"]).challenge, v["challenge"].get<std::string>());
  }
  for (const auto& v : vectors["invalid"]) {
    EXPECT_NE(PKCE::fromVerifier(v["verifier"]).challenge, v["challenge"].get<std::string>()) << v["comment"];
  }
}

TEST(PromptCacheKey, IsFnv1a64InBase36) {
  Json vectors = testing::loadTestJson("fnv1a64.json");
  for (const auto& v : vectors["valid"])
    EXPECT_EQ(promptCacheKey(v["input"].get<std::string>()), "orwenna-" + v["base36"].get<std::string>());
  for (const auto& v : vectors["invalid"])
    EXPECT_NE(promptCacheKey(v["input"].get<std::string>()), "orwenna-" + v["base36"].get<std::string>());
}

TEST(ModelDisplayName, BuildsMenuLabels) {
  struct Case {
    const char* id;
    const char* label;
  } cases[] = {
      {"deepseek/deepseek-v4.1-flash", "DeepSeek V4.1 Flash"},
      {"gpt-6.1-sol", "GPT 6.1 SOL"},
      {"claude-opus-5-5", "Claude Opus 5.5"},
      {"x-ai/grok-4.7", "Grok 4.7"},
      {"gemma4:26b", "Gemma4:26b"},
      {"apple-on-device", "Apple on Device"},
      {"nemotron-3-super:120b", "Nemotron 3 Super:120b"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(modelDisplayName(c.id), c.label) << c.id;
}

TEST(Catalog, EntriesAreUniqueAndConsistent) {
  std::set<std::string> ids;
  for (const auto& p : providerCatalog()) EXPECT_TRUE(ids.insert(p.id).second) << "two entries for " << p.id;
  for (const auto& p : providerCatalog()) {
    EXPECT_EQ(p.takesKey, p.kind == ProviderKind::apiKey) << p.id;
    if (!p.defaultModel.empty() && p.id != "chatgpt") {
      EXPECT_NE(std::find(p.models.begin(), p.models.end(), p.defaultModel), p.models.end()) << p.id;
    }
  }
  EXPECT_EQ(findProvider("apple")->unavailable, "Apple Intelligence isn't available on this machine.");
  EXPECT_EQ(findProvider("gemini-subscription")->unavailable,
            "A Google AI subscription doesn't cover the API. Connect Gemini with a key from Google AI Studio.");
  EXPECT_TRUE(findProvider("grok-subscription")->unavailable.has_value());
  EXPECT_EQ(findProvider("chatgpt")->signInLabel, "Sign in with ChatGPT");
  EXPECT_EQ(findProvider("chatgpt")->existingLoginLabel, "Use the Codex CLI login");
  EXPECT_FALSE(findProvider("claude-code")->signInLabel);
}

// Paths are appended to these roots, so none may end in a slash.
TEST(Endpoints, DefaultsHaveNoTrailingSlashes) {
  LLMEndpoints e = LLMEndpoints::defaults();
  EXPECT_EQ(e.baseURL("chatgpt"), "");  // not an API-key or local provider
  EXPECT_EQ(e.openRouterAPI(), "https://openrouter.ai/api/v1");
  for (const auto& [id, base] : e.providerBase) EXPECT_FALSE(base.ends_with("/")) << id;
  EXPECT_FALSE(e.chatgptBackend.ends_with("/"));
  EXPECT_FALSE(e.openaiAuth.ends_with("/"));
}

TEST(LLMCredentials, KeepsOneEntryPerProviderInAPrivateFile) {
  TempDir dir;
  auto file = dir.path() / "config" / "credentials.json";
  {
    FileCredentialStore store(file);
    LLMCredentials credentials(store);
    EXPECT_FALSE(credentials.load("openai"));
    credentials.save("openai", Credential::apiKey("sk-one"));
    credentials.save("claude-code", Credential::external("/usr/bin/claude"));
    credentials.save("openai", Credential::apiKey("sk-two"));  // replaces
    EXPECT_EQ(credentials.load("openai"), Credential::apiKey("sk-two"));
  }
  EXPECT_EQ(fileMode(file), std::optional<mode_t>(0600));
  auto stored = parseJson(*readFile(file));
  ASSERT_TRUE(stored);
  EXPECT_EQ((*stored)[kLLMCredentialService].size(), 2u);
  EXPECT_EQ((*stored)[kLLMCredentialService]["openai"].dump(), R"({"apiKey":{"_0":"sk-two"}})");

  // A fresh store reads what the last one wrote; delete removes one entry only.
  FileCredentialStore again(file);
  LLMCredentials credentials(again);
  EXPECT_EQ(credentials.load("claude-code"), Credential::external("/usr/bin/claude"));
  credentials.remove("openai");
  EXPECT_FALSE(credentials.load("openai"));
  EXPECT_FALSE(FileCredentialStore(file).load(kLLMCredentialService, "openai"));
  EXPECT_TRUE(FileCredentialStore(file).load(kLLMCredentialService, "claude-code"));
  std::filesystem::remove(file);  // read once, then answered from the cache
  EXPECT_EQ(credentials.load("claude-code"), Credential::external("/usr/bin/claude"));
}

TEST(LLMCredentials, UnreadableEntriesReadAsNone) {
  TempDir dir;
  auto file = dir.path() / "credentials.json";
  testing::writeText(file, R"({"app.orwenna.llm":{"openai":{"apiKey":{"_0":"k"},"oauth":{}},"xai":"nonsense"}})");
  FileCredentialStore store(file);
  LLMCredentials credentials(store);
  EXPECT_FALSE(credentials.load("openai"));
  EXPECT_FALSE(credentials.load("xai"));

  testing::writeText(file, "{not json");
  FileCredentialStore broken(file);
  EXPECT_FALSE(LLMCredentials(broken).load("openai"));
  // Saving over a broken file leaves a valid one behind.
  LLMCredentials(broken).save("openai", Credential::apiKey("k"));
  EXPECT_EQ(LLMCredentials(broken).load("openai"), Credential::apiKey("k"));
  EXPECT_TRUE(parseJson(*readFile(file)).has_value());
}

}  // namespace
}  // namespace orwenna
