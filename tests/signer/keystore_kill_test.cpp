// The keystore under SIGKILL at many points while the address book grows:
// the file always loads (a torn keystore would lock the user out of every
// wallet) and holds every entry whose save returned before the kill.
#include <gtest/gtest.h>

#include <memory>

#include "signer/keystore.h"
#include "support/kill_harness.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

TEST(KeystoreUnderKill, LoadsWholeWithEverySavedEntry) {
  testing::TempDir temp;
  const auto dir = temp.path() / "signer";
  testing::killWhileWriting(
      10,
      [&] {
        auto store = std::make_shared<Keystore>(Keystore::load(dir));
        return [=](std::int64_t i) {
          store->addressBook.push_back({"friend " + std::to_string(i), "solana", std::string(44, 'A'), ""});
          store->save(dir);
        };
      },
      [&](std::int64_t acknowledged) {
        Keystore loaded;
        ASSERT_NO_THROW(loaded = Keystore::load(dir));
        ASSERT_GE(static_cast<std::int64_t>(loaded.addressBook.size()), acknowledged + 1);
        EXPECT_LE(static_cast<std::int64_t>(loaded.addressBook.size()), acknowledged + 2);
        EXPECT_EQ(loaded.addressBook.at(static_cast<std::size_t>(acknowledged)).name,
                  "friend " + std::to_string(acknowledged));
      });
}

}  // namespace
}  // namespace orwenna
