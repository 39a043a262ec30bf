#include "language/chat_words.h"

#include <algorithm>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/regex.h"
#include "base/text.h"

namespace orwenna::ChatWords {
namespace {

using WordSet = std::unordered_set<std::string_view>;

std::vector<std::string> words(std::string_view lower) {
  static const Regex word(R"([\p{L}\p{N}'’]+)");
  std::vector<std::string> out;
  for (const RegexMatch& m : word.allMatches(lower)) out.emplace_back(m.whole());
  return out;
}

bool hasQuestionMark(std::string_view text) {
  return text.find('?') != std::string_view::npos || text.find("¿") != std::string_view::npos;
}

bool contains(const WordSet& set, const std::string& w) { return set.count(w) > 0; }

const WordSet& yesWords() {
  static const WordSet set = {
      "делай", "делаем", "да", "давай", "подтверждаю", "подтверди", "раскладывай", "го", "гоу", "погнали", "поехали",
      "жми", "подписывай", "подписываю", "запускай", "ок", "окей", "ага", "угу", "согласен", "согласна", "do",
      "go", "yes", "confirm", "confirmed", "sign", "ok", "okay", "yep", "yeah", "sure", "proceed", "sí", "si",
      "dale", "hazlo", "confirmo", "adelante", "vale", "claro", "acuerdo"};
  return set;
}

const WordSet& yesFillers() {
  static const WordSet set = {"это", "его", "её", "ее", "сделай", "сейчас", "теперь", "пожалуйста", "плиз", "так",
                              "ну", "и", "вперёд", "вперед", "конечно", "хорошо", "it", "this", "that", "now",
                              "please", "pls", "ahead", "let's", "let’s", "lets", "let", "us", "and", "then",
                              "just", "de", "por", "favor", "ya", "lo"};
  return set;
}

const WordSet& negations() {
  static const WordSet set = {"не", "нет", "ни", "no", "not", "never", "nope", "nah", "don't", "don’t", "dont"};
  return set;
}

const WordSet& cancelWords() {
  static const WordSet set = {"нет", "неа", "отмена", "отмени", "отменяй", "отменить", "стоп", "передумал",
                              "передумала", "забей", "забудь", "cancel", "stop", "nevermind", "never", "forget",
                              "nvm", "no", "nope", "abort", "cancela", "cancelar", "olvídalo", "olvidalo",
                              "déjalo", "dejalo"};
  return set;
}

const WordSet& cancelFillers() {
  static const WordSet set = {"не", "надо", "нужно", "ну", "всё", "все", "это", "его", "её", "ее", "пожалуйста",
                              "я", "давай", "лучше", "пока", "так", "it", "that", "this", "please", "mind", "i",
                              "changed", "my", "actually", "lo", "mejor", "no"};
  return set;
}

}  // namespace

bool isYes(std::string_view message) {
  if (hasQuestionMark(message)) return false;
  std::vector<std::string> ws = words(text::lowercased(message));
  bool yes = false;
  for (const std::string& w : ws) {
    if (contains(negations(), w)) return false;
    if (contains(yesWords(), w)) {
      yes = true;
    } else if (!contains(yesFillers(), w)) {
      return false;
    }
  }
  return yes;
}

bool isCancel(std::string_view message) {
  if (hasQuestionMark(message)) return false;
  std::string lower = text::lowercased(message);
  static const Regex negated(R"((?:^|[^\p{L}'’])(?:не|not|never|don['’]?t|dont)\s+([\p{L}'’]+))");
  for (const RegexMatch& m : negated.allMatches(lower)) {
    if (contains(cancelWords(), std::string(*m.group(1)))) return false;
  }
  static const Regex whole(
      R"(\s*(?:no|nope|cancel|stop|нет|не\s+надо|отмена|отмени\w*|стоп|nein|abbrechen|non|annuler|cancelar|cancela|no\s+gracias|déjalo|dejalo|olvídalo|olvidalo|detente|para|não|nao|nie|anuluj)[.!\s]*)");
  if (whole.matchesWhole(lower)) return true;
  bool cancel = false;
  for (const std::string& w : words(lower)) {
    if (contains(cancelWords(), w)) {
      cancel = true;
    } else if (!contains(cancelFillers(), w)) {
      return false;
    }
  }
  return cancel;
}

bool changeWords(std::string_view message) {
  std::string lower = text::lowercased(message);
  if (std::any_of(lower.begin(), lower.end(), [](char c) { return c >= '0' && c <= '9'; })) return true;
  static const Regex re(
      R"((?:^|[^\p{L}])(?:добав|ещё|еще|удво|вдвое|половин|полтин|четверт|треть|сотн|сотк|сотен|тысяч|косар|двест|трист|четырест|пятьсот|шестьсот|семьсот|восемьсот|девятьсот|миллион|побольше|поменьше|больше|меньше|увелич|уменьш|один|одну|два|две|три|четыре|пять|шесть|семь|восемь|девять|десять|двадцат|тридцат|сорок|пятьдесят|шестьдесят|семьдесят|восемьдесят|девяност|сто(?!\p{L})|(?:add|another|double|twice|triple|half|halve|quarter|two|three|four|five|six|seven|eight|nine|ten|eleven|twelve|twenty|thirty|forty|fifty|sixty|seventy|eighty|ninety|hundred|thousand|grand|million|increase|decrease|bigger|smaller)(?!\p{L})))");
  return re.matches(lower);
}

}  // namespace orwenna::ChatWords
