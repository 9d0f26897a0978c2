// The comparison operators of rule lines, on an expansion E and a value V.
#include <gtest/gtest.h>

#include "noltsync/manifest/rule_operators.h"

namespace {

bool Apply(const char* e, const char* op, const char* v) { return ApplyRuleOperator(e, op, v); }

TEST(RuleOperatorTest, TextComparisonsAndTheirCaseRules) {
  EXPECT_TRUE(Apply("Linux", "=", "LINUX"));
  EXPECT_FALSE(Apply("Linux", "=", "Linux "));
  EXPECT_TRUE(Apply("Linux", "!=", "bsd"));
  EXPECT_FALSE(Apply("Linux", "!=", "linux"));
  // Contains counts case, its "~" form does not; prefix ignores case.
  EXPECT_TRUE(Apply("Program Files", "**", "m F"));
  EXPECT_FALSE(Apply("Program Files", "**", "m f"));
  EXPECT_TRUE(Apply("Program Files", "~*", "m f"));
  EXPECT_FALSE(Apply("Program Files", "~*", "Files"));
  EXPECT_TRUE(Apply("Windows XP", "*", "windows"));
  EXPECT_TRUE(Apply("abc", "*", ""));
  EXPECT_FALSE(Apply("Win", "*", "Windows"));
  // Glob matches the whole expansion.
  EXPECT_TRUE(Apply("Report-2024.TXT", "glob", "report-20[0-9][0-9].*"));
  EXPECT_TRUE(Apply("abc", "GLOB", "a?c"));
  EXPECT_FALSE(Apply("abcd", "glob", "a?c"));
  EXPECT_TRUE(Apply("abcd", "~glob", "a?c"));
}

TEST(RuleOperatorTest, ListAndInstanceMembership) {
  // Items of V are trimmed; items of E are taken as they stand.
  EXPECT_TRUE(Apply("en;DE;fr", "=*", " it ; de "));
  EXPECT_FALSE(Apply("en; de", "=*", "de"));
  EXPECT_FALSE(Apply("en;fr", "=*", "it;es"));
  // Instance values split at bars, each after its comma.
  const char* expansion = "C:,NTFS|D:,FAT32|plain";
  EXPECT_TRUE(Apply(expansion, "=**", "exfat; fat32"));
  EXPECT_TRUE(Apply(expansion, "=**", "PLAIN"));
  EXPECT_FALSE(Apply(expansion, "=**", "C:"));  // the key before the comma does not count
  EXPECT_TRUE(Apply(expansion, "~=*", "C:;ext4"));
  EXPECT_FALSE(Apply(expansion, "~=*", "ntfs"));
  EXPECT_TRUE(Apply("k,v,w", "=**", "v,w"));  // only the first comma divides
}

TEST(RuleOperatorTest, OrderingComparesNumbersWhenBothAreNumbers) {
  EXPECT_FALSE(Apply("10", "<", "9"));
  EXPECT_TRUE(Apply("10", ">", "9"));
  EXPECT_TRUE(Apply("10a", "<", "9"));  // texts
  EXPECT_TRUE(Apply("1.5e1", ">=", "15"));
  EXPECT_TRUE(Apply("-2", "<", "-1.5"));
  EXPECT_TRUE(Apply("+3", "<=", "3.0"));
  EXPECT_TRUE(Apply("", "<", "1"));     // empty reads as 0
  EXPECT_TRUE(Apply("ABC", "<=", "abc"));
  EXPECT_TRUE(Apply("nan", ">", "1"));  // not a number: compared as text
  EXPECT_FALSE(Apply(" 5", ">", "10"));  // leading space: texts
}

TEST(RuleOperatorTest, UnknownOperatorIsNeverTrue) {
  EXPECT_FALSE(Apply("a", "==", "a"));
  EXPECT_FALSE(Apply("a", " = ", "a"));
}

}  // namespace
