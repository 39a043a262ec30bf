// The interface's server on a real port, fed what a page or another program
// might send. Even inputs are a signed-in POST carrying the fuzzed body: a
// JSON object (or no body) reaches the backend exactly once, anything else is answered 400
// and reaches nothing. Odd inputs are raw bytes after a POST's request line:
// without the session cookie nothing reaches the backend, and the server
// still answers a good request afterwards.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <httplib.h>

#include <array>
#include <atomic>
#include <memory>
#include <string>

#include "base/clock.h"
#include "fuzz_check.h"
#include "web/web_server.h"

namespace {

using namespace orwenna;

class CountingBackend final : public WebBackend {
 public:
  Json state() override { return Json::object(); }
  WebAnswer act(std::string_view, const Json& body) override {
    FUZZ_CHECK(body.is_object());
    ++calls;
    return WebAnswer{200, Json::object()};
  }
  std::atomic<int> calls{0};
};

struct Served {
  CountingBackend backend;
  WebServer server{backend, {}, SecureRandom::shared(), SystemClock::shared(), WebServer::Options{}};
  int port = 0;
  std::string cookie;

  Served() {
    port = server.start();
    const std::string url = server.openUrl();
    auto res = client().Get(url.substr(url.find("/?")));
    FUZZ_CHECK(res && res->status == 303);
    const std::string setCookie = res->get_header_value("Set-Cookie");
    cookie = setCookie.substr(0, setCookie.find(';'));
  }
  httplib::Client client() const {
    httplib::Client c("127.0.0.1", port);
    c.set_read_timeout(5, 0);
    return c;
  }
  std::string origin() const { return "http://127.0.0.1:" + std::to_string(port); }
  int post(const std::string& action, const std::string& body) const {
    const httplib::Headers headers{{"Origin", origin()}, {"Cookie", cookie}, {WebServer::kActionHeader, "1"}};
    auto res = client().Post("/api/" + action, headers, body, "application/json");
    return res ? res->status : 0;
  }
};

// Writes `bytes`, ends the sending side and reads until the server closes.
void sendRaw(int port, const std::string& bytes) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  FUZZ_CHECK(fd >= 0);
  timeval timeout{2, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
    ::shutdown(fd, SHUT_WR);
    char buffer[4096];
    while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
    }
  }
  ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Served* served = new Served;  // lives for the whole run, as the app's server does
  static constexpr std::array<const char*, 5> kActions{"send", "confirm", "switchCanvas", "siteDecide", "settings"};
  if (size < 2) return 0;
  const std::string rest(fuzz::text(data + 2, size - 2));
  const int before = served->backend.calls.load();
  if (data[0] % 2 == 0) {
    const int status = served->post(kActions[data[1] % kActions.size()], rest);
    auto parsed = parseJson(rest);
    if (rest.empty() || (parsed && parsed->is_object())) {  // no body stands for {}
      FUZZ_CHECK(status == 200);
      FUZZ_CHECK(served->backend.calls.load() == before + 1);
    } else {
      FUZZ_CHECK(status == 400 || status == 413);
      FUZZ_CHECK(served->backend.calls.load() == before);
    }
    return 0;
  }
  sendRaw(served->port, "POST /api/send HTTP/1.1\r\n" + rest);
  FUZZ_CHECK(served->backend.calls.load() == before);
  FUZZ_CHECK(served->post("send", "{}") == 200);
  return 0;
}
