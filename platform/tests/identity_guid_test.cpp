// GUIDs: random, version 4, and their braced text form.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/guid.h"

namespace {

TEST(GuidTest, NewGuidsAreRandomVersion4) {
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    platform::Guid guid;
    ASSERT_TRUE(platform::NewGuid(guid));
    EXPECT_EQ(guid.data3 >> 12, 4);
    EXPECT_EQ(guid.data4[0] & 0xC0, 0x80);
    seen.insert(platform::GuidToString(guid));
  }
  EXPECT_EQ(seen.size(), 100u);
}

TEST(GuidTest, TextFormIsBracedUpperCaseAndReadsBack) {
  platform::Guid guid{0x0123ABCD, 0x4567, 0x89EF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
  EXPECT_EQ(platform::GuidToString(guid), "{0123ABCD-4567-89EF-0123-456789ABCDEF}");
  platform::Guid back;
  ASSERT_TRUE(platform::GuidFromString("{0123abcd-4567-89ef-0123-456789abcdef}", back));
  EXPECT_EQ(back, guid);
  std::string fresh = platform::NewGuidString();
  EXPECT_EQ(fresh.size(), 38u);
  EXPECT_TRUE(platform::GuidFromString(fresh, back));
}

TEST(GuidTest, MalformedTextIsRejectedAndLeavesTheOutput) {
  const platform::Guid untouched{7, 7, 7, {7, 7, 7, 7, 7, 7, 7, 7}};
  for (const char* text :
       {"0123ABCD-4567-89EF-0123-456789ABCDEF", "{0123ABCD-4567-89EF-0123-456789ABCDEG}",
        "{0123ABCD_4567-89EF-0123-456789ABCDEF}"}) {
    platform::Guid out = untouched;
    EXPECT_FALSE(platform::GuidFromString(text, out)) << text;
    EXPECT_EQ(out, untouched);
  }
}

}  // namespace
