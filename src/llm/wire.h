// Small pieces shared by the model clients and the sign-in flows: reading a
// service's error text, form bodies, JWT payloads. Stateless; thread-safe.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/http.h"
#include "base/json.h"

namespace orwenna {

// What a chat client says when the model answered with nothing but white space.
inline constexpr const char* kEmptyReply = "The model returned an empty reply.";

// The human part of an error answer: error.message, error (text),
// error_description, message or detail of a JSON body, else the body itself
// (trimmed, cut at 300 characters), else "HTTP <status>".
std::string serviceErrorText(const HttpResponse& response);
// The same for a JSON value that carries an `error` member (streamed events).
std::string errorTextOf(const Json& error);

// application/x-www-form-urlencoded, items in the order given.
std::string formBody(const std::vector<std::pair<std::string, std::string>>& items);

// The payload of a JWT (the middle part, base64url), without checking the
// signature; nothing when it is not a JWT with a JSON object payload.
[[nodiscard]] std::optional<Json> jwtPayload(std::string_view token);

// The JSON object of a text, or nothing.
[[nodiscard]] std::optional<Json> parseObject(std::string_view text);

}  // namespace orwenna

namespace orwenna {

// HttpClient::stream whose line handler may throw: the exception stops the
// transfer and is rethrown here, instead of unwinding through the transport.
HttpResponse streamLines(HttpClient& http, const HttpRequest& request,
                         const std::function<bool(std::string_view line)>& onLine);

// The payload of a server-sent-event "data:" line, or nothing for other lines.
[[nodiscard]] std::optional<std::string_view> sseData(std::string_view line);

}  // namespace orwenna
