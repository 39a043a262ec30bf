// A fixture that runs the real orwenna-signer for a test: a home of its own,
// the scripted pinentry (its answers in <dir>/script, what it was asked in
// <dir>/script.log), cheap key stretching and a short prompt limit. The signer
// starts on the first request and is stopped after the test.
#pragma once

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "base/files.h"
#include "signing/signer_client.h"
#include "support/test_support.h"

namespace orwenna::testing {

class RealSignerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("ORWENNA_HOME", (dir.path() / "home").c_str(), 1);
    setenv("ORWENNA_TEST", "1", 1);
    setenv("ORWENNA_PINENTRY", ORWENNA_FAKE_PINENTRY, 1);
    setenv("FAKE_PINENTRY_SCRIPT", (dir.path() / "script").c_str(), 1);
    setenv("ORWENNA_SIGNER_SCRYPT_LOG2N", "10", 1);
    setenv("ORWENNA_SIGNER_PROMPT_SECONDS", "5", 1);
    paths = AppPaths::fromEnvironment();
    location = SignerLocation{paths.runtimeDir / SignerLocation::kSocketName, ORWENNA_SIGNER_PROGRAM};
  }
  void TearDown() override {
    if (auto pid = readFile(paths.runtimeDir / "signer.lock"); pid && !pid->empty()) {
      ::kill(static_cast<pid_t>(std::stol(*pid)), SIGTERM);
      for (int i = 0; i < 200 && std::filesystem::exists(location.socket); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
      }
    }
    for (const char* name : {"ORWENNA_HOME", "ORWENNA_TEST", "ORWENNA_PINENTRY", "FAKE_PINENTRY_SCRIPT",
                             "ORWENNA_SIGNER_SCRYPT_LOG2N", "ORWENNA_SIGNER_PROMPT_SECONDS"}) {
      unsetenv(name);
    }
  }
  SignerReply send(const SignerRequest& request) { return SignerClient(location).send(request); }
  // How many prompts the scripted pinentry has answered.
  std::size_t prompts() const {
    std::string log = readFile(dir.path() / "script.log").value_or("");
    return static_cast<std::size_t>(std::count(log.begin(), log.end(), '\n'));
  }

  TempDir dir;
  AppPaths paths;
  SignerLocation location;
};

}  // namespace orwenna::testing
