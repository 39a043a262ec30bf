// The signer's socket under load: many clients at once with mixed requests
// and broken frames, while one client connects and says nothing and another
// announces a frame far over the cap. Every well-formed request is answered,
// and when the clients are gone no descriptor or thread is left behind.
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "signer/signer_server.h"
#include "signing/signer_socket.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

class DecliningPrompter final : public Prompter {
 public:
  PromptAnswer confirm(const PromptText&) override { return PromptAnswer(PromptAnswer::Outcome::declined); }
  PromptAnswer passphrase(const PromptText&) override { return PromptAnswer(PromptAnswer::Outcome::declined); }
};

std::size_t countIn(const char* folder) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder)) ++n;
  return n;
}

// Waits until the process is back to `threads` threads.
bool threadsBackTo(std::size_t threads) {
  for (int i = 0; i < 400; ++i) {
    if (countIn("/proc/self/task") <= threads) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(SignerServerLoad, ClientsAreAnsweredWhileOthersStallOrLieAndNothingLeaks) {
  testing::TempDir dir;
  testing::FixedClock clock;
  DecliningPrompter prompter;
  SignerService service({dir.path() / "signer", ScryptParams::kMinLog2N}, prompter, clock, SecureRandom::shared());
  const std::size_t fdsBefore = countIn("/proc/self/fd");
  const std::size_t threadsBefore = countIn("/proc/self/task");
  {
    SignerServer server(dir.path() / "run", service);
    std::atomic<bool> stop{false};
    std::thread runner([&] { server.run(stop); });
    const auto path = server.socketPath();

    UniqueFd silent = connectUnixSocket(path, std::chrono::seconds(2));
    UniqueFd liar = connectUnixSocket(path, std::chrono::seconds(2));
    const unsigned char huge[4] = {0x7f, 0xff, 0xff, 0xff};
    ASSERT_EQ(::write(liar.get(), huge, 4), 4);

    const std::vector<std::string> frames = {
        SignerRequest(signer_request::Status{}).toJson().dump(),
        SignerRequest(signer_request::AddressBook{}).toJson().dump(),
        R"({"status":{},"lock":{}})",  // two cases: refused
        "not json",
    };
    std::atomic<int> answered{0}, wrong{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < 12; ++c) {
      clients.emplace_back([&, c] {
        for (int i = 0; i < 20; ++i) {
          const std::string& frame = frames[static_cast<std::size_t>(c + i) % frames.size()];
          try {
            UniqueFd fd = connectUnixSocket(path, std::chrono::seconds(5));
            writeFrame(fd.get(), frame);
            auto json = parseJson(readFrame(fd.get(), kMaxSignerFrameBytes, std::chrono::milliseconds(10000)));
            if (!json) {
              ++wrong;
              continue;
            }
            const bool wellFormed = frame.starts_with("{\"status\":{}}") || frame.starts_with("{\"addressBook\"");
            SignerReply reply = SignerReply::fromJson(*json);
            if (reply.ok == wellFormed) ++answered;
            else ++wrong;
          } catch (const std::exception&) {
            ++wrong;
          }
        }
      });
    }
    for (auto& t : clients) t.join();
    EXPECT_EQ(answered.load(), 12 * 20);
    EXPECT_EQ(wrong.load(), 0);

    // The liar is refused without the server waiting for two gigabytes.
    char buf[256];
    const ssize_t n = ::read(liar.get(), buf, sizeof buf);
    EXPECT_GE(n, 0) << "the server answers or closes, it does not hang";
    ::close(liar.release());
    ::close(silent.release());
    stop = true;
    runner.join();
  }
  EXPECT_TRUE(threadsBackTo(threadsBefore)) << countIn("/proc/self/task") << " threads, " << threadsBefore << " before";
  EXPECT_EQ(countIn("/proc/self/fd"), fdsBefore);
}

}  // namespace
}  // namespace orwenna
