// The contract between the plug-in and its hosts: the nine entry points, the properties, the
// notification message and its record. Hosts include this header and look the functions up by
// name after loading the library.
#pragma once
#include <cstdint>

extern "C" {
typedef int (*ModletInitFn)(void);
typedef void* (*ModletInitContextFn)(const char* providerId, const char* userId);
typedef int (*ModletGetPropertyFn)(void* context, const char* name);
typedef int (*ModletSetPropertyFn)(void* context, const char* name, const char* value);
typedef int (*ModletStartFn)(void* context);
typedef int (*ModletStopFn)(void* context);
typedef int (*ModletGetStateFn)(void* context);
typedef int (*ModletDisposeContextFn)(void* context);
typedef int (*ModletDisposeFn)(void);

// Handed by address with MODLET_MSG_NOTIFY; valid until ModletDisposeContext.
struct SyncNotifyRecord {
  uint16_t kind;  // always 100
  uint8_t reserved[2];
  const char* modletName;
  uint32_t loopThreadId;
  uint32_t reserved2;
  const char* providerId;
  uint32_t reserved3;
};
}

inline constexpr const char* kPropertyLogger = "LOGGER";
inline constexpr const char* kPropertyMasterThreadId = "MASTER_THREAD_ID";
inline constexpr const char* kPropertyModletName = "MODLET_NAME";

// The application message base plus 0x33.
inline constexpr uint32_t kModletMsgNotify = 0x433;
inline constexpr uint16_t kSyncNotifyRecordKind = 100;

enum ModletState : int32_t {
  kModletStateCreated = 3,
  kModletStateRunning = 4,
  kModletStateStopping = 5,
  kModletStateReturned = 6,
  kModletStateFailed = -1,
};
