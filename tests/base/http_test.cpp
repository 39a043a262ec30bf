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

TEST(HttpClient, SendsMethodHeadersAndBodyAndReadsTheAnswer) {
  FakeServer server;
  server.on("POST", "/info", [](const RecordedRequest& r) {
    FakeResponse res = FakeResponse::json("{\"echo\":" + r.body + "}", 201);
    res.headers.emplace_back("X-Request-Id", "abc");
    return res;
  });
  HttpRequest req = HttpRequest::postJson(server.url() + "/info", R"({"type":"meta"})");
  req.headers.emplace_back("Authorization", "Bearer t0ken");
  HttpResponse res = CurlHttpClient::shared().send(req);
  EXPECT_EQ(res.status, 201);
  EXPECT_TRUE(res.ok());
  EXPECT_EQ(res.body, R"({"echo":{"type":"meta"}})");
  EXPECT_EQ(res.header("x-request-id"), "abc");
  EXPECT_EQ(res.header("X-REQUEST-ID"), "abc");
  EXPECT_FALSE(res.header("x-missing"));

  auto seen = server.requests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].method, "POST");
  EXPECT_EQ(seen[0].path, "/info");
  EXPECT_EQ(seen[0].body, R"({"type":"meta"})");
  EXPECT_EQ(seen[0].header("authorization"), "Bearer t0ken");
  EXPECT_EQ(seen[0].header("content-type"), "application/json");
}

TEST(HttpClient, ErrorStatusesAreAnswersNotFailures) {
  FakeServer server;
  server.onJson("GET", "/v1/models", R"({"error":"bad key"})", 401);
  HttpRequest req;
  req.url = server.url() + "/v1/models?x=1";
  HttpResponse res = CurlHttpClient::shared().send(req);
  EXPECT_EQ(res.status, 401);
  EXPECT_FALSE(res.ok());
  EXPECT_EQ(res.body, R"({"error":"bad key"})");
  EXPECT_EQ(server.requests()[0].query, "x=1");
}

TEST(HttpClient, TimesOutWithASentence) {
  FakeServer server;
  server.on("GET", "/slow", [](const RecordedRequest&) {
    FakeResponse r = FakeResponse::json("{}");
    r.delay = std::chrono::milliseconds(700);
    return r;
  });
  HttpRequest req;
  req.url = server.url() + "/slow";
  req.timeout = std::chrono::milliseconds(200);
  try {
    (void)CurlHttpClient::shared().send(req);
    ADD_FAILURE() << "no time-out";
  } catch (const NetError& e) {
    EXPECT_EQ(e.kind(), NetError::Kind::timeout);
    EXPECT_EQ(std::string(e.what()), "The request to 127.0.0.1:" + std::to_string(server.port()) +
                                         " timed out after 0.2 seconds.");
  }
}

TEST(HttpClient, ARefusedConnectionSaysSo) {
  // Bind a port, then close it: nothing listens there.
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  int port = ntohs(addr.sin_port);
  ::close(fd);

  HttpRequest req;
  req.url = "http://127.0.0.1:" + std::to_string(port) + "/info";
  try {
    (void)CurlHttpClient::shared().send(req);
    ADD_FAILURE() << "connected to a closed port";
  } catch (const NetError& e) {
    EXPECT_EQ(e.kind(), NetError::Kind::connection);
    EXPECT_NE(std::string(e.what()).find("Could not connect to 127.0.0.1:" + std::to_string(port)),
              std::string::npos)
        << e.what();
  }
}

TEST(HttpClient, AConnectionClosedWithoutAnAnswerCountsAsLost) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(fd, 1), 0);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  std::thread closer([fd] {
    int client = ::accept(fd, nullptr, nullptr);
    char buf[1024];
    (void)::recv(client, buf, sizeof buf, 0);
    ::close(client);  // hang up without a word
  });
  HttpRequest req;
  req.url = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/info";
  try {
    (void)CurlHttpClient::shared().send(req);
    ADD_FAILURE() << "an empty reply was taken as an answer";
  } catch (const NetError& e) {
    EXPECT_EQ(e.kind(), NetError::Kind::connection);
    EXPECT_NE(std::string(e.what()).find("was lost"), std::string::npos) << e.what();
  }
  closer.join();
  ::close(fd);
}

TEST(HttpClient, RefusesSchemesOtherThanHttp) {
  HttpRequest req;
  req.url = "file:///etc/passwd";
  EXPECT_THROW((void)CurlHttpClient::shared().send(req), NetError);
}

TEST(HttpClient, StreamsLinesAcrossChunkBoundaries) {
  FakeServer server;
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
                                                       return true;
                                                     });
  EXPECT_EQ(res.status, 200);
  EXPECT_TRUE(res.body.empty());
  EXPECT_EQ(lines, (std::vector<std::string>{"data: {\"a\":1}", "", "data: {\"b\":2}", "", "data: [DONE]"}));
}

TEST(HttpClient, StreamStopsWhenTheHandlerSaysSo) {
  FakeServer server;
  server.on("GET", "/ndjson", [](const RecordedRequest&) {
    FakeResponse r;
    r.chunks = {"{\"n\":1}\n", "{\"n\":2}\n", "{\"n\":3}\n"};
    return r;
  });
  int seen = 0;
  HttpRequest req;
  req.url = server.url() + "/ndjson";
  HttpResponse res = CurlHttpClient::shared().stream(req, [&](std::string_view) { return ++seen < 2; });
  EXPECT_EQ(seen, 2);
  EXPECT_EQ(res.status, 200);
}

TEST(HttpClient, StreamCollectsTheBodyOfAnErrorStatus) {
  FakeServer server;
  server.onJson("POST", "/chat", R"({"error":{"message":"quota"}})", 429);
  int lines = 0;
  HttpResponse res = CurlHttpClient::shared().stream(HttpRequest::postJson(server.url() + "/chat", "{}"),
                                                     [&](std::string_view) { return ++lines > 0; });
  EXPECT_EQ(res.status, 429);
  EXPECT_EQ(lines, 0);
  EXPECT_EQ(res.body, R"({"error":{"message":"quota"}})");
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
  HttpRequest req;
  req.url = server.url() + "/sse";
  req.cancellation = &cancel;
  try {
    (void)CurlHttpClient::shared().stream(req, [&](std::string_view) {
      cancel.cancel();
      return true;
    });
    ADD_FAILURE() << "not cancelled";
  } catch (const NetError& e) {
    EXPECT_EQ(e.kind(), NetError::Kind::cancelled);
    EXPECT_STREQ(e.what(), "The request was cancelled.");
  }

  HttpRequest idle;
  idle.url = server.url() + "/sse";
  idle.timeout = std::chrono::milliseconds(300);
  int lines = 0;
  try {
    (void)CurlHttpClient::shared().stream(idle, [&](std::string_view) { return ++lines > 0; });
    ADD_FAILURE() << "no idle time-out";
  } catch (const NetError& e) {
    EXPECT_EQ(e.kind(), NetError::Kind::timeout);
    EXPECT_EQ(lines, 1);
  }
}

}  // namespace
}  // namespace orwenna
