// HxKvFile: the in-memory text stream that loads and saves whole files through a transfer
// object. Files are written in UTF-8 with a byte-order mark, or without a mark ("ANSI") when
// the context's "Encoding" value is "MB"; reading follows the file's own mark.
#pragma once
#include <string_view>

#include "foundation/kv/encoded_text_file.h"
#include "foundation/kv/hx_stream.h"
#include "foundation/strings/hx_str.h"

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

  // Yields the "Encoding" value of the context that the calling thread reads; null restores
  // the default (UTF-8). The process context sets it once a context exists.
  using EncodingSource = HxStr (*)();
  static void SetEncodingSource(EncodingSource source);
  // The encoding this thread writes files in: ANSI when its context's "Encoding" is "MB" (any
  // case), else UTF-8. Each context has its own, so providers of one process never mix.
  static HxTextEncoding RequestedEncoding();

 private:
  bool m_loaded = false;
};
