#include "app/model_exam_results.h"

#include <fmt/format.h>

namespace orwenna::ModelExam {

namespace {

constexpr const char* kExamKey = "modelExam";

Json storedResults(const Defaults& defaults) {
  auto stored = defaults.value(kExamKey);
  return stored && stored->is_object() ? std::move(*stored) : Json::object();
}

}  // namespace

std::optional<Result> resultFromJson(const Json& json) {
  if (!json.is_object()) return std::nullopt;
  auto passed = json.find("passed"), total = json.find("total"), seconds = json.find("seconds");
  if (passed == json.end() || !passed->is_number_integer() || total == json.end() || !total->is_number_integer() ||
      seconds == json.end() || !seconds->is_number())
    return std::nullopt;
  Result r;
  r.passed = passed->get<int>();
  r.total = total->get<int>();
  r.seconds = seconds->get<double>();
  if (r.passed < 0 || r.total < r.passed) return std::nullopt;
  if (auto misses = json.find("misses"); misses != json.end() && misses->is_array())
    for (const auto& m : *misses)
      if (m.is_string()) r.misses.push_back(m.get<std::string>());
  return r;
}

std::string summary(const Result& result, Language language) {
  if (language == Language::russian)
    return fmt::format("{}/{} верно за {:.1f} с", result.passed, result.total, result.seconds);
  return fmt::format("{}/{} right in {:.1f} s", result.passed, result.total, result.seconds);
}

std::vector<Record> ResultStore::all() const {
  std::vector<Record> records;
  const Json stored = storedResults(defaults_);
  for (const auto& [provider, models] : stored.items()) {
    if (!models.is_object()) continue;
    for (const auto& [model, entry] : models.items()) {
      auto result = resultFromJson(entry);
      if (!result) continue;
      auto at = entry.find("at");
      std::int64_t when = at != entry.end() && at->is_number_integer() ? at->get<std::int64_t>() : 0;
      records.push_back({provider, model, std::move(*result), when});
    }
  }
  return records;
}

std::optional<Record> ResultStore::find(const std::string& provider, const std::string& model) const {
  for (auto& record : all())
    if (record.provider == provider && record.model == model) return std::move(record);
  return std::nullopt;
}

void ResultStore::save(const Record& record) const {
  Json stored = storedResults(defaults_);
  Json entry = record.result.toJson();
  entry["at"] = record.at;
  if (!stored[record.provider].is_object()) stored[record.provider] = Json::object();
  stored[record.provider][record.model] = std::move(entry);
  defaults_.setValue(kExamKey, std::move(stored), "the model exam's results");
}

}  // namespace orwenna::ModelExam
