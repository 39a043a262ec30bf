// Shared pieces of the model tests: JWT building, a raw HTTP request to a
// loopback port, and the sentence of a model failure.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/clock.h"
#include "base/json.h"
#include "llm/llm.h"
#include "support/test_support.h"

namespace orwenna::testing {

inline constexpr std::int64_t kNow = 1796541540000;  // 2026-12-06T07:19:00Z

// A JWT of OpenAI's shape: expiry in seconds, account id in the auth claim.
inline std::string openAIToken(std::int64_t expSeconds, const std::string& accountID) {
  Json payload = Json::object();
  payload["exp"] = expSeconds;
  if (!accountID.empty()) payload["https://api.openai.com/auth"] = Json{{"chatgpt_account_id", accountID}};
  return toBase64Url(asBytes(R"({"alg":"RS256","typ":"JWT"})")) + "." + toBase64Url(asBytes(payload.dump())) +
         ".c2lnbmF0dXJl";
}

inline void writeText(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// Sends one raw request to 127.0.0.1:port and returns every byte of the answer.
inline std::string rawGet(int port, const std::string& target) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return "connect failed";
  }
  std::string request = "GET " + target + " HTTP/1.1\r\nHost: localhost\r\nAccept: text/html\r\n\r\n";
  ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string answer;
  char buffer[4096];
  ssize_t n;
  while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, static_cast<std::size_t>(n));
  ::close(fd);
  return answer;
}

// The provider with this id from makeProviders; throws when there is none, so
// a renamed provider fails the test instead of skipping its checks.
template <typename Providers>
auto& providerOf(Providers& providers, const std::string& id) {
  for (auto& p : providers)
    if (p->info().id == id) return *p;
  throw std::logic_error("no provider " + id);
}

// The sentence of the LLMError `f` throws; any other exception escapes.
inline std::string failureOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const LLMError& e) {
    return e.what();
  }
  return "no failure";
}

// The failure of one request, whole or streamed.
inline std::string failureOfAsking(LLMClient& client, const LLMRequest& request, bool streaming) {
  return failureOf([&] {
    if (streaming) {
      (void)client.completeStreaming(request, nullptr);
    } else {
      (void)client.complete(request);
    }
  });
}

}  // namespace orwenna::testing
