// Regular expressions on UTF-8 text: PCRE2 in UTF + UCP mode, so \b, \w, \d,
// \p{L} and case-insensitive matching understand Cyrillic as well as Latin.
//
// A Regex is compiled (and JIT-compiled where available) once, in its
// constructor; build each pattern once, typically as a function-local static.
// Matching is thread-safe: every call uses its own match data. A pattern that
// does not compile is a programming error and throws std::logic_error.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orwenna {

class RegexMatch {
 public:
  // The text of capture group `index` (0 is the whole match); nothing when the
  // group did not take part in the match.
  std::optional<std::string_view> group(std::size_t index) const;
  std::string_view whole() const { return *group(0); }
  std::size_t groupCount() const { return groups_.size(); }  // including group 0
  std::size_t begin() const { return groups_[0]->first; }     // byte offsets
  std::size_t end() const { return groups_[0]->second; }

 private:
  friend class Regex;
  std::string_view subject_;
  std::vector<std::optional<std::pair<std::size_t, std::size_t>>> groups_;
};

class Regex {
 public:
  enum Flags : unsigned {
    kNone = 0,
    kCaseInsensitive = 1u << 0,
    kDotAll = 1u << 1,
    kMultiline = 1u << 2,
  };

  explicit Regex(std::string_view pattern, unsigned flags = kNone);
  ~Regex();
  Regex(Regex&&) noexcept;
  Regex& operator=(Regex&&) noexcept;
  Regex(const Regex&) = delete;
  Regex& operator=(const Regex&) = delete;

  // The first match at or after byte offset `start`. The views inside the match
  // point into `text`, which must outlive it.
  std::optional<RegexMatch> firstMatch(std::string_view text, std::size_t start = 0) const;
  std::vector<RegexMatch> allMatches(std::string_view text) const;
  bool matches(std::string_view text) const { return firstMatch(text).has_value(); }
  // True when the pattern matches the whole text.
  bool matchesWhole(std::string_view text) const;
  // Replaces every match; "$1"… in `replacement` insert groups, "$$" a dollar.
  std::string replaceAll(std::string_view text, std::string_view replacement) const;

  const std::string& pattern() const { return pattern_; }

  struct Compiled;  // opaque: the PCRE2 code

 private:
  std::string pattern_;
  std::unique_ptr<Compiled> compiled_;
  std::unique_ptr<Compiled> anchored_;  // the same pattern wrapped for whole-text matching
};

}  // namespace orwenna
