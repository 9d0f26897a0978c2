// Unpacking archives below a target and the zip catalogs that stand for them: names that would
// leave the folder, size limits, catalog keys that no name can forge, checks, restore, removal.
#include <gtest/gtest.h>
#include <zip.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "build_tree_files.h"
#include "foundation/context/context_store.h"
#include "foundation/files/file_operations.h"
#include "foundation/files/md5.h"
#include "host_log_capture.h"
#include "noltsync/zipcatalog/folder_tokens.h"
#include "noltsync/zipcatalog/zip_catalog.h"
#include "noltsync/zipcatalog/zip_extract.h"
#include "platform/locations.h"
#include "scoped_sandbox.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kId = "9e107d9d372bb6826bd81d3542a419d6";
constexpr uint64_t kTrueSize = UINT64_MAX;

struct Entry {
  std::string name;  // ending in '/': a directory
  std::string content;
  uint64_t declared = kTrueSize;  // else the unpacked size the archive claims, content kept raw
};
using Entries = std::vector<Entry>;

void Write(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

void MakeZip(const std::string& path, const Entries& entries) {
  fs::create_directories(fs::path(path).parent_path());
  zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  ASSERT_NE(zip, nullptr);
  for (const Entry& entry : entries) {
    const bool raw = entry.declared != kTrueSize;
    const int method = raw ? 0 : Z_DEFLATED;
    zip_fileinfo info{};
    ASSERT_EQ(zipOpenNewFileInZip2_64(zip, entry.name.c_str(), &info, nullptr, 0, nullptr, 0,
                                      nullptr, method, method == 0 ? 0 : 6, raw, 0),
              ZIP_OK);
    if (!entry.content.empty()) {
      ASSERT_EQ(zipWriteInFileInZip(zip, entry.content.data(),
                                    static_cast<unsigned>(entry.content.size())),
                ZIP_OK);
    }
    ASSERT_EQ(raw ? zipCloseFileInZipRaw64(zip, entry.declared, 0) : zipCloseFileInZip(zip),
              ZIP_OK);
  }
  ASSERT_EQ(zipClose(zip, nullptr), ZIP_OK);
}

class ZipCatalogTest : public ::testing::Test {
 protected:
  ZipCatalogTest() : dir_(sandbox_.Root() + "/work/"), deferral_(SetDeleteDeferral(false)) {
    fs::create_directories(dir_ + "zcat");
  }
  ~ZipCatalogTest() override {
    SetDeleteDeferral(deferral_);
    ClearContextStore();
  }

  std::string At(const std::string& relative) const { return dir_ + relative; }
  // Every file and directory below the work folder, but the archive and the catalogs.
  std::set<std::string> Tree() const {
    std::set<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
      const std::string path = entry.path().string().substr(dir_.size());
      if (path != "pack.zip" && path.rfind("zcat", 0) != 0) found.insert(path);
    }
    return found;
  }
  // The lines logged at `level` since the test began.
  std::vector<std::string> Logged(uint32_t level) const {
    std::vector<std::string> lines;
    for (const LoggedLine& line : log_.Lines()) {
      if (line.level == level) lines.push_back(line.text);
    }
    return lines;
  }
  // Unpacks an archive of `entries` below the common application data and catalogues it.
  void Install(const Entries& entries) {
    MakeZip(At("pack.zip"), entries);
    ASSERT_TRUE(ExtractZipArchive(At("pack.zip"), dest_));
    ASSERT_TRUE(CreateZipCatalog(catalog_, At("pack.zip"), dest_, kId));
  }

  platform::testing::ScopedSandbox sandbox_;
  HostLogCapture log_;
  const std::string dir_;
  const bool deferral_;
  const std::string catalog_ = At("zcat/pack.zcat");
  const std::string dest_ = platform::CommonAppDataDirectory() + "/content/";
};

TEST(SafeEntryPathTest, NamesThatWouldLeaveTheTargetOrForgeALineAreRefused) {
  const std::pair<const char*, const char*> safe[] = {
      {"a/b/c.txt", "a/b/c.txt"}, {"win\\style\\name.txt", "win/style/name.txt"},
      {"./dir/", "dir/"},         {"a..b/..c", "a..b/..c"},
      {"a=b %.txt", "a=b %.txt"}, {"caf\xC3\xA9\x7F.txt", "caf\xC3\xA9\x7F.txt"}};
  std::string path;
  for (const auto& [name, expected] : safe) {
    EXPECT_TRUE(SafeEntryPath(name, path)) << name;
    EXPECT_EQ(path, expected);
  }
  for (const std::string& unsafe : std::vector<std::string>{
           "", "/etc/passwd", "\\share\\x", "../up.txt", "a/../../up.txt", "a\\..\\..\\up.txt",
           "C:/windows/x", "c:x", "..", "./", "a/..", "a\n../victim.txt", "a\r../victim.txt",
           "tab\there", "bell\x07", "esc\x1f", std::string("nul\0../x", 8)}) {
    EXPECT_FALSE(SafeEntryPath(unsafe, path)) << PrintableEntryName(unsafe);
  }
}

TEST_F(ZipCatalogTest, ArchivesUnpackBelowTheTargetOrAreRefusedWithoutWritingOutside) {
  const std::string victim = At("victim.txt");
  struct Case {
    const char* what;
    Entries entries;
    std::set<std::string> left = {};  // below the work folder afterwards, the victim aside
    std::function<void()> prepare = [] {};
    bool unpacks = false;
  };
  const std::vector<Case> cases = {
      {"folders kept, files replaced",
       {{"top/", ""}, {"top/in/file.txt", "in"}, {"root.txt", "root"}, {"e", ""}},
       {"target", "target/top", "target/top/in", "target/top/in/file.txt", "target/root.txt",
        "target/e"},
       [&] { Write(At("target/root.txt"), "old and longer"); },
       true},
      {"parent step", {{"fine.txt", "ok"}, {"../victim.txt", "x"}}},
      {"absolute name", {{victim, "x"}}},
      {"line feed hiding a parent step", {{"a\n../victim.txt", "x"}}},
      {"folder link leading out",
       {{"link/victim.txt", "x"}},
       {"target", "target/link"},
       [&] {
         fs::create_directories(At("target"));
         fs::create_directory_symlink(At(""), At("target/link"));
       }},
      {"no archive", {}, {}, [&] { fs::remove(At("pack.zip")); }},
      {"damaged entry",  // its checksum does not match
       {{"first.txt", "1"}, {"second.bin", "data", 4}, {"third.txt", "3"}},
       {"target", "target/first.txt"}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    fs::remove_all(At(""));
    Write(victim, "keep");
    MakeZip(At("pack.zip"), test.entries);
    test.prepare();
    EXPECT_EQ(ExtractZipArchive(At("pack.zip"), At("target")), test.unpacks);
    std::set<std::string> tree = Tree();
    tree.erase("victim.txt");
    EXPECT_EQ(tree, test.left);
    EXPECT_EQ(ReadFile(victim), "keep");
    EXPECT_EQ(ReadFile(At("target/root.txt")), test.unpacks ? "root" : "");
  }
}

TEST_F(ZipCatalogTest, AnArchiveMayUnpackToNoMoreThanTheLimitAndTheFreeSpace) {
  // Entries that claim 4 GiB each, enough of them to fill more than the free space.
  const uint64_t claimed = 0xFFFFFFFEull;
  Entries flood;
  while (flood.size() * claimed <= fs::space(At("")).available) {
    flood.push_back({"f" + std::to_string(flood.size()), "x", claimed});
  }
  flood.push_back({"last", "x", claimed});
  const std::string mebibyte(1 << 20, '\0');
  struct Case {
    const char* maxUnpackMB;  // empty: not configured
    Entries entries;
    bool unpacks;
  } cases[] = {
      {"1", {{"a", mebibyte.substr(1)}, {"b", "z"}}, true},
      {"1", {{"a", mebibyte}, {"b", "z"}}, false},
      {"", {{"a", "x", claimed}, {"b", "x", claimed}}, false},  // the 4 GiB default
      {"4294967295", flood, false},
      {"0", {{"a", mebibyte}}, true},  // 0 means the default
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(testing::Message() << test.maxUnpackMB << " MB, " << test.entries.size());
    fs::remove_all(At(""));
    HxKVListMap settings;
    settings.AddSection("Sync").Put("MaxUnpackMB", HxStr(test.maxUnpackMB));
    MergeContext(settings, true, true);
    MakeZip(At("pack.zip"), test.entries);
    const size_t warnings = Logged(4).size();
    EXPECT_EQ(ExtractZipArchive(At("pack.zip"), At("target/")), test.unpacks);
    EXPECT_EQ(fs::exists(At("target")), test.unpacks);
    if (!test.unpacks) {
      ASSERT_EQ(Logged(4).size(), warnings + 1);
      EXPECT_EQ(
          Logged(4).back().rfind("** Refusing archive [" + At("pack.zip") + "]: it unpacks", 0), 0u)
          << Logged(4).back();
    }
  }
}

TEST_F(ZipCatalogTest, TheCatalogKeepsNamesEscapingOnlyWhatLooksLikeSyntax) {
  const std::vector<std::pair<std::string, std::string>> names = {
      // name, its key
      {"docs/", "docs/"},       {"docs/read me.txt", "docs/read me.txt"},
      {"a=b.txt", "a%3Db.txt"}, {"100%.txt", "100%25.txt"},
      {"[x].txt", "%5Bx].txt"}, {";x.txt", "%3Bx.txt"},
      {"in [x];y", "in [x];y"}, {" caf\xC3\xA9.txt", " caf\xC3\xA9.txt"}};
  Entries entries = {{"abc", "abc"}, {"empty", ""}};  // an empty file's MD5 is "0"
  std::vector<std::string> lines = {"abc=900150983cd24fb0d6963f7d28e17f72", "empty=0"};
  for (const auto& [name, key] : names) {
    entries.push_back({name, name});
    lines.push_back(key + "=" + (name.back() == '/' ? "0" : Md5Hex(name.data(), name.size())));
  }
  Install(entries);
  const std::string text = ReadFile(catalog_);
  for (const std::string& line : lines) {
    EXPECT_NE(text.find("\n" + line + "\n"), std::string::npos) << line;
  }
  EXPECT_EQ(Logged(1).back(), "Creating zip catalog: " + catalog_ + "\n");
  HxKVListMap map;
  HxStr destDir;
  ASSERT_TRUE(map.Load(catalog_) && map.GetSection("Info")->Get("DestDir", destDir));
  EXPECT_EQ(std::string(destDir).rfind("%SF_", 0), 0u) << destDir.c_str();
  EXPECT_EQ(std::string(FromFolderTokens(destDir)), dest_);

  EXPECT_TRUE(CheckZipCatalog(catalog_, kId, ""));
  RemoveZipCatalog(catalog_);
  EXPECT_TRUE(fs::is_empty(dest_));
}

TEST_F(ZipCatalogTest, CatalogLinesLeadingOutOfTheDestinationAreSkipped) {
  const std::string victim = dest_ + "../victim.txt";
  const std::string md5 = Md5Hex("keep", 4);
  for (const std::string& line : std::vector<std::string>{
           "../victim.txt", "..\\victim.txt", "sub/../../victim.txt", "%2E%2E/victim.txt",
           "a%0A../victim.txt", fs::path(victim).lexically_normal().string(), "/" + victim}) {
    SCOPED_TRACE(line);
    Write(victim, "keep");
    Write(At("default/victim.txt"), "planted");
    Write(catalog_, "[Info]\nId=" + std::string(kId) + "\nDestDir=" + dest_ + "\n[MD5]\n" + line +
                        "=" + md5 + "\n");
    const size_t warnings = Logged(4).size();
    EXPECT_FALSE(CheckZipCatalog(catalog_, kId, ""));
    EXPECT_FALSE(RestoreFromZipCatalog(catalog_, At("default/sub/")));
    RemoveZipCatalog(catalog_);
    EXPECT_EQ(ReadFile(victim), "keep");
    EXPECT_EQ(Logged(4).size(), warnings + 3);
  }
  // An archive entry whose name holds a line feed cannot plant such a line either.
  MakeZip(At("pack.zip"), {{"a\n../victim.txt", "x"}, {"ok.txt", "ok"}});
  ASSERT_TRUE(CreateZipCatalog(catalog_, At("pack.zip"), dest_, kId));
  RemoveZipCatalog(catalog_);
  EXPECT_EQ(ReadFile(victim), "keep");
}

TEST_F(ZipCatalogTest, CheckRestoreAndRemovalOfACatalog) {
  Install({{"d/", ""}, {"d/one.txt", "1"}, {"d/sub/", ""}, {"d/sub/two.txt", "2"}});
  EXPECT_TRUE(CheckZipCatalog(catalog_, kId, ""));
  fs::copy(dest_, At("copy/"), fs::copy_options::recursive);
  EXPECT_TRUE(CheckZipCatalog(catalog_, kId, At("copy/")));  // a base replaces the destination
  EXPECT_FALSE(CheckZipCatalog(catalog_, "9E107D9D372BB6826BD81D3542A419D6", ""));  // the id's case
  EXPECT_FALSE(CheckZipCatalog(At("zcat/missing.zcat"), kId, ""));
  EXPECT_FALSE(RestoreFromZipCatalog(catalog_, At("nowhere/")));
  EXPECT_FALSE(RestoreFromZipCatalog(At("zcat/missing.zcat"), At("nowhere/")));
  Write(dest_ + "d/one.txt", "changed");
  EXPECT_FALSE(CheckZipCatalog(catalog_, kId, ""));

  // Restore and removal log each entry's own outcome; files go before their folders.
  fs::remove_all(dest_);
  Write(At("default/d/one.txt"), "1");
  Write(At("default/d/sub/two.txt"), "2");
  fs::create_directories(dest_ + "d/sub/two.txt");  // the second copy cannot land
  EXPECT_TRUE(RestoreFromZipCatalog(catalog_, At("default/")));
  EXPECT_EQ(ReadFile(dest_ + "d/one.txt"), "1");
  Write(dest_ + "d/sub/extra.txt", "not catalogued");
  RemoveZipCatalog(catalog_);
  EXPECT_TRUE(fs::exists(dest_ + "d/sub/extra.txt"));
  EXPECT_FALSE(DeleteDeferral());  // the previous setting is back
  std::vector<std::string> lines = Logged(1);
  lines.erase(lines.begin(),
              std::find(lines.begin(), lines.end(), "Creating directory [d/]: OK\n"));
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "Creating directory [d/]: OK\n",
                       "Coping file [d/one.txt]: OK\n",
                       "Creating directory [d/sub/]: OK\n",
                       "Coping file [d/sub/two.txt]: FAIL\n",
                       "Removing directory [" + dest_ + "d/sub/two.txt]: OK\n",
                       "Removing directory [" + dest_ + "d/sub/]: FAIL\n",
                       "Removing file [" + dest_ + "d/one.txt]: OK\n",
                       "Removing directory [" + dest_ + "d/]: FAIL\n",
                       "Removing file [" + catalog_ + "]: OK\n",
                   }));

  ASSERT_TRUE(CreateZipCatalog(catalog_, "", At("dest/"), kId));  // no archive: no "MD5"
  EXPECT_FALSE(CheckZipCatalog(catalog_, kId, ""));
  Write(At("broken.zip"), "not an archive");
  ASSERT_TRUE(CreateZipCatalog(catalog_, At("broken.zip"), At("dest/"), kId));
  EXPECT_NE(Logged(8), std::vector<std::string>{}) << "unzGetGlobalInfo fails";
}

}  // namespace
