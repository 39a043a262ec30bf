// The model exam's results, kept per provider and model so the model picker
// and `orwenna models` can show how well each model reads.
//
// Stored in defaults.json under "modelExam" as {provider: {model: result}},
// the result's keys as ModelExam::Result writes them plus "at" (milliseconds
// since 1970); the settings file is rewritten atomically by Defaults. A newer
// run of the same model replaces the older one. Entries that cannot be read
// are skipped, never fatal. Thread-safe as Defaults is.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/model_exam.h"
#include "base/json.h"
#include "base/language.h"
#include "platform/defaults.h"

namespace orwenna::ModelExam {

struct Record {
  std::string provider;
  std::string model;
  Result result;
  std::int64_t at = 0;  // when the exam ran, milliseconds since 1970
};

// Nothing when `json` lacks the counts or holds them with the wrong types.
[[nodiscard]] std::optional<Result> resultFromJson(const Json& json);

// "7/9 right in 12.4 s" (Russian: "7/9 верно за 12.4 с").
std::string summary(const Result& result, Language language = Language::english);

class ResultStore {
 public:
  explicit ResultStore(Defaults defaults) : defaults_(std::move(defaults)) {}

  // Every stored record, by provider then model.
  std::vector<Record> all() const;
  [[nodiscard]] std::optional<Record> find(const std::string& provider, const std::string& model) const;
  // Throws FileError when the settings file cannot be written.
  void save(const Record& record) const;

 private:
  Defaults defaults_;
};

}  // namespace orwenna::ModelExam
