#include "language/chat_words.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace orwenna {
namespace {

TEST(ChatWordsTest, CorpusInThreeLanguages) {
  Json corpus = testing::loadTestJson("chat_words.json");
  int yes = 0, cancel = 0;
  for (const Json& m : corpus["messages"]) {
    const std::string text = m["text"];
    EXPECT_EQ(ChatWords::isYes(text), m["yes"].get<bool>()) << "isYes: " << text;
    EXPECT_EQ(ChatWords::isCancel(text), m["cancel"].get<bool>()) << "isCancel: " << text;
    EXPECT_EQ(ChatWords::changeWords(text), m["change"].get<bool>()) << "changeWords: " << text;
    yes += m["yes"].get<bool>();
    cancel += m["cancel"].get<bool>();
  }
  // The corpus must exercise both answers of each check.
  EXPECT_GT(yes, 10);
  EXPECT_GT(cancel, 10);
}

}  // namespace
}  // namespace orwenna
