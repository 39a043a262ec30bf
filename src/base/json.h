// JSON on nlohmann's ordered_json (objects keep their key order, which several
// wire formats and signatures depend on), with small strict accessors and
// ISO-8601 times in the one form the system writes: "2026-12-06T07:19:00Z".
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "base/decimal.h"
#include "base/error.h"

namespace orwenna {

using Json = nlohmann::ordered_json;

// A JSON document that does not have the shape a reader expects. The message
// names what was wrong ("Missing field \"px\"", "Field \"px\" is not a string").
class JsonShapeError : public Error {
 public:
  using Error::Error;
};

// Parses text; nothing on malformed JSON.
[[nodiscard]] std::optional<Json> parseJson(std::string_view text);

// Member access that throws JsonShapeError naming the key.
const Json& requireField(const Json& object, std::string_view key);
std::string requireString(const Json& object, std::string_view key);
std::int64_t requireInt(const Json& object, std::string_view key);
bool requireBool(const Json& object, std::string_view key);
// A decimal string or JSON number; throws NumberFormatError for bad text.
Decimal requireDecimal(const Json& object, std::string_view key);

std::optional<std::string> optionalString(const Json& object, std::string_view key);
std::optional<Decimal> optionalDecimal(const Json& object, std::string_view key);

// Milliseconds since 1970 → "2026-12-06T07:19:00Z" (whole seconds, UTC).
std::string iso8601(std::int64_t unixMillis);
// "YYYY-MM-DDTHH:MM:SS[.fff…](Z|±HH:MM)" → milliseconds since 1970.
[[nodiscard]] std::optional<std::int64_t> parseIso8601(std::string_view text);

}  // namespace orwenna
