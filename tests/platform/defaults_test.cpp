#include "platform/defaults.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "base/files.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

namespace fs = std::filesystem;

class DefaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string t = (fs::temp_directory_path() / "orwenna-defaults-XXXXXX").string();
    dir_ = ::mkdtemp(t.data());
    ::setenv("ORWENNA_HOME", dir_.c_str(), 1);
    ::unsetenv("ORWENNA_HL_API");
  }
  void TearDown() override {
    fs::remove_all(dir_);
    ::unsetenv("ORWENNA_HL_API");
  }
  fs::path file() const { return Defaults::defaultFile(); }
  fs::path dir_;
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

TEST_F(DefaultsTest, EndpointsComeFromTheEnvironmentFirstThenTheFile) {
  Defaults d(file());
  EXPECT_FALSE(endpointOverride("ORWENNA_HL_API", d));
  d.setValue("endpoints", Json{{"ORWENNA_HL_API", "http://127.0.0.1:9/"}, {"ORWENNA_SOLANA_RPC", ""}}, "endpoints");
  EXPECT_EQ(endpointOverride("ORWENNA_HL_API", d), "http://127.0.0.1:9/");  // a node URL stays as written
  EXPECT_FALSE(endpointOverride("ORWENNA_SOLANA_RPC", d));  // empty means unset
  ::setenv("ORWENNA_HL_API", "http://127.0.0.1:8//", 1);
  EXPECT_EQ(endpointOverride("ORWENNA_HL_API", d), "http://127.0.0.1:8//");
  EXPECT_EQ(baseURLOr("ORWENNA_HL_API", "https://x"), "http://127.0.0.1:8");
  d.setValue("endpoints", Json::array(), "endpoints");
  ::unsetenv("ORWENNA_HL_API");
  EXPECT_FALSE(endpointOverride("ORWENNA_HL_API", d));
  EXPECT_EQ(baseURLOr("ORWENNA_HL_API", "https://api.example/"), "https://api.example");
}

}  // namespace
}  // namespace orwenna
