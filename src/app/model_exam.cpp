#include "app/model_exam.h"

#include <algorithm>

namespace orwenna::ModelExam {

using R = ChatRouter::Route;

const std::vector<Question>& questions() {
  static const std::vector<Question> exam{
      {"купи SOL на 5 долларов", R::command("buy SOL for 5 USDC"), {}},
      {"send 5 USDC to Mom on hyperevm", R::command("send 5 USDC to Mom on hyperevm"), {}},
      {"покажи график эфира за неделю", R::command("chart ETH week"), {}},
      {"лонг биткоин, риск 5 долларов", R::command("long BTC risk $5"), {}},
      {"сколько у меня денег?", R::question(), {R::chat("")}},
      {"выведи всё из jupiter lend", R::command("withdraw all USDC from the vault"), {R::command("withdraw USDC from the vault")}},
      {"Jupiter DCA 100 USDC в SOL на 2 недели", R::command("Jupiter DCA 100 USDC into SOL over 2 weeks"), {}},
      {"закинь 3 доллара газа на base", R::command("gas on base for 3 USDC"), {}},
      {"какая завтра погода в Москве?", R::chat("I can't see the weather; I handle your crypto."), {}},
  };
  return exam;
}

bool passes(const Question& question, const ChatRouter::Route& route) {
  auto same = [&route](const R& want) {
    if (want.kind != route.kind) return false;
    if (want.kind == R::Kind::chat || want.kind == R::Kind::clarify) return true;
    return want.text == route.text;
  };
  return same(question.ideal) || std::any_of(question.passes.begin(), question.passes.end(), same);
}

Result run(const ChatRouter::Ask& ask, const Clock& clock, const std::vector<Question>& exam) {
  Result result;
  result.total = static_cast<int>(exam.size());
  std::int64_t start = clock.monotonicMillis();
  for (const Question& q : exam) {
    ChatRouter::Callbacks callbacks;
    callbacks.ask = ask;
    callbacks.lookup = [](const std::string&, const std::string&) { return std::string("Lookups aren't available here."); };
    bool right = false;
    try {
      ChatRouter::Context context = ChatRouter::Context::makeDefault(clock);
      right = passes(q, ChatRouter::read(q.message, context, callbacks).route);
    } catch (const ChatRouter::Unreadable&) {
    } catch (const ChatRouter::Error&) {
    }
    if (right) {
      ++result.passed;
    } else {
      result.misses.push_back(q.message);
    }
  }
  result.seconds = static_cast<double>(clock.monotonicMillis() - start) / 1000.0;
  return result;
}

Json Result::toJson() const {
  return Json{{"passed", passed}, {"total", total}, {"seconds", seconds}, {"misses", misses}};
}

}  // namespace orwenna::ModelExam
