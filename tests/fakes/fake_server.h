// A local HTTP server for one test: cpp-httplib on 127.0.0.1 with an ephemeral
// port, a handler per method and path, and a record of every request received.
// Network clients are tested against it speaking the real wire format.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace httplib {
class Server;
}

namespace orwenna::testing {

struct RecordedRequest {
  std::string method;
  std::string path;   // without the query
  std::string query;  // raw, without "?"
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  std::string header(const std::string& name) const;  // case-insensitive; "" when absent
};

struct FakeResponse {
  int status = 200;
  std::string body;
  std::string contentType = "application/json";
  std::vector<std::pair<std::string, std::string>> headers;
  // When set, the body is sent as these pieces, one write each, with `pause`
  // between them (for streamed answers and time-outs).
  std::vector<std::string> chunks;
  std::chrono::milliseconds pause{0};
  std::chrono::milliseconds delay{0};  // before anything is sent
  // Sends the status line and headers, then drops the connection: the client
  // sees a reply cut off, as when a proxy or the network loses it.
  bool dropConnection = false;

  static FakeResponse json(std::string body, int status = 200);
  static FakeResponse text(std::string body, int status = 200);
};

using FakeHandler = std::function<FakeResponse(const RecordedRequest&)>;

class FakeServer {
 public:
  FakeServer();
  ~FakeServer();
  FakeServer(const FakeServer&) = delete;
  FakeServer& operator=(const FakeServer&) = delete;

  // Registers a handler; later registrations for the same route replace earlier ones.
  void on(const std::string& method, const std::string& path, FakeHandler handler);
  void onJson(const std::string& method, const std::string& path, std::string body, int status = 200);

  int port() const { return port_; }
  std::string url() const;  // "http://127.0.0.1:PORT", no trailing slash

  std::vector<RecordedRequest> requests() const;
  std::size_t requestCount() const;
  void stop();

 private:
  void handle(const std::string& method, const void* request, void* response);

  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::map<std::pair<std::string, std::string>, FakeHandler> handlers_;
  std::vector<RecordedRequest> requests_;
};

}  // namespace orwenna::testing
