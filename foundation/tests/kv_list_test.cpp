// HxKVList and HxKVListMap in memory: typed reads, Set versus Put, numbered keys, runs, merge,
// and the text syntax read from and written to a stream.
#include <gtest/gtest.h>

#include <string>

#include "foundation/kv/hx_kv_list.h"
#include "foundation/kv/hx_kv_list_map.h"
#include "foundation/kv/hx_stream.h"

namespace {

std::string S(const HxStr& s) { return std::string(std::string_view(s)); }

// The value of a key, or "<absent>".
std::string ValueOf(const HxKVList& list, std::string_view key) {
  HxStr value;
  return list.Get(key, value) ? S(value) : "<absent>";
}

HxStream StreamOf(std::string_view text) {
  HxStream stream;
  stream.Write(text);
  stream.Seek(0);
  return stream;
}

std::string Written(const HxKVListMap& map, bool carriageReturn = false) {
  HxStream stream;
  size_t total = 0;
  map.Write(&stream, carriageReturn, total);
  EXPECT_EQ(total, stream.Size());
  return std::string(stream.Text());
}

HxKVListMap Parsed(std::string_view text) {
  HxStream stream = StreamOf(text);
  HxKVListMap map;
  EXPECT_TRUE(map.Read(stream));
  return map;
}

TEST(KvListValues, KeysIgnoreCaseSetNeverOverwritesAndNumbersFollowAtol) {
  HxKVList list;
  EXPECT_TRUE(list.Set("Path", "old"));
  EXPECT_FALSE(list.Set("PATH", "new"));
  EXPECT_FALSE(list.SetInt("path", 3));
  EXPECT_EQ(ValueOf(list, "path"), "old");
  EXPECT_TRUE(list.PutInt("PATH", 3));
  EXPECT_EQ(list.size(), 1u);
  EXPECT_EQ(ValueOf(list, "Path"), "3");
  EXPECT_TRUE(list.PutUInt("big", 4000000000u));
  EXPECT_EQ(ValueOf(list, "big"), "4000000000");

  struct Row {
    const char* text;
    bool intFound;
    int32_t intValue;
    bool uintFound;
    uint32_t uintValue;
  };
  // Leading blanks and a sign are read, the first non-digit ends the number, 32 bits wrap; only
  // a leading minus is refused as unsigned. Untouched values stay 99.
  for (const Row& row : {Row{"-5", true, -5, false, 99}, Row{" -5", true, -5, true, 4294967291u},
                         Row{" 12abc", true, 12, true, 12}, Row{"", false, 99, false, 99},
                         Row{"abc", true, 0, true, 0}, Row{"\t+7", true, 7, true, 7},
                         Row{"4294967297", true, 1, true, 1}}) {
    HxKVList values;
    values.Set("k", row.text);
    int32_t i = 99;
    uint32_t u = 99;
    bool flag = row.intValue == 0;
    EXPECT_EQ(values.GetInt("k", i), row.intFound) << row.text;
    EXPECT_EQ(values.GetUInt("k", u), row.uintFound) << row.text;
    EXPECT_EQ(values.GetBool("k", flag), row.intFound) << row.text;
    EXPECT_EQ(i, row.intValue) << row.text;
    EXPECT_EQ(u, row.uintValue) << row.text;
    EXPECT_EQ(flag, row.intValue != 0 && row.intValue != 99) << row.text;
  }
  HxStr text("untouched");
  list.Set("empty", "");
  EXPECT_TRUE(list.Get("empty", text));  // an empty value is still present
  EXPECT_TRUE(text.IsEmpty());
}

TEST(KvListNumbered, PaddedKeysSplitRunsThatStopAtAGapAndMerge) {
  EXPECT_EQ(S(NumberedKey(3, "File")), "File0003");
  EXPECT_EQ(S(NumberedKey(12345, "File")), "File12345");
  EXPECT_EQ(S(NumberedKey(7, nullptr)), "0007");
  HxKVList list;
  EXPECT_TRUE(list.SetIntN(1, -1, "Item"));
  EXPECT_TRUE(list.SetBoolN(2, true));
  EXPECT_FALSE(list.SetN(1, "again", "ITEM"));
  int32_t i = 0;
  EXPECT_TRUE(list.GetIntN(1, i, "item"));
  EXPECT_EQ(i, -1);
  EXPECT_EQ(ValueOf(list, "0002"), "1");

  HxKVList pieces;  // empty pieces between separators count; an empty last one does not
  EXPECT_TRUE(SplitToList("a,b,,c\nd,", ',', pieces));
  EXPECT_EQ(pieces.size(), 5u);
  EXPECT_EQ(ValueOf(pieces, "0002"), "");
  EXPECT_EQ(ValueOf(pieces, "0004"), "d");

  HxKVList run;
  for (const char* key : {"F0002", "F0003", "F0005", "G0000", "F", "0000", "0001", "0009"}) {
    run.Set(key, "x");
  }
  EXPECT_TRUE(run.EraseRun("f"));
  EXPECT_TRUE(run.EraseRun());
  EXPECT_TRUE(run.EraseRun("H"));  // no such run
  std::string left;
  for (const auto& [key, value] : run) left += S(key) + " ";
  EXPECT_EQ(left, "0009 F F0005 G0000 ");

  HxKVList base;
  base.Set("a", "1");
  base.Set("b", "2");
  HxKVList other;
  other.Set("B", "20");
  other.Set("c", "30");
  HxKVList kept = base;
  EXPECT_TRUE(kept.Merge(other, false));
  EXPECT_EQ(ValueOf(kept, "b"), "2");
  EXPECT_EQ(kept.size(), 3u);
  EXPECT_TRUE(base.Merge(other, true));
  EXPECT_EQ(ValueOf(base, "b"), "20");
  EXPECT_EQ(S(base.find("b")->first), "B");  // the other list's key replaced ours
}

TEST(KvSyntax, WhatIsReadIsWrittenBackInKeyOrder) {
  struct Case {
    std::string text;
    std::string written;
  };
  // A duplicate key rereads the body in whole-line mode (identical lines collapse, keys that
  // differ in case are duplicates too); the next section is read normally. Lines before the
  // first header are lost, comments dropped, the first section of a name wins, and blanks
  // inside the brackets stay in the name.
  const Case cases[] = {
      {"[S]\na=1\nb=2\na=3\n[T]\nx=1\n", "[S]\na=1\na=3\nb=2\n[T]\nx=1\n"},
      {"[S]\nk=1\nK=2\nk=1\n", "[S]\nk=1\nK=2\n"},
      {"orphan=lost\n[Name] ; note\nlonely\n\n; c=no\n[ Sp ]\r\nk=v\r\n[name]\nsecond=1\n",
       "[ Sp ]\nk=v\n[Name]\nlonely=\n"},
      {"[S]\nlong=" + std::string(20000, 'v') + "\nshort=1\n",
       "[S]\nlong=" + std::string(20000, 'v') + "\nshort=1\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(Written(Parsed(c.text)), c.written) << c.text;
  const HxKVListMap map = Parsed("[S]\n  key = value  \na=1\na=2\n");
  EXPECT_EQ(ValueOf(*map.GetSection("S"), "a=2"), "");
  EXPECT_EQ(ValueOf(*Parsed("[S]\n  key = value  \n").GetSection("s"), "  key "), " value");

  EXPECT_EQ(S(ParseSectionName("[Name] ; a [note]\r\n")), "Name");
  EXPECT_EQ(S(ParseSectionName("[[Both]]  \n")), "Both");
  EXPECT_EQ(S(ParseSectionName("[No close\n")), "No close");
  EXPECT_EQ(S(ParseSectionName("[semi;colon]\n")), "semi;colon");

  HxKVListMap written;
  written.AddSection("B").Set("k", "v");
  written.AddSection("a");
  EXPECT_EQ(Written(written, true), "[a]\r\n[B]\r\nk=v\r\n");
}

TEST(KvStream, ReadLineReportsTheSizeItNeedsAndWriteGrowsByShortfallPlusGrowth) {
  HxStream stream = StreamOf("first\nsecond");
  char buffer[7];
  char small[4];
  size_t needed = 0;
  EXPECT_TRUE(stream.ReadLine(buffer, sizeof buffer, '\n', needed));
  EXPECT_STREQ(buffer, "first\n");
  EXPECT_FALSE(stream.ReadLine(small, sizeof small, '\n', needed));
  EXPECT_EQ(needed, 7u);
  EXPECT_TRUE(stream.ReadLine(buffer, sizeof buffer, '\n', needed));  // the last line has no LF
  EXPECT_STREQ(buffer, "second");
  EXPECT_FALSE(stream.ReadLine(buffer, sizeof buffer, '\n', needed));
  EXPECT_EQ(needed, 0u);

  HxStream grown;
  EXPECT_TRUE(grown.Reserve(10));
  grown.Write(std::string(15, 'x'));
  EXPECT_EQ(grown.Capacity(), 10u + 5u + HxStream::kGrowth);
  EXPECT_FALSE(grown.Reserve(100000));  // only while empty
  EXPECT_FALSE(grown.Seek(16));
  EXPECT_TRUE(grown.Seek(5));
  grown.Write("yy");
  EXPECT_EQ(grown.Size(), 15u);
  EXPECT_EQ(grown.Text().substr(4, 4), "xyyx");
}

}  // namespace
