#include <gtest/gtest.h>

#include "trading/market.h"

namespace orwenna {
namespace {

TEST(MarketGroup, ByTheLastPieceOfABuilderDexName) {
  struct Case {
    const char* name;
    std::optional<std::string> dex;
    Market::Group group;
  };
  for (const Case& c : {
           Case{"GOLD", std::nullopt, Market::Group::crypto},  // own dex: crypto whatever the name
           Case{"xyz:GOLD", "xyz", Market::Group::commodities},
           Case{"xyz:SP500", "xyz", Market::Group::indices},
           Case{"flx::EUR:", "flx", Market::Group::indices},  // empty pieces dropped
           Case{"xyz:TSLA", "xyz", Market::Group::stocks},
           Case{"xyz:gold", "xyz", Market::Group::stocks},  // names are exact
           Case{":::", "xyz", Market::Group::crypto},
       }) {
    SCOPED_TRACE(c.name);
    Market m;
    m.name = c.name;
    m.dex = c.dex;
    EXPECT_EQ(m.group(), c.group);
  }
  EXPECT_EQ(rawValue(Market::Group::indices), "Indices & FX");
  EXPECT_EQ(marketGroupFromRaw("Commodities"), Market::Group::commodities);
  EXPECT_FALSE(marketGroupFromRaw("commodities"));
}

}  // namespace
}  // namespace orwenna
