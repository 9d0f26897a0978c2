// HxStr: sharing and copy-on-write, locked buffers, formatting, multibyte-aware edits and
// wildcard matching.
#include <gtest/gtest.h>

#include <cstdarg>
#include <string>
#include <thread>
#include <vector>

#include "foundation/strings/hx_str.h"
#include "foundation/strings/string_table.h"

namespace {

std::string S(const HxStr& s) { return std::string(std::string_view(s)); }

int FormatVia(HxStr& target, const char* format, ...) __attribute__((format(printf, 2, 3)));
int FormatVia(HxStr& target, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int count = target.FormatV(format, args);
  va_end(args);
  return count;
}

TEST(HxStrSharing, EmptyStringsShareOneUncountedRepresentation) {
  HxStr a;
  HxStr b(static_cast<const char*>(nullptr));
  HxStr c('x', 0);
  HxStr d("");
  EXPECT_EQ(a.c_str(), b.c_str());
  EXPECT_EQ(a.c_str(), c.c_str());
  EXPECT_EQ(a.c_str(), d.c_str());
  EXPECT_EQ(a.GetRefCount(), 0);
  HxStr copy = a;
  EXPECT_EQ(a.GetRefCount(), 0);
  EXPECT_STREQ(copy.c_str(), "");
}

TEST(HxStrSharing, CopiesShareUntilOneReallyChanges) {
  HxStr original("shared text");
  HxStr copy = original;
  EXPECT_EQ(original.c_str(), copy.c_str());
  EXPECT_EQ(original.GetRefCount(), 2);

  copy += "!";
  EXPECT_NE(original.c_str(), copy.c_str());
  EXPECT_EQ(S(original), "shared text");
  EXPECT_EQ(S(copy), "shared text!");
  EXPECT_EQ(original.GetRefCount(), 1);
  EXPECT_EQ(copy.GetRefCount(), 1);

  // Every kind of in-place edit detaches first.
  HxStr edits[] = {original, original, original, original, original};
  edits[0].MakeUpper();
  edits[1].Replace('t', 'T');
  edits[2].SetAt(0, 'S');
  edits[3].TrimRight('t');
  edits[4].GetBuffer(0)[0] = 'X';
  edits[4].ReleaseBuffer();
  EXPECT_EQ(S(original), "shared text");
  EXPECT_EQ(S(edits[0]), "SHARED TEXT");
  EXPECT_EQ(S(edits[1]), "shared TexT");
  EXPECT_EQ(S(edits[2]), "Shared text");
  EXPECT_EQ(S(edits[3]), "shared tex");
  EXPECT_EQ(S(edits[4]), "Xhared text");
  EXPECT_EQ(original.GetRefCount(), 1);

  // Edits that change nothing keep sharing.
  HxStr upper("ABC 123");
  HxStr unchanged = upper;
  unchanged.MakeUpper();
  unchanged.Replace('x', 'y');
  unchanged.Trim('-');
  EXPECT_EQ(upper.c_str(), unchanged.c_str());
}

TEST(HxStrSharing, ReferenceCountIsExactUnderConcurrentCopies) {
  HxStr shared("concurrently copied");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&shared] {
      for (int i = 0; i < 20000; ++i) {
        HxStr copy = shared;
        HxStr another(copy);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(shared.GetRefCount(), 1);
}

TEST(HxStrLockedBuffer, LockedBufferIsCopiedNotShared) {
  HxStr locked("abc");
  char* buffer = locked.GetBuffer(10);
  EXPECT_LT(locked.GetRefCount(), 0);
  EXPECT_GE(locked.GetCapacity(), 10);

  HxStr copy = locked;
  EXPECT_NE(copy.c_str(), locked.c_str());
  EXPECT_EQ(copy.GetRefCount(), 1);
  buffer[0] = 'X';  // writing through the buffer does not reach the copy
  EXPECT_EQ(S(copy), "abc");

  HxStr target("target");
  target = locked;
  EXPECT_NE(target.c_str(), locked.c_str());

  // Assigning into a locked string keeps its buffer.
  HxStr source("xyz");
  locked = source;
  EXPECT_EQ(locked.c_str(), buffer);
  EXPECT_EQ(source.GetRefCount(), 1);

  locked.ReleaseBuffer();
  EXPECT_EQ(locked.GetRefCount(), 1);
  HxStr sharedNow = locked;
  EXPECT_EQ(sharedNow.c_str(), locked.c_str());
}

TEST(HxStrLockedBuffer, ReleaseBufferSetsTheLengthAndEmptyKeepsALockedBuffer) {
  HxStr s;
  char* buffer = s.GetBuffer(16);
  std::snprintf(buffer, 16, "hello");
  s.ReleaseBuffer();
  EXPECT_EQ(s.GetLength(), 5);
  EXPECT_EQ(S(s), "hello");

  s.GetBuffer(0);
  s.ReleaseBuffer(2);
  EXPECT_EQ(S(s), "he");

  char* set = s.GetBufferSetLength(4);
  set[2] = 'y';
  set[3] = '!';
  EXPECT_EQ(S(s), "hey!");
  EXPECT_EQ(s.GetRefCount(), 1);

  // Empty truncates a locked buffer in place, and releases an unlocked one.
  buffer = s.GetBuffer(0);
  s.Empty();
  EXPECT_EQ(s.c_str(), buffer);
  EXPECT_EQ(s.GetLength(), 0);
  s.ReleaseBuffer();
  s.Empty();
  EXPECT_EQ(s.GetRefCount(), 0);  // released to the shared empty representation
}

TEST(HxStrGrowth, GranularityRoundsCapacityAndAppendIsInPlaceWhenUniqueWithRoom) {
  HxStr s;
  s.SetGranularity(16);
  s = "abc";
  EXPECT_EQ(s.GetCapacity(), 16);
  HxStr joined = s + "defghijklmnopqrstu";  // 21 characters
  EXPECT_EQ(joined.GetGranularity(), 16);
  EXPECT_EQ(joined.GetCapacity(), 32);
  HxStr plain("xy");
  EXPECT_EQ((plain + s).GetGranularity(), 0);

  HxStr grown("ab");
  grown.GetBuffer(64);
  grown.ReleaseBuffer();
  const char* start = grown.c_str();
  grown += "cd";
  grown += 'e';
  EXPECT_EQ(grown.c_str(), start);
  EXPECT_EQ(S(grown), "abcde");

  grown += grown;  // appending itself
  EXPECT_EQ(S(grown), "abcdeabcde");
  HxStr big("0123456789");
  big += big;
  EXPECT_EQ(S(big), "01234567890123456789");
}

TEST(HxStrFormat, ShortLongVeryLongAndSelfReferencingResults) {
  HxStr s;
  EXPECT_EQ(s.Format("%d-%s", 42, "x"), 4);
  EXPECT_EQ(S(s), "42-x");

  const std::string thousand(1000, 'q');
  EXPECT_EQ(s.Format("%s", thousand.c_str()), 1000);
  EXPECT_EQ(s.GetLength(), 1000);
  EXPECT_EQ(S(s), thousand);

  // Exactly at the stack buffer's edge.
  const std::string edge(259, 'e');
  s.Format("%s", edge.c_str());
  EXPECT_EQ(S(s), edge);
  s.Format("%s!", edge.c_str());
  EXPECT_EQ(s.GetLength(), 260);

  const std::string huge(40000, 'h');
  EXPECT_EQ(FormatVia(s, "<%s>", huge.c_str()), 40002);
  EXPECT_EQ(S(s), "<" + huge + ">");

  // A string may format its own text, short or long.
  s = "self";
  s.Format("%s and %s", s.c_str(), s.c_str());
  EXPECT_EQ(S(s), "self and self");
  const std::string longer(600, 'z');
  s = longer;
  s.Format("[%s]", s.c_str());
  EXPECT_EQ(S(s), "[" + longer + "]");
}

TEST(HxStrEdit, TrimRemovesRunsOfOneCharacterAndNeverSplitsAMultibyteOne) {
  HxStr s("xxabcxx");
  s.TrimLeft('x');
  EXPECT_EQ(S(s), "abcxx");
  s.TrimRight('x');
  EXPECT_EQ(S(s), "abc");
  HxStr blanks("   mid dle   ");
  blanks.Trim();
  EXPECT_EQ(S(blanks), "mid dle");
  HxStr only("----");
  only.Trim('-');
  EXPECT_TRUE(only.IsEmpty());

  // "é" is C3 A9: neither byte is a character of its own.
  HxStr cafe("caf\xC3\xA9");
  cafe.TrimRight('\xA9');
  EXPECT_EQ(S(cafe), "caf\xC3\xA9");
  cafe.Replace('\xA9', 'X');
  EXPECT_EQ(S(cafe), "caf\xC3\xA9");
  HxStr lead("\xC3\xA9t\xC3\xA9");
  lead.TrimLeft('\xC3');
  EXPECT_EQ(S(lead), "\xC3\xA9t\xC3\xA9");

  HxStr mixed(
      "Stra\xC3\x9F"
      "e \xC3\x89t\xC3\xA9");
  mixed.MakeUpper();
  EXPECT_EQ(S(mixed),
            "STRA\xC3\x9F"
            "E \xC3\x89T\xC3\xA9");
  mixed.MakeLower();
  EXPECT_EQ(S(mixed),
            "stra\xC3\x9f"
            "e \xC3\x89t\xC3\xA9");
}

TEST(HxStrEdit, FindMidAndACaseInsensitiveOrderThatFoldsToLowerCase) {
  HxStr s("a/b/c");
  EXPECT_EQ(s.Find('/'), 1);
  EXPECT_EQ(s.ReverseFind('/'), 3);
  EXPECT_EQ(s.Find('z'), -1);
  EXPECT_EQ(s.Find("b/"), 2);
  EXPECT_EQ(s.Find("zz"), -1);
  EXPECT_EQ(S(s.Mid(2, 5)), "b/c");
  EXPECT_EQ(S(s.Mid(0, 0)), "");
  EXPECT_TRUE(s.Mid(5, 5).IsEmpty());  // first must lie inside
  EXPECT_TRUE(s.Mid(3, 2).IsEmpty());
  EXPECT_TRUE(s.Mid(-1, 2).IsEmpty());
  EXPECT_TRUE(s.Mid(1, 6).IsEmpty());
  EXPECT_EQ(CountOf(s, '/'), 2);

  EXPECT_EQ(HxStr("Path").CompareNoCase("PATH"), 0);
  // stricmp folds to lower case: '_' (0x5F) sorts before 'a' (0x61) but after 'A' (0x41).
  EXPECT_LT(CompareNoCase("_x", "Ax"), 0);
  EXPECT_GT(HxStr("b").Compare("B"), 0);
  EXPECT_LT(CompareNoCase("ab", "abc"), 0);
  EXPECT_TRUE(HxStr("x") == "x");
  EXPECT_TRUE(std::string("x") == HxStr("x"));
  EXPECT_TRUE(HxStr("a") < HxStr("b"));
}

TEST(HxStrMatch, StarsQuestionMarksAndSetsWhileWideTextBecomesUtf8AndLoadStringReadsTheTable) {
  HxStr name("report_2024.txt");
  EXPECT_TRUE(name.Match("*.txt"));
  EXPECT_TRUE(name.Match("report_????.txt"));
  EXPECT_TRUE(name.Match("*_[0-9][0-9]2[0-4]*"));
  EXPECT_TRUE(name.Match("r*t*t*t"));
  EXPECT_TRUE(name.Match("*"));
  EXPECT_FALSE(name.Match("*.TXT"));
  EXPECT_TRUE(name.MatchNoCase("*.TXT"));
  EXPECT_TRUE(name.MatchNoCase("[P-S]EPORT*"));
  EXPECT_FALSE(name.Match("report"));
  EXPECT_FALSE(name.Match("*.tx"));
  EXPECT_FALSE(name.Match("report_[a-z]*"));
  EXPECT_TRUE(HxStr("").Match("*"));
  EXPECT_FALSE(HxStr("").Match("?"));
  EXPECT_FALSE(HxStr("a]b").Match("a[]]b"));  // "[]" is an empty set, then "]b"
  EXPECT_TRUE(HxStr("[x").Match("[x"));       // unclosed bracket: a plain character
  // '?' takes one whole multibyte character.
  EXPECT_TRUE(HxStr("caf\xC3\xA9").Match("caf?"));
  EXPECT_FALSE(HxStr("caf\xC3\xA9").Match("caf??"));

  // Wide text becomes UTF-8; LoadString reads the string table.
  HxStr s(L"h\u00e9\u20ac\U0001F600");
  EXPECT_EQ(S(s), "h\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  s = L"x";
  EXPECT_EQ(S(s), "x");
  std::string expected;
  ASSERT_TRUE(LoadModuleString(kStringUnknown, expected));
  EXPECT_TRUE(s.LoadString(kStringUnknown));
  EXPECT_EQ(S(s), expected);
  EXPECT_FALSE(s.LoadString(0xFFFFFFF0u));
  EXPECT_TRUE(s.IsEmpty());
}

}  // namespace
