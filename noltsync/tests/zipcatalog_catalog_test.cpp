// Zip catalogs: what a catalog records, when it still matches, and restoring and removing the
// content it lists.
#include <filesystem>

#include "foundation/files/file_operations.h"
#include "foundation/files/md5.h"
#include "foundation/kv/hx_kv_list_map.h"
#include "noltsync/zipcatalog/file_md5.h"
#include "noltsync/zipcatalog/folder_tokens.h"
#include "noltsync/zipcatalog/zip_catalog.h"
#include "noltsync/zipcatalog/zip_extract.h"
#include "platform/locations.h"
#include "zipcatalog_test_support.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kId = "9e107d9d372bb6826bd81d3542a419d6";

class CatalogTest : public ZipCatalogTest {
 protected:
  CatalogTest() { fs::create_directories(At("zcat")); }

  // Unpacks an archive of `entries` into a destination below the common application data and
  // catalogues it.
  void Install(const ZipEntries& entries) {
    dest_ = platform::CommonAppDataDirectory() + "/content/";
    MakeZip(At("pack.zip"), entries);
    ASSERT_TRUE(ExtractZipArchive(At("pack.zip"), dest_));
    ASSERT_TRUE(CreateZipCatalog(catalog_, At("pack.zip"), dest_, kId));
  }
  HxKVListMap LoadCatalog() const {
    HxKVListMap map;
    EXPECT_TRUE(map.Load(catalog_));
    return map;
  }

  std::string dest_;
  const std::string catalog_ = At("zcat/pack.zcat");
};

const ZipEntries kDocs = {{"docs/", ""}, {"docs/readme.txt", "read me"}};

}  // namespace

TEST_F(CatalogTest, ADirectoryAndItsFileGiveTwoKeysAndTheDestinationIsInTokenForm) {
  Install(kDocs);
  const HxKVListMap map = LoadCatalog();
  const HxKVList* md5 = map.GetSection("MD5");
  ASSERT_NE(md5, nullptr);
  ASSERT_EQ(md5->size(), 2u);
  HxStr value;
  ASSERT_TRUE(md5->Get("docs/", value));
  EXPECT_STREQ(value.c_str(), "0");
  ASSERT_TRUE(md5->Get("docs/readme.txt", value));
  EXPECT_EQ(std::string(value.c_str()), Md5Hex("read me", 7));

  const std::vector<std::string> lines = DetailLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "Creating zip catalog: " + catalog_ + "\n");

  // The destination is stored in folder token form.
  HxStr destDir;
  ASSERT_TRUE(map.GetSection("Info")->Get("DestDir", destDir));
  const std::string stored(destDir.c_str());
  EXPECT_EQ(stored.rfind('%', 0), 0u) << stored;
  EXPECT_EQ(stored.find(platform::CommonAppDataDirectory()), std::string::npos);
  EXPECT_EQ(std::string(FromFolderTokens(stored).c_str()), dest_);
}

TEST_F(CatalogTest, TheCheckHoldsUntilTheIdCaseOrAFileChanges) {
  Install(kDocs);
  EXPECT_TRUE(CheckZipCatalog(catalog_, kId, ""));
  std::string upper(kId);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_FALSE(CheckZipCatalog(catalog_, upper, ""));

  // A base directory replaces the catalog's destination.
  Write(At("copy/docs/readme.txt"), "read me");
  EXPECT_TRUE(CheckZipCatalog(catalog_, kId, At("copy/")));

  Write(dest_ + "docs/readme.txt", "changed");
  EXPECT_FALSE(CheckZipCatalog(catalog_, kId, ""));
  EXPECT_FALSE(CheckZipCatalog(At("zcat/missing.zcat"), kId, ""));
  // Without sources a restore does nothing.
  EXPECT_FALSE(RestoreFromZipCatalog(catalog_, At("nowhere/")));
  EXPECT_FALSE(RestoreFromZipCatalog(At("zcat/missing.zcat"), At("nowhere/")));
}

TEST_F(CatalogTest, ACatalogWithoutAnArchiveNeverChecks) {
  ASSERT_TRUE(CreateZipCatalog(catalog_, "", At("dest/"), kId));
  EXPECT_EQ(LoadCatalog().GetSection("MD5"), nullptr);
  EXPECT_FALSE(CheckZipCatalog(catalog_, kId, ""));
}

TEST_F(CatalogTest, AnUnreadableArchiveIsLoggedAndTheCatalogStillWritten) {
  Write(At("broken.zip"), "not an archive");
  ASSERT_TRUE(CreateZipCatalog(catalog_, At("broken.zip"), At("dest/"), kId));
  bool logged = false;
  for (const LoggedLine& line : log_.Lines()) {
    logged |= line.level == 8 && line.format == "Error %d with zipfile in unzGetGlobalInfo \n";
  }
  EXPECT_TRUE(logged);
  EXPECT_TRUE(Exists(catalog_));
}

TEST_F(CatalogTest, FileMd5IsZeroForWhatCannotBeMapped) {
  Write(At("empty.txt"), "");
  Write(At("abc.txt"), "abc");
  EXPECT_STREQ(FileMd5(At("empty.txt")).c_str(), "0");
  EXPECT_STREQ(FileMd5(At("nothing.txt")).c_str(), "0");
  EXPECT_STREQ(FileMd5(At("")).c_str(), "0");
  EXPECT_STREQ(FileMd5(At("abc.txt")).c_str(), "900150983cd24fb0d6963f7d28e17f72");
}

TEST_F(CatalogTest, RemovalTakesFilesBeforeDirectoriesAndFailsOnUnlistedContent) {
  Install({{"dir/", ""}, {"dir/a.txt", "a"}, {"dir/sub/", ""}, {"dir/sub/b.txt", "b"}});
  Write(dest_ + "dir/sub/extra.txt", "not catalogued");
  const size_t before = DetailLines().size();

  RemoveZipCatalog(catalog_);

  std::vector<std::string> lines = DetailLines();
  lines.erase(lines.begin(), lines.begin() + static_cast<long>(before));
  const std::vector<std::string> expected = {
      "Removing file [" + dest_ + "dir/sub/b.txt]: OK\n",
      "Removing directory [" + dest_ + "dir/sub/]: FAIL\n",
      "Removing file [" + dest_ + "dir/a.txt]: OK\n",
      "Removing directory [" + dest_ + "dir/]: FAIL\n",
      "Removing file [" + catalog_ + "]: OK\n",
  };
  EXPECT_EQ(lines, expected);
  EXPECT_TRUE(Exists(dest_ + "dir/sub/extra.txt"));
  EXPECT_FALSE(Exists(catalog_));
  EXPECT_FALSE(DeleteDeferral());  // the previous setting is back
}

TEST_F(CatalogTest, RestoreLogsEachEntrysOwnOutcome) {
  Install({{"d/", ""}, {"d/one.txt", "1"}, {"d/two.txt", "2"}});
  fs::remove_all(dest_);
  Write(At("default/d/one.txt"), "1");
  Write(At("default/d/two.txt"), "2");
  fs::create_directories(dest_ + "d/two.txt");  // the second copy cannot land
  const size_t before = DetailLines().size();

  EXPECT_TRUE(RestoreFromZipCatalog(catalog_, At("default/")));

  std::vector<std::string> lines = DetailLines();
  lines.erase(lines.begin(), lines.begin() + static_cast<long>(before));
  const std::vector<std::string> expected = {
      "Creating directory [d/]: OK\n",
      "Coping file [d/one.txt]: OK\n",
      "Coping file [d/two.txt]: FAIL\n",
  };
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(Read(dest_ + "d/one.txt"), "1");
}
