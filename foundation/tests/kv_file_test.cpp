// Key-value files on disk: encodings and byte-order marks (chosen by each context), characters
// across the reader's chunks, comment lines, deleting on an empty save, and failed saves that
// leave the target alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "build_tree_files.h"
#include "foundation/context/context_store.h"
#include "foundation/kv/hx_kv_file.h"
#include "foundation/kv/hx_kv_list_map.h"
#include "foundation/log/error_store.h"
#include "scoped_sandbox.h"

namespace {

namespace fs = std::filesystem;

class KvFileTest : public ::testing::Test {
 protected:
  ~KvFileTest() override { ClearContextStore(); }

  std::string At(const std::string& name) const { return sandbox_.Root() + "/" + name; }
  static void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  // Files left in the temporary directory whose names start with "_hx".
  int LeftoverTempFiles() const {
    int count = 0;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(At("tmp"), ignored)) {
      count += entry.path().filename().string().rfind("_hx", 0) == 0;
    }
    return count;
  }
  // The value of section "S" key "k" in the file, or "<absent>".
  static std::string LoadedValue(const std::string& path) {
    HxKVListMap map;
    HxStr value("<absent>");
    if (map.Load(path) && map.GetSection("S") != nullptr) map.GetSection("S")->Get("k", value);
    return value.c_str();
  }
  static bool SaveOne(const std::string& path, const char* value) {
    HxKVListMap map;
    map.AddSection("S").Set("k", value);
    return map.Save(path);
  }

  platform::testing::ScopedSandbox sandbox_;
};

TEST_F(KvFileTest, EachContextWritesInItsOwnEncodingAndEveryMarkIsRead) {
  ASSERT_TRUE(SaveOne(At("plain.ini"), "caf\xC3\xA9"));  // no context: UTF-8 with a mark
  EXPECT_EQ(ReadFile(At("plain.ini")), "\xEF\xBB\xBF[S]\nk=caf\xC3\xA9\n");
  EXPECT_EQ(LeftoverTempFiles(), 0);
  SetContextValue("Encoding", "mb");
  std::thread other([&] {
    SetContextValue("Encoding", "utf8");  // another provider's context, set later
    SaveOne(At("other.ini"), "2");
  });
  other.join();
  ASSERT_TRUE(SaveOne(At("mine.ini"), "1"));
  EXPECT_EQ(ReadFile(At("mine.ini")), "[S]\nk=1\n");
  EXPECT_EQ(ReadFile(At("other.ini")), "\xEF\xBB\xBF[S]\nk=2\n");

  struct Case {
    std::string bytes;
    std::string value;
  };
  const Case cases[] = {
      {std::string("\xFF\xFE[\0S\0]\0\r\0\n\0k\0=\0h\0\xE9\0\r\0\n\0", 24), "h\xC3\xA9"},
      {"[S]\r\nk=v\r\n", "v"},
      {"\xEF\xBB\xBF[S]\nk=caf\xC3\xA9\n", "caf\xC3\xA9"},
      // A value whose "é" or "€" straddles the first 8192-byte chunk arrives whole.
      {"\xEF\xBB\xBF[S]\nk=" + std::string(8188, 'a') + "\xE2\x82\xAC\n",
       std::string(8188, 'a') + "\xE2\x82\xAC"},
      {"\xEF\xBB\xBF[S]\nk=" + std::string(8189, 'a') + "\xC3\xA9\n",
       std::string(8189, 'a') + "\xC3\xA9"},
      // Comment lines go whole and only where a line starts, however long.
      {";" + std::string(10000, 'c') + "=x\n[S]\n;" + std::string(10000, 'c') +
           "=x\nk=" + std::string(8190, 'x') + ";tail\n",
       std::string(8190, 'x') + ";tail"},
  };
  for (const Case& c : cases) {
    WriteBytes(At("read.ini"), c.bytes);
    EXPECT_EQ(LoadedValue(At("read.ini")), c.value) << c.bytes.substr(0, 16);
  }
}

TEST_F(KvFileTest, EmptySavesDeleteFailedOnesKeepTheTargetAndEveryLocationLoads) {
  WriteBytes(At("gone.ini"), "[S]\nk=v\n");
  HxKVListMap map;
  EXPECT_TRUE(map.Save(At("gone.ini")));
  EXPECT_FALSE(fs::exists(At("gone.ini")));
  EXPECT_TRUE(map.Save(At("gone.ini")));  // nothing there is as good as deleted

  WriteBytes(At("keep.ini"), "[Old]\nk=1\n");
  WriteBytes(At("tmp"), "a file where the temporary directory should be");
  const size_t before = ErrorCount();
  EXPECT_FALSE(SaveOne(At("keep.ini"), "2"));
  EXPECT_EQ(ReadFile(At("keep.ini")), "[Old]\nk=1\n");
  HxErr record;
  ASSERT_TRUE(LastErrorRecord(record));
  EXPECT_EQ(record.Code(), 0x2000006du);
  EXPECT_EQ(std::string(record.Message().c_str()), "Unable to write file: " + At("keep.ini"));
  fs::remove(At("tmp"));
  EXPECT_FALSE(SaveOne(At("no/such/dir.ini"), "2"));
  EXPECT_EQ(ErrorCount(), before + 2);
  EXPECT_EQ(LeftoverTempFiles(), 0);

  for (const std::string& path : {At("missing.ini"), std::string(), std::string("nosuch://x/y")}) {
    map.AddSection("Stale");
    EXPECT_FALSE(map.Load(path)) << path;
    EXPECT_TRUE(map.empty()) << path;
  }
  fs::create_directories(At("sub dir"));
  WriteBytes(At("sub dir/a.ini"), "[S]\nk=v\n");
  std::string backslashed = At("sub dir/a.ini");
  for (char& c : backslashed) c = c == '/' ? '\\' : c;
  EXPECT_EQ(LoadedValue("file://" + At("sub%20dir/a.ini")), "v");
  EXPECT_EQ(LoadedValue(backslashed), "v");
  ASSERT_TRUE(SaveOne(backslashed, "w"));
  EXPECT_EQ(ReadFile(At("sub dir/a.ini")), "\xEF\xBB\xBF[S]\nk=w\n");
}

}  // namespace
