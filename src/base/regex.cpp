#include "base/regex.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <stdexcept>

namespace orwenna {

struct Regex::Compiled {
  pcre2_code* code = nullptr;
  ~Compiled() { pcre2_code_free(code); }
};

namespace {

std::unique_ptr<Regex::Compiled> compile(const std::string& pattern, unsigned flags);

}  // namespace

std::optional<std::string_view> RegexMatch::group(std::size_t index) const {
  if (index >= groups_.size() || !groups_[index]) return std::nullopt;
  return subject_.substr(groups_[index]->first, groups_[index]->second - groups_[index]->first);
}

Regex::Regex(std::string_view pattern, unsigned flags) : pattern_(pattern) {
  compiled_ = compile(pattern_, flags);
  anchored_ = compile("(?:" + pattern_ + ")\\z", flags | (1u << 31));
}

Regex::~Regex() = default;
Regex::Regex(Regex&&) noexcept = default;
Regex& Regex::operator=(Regex&&) noexcept = default;

namespace {

std::unique_ptr<Regex::Compiled> compile(const std::string& pattern, unsigned flags) {
  uint32_t options = PCRE2_UTF | PCRE2_UCP;
  if (flags & Regex::kCaseInsensitive) options |= PCRE2_CASELESS;
  if (flags & Regex::kDotAll) options |= PCRE2_DOTALL;
  if (flags & Regex::kMultiline) options |= PCRE2_MULTILINE;
  if (flags & (1u << 31)) options |= PCRE2_ANCHORED;
  int error = 0;
  PCRE2_SIZE offset = 0;
  auto compiled = std::make_unique<Regex::Compiled>();
  compiled->code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), options, &error,
                                 &offset, nullptr);
  if (!compiled->code) {
    PCRE2_UCHAR message[256];
    pcre2_get_error_message(error, message, sizeof message);
    throw std::logic_error("Regex \"" + pattern + "\" does not compile at " + std::to_string(offset) + ": " +
                           reinterpret_cast<const char*>(message));
  }
  // JIT is an optimisation; the interpreter gives the same answers without it.
  (void)pcre2_jit_compile(compiled->code, PCRE2_JIT_COMPLETE);
  return compiled;
}

struct MatchData {
  explicit MatchData(const pcre2_code* code) : data(pcre2_match_data_create_from_pattern(code, nullptr)) {
    if (!data) throw std::bad_alloc();
  }
  ~MatchData() { pcre2_match_data_free(data); }
  pcre2_match_data* data;
};

// Runs one match; fills `groups` and returns true on a match. Text that is not
// valid UTF-8 is an error, never a silent non-match.
bool runMatch(const pcre2_code* code, std::string_view text, std::size_t start,
              std::vector<std::optional<std::pair<std::size_t, std::size_t>>>& groups) {
  MatchData md(code);
  int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), start, 0, md.data,
                       nullptr);
  if (rc == PCRE2_ERROR_NOMATCH) return false;
  if (rc < 0) {
    PCRE2_UCHAR message[256];
    pcre2_get_error_message(rc, message, sizeof message);
    throw std::runtime_error(std::string("Regex match failed: ") + reinterpret_cast<const char*>(message));
  }
  uint32_t count = pcre2_get_ovector_count(md.data);
  PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md.data);
  groups.assign(count, std::nullopt);
  for (uint32_t i = 0; i < count; ++i) {
    if (ov[2 * i] != PCRE2_UNSET) groups[i] = std::make_pair(ov[2 * i], ov[2 * i + 1]);
  }
  return true;
}

}  // namespace

std::optional<RegexMatch> Regex::firstMatch(std::string_view text, std::size_t start) const {
  if (start > text.size()) return std::nullopt;
  RegexMatch m;
  m.subject_ = text;
  if (!runMatch(compiled_->code, text, start, m.groups_)) return std::nullopt;
  return m;
}

std::vector<RegexMatch> Regex::allMatches(std::string_view text) const {
  std::vector<RegexMatch> out;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    auto m = firstMatch(text, pos);
    if (!m) break;
    std::size_t next = m->end();
    if (m->end() == m->begin()) {
      // Empty match: step over one whole UTF-8 character.
      if (next >= text.size()) {
        out.push_back(std::move(*m));
        break;
      }
      ++next;
      while (next < text.size() && (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80) ++next;
    }
    out.push_back(std::move(*m));
    pos = next;
  }
  return out;
}

bool Regex::matchesWhole(std::string_view text) const {
  RegexMatch m;
  m.subject_ = text;
  return runMatch(anchored_->code, text, 0, m.groups_);
}

std::string Regex::replaceAll(std::string_view text, std::string_view replacement) const {
  std::string out;
  std::size_t last = 0;
  for (const RegexMatch& m : allMatches(text)) {
    out.append(text.substr(last, m.begin() - last));
    for (std::size_t i = 0; i < replacement.size(); ++i) {
      char c = replacement[i];
      if (c == '$' && i + 1 < replacement.size()) {
        char n = replacement[i + 1];
        if (n == '$') {
          out += '$';
          ++i;
          continue;
        }
        if (n >= '0' && n <= '9') {
          std::size_t index = static_cast<std::size_t>(n - '0');
          if (auto g = m.group(index)) out.append(*g);
          ++i;
          continue;
        }
      }
      out += c;
    }
    last = m.end();
  }
  out.append(text.substr(last));
  return out;
}

}  // namespace orwenna
