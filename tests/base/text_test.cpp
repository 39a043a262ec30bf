// Regex on Russian and English text, and the UTF-8 helpers.
#include "base/regex.h"
#include "base/text.h"

#include <gtest/gtest.h>

namespace orwenna {
namespace {

TEST(Regex, WordBoundariesAndLettersWorkOnCyrillic) {
  static const Regex word("\\bкупи\\b", Regex::kCaseInsensitive);
  EXPECT_TRUE(word.matches("Купи BTC"));
  EXPECT_TRUE(word.matches("ну купи, пожалуйста"));
  EXPECT_FALSE(word.matches("купить BTC"));  // \b must see "т" as a letter
  static const Regex letters("^\\p{L}+$");
  EXPECT_TRUE(letters.matches("Привет"));
  EXPECT_FALSE(letters.matches("При вет"));
  static const Regex w("^\\w+$");
  EXPECT_TRUE(w.matches("ёжик_42"));
  static const Regex upper("^ЛОНГ$", Regex::kCaseInsensitive);
  EXPECT_TRUE(upper.matches("лонг"));
  EXPECT_TRUE(upper.matches("Лонг"));
}

TEST(Regex, CapturesLookaheadsAndLazyQuantifiers) {
  static const Regex risk("(?:risk|риск)\\s*\\$?(\\d+(?:\\.\\d+)?)(?!\\s*%)", Regex::kCaseInsensitive);
  auto m = risk.firstMatch("лонг ETH риск 25 стоп 2%");
  ASSERT_TRUE(m);
  EXPECT_EQ(*m->group(1), "25");
  EXPECT_FALSE(risk.matches("risk 2%"));  // the lookahead refuses a percentage
  static const Regex lazy("<(.+?)>");
  auto all = lazy.allMatches("<a><bb><ccc>");
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(*all[2].group(1), "ccc");
  static const Regex optional("(a)|(b)");
  auto b = optional.firstMatch("b");
  ASSERT_TRUE(b);
  EXPECT_FALSE(b->group(1));
  EXPECT_EQ(*b->group(2), "b");
  EXPECT_FALSE(b->group(7));
}

TEST(Regex, WholeMatchDotAllAndReplacement) {
  static const Regex number("\\d+(?:\\.\\d+)?");
  EXPECT_TRUE(number.matchesWhole("12.5"));
  EXPECT_FALSE(number.matchesWhole("12.5x"));
  EXPECT_FALSE(number.matchesWhole("x12.5"));
  static const Regex alt("ab|abc");
  EXPECT_TRUE(alt.matchesWhole("abc"));  // whole-text matching backtracks into the second branch
  static const Regex any("a.b");
  EXPECT_FALSE(any.matches("a\nb"));
  static const Regex anyDotAll("a.b", Regex::kDotAll);
  EXPECT_TRUE(anyDotAll.matches("a\nb"));
  static const Regex swap("(\\w+)=(\\w+)");
  EXPECT_EQ(swap.replaceAll("цена=100 и x=y", "$2:$1 $$"), "100:цена $ и y:x $");
  static const Regex empty("x*");
  EXPECT_EQ(empty.allMatches("ёa").size(), 3u);  // steps over whole characters
  EXPECT_THROW(Regex("(unclosed"), std::logic_error);
}

TEST(Text, LowercasesTrimsAndNormalises) {
  EXPECT_EQ(text::lowercased("ЛОНГ ETH Ёж"), "лонг eth ёж");
  EXPECT_EQ(text::uppercased("шорт sol"), "ШОРТ SOL");
  EXPECT_EQ(text::trimmed("\u00a0\t купи \n\u2003"), "купи");
  EXPECT_EQ(text::trimmed("   "), "");
  EXPECT_EQ(text::nfkd("é"), "e\u0301");
  EXPECT_EQ(text::nfkd("ﬁ①"), "fi1");
  EXPECT_EQ(text::nfc("e\u0301"), "é");
  EXPECT_EQ(text::characterCount("e\u0301ж👍🏽🇷🇺"), 4u);
  EXPECT_EQ(text::characterCount(""), 0u);
  EXPECT_EQ(text::generalCategory(U'Ж'), text::GeneralCategory::Lu);
  EXPECT_EQ(text::generalCategory(U'5'), text::GeneralCategory::Nd);
  EXPECT_EQ(text::generalCategory(U'$'), text::GeneralCategory::Sc);
  EXPECT_EQ(text::generalCategory(U'\u200b'), text::GeneralCategory::Cf);
  EXPECT_TRUE(text::isLetter(U'ё'));
  EXPECT_FALSE(text::isLetter(U'_'));
}

TEST(Text, InvalidUtf8BecomesReplacementCharacters) {
  std::string bad = "ok\xff\xc3";
  EXPECT_FALSE(text::isValidUtf8(bad));
  EXPECT_EQ(text::sanitized(bad), "ok\uFFFD\uFFFD");
  EXPECT_EQ(text::lowercased(bad), "ok\uFFFD\uFFFD");
  static const Regex any(".");
  EXPECT_THROW((void)any.matches(bad), std::runtime_error);
}

// Protocol text (hex, header names, network keys) lower-cases byte by byte:
// Cyrillic, the Kelvin sign and broken bytes come through untouched.
TEST(Text, AsciiLowercasingLeavesOtherBytesAlone) {
  EXPECT_EQ(text::asciiLowercased("0xAbCDEF Content-Type"), "0xabcdef content-type");
  EXPECT_EQ(text::asciiLowercased("ЛОНГ K ok\xff\xc3"), "ЛОНГ K ok\xff\xc3");
  EXPECT_EQ(text::lowercased("K"), "k");
}

TEST(Text, JoinPutsTheSeparatorOnlyBetweenItems) {
  EXPECT_EQ(text::join({}, ", "), "");
  EXPECT_EQ(text::join({"a"}, ", "), "a");
  EXPECT_EQ(text::join({"", "b", ""}, "; "), "; b; ");
  EXPECT_EQ(text::join({"line 1", "line 2"}, "\n"), "line 1\nline 2");
}

TEST(Text, ReplacedAllDoesNotRescanWhatItPutIn) {
  EXPECT_EQ(text::replacedAll("«BTC» and «ETH»", "«", " "), " BTC» and  ETH»");
  EXPECT_EQ(text::replacedAll("aaa", "a", "aa"), "aaaaaa");  // a loop that rescans never ends here
  EXPECT_EQ(text::replacedAll("what\u2019s up\u2019", "\u2019", "'"), "what's up'");
  EXPECT_EQ(text::replacedAll("abc", "", "x"), "abc");
  EXPECT_EQ(text::replacedAll("", "a", "b"), "");
}

}  // namespace
}  // namespace orwenna
