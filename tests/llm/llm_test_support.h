// Shared pieces of the model tests: a settable clock, scripted randomness,
// JWT building, temporary folders, a raw HTTP request to a loopback port, and
// the sentence of a model failure.
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

namespace orwenna::testing {

inline constexpr std::int64_t kNow = 1796541540000;  // 2026-12-06T07:19:00Z

class FixedClock final : public Clock {
 public:
  explicit FixedClock(std::int64_t now) : now_(now) {}
  std::int64_t nowMillis() const override { return now_.load(); }
  std::int64_t monotonicMillis() const override { return now_.load(); }
  void sleepFor(std::int64_t millis) override { now_ += millis; }

 private:
  std::atomic<std::int64_t> now_;
};

// Hands out the given bytes, then counts upward from 1.
class ScriptedRandom final : public Random {
 public:
  explicit ScriptedRandom(std::vector<std::uint8_t> bytes = {}) : bytes_(std::move(bytes)) {}
  void fill(std::span<std::uint8_t> out) override {
    for (auto& b : out) b = next_ < bytes_.size() ? bytes_[next_++] : static_cast<std::uint8_t>(++counter_);
  }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t next_ = 0;
  std::uint8_t counter_ = 0;
};

// A JWT of OpenAI's shape: expiry in seconds, account id in the auth claim.
inline std::string openAIToken(std::int64_t expSeconds, const std::string& accountID) {
  Json payload = Json::object();
  payload["exp"] = expSeconds;
  if (!accountID.empty()) payload["https://api.openai.com/auth"] = Json{{"chatgpt_account_id", accountID}};
  return toBase64Url(asBytes(R"({"alg":"RS256","typ":"JWT"})")) + "." + toBase64Url(asBytes(payload.dump())) +
         ".c2lnbmF0dXJl";
}

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orwenna-llm-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

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
