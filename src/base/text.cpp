#include "base/text.h"

#include <utf8proc.h>

#include <cstdlib>
#include <memory>

namespace orwenna::text {

namespace {

// Decodes one code point at `i`; invalid input yields U+FFFD and advances one byte.
char32_t decodeAt(std::string_view s, std::size_t& i) {
  utf8proc_int32_t cp = 0;
  auto n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(s.data() + i),
                            static_cast<utf8proc_ssize_t>(s.size() - i), &cp);
  if (n <= 0) {
    ++i;
    return 0xFFFD;
  }
  i += static_cast<std::size_t>(n);
  return static_cast<char32_t>(cp);
}

std::string mapped(std::string_view s, utf8proc_option_t options) {
  std::string clean = sanitized(s);
  utf8proc_uint8_t* out = nullptr;
  auto n = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(clean.data()),
                        static_cast<utf8proc_ssize_t>(clean.size()), &out, options);
  if (n < 0) return clean;
  std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> holder(out, &std::free);
  return std::string(reinterpret_cast<const char*>(out), static_cast<std::size_t>(n));
}

}  // namespace

bool isValidUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    utf8proc_int32_t cp = 0;
    auto n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(s.data() + i),
                              static_cast<utf8proc_ssize_t>(s.size() - i), &cp);
    if (n <= 0) return false;
    i += static_cast<std::size_t>(n);
  }
  return true;
}

std::string sanitized(std::string_view s) {
  if (isValidUtf8(s)) return std::string(s);
  std::string out;
  std::size_t i = 0;
  while (i < s.size()) appendUtf8(out, decodeAt(s, i));
  return out;
}

std::vector<char32_t> codePoints(std::string_view s) {
  std::vector<char32_t> out;
  std::size_t i = 0;
  while (i < s.size()) out.push_back(decodeAt(s, i));
  return out;
}

void appendUtf8(std::string& out, char32_t cp) {
  utf8proc_uint8_t buf[4];
  auto n = utf8proc_encode_char(static_cast<utf8proc_int32_t>(cp), buf);
  if (n <= 0) n = utf8proc_encode_char(0xFFFD, buf);
  out.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
}

std::string fromCodePoints(const std::vector<char32_t>& cps) {
  std::string out;
  for (char32_t cp : cps) appendUtf8(out, cp);
  return out;
}

std::string lowercased(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) appendUtf8(out, static_cast<char32_t>(utf8proc_tolower(static_cast<utf8proc_int32_t>(decodeAt(s, i)))));
  return out;
}

std::string uppercased(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) appendUtf8(out, static_cast<char32_t>(utf8proc_toupper(static_cast<utf8proc_int32_t>(decodeAt(s, i)))));
  return out;
}

std::string replacedAll(std::string_view s, std::string_view from, std::string_view to) {
  // Built by appending: in-place replace loops trip g++ 12's -Wrestrict at -O3.
  std::string out;
  out.reserve(s.size());
  std::size_t start = 0;
  for (std::size_t at = s.find(from); !from.empty() && at != std::string_view::npos; at = s.find(from, start)) {
    out.append(s.substr(start, at - start)).append(to);
    start = at + from.size();
  }
  out.append(s.substr(start));
  return out;
}

std::string asciiLowercased(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string join(const std::vector<std::string>& items, std::string_view separator) {
  std::size_t size = 0;
  for (const auto& item : items) size += item.size() + separator.size();
  std::string out;
  out.reserve(size);
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += separator;
    out += items[i];
  }
  return out;
}

bool isWhitespace(char32_t cp) {
  switch (cp) {
    case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x85:
      return true;
    default: {
      auto c = utf8proc_category(static_cast<utf8proc_int32_t>(cp));
      return c == UTF8PROC_CATEGORY_ZS || c == UTF8PROC_CATEGORY_ZL || c == UTF8PROC_CATEGORY_ZP;
    }
  }
}

std::string trimmed(std::string_view s) {
  auto cps = codePoints(s);
  std::size_t b = 0, e = cps.size();
  while (b < e && isWhitespace(cps[b])) ++b;
  while (e > b && isWhitespace(cps[e - 1])) --e;
  if (b == 0 && e == cps.size() && isValidUtf8(s)) return std::string(s);
  return fromCodePoints(std::vector<char32_t>(cps.begin() + static_cast<std::ptrdiff_t>(b),
                                              cps.begin() + static_cast<std::ptrdiff_t>(e)));
}

std::string nfkd(std::string_view s) {
  return mapped(s, static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_DECOMPOSE | UTF8PROC_COMPAT));
}

std::string nfc(std::string_view s) {
  return mapped(s, static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
}

std::size_t characterCount(std::string_view s) {
  auto cps = codePoints(s);
  if (cps.empty()) return 0;
  std::size_t count = 1;
  utf8proc_int32_t state = 0;
  for (std::size_t i = 1; i < cps.size(); ++i) {
    if (utf8proc_grapheme_break_stateful(static_cast<utf8proc_int32_t>(cps[i - 1]),
                                         static_cast<utf8proc_int32_t>(cps[i]), &state)) {
      ++count;
    }
  }
  return count;
}

GeneralCategory generalCategory(char32_t cp) {
  // utf8proc's category numbering follows the same order as our enumeration.
  return static_cast<GeneralCategory>(utf8proc_category(static_cast<utf8proc_int32_t>(cp)));
}

bool isLetter(char32_t cp) {
  auto c = generalCategory(cp);
  return c == GeneralCategory::Lu || c == GeneralCategory::Ll || c == GeneralCategory::Lt ||
         c == GeneralCategory::Lm || c == GeneralCategory::Lo;
}

}  // namespace orwenna::text
