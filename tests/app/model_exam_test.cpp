#include "app/model_exam.h"

#include <gtest/gtest.h>

namespace orwenna {
namespace {

struct StepClock final : Clock {
  mutable std::int64_t now = 0;
  std::int64_t nowMillis() const override { return 1'780'000'000'000; }
  std::int64_t monotonicMillis() const override { return now += 250; }
  void sleepFor(std::int64_t) override {}
};

TEST(ModelExamTest, EveryIdealCommandIsReadByAParser) {
  int commands = 0;
  for (const auto& q : ModelExam::questions()) {
    if (q.ideal.kind != ChatRouter::Route::Kind::command) continue;
    ++commands;
    EXPECT_TRUE(ChatRouter::canRun(q.ideal.text, {"BTC", "ETH", "SOL"})) << q.ideal.text;
  }
  EXPECT_GE(commands, 7);
}

TEST(ModelExamTest, ScoresAScriptedModel) {
  // The model answers each question ideally, except the weather one (a command)
  // and the gas one (prose, four times over).
  ChatRouter::Ask ask = [](const std::vector<LLMMessage>& messages, bool, const PartialText&) -> std::string {
    const std::string& block = messages.at(1).text;
    std::string message = block.substr(block.rfind("Message: ") + 9);
    if (message.find("погода") != std::string::npos) return R"({"route":"command","command":"buy SOL"})";
    if (message.find("газа") != std::string::npos) return "I'd top up gas.";
    for (const auto& q : ModelExam::questions()) {
      if (q.message != message) continue;
      Json answer{{"route", std::string(routeName(q.ideal.kind))}};
      if (q.ideal.kind == ChatRouter::Route::Kind::command) answer["command"] = q.ideal.text;
      if (q.ideal.kind == ChatRouter::Route::Kind::chat) answer["reply"] = "Something else entirely.";
      return answer.dump();
    }
    return "?";
  };
  StepClock clock;
  auto result = ModelExam::run(ask, clock);
  EXPECT_EQ(result.total, static_cast<int>(ModelExam::questions().size()));
  EXPECT_EQ(result.passed, result.total - 2);
  EXPECT_EQ(result.misses, (std::vector<std::string>{"закинь 3 доллара газа на base", "какая завтра погода в Москве?"}));
  EXPECT_DOUBLE_EQ(result.seconds, 0.25);
  EXPECT_EQ(result.toJson().at("misses").size(), 2u);
}

}  // namespace
}  // namespace orwenna
