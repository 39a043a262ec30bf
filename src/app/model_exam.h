// A fixed exam that scores a model on reading chat messages: each question is
// a message with its ideal reading; the router reads every message without
// lookups and the passes are counted. Thread-safe as values; `run` blocks.
#pragma once

#include <string>
#include <vector>

#include "base/clock.h"
#include "base/json.h"
#include "router/chat_router.h"

namespace orwenna::ModelExam {

struct Question {
  std::string message;
  ChatRouter::Route ideal;
  // Other readings that count as right (a chat reply's wording never has to match).
  std::vector<ChatRouter::Route> passes;
};

struct Result {
  int passed = 0;
  int total = 0;
  double seconds = 0;  // wall time of the whole run, not money
  std::vector<std::string> misses;  // the messages read wrong
  Json toJson() const;
};

const std::vector<Question>& questions();
// True when `reading` is the ideal or one of the passes; chat and clarify
// routes match on the kind alone.
[[nodiscard]] bool passes(const Question& question, const ChatRouter::Route& route);
Result run(const ChatRouter::Ask& ask, const Clock& clock, const std::vector<Question>& exam = questions());

}  // namespace orwenna::ModelExam
