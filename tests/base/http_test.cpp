// The libcurl client against a local fake server.
#include "base/http.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <thread>

#include "fakes/fake_server.h"

namespace orwenna {
namespace {

using testing::FakeResponse;
using testing::FakeServer;
using testing::RecordedRequest;

HttpRequest get(const std::string& url, std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
  HttpRequest req;
  req.url = url;
  req.timeout = timeout;
  return req;
}

struct Failure {
  NetError::Kind kind;
  std::string message;
};

Failure netFailureOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const NetError& e) {
    return {e.kind(), e.what()};
  }
  ADD_FAILURE() << "no NetError";
  return {NetError::Kind::other, "no failure"};
}

// A socket bound to a free loopback port; `fd` stays open for the caller.
int boundLoopbackPort(int& fd) {
  fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  return ntohs(addr.sin_port);
}

TEST(HttpClient, SendsTheRequestAndReadsEveryStatusAsAnAnswer) {
  FakeServer server;
  server.on("POST", "/info", [](const RecordedRequest& r) {
    FakeResponse res = FakeResponse::json("{\"echo\":" + r.body + "}", 201);
    res.headers.emplace_back("X-Request-Id", "abc");
    return res;
  });
  server.onJson("GET", "/v1/models", R"({"error":"bad key"})", 401);
  HttpRequest req = HttpRequest::postJson(server.url() + "/info", R"({"type":"meta"})");
  req.headers.emplace_back("Authorization", "Bearer t0ken");
  HttpResponse res = CurlHttpClient::shared().send(req);
  EXPECT_EQ(res.status, 201);
  EXPECT_TRUE(res.ok());
  EXPECT_EQ(res.body, R"({"echo":{"type":"meta"}})");
  EXPECT_EQ(res.header("X-REQUEST-ID"), "abc");
  EXPECT_FALSE(res.header("x-missing"));
  auto seen = server.requests().at(0);
  EXPECT_EQ(seen.method, "POST");
  EXPECT_EQ(seen.path, "/info");
  EXPECT_EQ(seen.body, R"({"type":"meta"})");
  EXPECT_EQ(seen.header("authorization"), "Bearer t0ken");
  EXPECT_EQ(seen.header("content-type"), "application/json");

  // An error status is an answer, not a failure.
  HttpResponse refused = CurlHttpClient::shared().send(get(server.url() + "/v1/models?x=1"));
  EXPECT_EQ(refused.status, 401);
  EXPECT_FALSE(refused.ok());
  EXPECT_EQ(refused.body, R"({"error":"bad key"})");
  EXPECT_EQ(server.requests().at(1).query, "x=1");
}

TEST(HttpClient, TimeOutsAndLostConnectionsSaySo) {
  FakeServer server;
  server.on("GET", "/slow", [](const RecordedRequest&) {
    FakeResponse r = FakeResponse::json("{}");
    r.delay = std::chrono::milliseconds(700);
    return r;
  });
  Failure slow = netFailureOf(
      [&] { (void)CurlHttpClient::shared().send(get(server.url() + "/slow", std::chrono::milliseconds(200))); });
  EXPECT_EQ(slow.kind, NetError::Kind::timeout);
  EXPECT_EQ(slow.message, "The request to 127.0.0.1:" + std::to_string(server.port()) + " timed out after 0.2 seconds.");

  // A port bound and closed again: nothing listens there.
  int fd;
  int port = boundLoopbackPort(fd);
  ::close(fd);
  Failure refused =
      netFailureOf([&] { (void)CurlHttpClient::shared().send(get("http://127.0.0.1:" + std::to_string(port))); });
  EXPECT_EQ(refused.kind, NetError::Kind::connection);
  EXPECT_NE(refused.message.find("Could not connect to 127.0.0.1:" + std::to_string(port)), std::string::npos)
      << refused.message;

  // A server that hangs up without a word: an empty reply is not an answer.
  port = boundLoopbackPort(fd);
  ASSERT_EQ(::listen(fd, 1), 0);
  std::thread closer([fd] {
    int client = ::accept(fd, nullptr, nullptr);
    char buf[1024];
    (void)::recv(client, buf, sizeof buf, 0);
    ::close(client);
  });
  Failure lost =
      netFailureOf([&] { (void)CurlHttpClient::shared().send(get("http://127.0.0.1:" + std::to_string(port))); });
  closer.join();
  ::close(fd);
  EXPECT_EQ(lost.kind, NetError::Kind::connection);
  EXPECT_NE(lost.message.find("was lost"), std::string::npos) << lost.message;

  EXPECT_THROW((void)CurlHttpClient::shared().send(get("file:///etc/passwd")), NetError);
}

TEST(HttpClient, StreamsLinesAcrossChunkBoundariesAndStopsWhenAsked) {
  FakeServer server;
  server.onJson("POST", "/quota", R"({"error":{"message":"quota"}})", 429);
  server.on("POST", "/chat", [](const RecordedRequest&) {
    FakeResponse r;
    r.contentType = "text/event-stream";
    r.chunks = {"data: {\"a\":1}\r\n\r\nda", "ta: {\"b\"", ":2}\n\n", "data: [DONE]"};
    r.pause = std::chrono::milliseconds(20);
    return r;
  });
  std::vector<std::string> lines;
  HttpResponse res = CurlHttpClient::shared().stream(HttpRequest::postJson(server.url() + "/chat", "{}"),
                                                     [&](std::string_view line) {
                                                       lines.emplace_back(line);
                                                       return lines.size() < 10;
                                                     });
  EXPECT_EQ(res.status, 200);
  EXPECT_TRUE(res.body.empty());
  EXPECT_EQ(lines, (std::vector<std::string>{"data: {\"a\":1}", "", "data: {\"b\":2}", "", "data: [DONE]"}));

  lines.clear();
  res = CurlHttpClient::shared().stream(HttpRequest::postJson(server.url() + "/chat", "{}"), [&](std::string_view l) {
    lines.emplace_back(l);
    return lines.size() < 2;
  });
  EXPECT_EQ(res.status, 200);
  EXPECT_EQ(lines.size(), 2u);

  // An error status is not streamed: its body is collected for the message.
  lines.clear();
  res = CurlHttpClient::shared().stream(HttpRequest::postJson(server.url() + "/quota", "{}"), [&](std::string_view l) {
    lines.emplace_back(l);
    return true;
  });
  EXPECT_EQ(res.status, 429);
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(res.body, R"({"error":{"message":"quota"}})");
}

TEST(HttpClient, DownloadsPassBinaryPiecesUnchangedAndCollectErrors) {
  FakeServer server;
  std::string file;
  for (int i = 0; i < 300000; ++i) file += static_cast<char>(i % 251);  // "\r\n" and NULs included
  server.on("GET", "/file", [&file](const RecordedRequest&) {
    FakeResponse r = FakeResponse::text("");
    r.contentType = "application/octet-stream";
    r.chunks = {file.substr(0, 100000), file.substr(100000)};
    return r;
  });
  server.onJson("GET", "/gone", R"({"message":"Not Found"})", 404);
  std::string got;
  HttpResponse res = CurlHttpClient::shared().download(get(server.url() + "/file"), [&](std::string_view piece) {
    got.append(piece);
    return true;
  });
  EXPECT_EQ(res.status, 200);
  EXPECT_TRUE(res.body.empty());
  EXPECT_EQ(got, file);

  got.clear();
  res = CurlHttpClient::shared().download(get(server.url() + "/gone"), [&](std::string_view piece) {
    got.append(piece);
    return true;
  });
  EXPECT_EQ(res.status, 404);
  EXPECT_TRUE(got.empty());
  EXPECT_EQ(res.body, R"({"message":"Not Found"})");

  // Stopping early is not an error.
  std::size_t pieces = 0;
  res = CurlHttpClient::shared().download(get(server.url() + "/file"), [&](std::string_view) { return ++pieces < 1; });
  EXPECT_EQ(res.status, 200);
  EXPECT_EQ(pieces, 1u);
}

TEST(HttpClient, StreamCanBeCancelledFromAnotherThreadAndTimesOutWhenIdle) {
  FakeServer server;
  server.on("GET", "/sse", [](const RecordedRequest&) {
    FakeResponse r;
    r.chunks = {"data: 1\n", "data: 2\n"};
    r.pause = std::chrono::milliseconds(3000);
    return r;
  });
  Cancellation cancel;
  HttpRequest req = get(server.url() + "/sse");
  req.cancellation = &cancel;
  Failure cancelled = netFailureOf([&] {
    (void)CurlHttpClient::shared().stream(req, [&](std::string_view) {
      cancel.cancel();
      return true;
    });
  });
  EXPECT_EQ(cancelled.kind, NetError::Kind::cancelled);
  EXPECT_EQ(cancelled.message, "The request was cancelled.");

  int lines = 0;
  Failure idle = netFailureOf([&] {
    (void)CurlHttpClient::shared().stream(get(server.url() + "/sse", std::chrono::milliseconds(300)),
                                          [&](std::string_view) { return ++lines > 0; });
  });
  EXPECT_EQ(idle.kind, NetError::Kind::timeout);
  EXPECT_EQ(lines, 1);
}

}  // namespace
}  // namespace orwenna
