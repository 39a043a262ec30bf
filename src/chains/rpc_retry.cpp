#include "chains/rpc_retry.h"

#include "base/http.h"
#include "base/text.h"
#include "chains/chain_error.h"

namespace orwenna {

bool RPCRetry::isRetryableStatus(int status, bool severalNodes) {
  return status == 429 || status >= 500 || (severalNodes && (status == 401 || status == 403));
}

std::string RPCRetry::requestBody(const std::string& method, const Json& params) {
  return Json{{"jsonrpc", "2.0"}, {"id", 1}, {"method", method}, {"params", params}}.dump();
}

std::string RPCRetry::errorMessage(const Json& error) {
  if (error.is_object() && error.contains("message") && error["message"].is_string()) {
    return error["message"].get<std::string>();
  }
  return error.dump();
}

bool RPCRetry::isRetryableText(std::string_view text) {
  static constexpr std::string_view kPhrases[] = {
      "rate limit",    "too many requests", "timeout",        "timed out",      "temporarily",
      "try again",     "header not found",  "node is behind", "service unavailable", "internal error",
      "overloaded",    "usage limit",       "quota"};
  const std::string lower = text::lowercased(text);
  if (lower.find("revert") != std::string::npos) return false;
  for (auto phrase : kPhrases) {
    if (lower.find(phrase) != std::string::npos) return true;
  }
  return false;
}

Json RPCRetry::run(const std::vector<std::string>& nodes, Clock& clock,
                   const std::function<Json(const std::string& url)>& attempt) {
  if (nodes.empty()) throw ChainError("No RPC node is set.");
  std::exception_ptr last;
  for (std::size_t tryNo = 0; tryNo <= kWaitsMillis.size(); ++tryNo) {
    if (tryNo > 0) clock.sleepFor(kWaitsMillis[tryNo - 1]);
    try {
      return attempt(nodes[tryNo % nodes.size()]);
    } catch (const Again& again) {
      if (!again.again) std::rethrow_exception(again.error);
      last = again.error;
    } catch (const NetError& e) {
      if (e.kind() != NetError::Kind::connection && e.kind() != NetError::Kind::timeout) throw;
      last = std::current_exception();
    }
  }
  std::rethrow_exception(last);
}

}  // namespace orwenna
