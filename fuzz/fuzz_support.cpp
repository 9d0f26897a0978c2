#include "fuzz_support.h"

#include <fstream>

#include "foundation/context/context_store.h"
#include "scoped_sandbox.h"

const std::string& FuzzRoot() {
  static const platform::testing::ScopedSandbox sandbox("fuzzer");
  static const bool loaded = LoadContext("fuzz", "http://localhost/fuzz", "fuzzer", false);
  (void)loaded;
  return sandbox.Root();
}

std::string WriteFuzzInput(std::string_view name, const uint8_t* data, size_t size) {
  std::string path = FuzzRoot() + "/" + std::string(name);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return path;
}
