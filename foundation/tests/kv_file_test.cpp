// Key-value files on disk: encodings and byte-order marks, chunks that end inside a character,
// comment lines, deleting on an empty save, and failed saves that leave the target alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "build_tree_files.h"
#include "foundation/kv/encoded_text_file.h"
#include "foundation/kv/hx_kv_file.h"
#include "foundation/kv/hx_kv_list_map.h"
#include "foundation/log/error_store.h"
#include "scoped_sandbox.h"

namespace {

namespace fs = std::filesystem;

std::string S(const HxStr& s) { return std::string(std::string_view(s)); }

class KvFileTest : public ::testing::Test {
 protected:
  void TearDown() override { HxKvFile::SetContextEncoding(""); }

  fs::path Root() const { return sandbox_.Root(); }

  static void WriteBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
  }

  // Files left in the temporary directory whose names start with "_hx".
  int LeftoverTempFiles() const {
    int count = 0;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(Root() / "tmp", ignored)) {
      if (entry.path().filename().string().rfind("_hx", 0) == 0) ++count;
    }
    return count;
  }

  static HxStr Value(const HxKVListMap& map, std::string_view section, std::string_view key) {
    HxStr value("<absent>");
    if (const HxKVList* list = map.GetSection(section)) list->Get(key, value);
    return value;
  }

  platform::testing::ScopedSandbox sandbox_;
};

TEST_F(KvFileTest, SaveWritesUtf8WithMarkUnlessMbIsAskedAndLoadsBack) {
  HxKVListMap map;
  map.AddSection("S").Set("k", "caf\xC3\xA9");
  const std::string path = (Root() / "cfg.ini").string();
  ASSERT_TRUE(map.Save(path));
  EXPECT_EQ(ReadFile(path), "\xEF\xBB\xBF[S]\nk=caf\xC3\xA9\n");
  EXPECT_EQ(LeftoverTempFiles(), 0);

  HxKVListMap loaded;
  ASSERT_TRUE(loaded.Load(path));
  EXPECT_EQ(S(Value(loaded, "S", "k")), "caf\xC3\xA9");

  // Encoding "mb" writes without the mark.
  HxKvFile::SetContextEncoding("mb");
  EXPECT_EQ(HxKvFile::RequestedEncoding(), HxTextEncoding::kAnsi);
  ASSERT_TRUE(map.Save(path));
  EXPECT_EQ(ReadFile(path), "[S]\nk=caf\xC3\xA9\n");
  HxKvFile::SetContextEncoding("UTF8");
  EXPECT_EQ(HxKvFile::RequestedEncoding(), HxTextEncoding::kUtf8);
}

TEST_F(KvFileTest, ReadsUtf16AndUnmarkedFilesAndAChunkNeverEndsInsideACharacter) {
  const std::string utf16("\xFF\xFE[\0S\0]\0\r\0\n\0k\0=\0h\0\xE9\0\r\0\n\0", 24);
  WriteBytes(Root() / "wide.ini", utf16);
  HxKVListMap wide;
  ASSERT_TRUE(wide.Load((Root() / "wide.ini").string()));
  EXPECT_EQ(S(Value(wide, "S", "k")), "h\xC3\xA9");

  WriteBytes(Root() / "plain.ini", "[S]\r\nk=v\r\n");
  HxKVListMap plain;
  ASSERT_TRUE(plain.Load((Root() / "plain.ini").string()));
  EXPECT_EQ(S(Value(plain, "S", "k")), "v");

  // After the mark, 8191 bytes of 'a' put the lead byte of "é" last in the first chunk.
  const std::string text =
      std::string(8191, 'a') + "\xC3\xA9" + std::string(8188, 'b') + "\xE2\x82\xAC\n";
  WriteBytes(Root() / "cut.txt", "\xEF\xBB\xBF" + text);
  EncodedTextReader reader;
  ASSERT_TRUE(reader.Open((Root() / "cut.txt").string()));
  EXPECT_EQ(reader.Encoding(), HxTextEncoding::kUtf8);
  std::string chunk;
  bool lineStart = false;
  ASSERT_TRUE(reader.ReadChunk(chunk, lineStart));
  EXPECT_TRUE(lineStart);
  EXPECT_EQ(chunk, std::string(8191, 'a'));
  ASSERT_TRUE(reader.ReadChunk(chunk, lineStart));
  EXPECT_FALSE(lineStart);
  // "é" whole; the three-byte "€" would end the chunk after its second byte, so it waits.
  EXPECT_EQ(chunk, "\xC3\xA9" + std::string(8188, 'b'));
  ASSERT_TRUE(reader.ReadChunk(chunk, lineStart));
  EXPECT_EQ(chunk, "\xE2\x82\xAC\n");
  EXPECT_FALSE(reader.ReadChunk(chunk, lineStart));
  EXPECT_FALSE(reader.Failed());

  // The same through a key-value file: the value arrives whole.
  const std::string value = std::string(8189, 'a') + "\xC3\xA9";
  WriteBytes(Root() / "cut.ini", "\xEF\xBB\xBF[S]\nk=" + value + "\n");
  HxKVListMap map;
  ASSERT_TRUE(map.Load((Root() / "cut.ini").string()));
  EXPECT_EQ(S(Value(map, "S", "k")), value);
}

TEST_F(KvFileTest, CommentLinesAreDroppedWholeAndOnlyAtLineStarts) {
  const std::string longComment = ";" + std::string(10000, 'c') + "=x\n";
  const std::string value = std::string(8190, 'x') + ";tail";  // a chunk starts at ';'
  WriteBytes(Root() / "c.ini", longComment + "[S]\n" + longComment + "k=" + value + "\n");
  HxKVListMap map;
  ASSERT_TRUE(map.Load((Root() / "c.ini").string()));
  ASSERT_NE(map.GetSection("S"), nullptr);
  EXPECT_EQ(map.GetSection("S")->size(), 1u);
  EXPECT_EQ(S(Value(map, "S", "k")), value);
}

TEST_F(KvFileTest, SavingAnEmptyMapDeletesTheFileAndFailedSavesLeaveTheTargetAndNoLeftovers) {
  const fs::path path = Root() / "gone.ini";
  WriteBytes(path, "[S]\nk=v\n");
  HxKVListMap empty;
  EXPECT_TRUE(empty.Save(path.string()));
  EXPECT_FALSE(fs::exists(path));
  EXPECT_TRUE(empty.Save(path.string()));  // nothing there is as good as deleted

  const fs::path kept = Root() / "keep.ini";
  WriteBytes(kept, "[Old]\nk=1\n");
  WriteBytes(Root() / "tmp", "a file where the temporary directory should be");
  HxKVListMap newer;
  newer.AddSection("New").Set("k", "2");

  const size_t before = ErrorCount();
  EXPECT_FALSE(newer.Save(kept.string()));
  EXPECT_EQ(ReadFile(kept), "[Old]\nk=1\n");
  ASSERT_EQ(ErrorCount(), before + 1);
  HxErr record;
  ASSERT_TRUE(LastErrorRecord(record));
  EXPECT_EQ(record.Code(), 0x2000006du);
  EXPECT_EQ(S(record.Message()), "Unable to write file: " + kept.string());

  // Into a missing directory: fails, without leftovers.
  fs::remove(Root() / "tmp");
  EXPECT_FALSE(newer.Save((Root() / "no" / "such" / "dir.ini").string()));
  EXPECT_EQ(ErrorCount(), before + 2);
  EXPECT_EQ(LeftoverTempFiles(), 0);
}

TEST_F(KvFileTest, FailedLoadsLeaveAnEmptyMapAndFileLocationsAndBackslashPathsLoad) {
  HxKVListMap map;
  map.AddSection("Stale");
  EXPECT_FALSE(map.Load((Root() / "missing.ini").string()));
  EXPECT_TRUE(map.empty());
  map.AddSection("Stale");
  EXPECT_FALSE(map.Load(""));
  EXPECT_TRUE(map.empty());
  EXPECT_FALSE(map.Load("nosuchprotocol://server/x.ini"));

  fs::create_directories(Root() / "sub dir");
  WriteBytes(Root() / "sub dir" / "a.ini", "[S]\nk=v\n");
  HxKVListMap viaUrl;
  ASSERT_TRUE(viaUrl.Load("file://" + (Root() / "sub%20dir" / "a.ini").string()));
  EXPECT_EQ(S(Value(viaUrl, "S", "k")), "v");

  std::string backslashed = (Root() / "sub dir" / "a.ini").string();
  for (char& c : backslashed) c = c == '/' ? '\\' : c;
  HxKVListMap viaBackslashes;
  ASSERT_TRUE(viaBackslashes.Load(backslashed));
  EXPECT_TRUE(viaBackslashes.Save(backslashed));
  EXPECT_EQ(ReadFile(Root() / "sub dir" / "a.ini"), "\xEF\xBB\xBF[S]\nk=v\n");
}

}  // namespace
