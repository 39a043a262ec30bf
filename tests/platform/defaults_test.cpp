#include "platform/defaults.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>

#include "base/files.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

namespace fs = std::filesystem;

// ORWENNA_HOME points into a fresh folder for each test and is put back after.
class DefaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* home = std::getenv("ORWENNA_HOME")) saved_ = home;
    ::setenv("ORWENNA_HOME", dir_.path().c_str(), 1);
  }
  void TearDown() override {
    if (saved_) {
      ::setenv("ORWENNA_HOME", saved_->c_str(), 1);
    } else {
      ::unsetenv("ORWENNA_HOME");
    }
  }
  fs::path file() const { return Defaults::defaultFile(); }
  testing::TempDir dir_;
  std::optional<std::string> saved_;
};

TEST_F(DefaultsTest, WritesOneKeyAndKeepsTheOthers) {
  Defaults d(file());
  EXPECT_FALSE(d.value("agentMemory"));
  d.setValue("riskPolicy", Json{{"maxRiskPct", 2}}, "the risk policy");
  d.setValue("agentMemory", Json::array({"no memecoins"}), "the memory");
  d.setValue("agentMemory", Json::array({"only majors"}), "the memory");
  EXPECT_EQ(*d.value("riskPolicy"), (Json{{"maxRiskPct", 2}}));
  EXPECT_EQ(*d.value("agentMemory"), Json::array({"only majors"}));
}

TEST_F(DefaultsTest, AFileThatIsNotAnObjectIsNeverOverwritten) {
  for (const char* text : {"[1,2]", "{\"broken\": ", "\"text\""}) {
    ensureDirectory(file().parent_path());
    writeFileAtomically(file(), text);
    Defaults d(file());
    EXPECT_FALSE(d.value("agentMemory")) << text;
    EXPECT_EQ(testing::errorOf([&] { d.setValue("agentMemory", Json::array(), "the memory"); }),
              file().string() + " is not a JSON object; the memory was not saved.");
    EXPECT_EQ(*readFile(file()), text);
  }
}

}  // namespace
}  // namespace orwenna
