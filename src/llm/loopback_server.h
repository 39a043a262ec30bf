// The local web address a browser sign-in returns to.
//
// Listens on 127.0.0.1 only (a plain POSIX socket), on a given port or on any
// free one, and answers each connection once: requests on the expected path
// get the "Signed in" page and their query is queued; any other path gets the
// 404 page and changes nothing. Connections are served one at a time on the
// server's own thread. The waiting side takes queries from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "base/http.h"

namespace orwenna {

using QueryItems = std::map<std::string, std::string>;

class LoopbackServer {
 public:
  // Port 0 means any free port. Throws LLMError "Couldn't open port …".
  static std::unique_ptr<LoopbackServer> start(std::uint16_t port, std::string path);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  std::uint16_t port() const { return port_; }

  // The first query not yet taken. Throws LLMError "Sign-in didn't finish
  // within N min." when `limit` passes, and "Sign-in interrupted." when the
  // server is cancelled or `cancellation` is set first.
  QueryItems nextQuery(std::chrono::milliseconds limit, const Cancellation* cancellation = nullptr);

  // Stops listening and ends the stream of queries. Safe to call twice.
  void cancel();

  // The exact bytes sent for a request on the expected path (true) or elsewhere.
  static std::string answer(bool found);

 private:
  LoopbackServer(int listener, int wakeRead, int wakeWrite, std::uint16_t port, std::string path);
  void serve();
  void handle(int connection);

  int listener_;
  int wakeRead_;
  int wakeWrite_;
  std::uint16_t port_;
  std::string path_;
  std::thread thread_;

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<QueryItems> queries_;
  bool finished_ = false;
};

// Splits "a=1&b=x%20y" into items, decoding percent escapes and "+" as space.
// A later repeat of a name replaces the earlier one.
[[nodiscard]] QueryItems parseQuery(std::string_view query);

// Percent-encodes everything outside the unreserved characters (RFC 3986).
std::string percentEncode(std::string_view text);

}  // namespace orwenna
