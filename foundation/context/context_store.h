// The process context: named sections of name/value text, one SdcContext per thread, kept in a
// process-wide store under one lock. A thread that never stored a context reads the context of
// the primary thread (the first thread that stored one). Section "SdcContext" carries the run's
// identity: "ProviderId", "UserName", "HKCU", "DnaServer", "DirUserServer", "Encoding", ...
#pragma once
#include <cstdint>
#include <string_view>

#include "foundation/kv/hx_kv_list_map.h"

class SdcContext {
 public:
  // A new context: section "SdcContext" with "ProviderId" = "default".
  SdcContext();

  HxKVListMap& Sections() { return m_sections; }
  const HxKVListMap& Sections() const { return m_sections; }

 private:
  HxKVListMap m_sections;
};

// The value in the calling thread's context (else the primary thread's); empty when the
// section, the key or any context is missing.
HxStr GetValue(std::string_view section, std::string_view key);

// GetValue on section "SdcContext". "UserName", "OSUserName" and "HKCU" are filled in on first
// read when absent (the user of TuGetUserName; the process user, else the system account;
// HKEY_CURRENT_USER) and stored in the context that was read.
HxStr GetContextValue(std::string_view key);

// Replaces the pair in the calling thread's context, creating that context when the thread has
// none. A missing section is not created: the call then changes nothing and returns false.
bool SetValue(std::string_view section, const HxStr& key, const HxStr& value);
bool SetContextValue(const HxStr& key, const HxStr& value);

// Adds every section of `other` to the calling thread's context (created when missing): a
// missing section whole; an existing one replaced whole with `replaceSections`, else merged
// pair by pair (HxKVList::Merge with `overwrite`).
void MergeContext(const HxKVListMap& other, bool overwrite, bool replaceSections);

// Builds the calling thread's context for a provider and user: identity, registry hive, server,
// local data directories, "Encoding" and the sections of the provider's "config.cfg" with the
// server layout of "Paths" completed. False when no provider id can be found, or when the thread
// already has a context and `reload` is not set (that context is kept).
bool LoadContext(std::string_view providerId, std::string_view server, std::string_view userName,
                 bool reload);

// The hive handle value that "HKCU" names (HKEY_CURRENT_USER when it names none).
uint32_t ContextUserHive();

// Forgets every context and the primary thread, as a module unload does.
void ClearContextStore();
