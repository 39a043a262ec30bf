// The exam's results kept per provider and model in defaults.json: a newer run
// replaces the older one, other models and other settings stay, and entries
// that can't be read are skipped.
#include "app/model_exam_results.h"

#include <gtest/gtest.h>

#include "base/files.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

using ModelExam::Record;
using ModelExam::ResultStore;

ModelExam::Result scored(int passed, double seconds, std::vector<std::string> misses = {}) {
  ModelExam::Result r;
  r.passed = passed;
  r.total = 9;
  r.seconds = seconds;
  r.misses = std::move(misses);
  return r;
}

TEST(ModelExamResults, KeptPerProviderAndModel) {
  testing::TempDir dir;
  const Defaults defaults(dir.path() / "defaults.json");
  defaults.setValue("riskPolicy", Json{{"maxRisk", "2"}}, "the risk policy");
  ResultStore store(defaults);
  EXPECT_TRUE(store.all().empty());

  store.save({"ollama", "gemma4:12b", scored(5, 40.5, {"какая завтра погода в Москве?"}), 1000});
  store.save({"ollama", "gemma4:31b", scored(8, 90), 2000});
  store.save({"openai", "gpt-6.1-sol", scored(9, 12.26), 3000});
  store.save({"ollama", "gemma4:12b", scored(6, 38), 4000});

  auto again = ResultStore(Defaults(dir.path() / "defaults.json"));
  auto small = again.find("ollama", "gemma4:12b");
  ASSERT_TRUE(small);
  EXPECT_EQ(small->result.passed, 6);
  EXPECT_TRUE(small->result.misses.empty());
  EXPECT_EQ(small->at, 4000);
  EXPECT_EQ(again.all().size(), 3u);
  EXPECT_FALSE(again.find("openai", "gemma4:12b"));
  EXPECT_EQ(ModelExam::summary(again.find("openai", "gpt-6.1-sol")->result), "9/9 right in 12.3 s");
  EXPECT_EQ(ModelExam::summary(scored(5, 40.5), Language::russian), "5/9 верно за 40.5 с");
  EXPECT_EQ(defaults.value("riskPolicy"), (Json{{"maxRisk", "2"}}));
}

TEST(ModelExamResults, UnreadableEntriesAreSkipped) {
  testing::TempDir dir;
  writeFileAtomically(dir.path() / "defaults.json", R"({"modelExam": {
      "ollama": {"good": {"passed": 3, "total": 9, "seconds": 1.5, "misses": ["x"], "at": 7},
                 "text": {"passed": "3", "total": 9, "seconds": 1},
                 "more": {"passed": 10, "total": 9, "seconds": 1}},
      "lmstudio": "nonsense"}})");
  auto all = ResultStore(Defaults(dir.path() / "defaults.json")).all();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].model, "good");
  EXPECT_EQ(all[0].result.misses, std::vector<std::string>{"x"});
}

}  // namespace
}  // namespace orwenna
