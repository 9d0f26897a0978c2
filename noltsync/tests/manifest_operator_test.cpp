// The comparison operators of rule lines, on an expansion E and a value V.
#include <gtest/gtest.h>

#include "noltsync/manifest/rule_operators.h"

namespace {

struct OperatorCase {
  const char* e;
  const char* op;
  const char* v;
  bool holds;
};

// clang-format off
const OperatorCase kCases[] = {
    // Equality ignores letter case, never spaces.
    {"Linux", "=", "LINUX", true}, {"Linux", "=", "Linux ", false}, {"Linux", "!=", "bsd", true},
    {"Linux", "!=", "linux", false},
    // Containment counts letter case; the prefix test ignores it.
    {"Program Files", "**", "m F", true}, {"Program Files", "**", "m f", false},
    {"Program Files", "~*", "m f", true}, {"Program Files", "~*", "Files", false},
    {"Windows XP", "*", "windows", true}, {"abc", "*", "", true}, {"Win", "*", "Windows", false},
    // A glob matches the whole expansion.
    {"Report-2024.TXT", "glob", "report-20[0-9][0-9].*", true}, {"abc", "GLOB", "a?c", true},
    {"abcd", "glob", "a?c", false}, {"abcd", "~glob", "a?c", true},
    // List items of V are trimmed, those of E taken as they stand.
    {"en;DE;fr", "=*", " it ; de ", true}, {"en; de", "=*", "de", false},
    {"en;fr", "=*", "it;es", false},
    // Instance values split at bars, each taken after its first comma.
    {"C:,NTFS|D:,FAT32|plain", "=**", "exfat; fat32", true},
    {"C:,NTFS|D:,FAT32|plain", "=**", "PLAIN", true},
    {"C:,NTFS|D:,FAT32|plain", "=**", "C:", false},
    {"C:,NTFS|D:,FAT32|plain", "~=*", "C:;ext4", true},
    {"C:,NTFS|D:,FAT32|plain", "~=*", "ntfs", false}, {"k,v,w", "=**", "v,w", true},
    // Ordering compares numbers when both sides read whole as numbers, else texts.
    {"10", "<", "9", false}, {"10", ">", "9", true}, {"10a", "<", "9", true},
    {"1.5e1", ">=", "15", true}, {"-2", "<", "-1.5", true}, {"+3", "<=", "3.0", true},
    {"", "<", "1", true}, {"ABC", "<=", "abc", true}, {"nan", ">", "1", true},
    {" 5", ">", "10", false},
    // Unknown operators never hold.
    {"a", "==", "a", false}, {"a", " = ", "a", false},
};
// clang-format on

TEST(RuleOperatorTest, EveryOperatorOnExpansionAndValue) {
  for (const OperatorCase& c : kCases) {
    EXPECT_EQ(ApplyRuleOperator(c.e, c.op, c.v), c.holds)
        << '"' << c.e << "\" " << c.op << " \"" << c.v << '"';
  }
}

}  // namespace
