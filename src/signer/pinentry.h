// Approval prompts. `Prompter` asks the user to confirm what is about to be
// signed or to type the passphrase; `PinentryPrompter` does it through a
// pinentry program speaking Assuan as gpg drives it (SETTITLE, SETDESC,
// SETPROMPT, then GETPIN or CONFIRM, then BYE), one program run per prompt.
// Every prompt ends within its time limit: an unanswered one kills the
// program and reads as timed out.
//
// A prompter is used by one prompt at a time (the service serialises them).
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orwenna {

struct PromptText {
  std::string title;
  std::string description;  // what is signed, built from the re-derived data
  std::string prompt;       // the label in front of the passphrase field
  std::string repeat = {};  // when set, a new passphrase is typed twice (SETREPEAT)
};

struct PromptAnswer {
  enum class Outcome { approved, declined, timedOut, failed };
  Outcome outcome = Outcome::failed;
  std::string pin;    // GETPIN only; wiped when the answer goes away
  std::string error;  // `failed`: why the prompt could not be shown

  PromptAnswer() = default;
  PromptAnswer(Outcome outcome, std::string pin = {}, std::string error = {})
      : outcome(outcome), pin(std::move(pin)), error(std::move(error)) {}
  // Moves copy the PIN and wipe the source, so no short-string buffer keeps it.
  PromptAnswer(PromptAnswer&& other) noexcept;
  PromptAnswer& operator=(PromptAnswer&& other) noexcept;
  PromptAnswer(const PromptAnswer&) = delete;
  PromptAnswer& operator=(const PromptAnswer&) = delete;
  ~PromptAnswer();
};

class Prompter {
 public:
  virtual ~Prompter() = default;
  virtual PromptAnswer confirm(const PromptText& text) = 0;
  virtual PromptAnswer passphrase(const PromptText& text) = 0;
};

// Assuan's escaping of a command argument: "%", CR and LF as %25, %0D, %0A.
std::string assuanEscape(std::string_view text);
// The inverse, for "D" data lines; nothing for a malformed escape.
[[nodiscard]] std::optional<std::string> assuanUnescape(std::string_view text);

class PinentryPrompter final : public Prompter {
 public:
  static constexpr std::chrono::seconds kTimeLimit{120};

  // `environment` is handed to the program as it is ("NAME=value"). An empty
  // `program` makes every prompt fail with the advice to install one.
  PinentryPrompter(std::filesystem::path program, std::vector<std::string> environment,
                   std::chrono::milliseconds timeLimit = kTimeLimit);

  // ORWENNA_PINENTRY, else `pinentry` on PATH; nothing when neither exists.
  [[nodiscard]] static std::optional<std::filesystem::path> locate();

  PromptAnswer confirm(const PromptText& text) override;
  PromptAnswer passphrase(const PromptText& text) override;

 private:
  PromptAnswer run(const PromptText& text, bool wantPin);

  std::filesystem::path program_;
  std::vector<std::string> environment_;
  std::chrono::milliseconds timeLimit_;
};

}  // namespace orwenna
