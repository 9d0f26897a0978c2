// The key-value text files: the input as a file in any of the three encodings is read into
// sections, saved and read again; the same bytes also go through the section reader from
// memory and through the list splitter.
#include "foundation/kv/encoded_text_file.h"
#include "foundation/kv/hx_kv_list_map.h"
#include "foundation/kv/hx_stream.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = WriteFuzzInput("input.cfg", data, size);
  EncodedTextReader reader;
  if (reader.Open(path)) {
    std::string chunk;
    bool lineStart = true;
    while (reader.ReadChunk(chunk, lineStart)) {
    }
  }
  HxKVListMap sections;
  if (sections.Load(path) && !sections.empty()) {
    const std::string copy = FuzzRoot() + "/copy.cfg";
    HxKVListMap reloaded;
    if (sections.Save(copy)) reloaded.Load(copy);
  }
  HxStream stream;
  stream.Write(data, size);
  stream.Seek(0);
  HxKVListMap fromMemory;
  fromMemory.Read(stream);
  HxKVList pieces;
  SplitToList(FuzzText(data, size), size > 0 ? static_cast<char>(data[0]) : ',', pieces);
  return 0;
}
