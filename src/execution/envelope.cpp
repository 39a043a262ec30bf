#include "execution/envelope.h"

namespace orwenna {

std::vector<std::string> Envelope::violations(std::int64_t nowMillis, const Decimal& input, const Decimal& output,
                                              const std::optional<std::string>& recipient) const {
  std::vector<std::string> out;
  if (nowMillis > expires) out.push_back("The confirmation expired.");
  if (maxInput < input) {
    out.push_back("Needs to send " + input.toString() + ", but at most " + maxInput.toString() + " was approved.");
  }
  if (output < minOutput) {
    out.push_back(output.toString() + " would arrive, but at least " + minOutput.toString() + " was approved.");
  }
  if (destination && recipient && *destination != *recipient) {
    out.push_back("Recipient address " + *recipient + " doesn't match the approved " + *destination + ".");
  }
  return out;
}

Json Envelope::toJson() const {
  Json j = Json::object();
  j["maxInput"] = maxInput.toString();
  j["minOutput"] = minOutput.toString();
  if (destination) j["destination"] = *destination;
  j["expires"] = iso8601(expires);
  return j;
}

Envelope Envelope::fromJson(const Json& json) {
  if (!json.is_object()) throw JsonShapeError("An envelope is not an object.");
  Envelope e;
  e.maxInput = requireDecimal(json, "maxInput");
  e.minOutput = requireDecimal(json, "minOutput");
  e.destination = optionalString(json, "destination");
  auto expires = parseIso8601(requireString(json, "expires"));
  if (!expires) throw JsonShapeError("Field \"expires\" is not an ISO-8601 time");
  e.expires = *expires;
  return e;
}

}  // namespace orwenna
