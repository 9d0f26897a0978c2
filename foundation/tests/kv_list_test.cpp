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

TEST(KvListValues, KeysIgnoreCaseAndSetNeverOverwrites) {
  HxKVList list;
  EXPECT_TRUE(list.Set("Path", "old"));
  EXPECT_FALSE(list.Set("PATH", "new"));
  EXPECT_EQ(ValueOf(list, "path"), "old");
  EXPECT_TRUE(list.Put("PATH", "new"));
  EXPECT_EQ(list.size(), 1u);
  EXPECT_EQ(ValueOf(list, "Path"), "new");
  EXPECT_FALSE(list.SetInt("path", 3));
  EXPECT_TRUE(list.PutInt("path", 3));
  EXPECT_TRUE(list.PutBool("flag", true));
  EXPECT_TRUE(list.PutUInt("big", 4000000000u));
  EXPECT_EQ(ValueOf(list, "big"), "4000000000");
}

TEST(KvListValues, NumbersFollowAtolRules) {
  struct Row {
    const char* text;
    bool intFound;
    int32_t intValue;
  };
  // Leading blanks and a sign are read, the first non-digit ends the number, 32 bits wrap.
  for (const Row& row : {Row{"-5", true, -5}, Row{" 12abc", true, 12}, Row{"", false, 99},
                         Row{"abc", true, 0}, Row{"\t+7", true, 7}, Row{"4294967297", true, 1}}) {
    SCOPED_TRACE(row.text);
    HxKVList list;
    list.Set("k", row.text);
    int32_t i = 99;
    EXPECT_EQ(list.GetInt("k", i), row.intFound);
    EXPECT_EQ(i, row.intValue);
  }
  HxKVList list;
  list.Set("neg", "-5");
  list.Set("blankNeg", " -5");
  list.Set("mixed", " 12abc");
  list.Set("word", "abc");
  list.Set("empty", "");
  int32_t i = 99;
  EXPECT_FALSE(list.GetInt("absent", i));
  uint32_t u = 99;
  EXPECT_FALSE(list.GetUInt("neg", u));
  EXPECT_EQ(u, 99u);
  EXPECT_TRUE(list.GetUInt("blankNeg", u));  // only a leading minus is refused
  EXPECT_EQ(u, 4294967291u);

  bool flag = false;
  EXPECT_TRUE(list.GetBool("mixed", flag));
  EXPECT_TRUE(flag);
  EXPECT_TRUE(list.GetBool("word", flag));
  EXPECT_FALSE(flag);

  HxStr text("untouched");
  EXPECT_TRUE(list.Get("empty", text));  // an empty value is still present
  EXPECT_TRUE(text.IsEmpty());
}

TEST(KvListNumbered, KeysArePaddedToFourDigitsAndSplitFillsThem) {
  EXPECT_EQ(S(NumberedKey(3, "File")), "File0003");
  EXPECT_EQ(S(NumberedKey(12345, "File")), "File12345");
  EXPECT_EQ(S(NumberedKey(7, nullptr)), "0007");

  HxKVList list;
  EXPECT_TRUE(list.SetN(0, "zero", "Item"));
  EXPECT_TRUE(list.SetIntN(1, -1, "Item"));
  EXPECT_TRUE(list.SetBoolN(2, true));
  EXPECT_FALSE(list.SetN(0, "again", "ITEM"));
  EXPECT_EQ(ValueOf(list, "item0000"), "zero");
  int32_t i = 0;
  EXPECT_TRUE(list.GetIntN(1, i, "Item"));
  EXPECT_EQ(i, -1);
  bool flag = false;
  EXPECT_TRUE(list.GetBoolN(2, flag));
  EXPECT_TRUE(flag);

  // Split pieces go to numbered keys, empty ones included.
  HxKVList pieces;
  EXPECT_TRUE(SplitToList("a,b,,c\nd,", ',', pieces));
  EXPECT_EQ(pieces.size(), 5u);
  EXPECT_EQ(ValueOf(pieces, "0002"), "");
  EXPECT_EQ(ValueOf(pieces, "0003"), "c");
  EXPECT_EQ(ValueOf(pieces, "0004"), "d");
  EXPECT_FALSE(pieces.Contains("0005"));
}

TEST(KvListNumbered, EraseRunStopsAtTheFirstGapAndMergeOverwritesOnlyWhenAsked) {
  HxKVList list;
  list.Set("F0002", "a");
  list.Set("F0003", "b");
  list.Set("F0005", "c");
  list.Set("G0000", "other prefix");
  list.Set("F", "not numbered");
  EXPECT_TRUE(list.EraseRun("f"));
  EXPECT_FALSE(list.Contains("F0002"));
  EXPECT_FALSE(list.Contains("F0003"));
  EXPECT_TRUE(list.Contains("F0005"));
  EXPECT_TRUE(list.Contains("G0000"));
  EXPECT_TRUE(list.Contains("F"));

  HxKVList plain;
  plain.SetN(0, "a");
  plain.SetN(1, "b");
  plain.SetN(9, "c");
  plain.Set("X0000", "x");
  EXPECT_TRUE(plain.EraseRun());
  EXPECT_EQ(plain.size(), 2u);
  EXPECT_TRUE(plain.Contains("0009"));

  HxKVList none;
  none.Set("key", "value");
  EXPECT_TRUE(none.EraseRun("F"));
  EXPECT_EQ(none.size(), 1u);

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

  HxKVList replaced = base;
  EXPECT_TRUE(replaced.Merge(other, true));
  EXPECT_EQ(ValueOf(replaced, "b"), "20");
  EXPECT_EQ(S(replaced.find("b")->first), "B");  // the other list's key replaced ours
}

TEST(KvSyntax, DuplicateKeyRereadsTheBodyInWholeLineMode) {
  HxKVListMap map = Parsed("[S]\na=1\nb=2\na=3\n[T]\nx=1\n");
  const HxKVList* s = map.GetSection("S");
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(s->size(), 3u);
  auto it = s->begin();
  EXPECT_EQ(S(it->first), "a=1");
  EXPECT_TRUE(it->second.IsEmpty());
  EXPECT_EQ(S((++it)->first), "a=3");
  EXPECT_EQ(S((++it)->first), "b=2");
  // The next section is read normally.
  ASSERT_NE(map.GetSection("T"), nullptr);
  EXPECT_EQ(ValueOf(*map.GetSection("T"), "x"), "1");
  EXPECT_EQ(Written(map), "[S]\na=1\na=3\nb=2\n[T]\nx=1\n");
  // Identical lines collapse; keys differing in case are duplicates too.
  HxKVListMap collapsed = Parsed("[S]\nk=1\nK=2\nk=1\n");
  EXPECT_EQ(collapsed.GetSection("S")->size(), 2u);
}

TEST(KvSyntax, HeaderNamesBlanksLongLinesAndSectionNameRules) {
  HxKVListMap map = Parsed(
      "orphan=lost\n"
      "[Name] ; note\n"
      "  key = value  \n"
      "\n"
      "; comment=no\n"
      "lonely\n"
      "[ Spaced Name ]\r\n"
      "k=v\r\n"
      "[name]\n"
      "second=ignored\n");
  ASSERT_EQ(map.size(), 2u);
  const HxKVList* named = map.GetSection("Name");
  ASSERT_NE(named, nullptr);
  EXPECT_EQ(named->size(), 2u);
  EXPECT_EQ(ValueOf(*named, "  key "), " value");
  EXPECT_EQ(ValueOf(*named, "lonely"), "");
  EXPECT_FALSE(named->Contains("second"));  // the first section of a name wins

  const HxKVList* spaced = map.GetSection(" Spaced Name ");
  ASSERT_NE(spaced, nullptr);
  EXPECT_EQ(ValueOf(*spaced, "k"), "v");

  // Lines of any length.
  const std::string longValue(20000, 'v');
  HxKVListMap longMap = Parsed("[S]\nlong=" + longValue + "\nshort=1\n");
  EXPECT_EQ(ValueOf(*longMap.GetSection("S"), "long"), longValue);
  EXPECT_TRUE(longMap.GetSection("S")->Contains("short"));

  EXPECT_EQ(S(ParseSectionName("[Name]\n")), "Name");
  EXPECT_EQ(S(ParseSectionName("[Name] ; a [note]\r\n")), "Name");
  EXPECT_EQ(S(ParseSectionName("[[Both]]  \n")), "Both");
  EXPECT_EQ(S(ParseSectionName("[No close\n")), "No close");
  EXPECT_EQ(S(ParseSectionName("[semi;colon]\n")), "semi;colon");
}

TEST(KvSyntax, WriteWithCarriageReturnsAndEmptySections) {
  HxKVListMap map;
  map.AddSection("B").Set("k", "v");
  map.AddSection("a");
  EXPECT_EQ(Written(map, true), "[a]\r\n[B]\r\nk=v\r\n");
  EXPECT_EQ(Written(Parsed(Written(map, true))), "[a]\n[B]\nk=v\n");
}

TEST(KvStream, ReadLineReportsTheSizeItNeedsAndWriteGrowsByShortfallPlusGrowth) {
  HxStream stream = StreamOf("first\nsecond");
  char buffer[7];
  size_t needed = 0;
  EXPECT_TRUE(stream.ReadLine(buffer, sizeof buffer, '\n', needed));
  EXPECT_STREQ(buffer, "first\n");
  char small[4];
  EXPECT_FALSE(stream.ReadLine(small, sizeof small, '\n', needed));
  EXPECT_EQ(needed, 7u);
  EXPECT_TRUE(stream.ReadLine(buffer, sizeof buffer, '\n', needed));  // the last line has no LF
  EXPECT_STREQ(buffer, "second");
  EXPECT_FALSE(stream.ReadLine(buffer, sizeof buffer, '\n', needed));
  EXPECT_EQ(needed, 0u);

  HxStream grown;
  EXPECT_TRUE(grown.Reserve(10));
  EXPECT_EQ(grown.Capacity(), 10u);
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
