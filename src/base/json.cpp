#include "base/json.h"

#include <ctime>

#include <fmt/format.h>

namespace orwenna {

std::optional<Json> parseJson(std::string_view text) {
  Json j = Json::parse(text.begin(), text.end(), nullptr, false);
  if (j.is_discarded()) return std::nullopt;
  return j;
}

const Json& requireField(const Json& object, std::string_view key) {
  if (!object.is_object()) throw JsonShapeError(fmt::format("Expected an object with field \"{}\"", key));
  auto it = object.find(key);
  if (it == object.end()) throw JsonShapeError(fmt::format("Missing field \"{}\"", key));
  return *it;
}

std::string requireString(const Json& object, std::string_view key) {
  const Json& v = requireField(object, key);
  if (!v.is_string()) throw JsonShapeError(fmt::format("Field \"{}\" is not a string", key));
  return v.get<std::string>();
}

std::int64_t requireInt(const Json& object, std::string_view key) {
  const Json& v = requireField(object, key);
  if (v.is_number_integer()) return v.get<std::int64_t>();
  if (v.is_number_unsigned() && v.get<std::uint64_t>() <= static_cast<std::uint64_t>(INT64_MAX)) {
    return static_cast<std::int64_t>(v.get<std::uint64_t>());
  }
  throw JsonShapeError(fmt::format("Field \"{}\" is not a whole number", key));
}

bool requireBool(const Json& object, std::string_view key) {
  const Json& v = requireField(object, key);
  if (!v.is_boolean()) throw JsonShapeError(fmt::format("Field \"{}\" is not true or false", key));
  return v.get<bool>();
}

Decimal requireDecimal(const Json& object, std::string_view key) {
  return Decimal::fromJson(requireField(object, key));
}

std::optional<std::string> optionalString(const Json& object, std::string_view key) {
  if (!object.is_object()) return std::nullopt;
  auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

std::optional<Decimal> optionalDecimal(const Json& object, std::string_view key) {
  if (!object.is_object()) return std::nullopt;
  auto it = object.find(key);
  if (it == object.end() || it->is_null()) return std::nullopt;
  return Decimal::fromJson(*it);
}

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's algorithm).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool isLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

}  // namespace

std::string iso8601(std::int64_t unixMillis) {
  std::int64_t seconds = unixMillis >= 0 ? unixMillis / 1000 : -((-unixMillis + 999) / 1000);
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                     tm.tm_hour, tm.tm_min, tm.tm_sec);
}

std::optional<std::int64_t> parseIso8601(std::string_view s) {
  auto digits = [&](std::size_t pos, std::size_t n) -> std::optional<int> {
    if (pos + n > s.size()) return std::nullopt;
    int v = 0;
    for (std::size_t i = pos; i < pos + n; ++i) {
      if (s[i] < '0' || s[i] > '9') return std::nullopt;
      v = v * 10 + (s[i] - '0');
    }
    return v;
  };
  auto year = digits(0, 4), month = digits(5, 2), day = digits(8, 2);
  auto hour = digits(11, 2), minute = digits(14, 2), second = digits(17, 2);
  if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
  if (s[4] != '-' || s[7] != '-' || (s[10] != 'T' && s[10] != 't') || s[13] != ':' || s[16] != ':') {
    return std::nullopt;
  }
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (*month < 1 || *month > 12 || *day < 1) return std::nullopt;
  int maxDay = kDays[*month - 1] + (*month == 2 && isLeap(*year) ? 1 : 0);
  if (*day > maxDay || *hour > 23 || *minute > 59 || *second > 60) return std::nullopt;

  std::size_t pos = 19;
  std::int64_t millis = 0;
  if (pos < s.size() && s[pos] == '.') {
    ++pos;
    std::size_t start = pos;
    int scale = 100;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
      millis += (s[pos] - '0') * scale;
      scale /= 10;
      ++pos;
    }
    if (pos == start) return std::nullopt;
  }
  std::int64_t offsetSeconds = 0;
  if (pos < s.size() && (s[pos] == 'Z' || s[pos] == 'z')) {
    ++pos;
  } else if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
    bool negative = s[pos] == '-';
    auto oh = digits(pos + 1, 2), om = digits(pos + 4, 2);
    if (!oh || !om || pos + 3 >= s.size() || s[pos + 3] != ':' || *oh > 23 || *om > 59) return std::nullopt;
    offsetSeconds = (*oh * 3600 + *om * 60) * (negative ? -1 : 1);
    pos += 6;
  } else {
    return std::nullopt;
  }
  if (pos != s.size()) return std::nullopt;
  std::int64_t days = daysFromCivil(*year, static_cast<unsigned>(*month), static_cast<unsigned>(*day));
  std::int64_t secs = days * 86400 + *hour * 3600 + *minute * 60 + *second - offsetSeconds;
  return secs * 1000 + millis;
}

}  // namespace orwenna
