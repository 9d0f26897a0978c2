#include "foundation/kv/hx_kv_file.h"

#include <atomic>
#include <string>

#include "foundation/log/error_store.h"
#include "foundation/transfer/hx_remote_object.h"
#include "foundation/transfer/transfer_temp.h"
#include "platform/files.h"

namespace {

constexpr uint32_t kErrorUnableToWriteFile = 0x2000006d;

std::atomic<HxKvFile::EncodingSource> g_encodingSource{nullptr};

}  // namespace

void HxKvFile::SetEncodingSource(EncodingSource source) { g_encodingSource.store(source); }

HxTextEncoding HxKvFile::RequestedEncoding() {
  const EncodingSource source = g_encodingSource.load();
  return source != nullptr && CompareNoCase(source(), "MB") == 0 ? HxTextEncoding::kAnsi
                                                                  : HxTextEncoding::kUtf8;
}

bool HxKvFile::LoadFrom(std::string_view path) {
  Clear();
  m_loaded = false;
  const HxRemoteObjectPtr object = CreateRemoteObject(path);
  if (!object) return false;
  const HxStr local = object->GetLocalCopy();
  if (local.IsEmpty() || !platform::PathExists(std::string(local))) return false;
  EncodedTextReader reader;
  if (!reader.Open(std::string(local))) return false;
  std::string chunk;
  bool lineStart = true;
  bool inComment = false;
  while (reader.ReadChunk(chunk, lineStart)) {
    // A line that begins with ';' is dropped whole, however many chunks it spans.
    if (lineStart) inComment = !chunk.empty() && chunk[0] == ';';
    if (!inComment) Write(chunk);
  }
  if (reader.Failed()) return false;
  Seek(0);
  m_loaded = true;
  return true;
}

bool HxKvFile::SaveTo(std::string_view path) {
  const HxRemoteObjectPtr object = CreateRemoteObject(path);
  bool ok = false;
  if (object && Size() == 0) {
    ok = object->Delete();
  } else if (object) {
    ScopedTempFile temp;
    ok = temp.Create("_hx") &&
         WriteEncodedTextFile(std::string(temp.Path()), Text(), RequestedEncoding()) &&
         object->UploadFilePut(temp.Path());
  }
  if (!ok) RaiseError(kErrorUnableToWriteFile, HxStr(path).c_str());
  return ok;
}
