// UTF-8 text helpers over utf8proc: Unicode lower-casing (Cyrillic included),
// trimming, NFKD, user-perceived character counts and general categories; and
// joining, and ASCII-only lower-casing for protocol text.
// Invalid UTF-8 sequences are treated as U+FFFD. Pure functions; thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orwenna::text {

bool isValidUtf8(std::string_view s);
// Replaces every invalid sequence with U+FFFD.
std::string sanitized(std::string_view s);

std::vector<char32_t> codePoints(std::string_view s);
std::string fromCodePoints(const std::vector<char32_t>& cps);
void appendUtf8(std::string& out, char32_t cp);

std::string lowercased(std::string_view s);
std::string uppercased(std::string_view s);
// Only A-Z change; every other byte stays, so hex digits, header names and
// network keys compare without touching non-ASCII text.
std::string asciiLowercased(std::string_view s);
// Every occurrence of `from` (not empty) replaced by `to`, left to right.
std::string replacedAll(std::string_view s, std::string_view from, std::string_view to);
// The items with `separator` between each two; "" for none.
std::string join(const std::vector<std::string>& items, std::string_view separator);
// Removes Unicode white space and line breaks at both ends.
std::string trimmed(std::string_view s);
bool isWhitespace(char32_t cp);
std::string nfkd(std::string_view s);
std::string nfc(std::string_view s);
// Extended grapheme clusters: what a user counts as characters ("é" and 👍🏽 are one each).
std::size_t characterCount(std::string_view s);

enum class GeneralCategory {
  Cn, Lu, Ll, Lt, Lm, Lo, Mn, Mc, Me, Nd, Nl, No, Pc, Pd, Ps, Pe, Pi, Pf, Po,
  Sm, Sc, Sk, So, Zs, Zl, Zp, Cc, Cf, Cs, Co,
};
GeneralCategory generalCategory(char32_t cp);
bool isLetter(char32_t cp);  // any L* category

}  // namespace orwenna::text
