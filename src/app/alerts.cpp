#include "app/alerts.h"

#include <algorithm>
#include <set>

#include "app/file_writer.h"
#include "base/files.h"
#include "base/log.h"
#include "base/text.h"
#include "trading/fmt.h"
#include "trading/risk_calc.h"

namespace orwenna {

namespace {

constexpr const char* kAlertsFile = "alerts.json";

std::vector<PriceAlert> parseAlertList(std::string_view text) {
  auto json = parseJson(text);
  if (!json || !json->is_array()) throw JsonShapeError("alerts.json is not a list of alerts");
  std::vector<PriceAlert> out;
  for (const auto& item : *json) out.push_back(PriceAlert::fromJson(item));
  return out;
}

std::string alertSideWord(bool above, Language language) {
  if (language == Language::russian) return above ? "выше" : "ниже";
  return above ? "above" : "below";
}

}  // namespace

Json PriceAlert::toJson() const {
  Json j{{"id", id}, {"coin", coin}, {"above", above}, {"price", price}, {"created", iso8601(created)}};
  if (steps) j["steps"] = *steps;
  if (plan) j["plan"] = *plan;
  if (untrusted) j["untrusted"] = *untrusted;
  return j;
}

PriceAlert PriceAlert::fromJson(const Json& json) {
  if (!json.is_object()) throw JsonShapeError("A price alert is not an object");
  PriceAlert a;
  a.id = requireString(json, "id");
  a.coin = requireString(json, "coin");
  a.above = requireBool(json, "above");
  a.price = requireDecimal(json, "price");
  auto created = parseIso8601(requireString(json, "created"));
  if (!created) throw JsonShapeError("Field \"created\" is not a time");
  a.created = *created;
  if (json.contains("steps")) {
    const Json& s = json.at("steps");
    if (!s.is_array()) throw JsonShapeError("Field \"steps\" is not a list");
    a.steps.emplace();
    for (const auto& step : s) {
      if (!step.is_string()) throw JsonShapeError("Field \"steps\" holds a non-string");
      a.steps->push_back(step.get<std::string>());
    }
  }
  a.plan = optionalString(json, "plan");
  if (json.contains("untrusted")) a.untrusted = requireBool(json, "untrusted");
  return a;
}

std::string firedTitle(const PriceAlert& alert) { return "🔔 " + alert.coin; }

std::string firedText(const PriceAlert& alert, const Decimal& mark, Language language) {
  if (language == Language::russian) {
    return alert.coin + " " + alertSideWord(alert.above, language) + " " + priceText(alert.price) + ": сейчас " +
           priceText(mark) + ". Алерт сработал; поставь новый, когда захочешь.";
  }
  return alert.coin + " is " + alertSideWord(alert.above, language) + " " + priceText(alert.price) + ": now " +
         priceText(mark) + ". The alert is done; set another any time.";
}

PriceAlerts::PriceAlerts(std::filesystem::path dataDir, Clock& clock, Random& random)
    : dataDir_(std::move(dataDir)), clock_(clock), random_(random) {
  // The stamp before the read: a write landing in between (another process
  // firing or removing) is then seen as a change at the next look, never
  // taken for the version we hold.
  seen_ = FileStamp::of(dataDir_ / kAlertsFile);
  StoredText stored = loadStored(dataDir_, kAlertsFile, clock_.nowMillis(),
                                 [](std::string_view t) { (void)parseAlertList(t); });
  if (stored.text) alerts_ = parseAlertList(*stored.text);
  held_ = stored.held;
  loadNotice_ = stored.notice;
}

void PriceAlerts::refreshLocked() const {
  if (held_) return;
  const std::filesystem::path file = dataDir_ / kAlertsFile;
  const std::optional<FileStamp> now = FileStamp::of(file);
  if (now == seen_) return;
  seen_ = now;
  if (!now) {
    alerts_.clear();  // removed by another process
    return;
  }
  try {
    alerts_ = parseAlertList(readFile(file).value_or("[]"));
  } catch (const std::exception& e) {
    // What we hold stays; the next good version is read again.
    log::warn("alerts.json changed but can't be read: {}", e.what());
  }
}

std::vector<PriceAlert> PriceAlerts::all() const {
  std::lock_guard lock(mutex_);
  refreshLocked();
  return alerts_;
}

bool PriceAlerts::empty() const {
  std::lock_guard lock(mutex_);
  refreshLocked();
  return alerts_.empty();
}

std::vector<std::string> PriceAlerts::coins() const {
  std::lock_guard lock(mutex_);
  refreshLocked();
  std::set<std::string> seen;
  for (const auto& a : alerts_) seen.insert(a.coin);
  return {seen.begin(), seen.end()};
}

void PriceAlerts::saveLocked() {
  if (held_) {
    log::warn("alerts.json could not be set aside; the alerts are kept in memory only");
    return;
  }
  Json list = Json::array();
  for (const auto& a : alerts_) list.push_back(a.toJson());
  try {
    writeFileAtomically(dataDir_ / kAlertsFile, list.dump(2) + "\n");
    seen_ = FileStamp::of(dataDir_ / kAlertsFile);
  } catch (const std::exception& e) {
    log::warn("alerts.json: {}", e.what());
  }
}

std::string PriceAlerts::set(const SetRequest& request, Language language) {
  const bool ru = language == Language::russian;
  const AlertCommand::set& c = request.command;
  if (request.unpreparable) {
    return ru ? "Алерт поставить могу, но «" + *request.unpreparable + "» orwenna пока не умеет — ничего не поставлено."
              : "I can set the alert, but orwenna can’t do “" + *request.unpreparable + "” yet — nothing was set.";
  }
  if (!request.mark || !request.mark->isPositive()) {
    return ru ? "Сейчас нет цены " + c.coin + " — попробуй чуть позже."
              : "No price for " + c.coin + " right now — try again in a moment.";
  }
  const Decimal& mark = *request.mark;
  const bool above = c.above.value_or(c.price > mark);
  if (above ? mark >= c.price : mark <= c.price) {
    return ru ? c.coin + " уже " + alertSideWord(above, language) + " " + priceText(c.price) + ": сейчас " + priceText(mark) + "."
              : c.coin + " is already " + alertSideWord(above, language) + " " + priceText(c.price) + ": now " +
                    priceText(mark) + ".";
  }
  PriceAlert alert;
  alert.id = makeUuid(random_);
  alert.coin = c.coin;
  alert.above = above;
  alert.price = c.price;
  alert.created = clock_.nowMillis();
  if (!c.steps.empty()) alert.steps = c.steps;
  if (request.plan && c.steps.empty()) alert.plan = request.plan;
  if (request.untrusted) alert.untrusted = true;
  {
    std::lock_guard lock(mutex_);
    DataLock files(dataDir_);
    refreshLocked();
    alerts_.push_back(alert);
    saveLocked();
  }
  const std::string level = priceText(c.price);
  if (alert.plan) {
    // mark > 0 was checked above.
    const Decimal distance = (c.price - mark).abs() / mark * Decimal(100);
    const std::string pct = Fmt::num(distance, 2);
    return ru ? "🔔 Добавил в план первым шагом: когда " + c.coin + " будет " + alertSideWord(above, language) + " " + level +
                    " (сейчас " + pct + "% до уровня), этот план придёт тебе на подтверждение — со всеми правками, "
                    "что внесёшь до тех пор."
              : "🔔 Added to the plan as its first step: when " + c.coin + " is " + alertSideWord(above, language) + " " +
                    level + " (now " + pct + "% away), this plan comes back to you to confirm, with any changes you "
                    "make to it until then.";
  }
  std::string out = ru ? "🔔 Алерт поставлен: " + c.coin + " " + alertSideWord(above, language) + " " + level + " (сейчас " +
                             priceText(mark) + "). Проверяю каждые 10 с, пока orwenna работает."
                       : "🔔 Alert set: " + c.coin + " " + alertSideWord(above, language) + " " + level + " (now " +
                             priceText(mark) + "). Checked every 10 s while orwenna is running.";
  if (alert.steps) {
    const std::string joined = text::join(*alert.steps, ", then ");
    out += ru ? " Тогда подготовлю «" + joined + "» и пришлю на подтверждение."
              : " Then I’ll prepare “" + joined + "” and send it to you to confirm.";
  }
  return out;
}

std::string PriceAlerts::clear(Language language) {
  std::size_t n = 0;
  {
    std::lock_guard lock(mutex_);
    DataLock files(dataDir_);
    refreshLocked();
    n = alerts_.size();
    if (n > 0) {
      alerts_.clear();
      saveLocked();
    }
  }
  const bool ru = language == Language::russian;
  if (n == 0) return ru ? "Алертов не было." : "There were no price alerts.";
  return ru ? "Алерты удалены (" + std::to_string(n) + ")."
            : "Price alerts cleared (" + std::to_string(n) + ").";
}

bool PriceAlerts::remove(const std::string& id) {
  std::lock_guard lock(mutex_);
  DataLock files(dataDir_);
  refreshLocked();
  auto it = std::find_if(alerts_.begin(), alerts_.end(), [&](const PriceAlert& a) { return a.id == id; });
  if (it == alerts_.end()) return false;
  alerts_.erase(it);
  saveLocked();
  return true;
}

std::vector<PriceAlerts::Fired> PriceAlerts::check(const MarkRead& marks, std::int64_t nowMonotonic) {
  std::vector<Fired> out;
  if (marks.marks.empty() || nowMonotonic - marks.readAt > kStaleAfterMillis) return out;
  std::lock_guard lock(mutex_);
  // Another process may have fired (or the user removed) one since our last look.
  DataLock files(dataDir_);
  refreshLocked();
  for (const auto& a : alerts_) {
    auto m = marks.marks.find(a.coin);
    if (m == marks.marks.end() || !m->second.isPositive()) continue;
    if (a.above ? m->second >= a.price : m->second <= a.price) out.push_back(Fired{a, m->second});
  }
  if (out.empty()) return out;
  // In memory first: a failed save must not fire it again.
  std::erase_if(alerts_, [&](const PriceAlert& a) {
    return std::any_of(out.begin(), out.end(), [&](const Fired& f) { return f.alert.id == a.id; });
  });
  saveLocked();
  return out;
}

}  // namespace orwenna
