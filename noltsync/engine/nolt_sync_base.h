// NoltSyncBase: what the updater and the uploader share. It holds the provider id, the server
// location (normalised: trimmed, backslashes, ending in one), the object's own macro machine and
// the user name, and offers the engine's common operations as virtual slots 0..7.
#pragma once
#include <cstddef>

#include "foundation/context/hx_macro.h"
#include "foundation/strings/hx_str.h"

class SdcSyncDataHarvestEx;  // inventory macro expander
class SwmrGuard;

class NoltSyncBase {
 public:
  // Longest server location kept after normalisation (characters).
  static constexpr size_t kMaxServerLength = 260;

  // Stores both, normalises the server, applies the address-cache rule (slot 0) and loads the
  // context macros (slot 3, the base's own since construction is under way).
  NoltSyncBase(const HxStr& providerId, const HxStr& server);
  NoltSyncBase(const NoltSyncBase&) = delete;
  NoltSyncBase& operator=(const NoltSyncBase&) = delete;

  // Slot 0: refreshes the process-wide address list by the "CacheIp" rule; always true.
  virtual bool RefreshIpCache();
  // Slot 1: context "PrivacyMode" 1, else the user's registry switch, else false.
  virtual bool IsPrivacyMode();
  // Slot 2.
  virtual ~NoltSyncBase();
  // Slot 3: inserts the module, server and directory macros into the object's macro machine
  // (present entries stay). Nothing when the server location is empty.
  virtual void LoadContextMacros();
  // Slot 4: expands the macros of `text` in place through the macro machine, then through
  // `harvest` when given and a '%' is left. The machine's result: false without a '%'.
  virtual bool TranslateMacros(SdcSyncDataHarvestEx* harvest, HxStr& text);
  // Slot 5: the local directory of a "Dir..." key (at most 260 characters); only `key` and
  // `out` are used.
  virtual bool LookupDirectory(const char* section, const char* key, const HxStr& server,
                               HxStr& out);
  // Slot 6: MoveFileGuarded, under the upload lock when `useLock` is set.
  virtual bool MoveFile(const HxStr& source, const HxStr& target, bool useLock);
  // Slot 7: true when the object holds a background-transfer object; the cycles take the BITS
  // path by it. False until the transfer-job layer exists.
  virtual bool HasBits() const;

  const HxStr& ProviderId() const { return m_providerId; }
  const HxStr& Server() const { return m_server; }
  // Replaces the server location, normalised as at construction (the loop's refresh).
  void SetServer(const HxStr& server);
  const HxStr& UserName() const { return m_userName; }
  void SetUserName(const HxStr& userName) { m_userName = userName; }
  HxMacroMachine& Macros() { return m_macros; }
  const HxMacroMachine& Macros() const { return m_macros; }
  // Forgets every macro (before the loop reloads them with slot 3).
  void ClearMacros() { m_macros.clear(); }

  // The process-wide address list ("10.0.0.5,192.168.1.20") that requests carry.
  static HxStr CachedIpList();
  // For tests: forgets the process-wide address list.
  static void ResetIpCacheForTesting();

 protected:
  HxStr m_providerId;
  HxStr m_server;
  HxMacroMachine m_macros;
  HxStr m_userName;
};

// The server normalisation of the base: blanks trimmed at both ends, '/' turned into '\', a
// trailing '\' added unless present; empty stays empty; cut to 260 characters.
HxStr NormalizeServerLocation(const HxStr& server);

// "%SERVERBASE%": the scheme and host part of a normalised location, ending in '\'
// ("http:\\host:8080\"); for a location without a scheme ("\\share\dir\", "C:\dir\") its
// first element the same way; empty for an empty location.
HxStr ServerBaseOf(const HxStr& server);

// The engine's file move. With a guard, it is taken for writing first (10 s); a guard that times
// out or cannot be taken (an invalid one) fails the move, logged at level 4. When the move fails
// because a path is missing or the target exists, the file is copied through the source's
// transfer object and the source deleted. True when the file arrived.
bool MoveFileGuarded(SwmrGuard* guard, const HxStr& source, const HxStr& target);
