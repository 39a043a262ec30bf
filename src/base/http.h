// HTTP requests through one small interface, so every network client can be
// pointed at a local fake server in tests.
//
// CurlHttpClient is the real one (libcurl). TLS verification is always on and
// cannot be switched off; only http and https are spoken; redirects are not
// followed. Transport failures throw NetError with a sentence saying what
// failed; any HTTP status, 4xx and 5xx included, is an answer, not an error.
// Thread-safe: each call uses its own connection handle.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/error.h"

namespace orwenna {

class NetError : public Error {
 public:
  enum class Kind { connection, timeout, cancelled, tls, tooLarge, other };
  NetError(Kind kind, const std::string& message) : Error(message), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

// Set from any thread to stop a request in flight; the request then throws
// NetError of kind `cancelled`.
class Cancellation {
 public:
  void cancel() { cancelled_.store(true); }
  bool isCancelled() const { return cancelled_.load(); }

 private:
  std::atomic<bool> cancelled_{false};
};

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
  std::string method = "GET";
  std::string url;
  HttpHeaders headers;
  std::string body;
  // For `send`, the whole exchange; for `stream`, the longest wait for the
  // connection and then for each next piece of the body.
  std::chrono::milliseconds timeout{30000};
  const Cancellation* cancellation = nullptr;

  static HttpRequest postJson(std::string url, std::string body);
};

struct HttpResponse {
  int status = 0;
  HttpHeaders headers;  // names in lower case, in arrival order
  std::string body;

  std::optional<std::string> header(std::string_view name) const;  // case-insensitive
  bool ok() const { return status >= 200 && status < 300; }
};

// Receives one line of a streamed body, without its line break ("\n" or
// "\r\n"). Return false to stop reading early (not an error).
using LineHandler = std::function<bool(std::string_view line)>;

// Receives the next piece of a downloaded body. Return false to stop reading
// early (not an error).
using ChunkHandler = std::function<bool(std::string_view piece)>;

class HttpClient {
 public:
  virtual ~HttpClient() = default;
  virtual HttpResponse send(const HttpRequest& request) = 0;
  // For server-sent events and NDJSON. While the status is 2xx each line goes
  // to `onLine` as it arrives and the returned body is empty; any other status
  // collects the whole body into the response instead, so callers can read
  // the server's error.
  virtual HttpResponse stream(const HttpRequest& request, const LineHandler& onLine) = 0;
  // For files larger than a body may be: while the status is 2xx the body
  // goes to `onChunk` piece by piece, with no size limit and `timeout` as the
  // longest wait for each next piece; any other status is collected as by
  // `stream`. This default reads the whole body through `send` first.
  virtual HttpResponse download(const HttpRequest& request, const ChunkHandler& onChunk);
};

class CurlHttpClient final : public HttpClient {
 public:
  // Bodies larger than this fail with NetError(tooLarge) instead of filling memory.
  static constexpr std::size_t kMaxBodyBytes = 64u << 20;

  HttpResponse send(const HttpRequest& request) override;
  HttpResponse stream(const HttpRequest& request, const LineHandler& onLine) override;
  HttpResponse download(const HttpRequest& request, const ChunkHandler& onChunk) override;
  static CurlHttpClient& shared();
};

}  // namespace orwenna
