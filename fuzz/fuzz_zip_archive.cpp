// Archive unpacking and zip catalogs over a damaged archive: the input is the archive, unpacked
// into an emptied directory, then catalogued and the catalog checked against what was unpacked.
#include <filesystem>
#include <system_error>

#include "fuzz_support.h"
#include "noltsync/zipcatalog/zip_catalog.h"
#include "noltsync/zipcatalog/zip_extract.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string archive = WriteFuzzInput("archive.zip", data, size);
  const std::string target = FuzzRoot() + "/unpacked/";
  const std::string catalog = FuzzRoot() + "/archive.zcat";
  std::error_code ignored;
  std::filesystem::remove_all(target, ignored);
  std::filesystem::create_directories(target, ignored);
  ExtractZipArchive(archive, target);
  if (CreateZipCatalog(catalog, archive, target, "0123456789abcdef")) {
    CheckZipCatalog(catalog, "0123456789abcdef", "");
  }
  return 0;
}
