// The second check: an independent hosted classifier, reached through
// OpenRouter's decisions endpoint, that answers one multiple-choice question
// with a confidence. It reviews a command against the user's message, a plan
// against the user's messages, the signatures of a plan, a site's Solana
// transaction, and (for InjectionGuard) whether outside text tries to steer
// the assistant. It never blocks on its own; the code checks decide.
//
// The key and OpenRouter's root come from the caller; nothing here reads the
// environment. Without a key the check is off. Any failure or time-out is a SecondCheckError that
// callers show as "didn't answer". The key is sent only in the Authorization
// header and never logged. Thread-safe when the HttpClient is.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "base/http.h"
#include "base/json.h"
#include "guards/tx_guard.h"

namespace orwenna {

class SecondCheckError : public Error {
 public:
  explicit SecondCheckError(const std::string& message) : Error(message) {}
  std::string message() const { return what(); }
};

class SecondCheckClassifier final : public InjectionClassifier {
 public:
  struct Answer {
    std::string choice;
    double confidence = 0;  // 0…1
  };
  struct Reply {
    std::map<std::string, Answer> answers;
  };

  static constexpr std::string_view kModel = "typesafe/jev-1.13";
  static constexpr std::string_view kPath = "/api/alpha/decisions";
  static constexpr std::string_view kDefaultRoot = "https://openrouter.ai";
  static constexpr std::string_view kName = "The second check";
  static constexpr std::chrono::milliseconds kTimeout{15000};

  // `apiKey` absent or empty: the check is off. `root` is OpenRouter's root
  // (trailing slashes are dropped); the caller passes the one it resolved
  // (ORWENNA_OPENROUTER_API at the wiring root), else the public one.
  SecondCheckClassifier(HttpClient& http, std::optional<std::string> apiKey, std::string root = std::string(kDefaultRoot),
                std::chrono::milliseconds timeout = kTimeout);

  [[nodiscard]] bool connected() const { return apiKey_.has_value(); }
  std::string name() const override { return std::string(kName); }
  bool available() const override { return connected(); }

  // The request body for one question keyed "answer".
  static Json requestBody(const Json& state, std::string_view instructions, const Json& criteria);
  // Reads the "answer" entry; fails with "unexpected reply: " + body.
  [[nodiscard]] static Reply parseReply(const std::string& body);

  // Asks one question. The chosen choice must be one of `criteria`'s keys.
  // REQUIRES: connected(). Throws SecondCheckError ("HTTP " + status,
  // "unexpected reply: " + body, or the transport's sentence).
  Answer decide(const Json& state, std::string_view instructions, const Json& criteria) const;

  // The outside-text question: "data", "instructions" or "payment_redirect".
  Label classify(std::string_view text, std::string_view source) const override;

 private:
  HttpClient& http_;
  std::optional<std::string> apiKey_;
  std::string root_;
  std::chrono::milliseconds timeout_;
};

struct SecondCheckReview {
  enum class Kind { command, plan, signatures, site };

  std::string label;
  double confidence = 0;
  bool concern = false;
  std::string text;  // the sentence shown to the user

  static constexpr std::string_view kNotConnected =
      "The second check isn't connected (Settings › Second check). The code checks decide.";
  static constexpr std::string_view kNoAnswer = "The second check didn't answer — the code checks decide.";

  struct Question {
    std::vector<std::string> stateKeys;
    std::vector<std::string> choices;  // the good one first
    std::string instructions;
    Json criteria;                      // choice → description, in choice order
    std::vector<std::string> texts;     // per choice, without the final "."
  };
  static const Question& question(Kind kind);

  // The state object from values given in the order of the question's state
  // keys (strings, lists or objects, as the caller renders them).
  // REQUIRES: values.size() == question(kind).stateKeys.size().
  static Json state(Kind kind, const std::vector<Json>& values);

  // A non-good choice below 0.5 confidence counts as the good one.
  [[nodiscard]] static SecondCheckReview interpret(Kind kind, const SecondCheckClassifier::Answer& answer);

  // Asks and interprets. Throws SecondCheckError on any failure.
  static SecondCheckReview run(const SecondCheckClassifier& classifier, Kind kind, const std::vector<Json>& values);
};

}  // namespace orwenna
