// Unpacking below a target directory: folder names kept, names that would leave the target
// refused, and no partial file ever under its real name.
#include <filesystem>
#include <fstream>

#include "noltsync/zipcatalog/zip_extract.h"
#include "zipcatalog_test_support.h"

namespace fs = std::filesystem;

namespace {

using ExtractTest = ZipCatalogTest;

// Text that deflate cannot shrink much, so that a truncated archive cuts into it.
std::string Noise(size_t size) {
  std::string text(size, '\0');
  uint32_t state = 12345;
  for (char& c : text) {
    state = state * 1103515245 + 12345;
    c = static_cast<char>(state >> 16);
  }
  return text;
}

}  // namespace

TEST(SafeEntryPathTest, NamesThatWouldLeaveTheTargetAreRefused) {
  std::string path;
  EXPECT_TRUE(SafeEntryPath("a/b/c.txt", path));
  EXPECT_EQ(path, "a/b/c.txt");
  EXPECT_TRUE(SafeEntryPath("win\\style\\name.txt", path));
  EXPECT_EQ(path, "win/style/name.txt");
  EXPECT_TRUE(SafeEntryPath("./dir/", path));
  EXPECT_EQ(path, "dir/");
  EXPECT_TRUE(SafeEntryPath("a..b/..c", path));  // dots inside a name are no parent step

  for (const char* unsafe : {"", "/etc/passwd", "\\share\\x", "../up.txt", "a/../../up.txt",
                             "a\\..\\..\\up.txt", "C:/windows/x", "c:x", "..", "./", "a/.."}) {
    EXPECT_FALSE(SafeEntryPath(unsafe, path)) << unsafe;
  }
}

TEST_F(ExtractTest, EntriesLandBelowTheTargetUnderTheirFolderNamesReplacingFiles) {
  Write(At("target/root.txt"), "old and longer");
  MakeZip(At("pack.zip"),
          {{"top/", ""}, {"top/inner/file.txt", "inner"}, {"root.txt", "root"}, {"empty.txt", ""}});
  ASSERT_TRUE(ExtractZipArchive(At("pack.zip"), At("target")));
  EXPECT_TRUE(fs::is_directory(At("target/top")));
  EXPECT_EQ(Read(At("target/top/inner/file.txt")), "inner");
  EXPECT_EQ(Read(At("target/root.txt")), "root");
  EXPECT_TRUE(fs::is_regular_file(At("target/empty.txt")));
  EXPECT_TRUE(TemporaryFiles(At("target")).empty());
}

TEST_F(ExtractTest, AParentStepOrAnAbsoluteNameFailsWithoutWritingOutside) {
  const std::string outside = At("outside.txt");
  for (const std::string& name : {std::string("../escaped.txt"), outside}) {
    SCOPED_TRACE(name);
    MakeZip(At("pack.zip"), {{"fine.txt", "ok"}, {name, "bad"}});
    EXPECT_FALSE(ExtractZipArchive(At("pack.zip"), At("target")));
    EXPECT_FALSE(Exists(At("escaped.txt")));
    EXPECT_FALSE(Exists(outside));
    EXPECT_FALSE(Exists(At("target") + outside));
    EXPECT_TRUE(TemporaryFiles(At("")).empty());
    fs::remove(At("pack.zip"));
  }
}

TEST_F(ExtractTest, AFolderLinkLeadingOutOfTheTargetIsNotFollowed) {
  fs::create_directories(At("elsewhere"));
  fs::create_directories(At("target"));
  fs::create_directory_symlink(At("elsewhere"), At("target/link"));
  MakeZip(At("pack.zip"), {{"link/planted.txt", "bad"}});
  EXPECT_FALSE(ExtractZipArchive(At("pack.zip"), At("target")));
  EXPECT_FALSE(Exists(At("elsewhere/planted.txt")));
}

TEST_F(ExtractTest, AMissingOrTruncatedArchiveLeavesNoFileUnderItsName) {
  EXPECT_FALSE(ExtractZipArchive(At("none.zip"), At("target")));
  MakeZip(At("pack.zip"), {{"big.bin", Noise(300000)}});
  fs::resize_file(At("pack.zip"), 150000);
  EXPECT_FALSE(ExtractZipArchive(At("pack.zip"), At("target")));
  EXPECT_FALSE(Exists(At("target/big.bin")));
  EXPECT_TRUE(TemporaryFiles(At("")).empty());
}

TEST_F(ExtractTest, ADamagedEntryStopsTheExtractionAndLeavesNoPartialFile) {
  const std::string marker = "MARKER-" + std::string(100000, 'm');
  MakeZip(At("pack.zip"), {{"first.txt", "first"}, {"second.bin", marker}, {"third.txt", "3"}},
          true);
  std::string bytes = Read(At("pack.zip"));
  const size_t at = bytes.find("MARKER-");
  ASSERT_NE(at, std::string::npos);
  bytes[at + 50000] = 'X';  // the entry's checksum no longer matches
  std::ofstream(At("pack.zip"), std::ios::binary | std::ios::trunc) << bytes;

  EXPECT_FALSE(ExtractZipArchive(At("pack.zip"), At("target")));
  EXPECT_EQ(Read(At("target/first.txt")), "first");
  EXPECT_FALSE(Exists(At("target/second.bin")));
  EXPECT_FALSE(Exists(At("target/third.txt")));
  EXPECT_TRUE(TemporaryFiles(At("target")).empty());
}
