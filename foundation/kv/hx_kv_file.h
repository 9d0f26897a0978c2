// HxKvFile: the in-memory text stream that loads and saves whole files through a transfer
// object. Files are written in UTF-8 with a byte-order mark, or without a mark ("ANSI") when
// the context's "Encoding" value is "MB"; reading follows the file's own mark.
#pragma once
#include <string_view>

#include "foundation/kv/encoded_text_file.h"
#include "foundation/kv/hx_stream.h"

class HxKvFile : public HxStream {
 public:
  // Replaces the stream's text with the file at `path` (comment lines dropped), cursor at the
  // start. False when the location cannot be reached, the file is missing or a read fails.
  virtual bool LoadFrom(std::string_view path);
  // Stores the text at `path`: an empty stream deletes the target; otherwise the text goes to
  // a temporary "_hx" file that the transfer object stores at the target. A failure leaves the
  // target as it was and raises 0x2000006d.
  virtual bool SaveTo(std::string_view path);

  bool IsLoaded() const { return m_loaded; }

  // The encoding files are written in, from the context's "Encoding" value: "MB" (any case)
  // gives ANSI, anything else UTF-8. Process-wide; UTF-8 until set.
  static void SetContextEncoding(std::string_view encodingValue);
  static HxTextEncoding RequestedEncoding();

 private:
  bool m_loaded = false;
};
