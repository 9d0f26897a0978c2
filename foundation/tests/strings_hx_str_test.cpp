// HxStr: sharing and copy-on-write, locked buffers, formatting, multibyte-aware edits and
// wildcard matching.
#include <gtest/gtest.h>

#include <cstdarg>
#include <functional>
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

TEST(HxStrSharing, EmptiesShareOneUncountedRepresentationAndCopiesShareUntilAChange) {
  const HxStr empties[] = {HxStr(), HxStr(static_cast<const char*>(nullptr)), HxStr('x', 0),
                           HxStr(""), HxStr(HxStr())};
  for (const HxStr& empty : empties) {
    EXPECT_EQ(empty.c_str(), empties[0].c_str());
    EXPECT_EQ(empty.GetRefCount(), 0);
  }
  struct Case {
    const char* text;
    std::function<void(HxStr&)> edit;
    const char* result;
  };
  // Each edit of a copy leaves the original alone; an edit that changes nothing keeps sharing.
  // "é" is C3 A9: neither byte is a character of its own.
  const Case cases[] = {
      {"ab", [](HxStr& s) { s += "!"; }, "ab!"},
      {"ab", [](HxStr& s) { s.SetAt(0, 'S'); }, "Sb"},
      {"ab", [](HxStr& s) { s.GetBuffer(0)[0] = 'X', s.ReleaseBuffer(); }, "Xb"},
      {"xxabcxx", [](HxStr& s) { s.TrimLeft('x'); }, "abcxx"},
      {"xxabcxx", [](HxStr& s) { s.TrimRight('x'); }, "xxabc"},
      {"  mid dle  ", [](HxStr& s) { s.Trim(); }, "mid dle"},
      {"----", [](HxStr& s) { s.Trim('-'); }, ""},
      {"ab-", [](HxStr& s) { s.Trim('x'); }, "ab-"},
      {"a/b", [](HxStr& s) { s.Replace('/', '\\'); }, "a\\b"},
      {"caf\xC3\xA9", [](HxStr& s) { s.TrimRight('\xA9'); }, "caf\xC3\xA9"},
      {"caf\xC3\xA9", [](HxStr& s) { s.Replace('\xA9', 'X'); }, "caf\xC3\xA9"},
      {"\xC3\xA9t", [](HxStr& s) { s.TrimLeft('\xC3'); }, "\xC3\xA9t"},
      {"Stra\xC3\x9F \xC3\xA9t", [](HxStr& s) { s.MakeUpper(); }, "STRA\xC3\x9F \xC3\xA9T"},
      {"\xC3\x89T", [](HxStr& s) { s.MakeLower(); }, "\xC3\x89t"},
      {"lower", [](HxStr& s) { s.MakeLower(); }, "lower"},
  };
  for (const Case& c : cases) {
    const HxStr original(c.text);
    HxStr copy = original;
    c.edit(copy);
    EXPECT_EQ(S(copy), c.result) << c.text;
    EXPECT_EQ(S(original), c.text);
    EXPECT_EQ(copy.c_str() == original.c_str(), std::string(c.text) == c.result) << c.text;
  }
  const HxStr original("shared");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&original] {
      for (int i = 0; i < 20000; ++i) HxStr another(HxStr{original});
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(original.GetRefCount(), 1);  // the count is exact under concurrent copies
}

TEST(HxStrLockedBuffer, ALockedBufferIsCopiedNotSharedAndReleaseSetsTheLength) {
  HxStr locked("abc");
  char* buffer = locked.GetBuffer(10);
  EXPECT_LT(locked.GetRefCount(), 0);
  EXPECT_GE(locked.GetCapacity(), 10);
  HxStr copy = locked;
  HxStr target("target");
  target = locked;
  buffer[0] = 'X';  // writing through the buffer reaches neither copy
  EXPECT_EQ(S(copy), "abc");
  EXPECT_EQ(S(target), "abc");
  HxStr source("xyz");
  locked = source;  // assigning into a locked string keeps its buffer
  EXPECT_EQ(locked.c_str(), buffer);
  EXPECT_EQ(source.GetRefCount(), 1);
  locked.ReleaseBuffer();
  HxStr sharedNow = locked;
  EXPECT_EQ(sharedNow.c_str(), locked.c_str());

  HxStr s;
  std::snprintf(s.GetBuffer(16), 16, "hello");
  s.ReleaseBuffer();
  EXPECT_EQ(s.GetLength(), 5);
  s.GetBuffer(0);
  s.ReleaseBuffer(2);
  EXPECT_EQ(S(s), "he");
  char* set = s.GetBufferSetLength(4);
  set[2] = 'y';
  set[3] = '!';
  EXPECT_EQ(S(s), "hey!");
  buffer = s.GetBuffer(0);
  s.Empty();  // truncates a locked buffer in place
  EXPECT_EQ(s.c_str(), buffer);
  s.ReleaseBuffer();
  s.Empty();  // releases an unlocked one to the shared empty representation
  EXPECT_EQ(s.GetRefCount(), 0);
}

TEST(HxStrGrowth, GranularityRoundsCapacityAndAppendIsInPlaceWhenUniqueWithRoom) {
  HxStr s;
  s.SetGranularity(16);
  s = "abc";
  EXPECT_EQ(s.GetCapacity(), 16);
  HxStr joined = s + "defghijklmnopqrstu";  // 21 characters
  EXPECT_EQ(joined.GetGranularity(), 16);
  EXPECT_EQ(joined.GetCapacity(), 32);
  EXPECT_EQ((HxStr("xy") + s).GetGranularity(), 0);  // the left operand's

  HxStr grown("ab");
  grown.GetBuffer(64);
  grown.ReleaseBuffer();
  const char* start = grown.c_str();
  grown += "cd";
  grown += 'e';
  EXPECT_EQ(grown.c_str(), start);
  grown += grown;
  EXPECT_EQ(S(grown), "abcdeabcde");
  HxStr big("0123456789");
  big += big;  // appending itself without room
  EXPECT_EQ(S(big), "01234567890123456789");
}

TEST(HxStrFormat, ResultsOfEveryLengthAndOnesThatReadTheirOwnText) {
  for (const size_t length : {0u, 4u, 259u, 260u, 1000u, 40000u}) {
    const std::string text(length, 'q');
    HxStr s;
    EXPECT_EQ(s.Format("%s", text.c_str()), static_cast<int>(length));
    EXPECT_EQ(S(s), text);
    EXPECT_EQ(FormatVia(s, "<%s>", text.c_str()), static_cast<int>(length + 2));
    EXPECT_EQ(S(s), "<" + text + ">");
  }
  for (const std::string& text : {std::string("self"), std::string(600, 'z')}) {
    HxStr s(text);
    s.Format("%s and %s", s.c_str(), s.c_str());
    EXPECT_EQ(S(s), text + " and " + text);
  }
}

TEST(HxStrEdit, FindMidAndAnOrderThatFoldsToLowerCase) {
  const HxStr s("a/b/c");
  EXPECT_EQ(s.Find('/'), 1);
  EXPECT_EQ(s.ReverseFind('/'), 3);
  EXPECT_EQ(s.Find('z'), -1);
  EXPECT_EQ(s.Find("b/"), 2);
  EXPECT_EQ(s.Find("zz"), -1);
  EXPECT_EQ(CountOf(s, '/'), 2);
  EXPECT_EQ(S(s.Mid(2, 5)), "b/c");
  for (const auto& [first, last] : {std::pair{0, 0}, {5, 5}, {3, 2}, {-1, 2}, {1, 6}}) {
    EXPECT_TRUE(s.Mid(first, last).IsEmpty()) << first << "," << last;
  }
  // stricmp folds to lower case: '_' (0x5F) sorts before 'a' (0x61) but after 'A' (0x41).
  EXPECT_EQ(HxStr("Path").CompareNoCase("PATH"), 0);
  EXPECT_LT(CompareNoCase("_x", "Ax"), 0);
  EXPECT_LT(CompareNoCase("ab", "abc"), 0);
  EXPECT_GT(HxStr("b").Compare("B"), 0);
}

TEST(HxStrMatch, StarsQuestionMarksAndSetsWhileWideTextBecomesUtf8AndLoadStringReadsTheTable) {
  struct Case {
    const char* text;
    const char* pattern;
    bool match, noCase;
  };
  const Case cases[] = {
      {"report_2024.txt", "*.txt", true, true},
      {"report_2024.txt", "report_????.txt", true, true},
      {"report_2024.txt", "*_[0-9][0-9]2[0-4]*", true, true},
      {"report_2024.txt", "r*t*t*t", true, true},
      {"report_2024.txt", "*.TXT", false, true},
      {"report_2024.txt", "[P-S]EPORT*", false, true},
      {"report_2024.txt", "report", false, false},
      {"report_2024.txt", "report_[a-z]*", false, false},
      {"", "*", true, true},
      {"", "?", false, false},
      {"a]b", "a[]]b", false, false},       // "[]" is an empty set, then "]b"
      {"[x", "[x", true, true},             // an unclosed bracket is a plain character
      {"caf\xC3\xA9", "caf?", true, true},  // '?' takes one whole multibyte character
      {"caf\xC3\xA9", "caf??", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HxStr(c.text).Match(c.pattern), c.match) << c.text << " " << c.pattern;
    EXPECT_EQ(HxStr(c.text).MatchNoCase(c.pattern), c.noCase) << c.text << " " << c.pattern;
  }
  HxStr s(L"h\u00e9\u20ac\U0001F600");
  EXPECT_EQ(S(s), "h\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  std::string expected;
  ASSERT_TRUE(LoadModuleString(kStringUnknown, expected));
  EXPECT_TRUE(s.LoadString(kStringUnknown));
  EXPECT_EQ(S(s), expected);
  EXPECT_FALSE(s.LoadString(0xFFFFFFF0u));
  EXPECT_TRUE(s.IsEmpty());
}

}  // namespace
