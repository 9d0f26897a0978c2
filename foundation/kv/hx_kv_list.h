// HxKVList: one ordered set of name/value pairs with case-insensitive unique keys, and the
// numbered keys "%s%04d" that store lists of values. Values are text; numbers and booleans are
// stored as their decimal text. Set operations never overwrite; Put operations do.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <string_view>

#include "foundation/strings/hx_str.h"

class HxStream;

// Orders keys case-insensitively (stricmp rules): keys that differ only in case are one key.
struct iTCHAR_less {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const { return CompareNoCase(a, b) < 0; }
};

// The key of entry `index`: prefix + index padded to four digits, "%04d" without a prefix.
HxStr NumberedKey(int index, const char* prefix);

class HxKVList : public std::map<HxStr, HxStr, iTCHAR_less> {
 public:
  HxKVList() = default;
  HxKVList(const HxKVList&) = default;
  HxKVList(HxKVList&&) = default;
  HxKVList& operator=(const HxKVList&) = default;
  HxKVList& operator=(HxKVList&&) = default;
  virtual ~HxKVList() = default;

  // Typed reads: true when the key is present and its value not empty; `out` is left untouched
  // otherwise. Numbers follow atol: leading blanks, a sign, digits up to the first other char.
  virtual bool GetInt(std::string_view key, int32_t& out) const;
  virtual bool GetUInt(std::string_view key, uint32_t& out) const;  // refuses a leading '-'
  virtual bool GetBool(std::string_view key, bool& out) const;
  virtual bool Get(std::string_view key, HxStr& out) const;  // an empty value counts

  // Inserts without overwriting: false (list unchanged) when the key exists.
  virtual bool SetInt(const HxStr& key, int32_t value);
  virtual bool SetUInt(const HxStr& key, uint32_t value);
  virtual bool SetBool(const HxStr& key, bool value);
  virtual bool Set(const HxStr& key, const HxStr& value);

  // Replace: remove the key, then Set.
  virtual bool PutInt(const HxStr& key, int32_t value);
  virtual bool PutUInt(const HxStr& key, uint32_t value);
  virtual bool PutBool(const HxStr& key, bool value);
  virtual bool Put(const HxStr& key, const HxStr& value);

  // The same on numbered keys.
  virtual bool GetIntN(int index, int32_t& out, const char* prefix = nullptr) const;
  virtual bool GetUIntN(int index, uint32_t& out, const char* prefix = nullptr) const;
  virtual bool GetBoolN(int index, bool& out, const char* prefix = nullptr) const;
  virtual bool GetN(int index, HxStr& out, const char* prefix = nullptr) const;
  virtual bool SetN(int index, const HxStr& value, const char* prefix = nullptr);
  virtual bool SetIntN(int index, int32_t value, const char* prefix = nullptr);
  virtual bool SetUIntN(int index, uint32_t value, const char* prefix = nullptr);
  virtual bool SetBoolN(int index, bool value, const char* prefix = nullptr);

  // Removes the run of numbered keys that starts at the first present index; the first absent
  // index after it ends the run, so keys behind a gap remain. Returns true.
  virtual bool EraseRun(const char* prefix);
  virtual bool EraseRun();

  // Inserts the other list's pairs; present keys are replaced only when `overwrite` is set.
  bool Merge(const HxKVList& other, bool overwrite);

  // Reads a section body from the stream's cursor up to the next "[" line (left unread).
  bool Read(HxStream& stream);
  // Writes the pairs as lines ("%s=%s", or "%s%s" for a key that holds '='); `stream` null only
  // counts. `total` receives the byte count.
  bool Write(HxStream* stream, bool carriageReturn, size_t& total) const;

  bool Contains(std::string_view key) const { return find(key) != end(); }
};

// Cuts `text` at every `separator` and line feed and stores piece i under NumberedKey(i) with
// SetN; empty pieces between separators are stored, an empty trailing piece is not.
bool SplitToList(std::string_view text, char separator, HxKVList& list);
