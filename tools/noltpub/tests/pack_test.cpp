// `noltpub pack`: the archive holds each file under its bare name with its exact bytes, read
// back with minizip's reader.
#include <minizip/unzip.h>

#include <filesystem>
#include <map>

#include "noltpub_test_fixture.h"
#include "test_pki.h"

namespace {

namespace fs = std::filesystem;

// Every entry of the archive: name to bytes.
std::map<std::string, std::string> Entries(const std::string& path) {
  std::map<std::string, std::string> entries;
  unzFile archive = unzOpen64(path.c_str());
  if (archive == nullptr) return entries;
  for (int status = unzGoToFirstFile(archive); status == UNZ_OK;
       status = unzGoToNextFile(archive)) {
    char name[256];
    unz_file_info64 info;
    if (unzGetCurrentFileInfo64(archive, &info, name, sizeof(name), nullptr, 0, nullptr, 0) !=
            UNZ_OK ||
        unzOpenCurrentFile(archive) != UNZ_OK) {
      break;
    }
    std::string bytes(info.uncompressed_size, '\0');
    const int got = unzReadCurrentFile(archive, bytes.data(), static_cast<unsigned>(bytes.size()));
    unzCloseCurrentFile(archive);
    entries[name] = bytes.substr(0, got < 0 ? 0 : static_cast<size_t>(got));
  }
  unzClose(archive);
  return entries;
}

// The archive holds each file under its bare name; two files of one name or a missing file
// refuse the pack and leave the older archive as it was, with no temporary file.
TEST_F(NoltpubTest, PackStoresEachFileUnderItsBareNameOrNothing) {
  fs::create_directories(Path("a/b"));
  std::string binary;
  for (int i = 0; i < 100000; ++i) binary += static_cast<char>(i * 31 % 256);
  WriteBytes(Path("a/b/manifest.xml"), "<manifest/>\n");
  WriteBytes(Path("a/data.bin"), binary);
  WriteBytes(Path("out.zip"), "kept");
  const std::pair<std::vector<std::string>, std::string> kRefused[] = {
      {{Path("a/b/manifest.xml"), Path("a/data.bin"), Path("a/b/data.bin")},
       "noltpub: two files are named data.bin\n"},
      {{Path("a/data.bin"), Path("missing.xml")},
       "noltpub: cannot pack " + Path("missing.xml") + "\n"},
  };
  WriteBytes(Path("a/b/data.bin"), "2");
  for (const auto& [files, error] : kRefused) {
    std::vector<std::string> args = {"pack", Path("out.zip")};
    args.insert(args.end(), files.begin(), files.end());
    const NoltpubResult result = Run(args);
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(result.err, error);
    EXPECT_EQ(ReadBytes(Path("out.zip")), "kept");
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(sandbox_.Root()), fs::directory_iterator()), 2)
      << "no temporary file is left";

  const NoltpubResult result =
      Run({"pack", Path("out.zip"), Path("a/b/manifest.xml"), Path("a/data.bin")});
  ASSERT_EQ(result.code, 0) << result.err;
  const std::map<std::string, std::string> expected = {{"manifest.xml", "<manifest/>\n"},
                                                       {"data.bin", binary}};
  EXPECT_EQ(Entries(Path("out.zip")), expected);
  EXPECT_TRUE(
      RunCommand("command -v unzip >/dev/null || exit 0; unzip -tq '" + Path("out.zip") + "'"));
}

}  // namespace
