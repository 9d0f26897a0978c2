// Named kernel objects shared between processes: events, mutexes and semaphores, and the wait
// for any of several of them (optionally also for the thread's message queue).
//
// Names: "Global\NAME" lives in the machine-wide namespace, any other name in the calling
// user's local namespace. An empty name makes an object private to this process.
//
// Global names across accounts ("root" also stands for the sandbox's owner): any account may
// create an object under a name that no live object of another account holds; the object is
// visible to its creator and to root. Root's Create of a name that another account's object
// holds replaces that object (nobody squats root's names), and root's Open accepts it (the
// service signals a user's event). Any other account uses only its own objects and root's with
// the Everyone list: another account's object counts as absent (Open: 2) and a name it cannot
// take fails its Create with 5. Root's other objects give it 5 while a handle holds them, and
// 2 once none does (a killed service's leftover).
//
// Another account's object never stops root for ever (its owner may hold its locks as long as it
// likes): Open gives 6, and Set, Reset and Release give false with 33, once its state lock stayed
// taken for kForeignObjectLockMs of the platform clock; a wait counts it as not signalled while
// the lock is taken and looks again every few milliseconds. Objects of the caller's own account
// and of root are waited for as long as their locks are held.
#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace platform {

inline constexpr uint32_t kWaitObject0 = 0;
inline constexpr uint32_t kWaitAbandoned0 = 0x80;
inline constexpr uint32_t kWaitTimeout = 258;
inline constexpr uint32_t kWaitFailed = 0xFFFFFFFF;
inline constexpr uint32_t kInfinite = 0xFFFFFFFF;

// How long an operation tries for the state lock of another account's object.
inline constexpr uint32_t kForeignObjectLockMs = 1000;

// Who may use a named object: its creator's account, or every account (the Everyone list).
enum class ObjectAccess { Owner, Everyone };

class ObjectState;  // the per-handle implementation

// A handle to a named object. Closing the last handle in every process ends the object.
class WaitObject {
 public:
  virtual ~WaitObject();
  WaitObject(const WaitObject&) = delete;
  WaitObject& operator=(const WaitObject&) = delete;

  // A small positive number that identifies the handle in log lines.
  int HandleValue() const;
  // Changes who may open the object from now on (Everyone: every account). False with
  // LastError() 5 when this account may not change it.
  bool SetAccess(ObjectAccess access);
  ObjectState& State() const { return *state_; }

 protected:
  explicit WaitObject(std::unique_ptr<ObjectState> state);

 private:
  std::unique_ptr<ObjectState> state_;
};

class Event final : public WaitObject {
 public:
  // Creates the event, or opens it when it exists (then LastError() is 183 and the
  // reset mode and initial state given here are ignored). Null on failure, with LastError().
  static std::unique_ptr<Event> Create(std::string_view name, bool manualReset, bool initiallySet,
                                       ObjectAccess access = ObjectAccess::Owner);
  // Opens an existing event; null with LastError() 2 when no process holds one of that name.
  static std::unique_ptr<Event> Open(std::string_view name);

  bool Set();
  bool Reset();

 private:
  using WaitObject::WaitObject;
};

class Mutex final : public WaitObject {
 public:
  static std::unique_ptr<Mutex> Create(std::string_view name, bool initiallyOwned,
                                       ObjectAccess access = ObjectAccess::Owner);
  static std::unique_ptr<Mutex> Open(std::string_view name);

  // False with LastError() 288 when the calling thread does not own it.
  bool Release();

 private:
  using WaitObject::WaitObject;
};

class Semaphore final : public WaitObject {
 public:
  static std::unique_ptr<Semaphore> Create(std::string_view name, int32_t initialCount,
                                           int32_t maximumCount,
                                           ObjectAccess access = ObjectAccess::Owner);
  static std::unique_ptr<Semaphore> Open(std::string_view name);

  // False with LastError() 298 when the count would pass the maximum.
  bool Release(int32_t count = 1, int32_t* previousCount = nullptr);
  // Raises the count as Release does, but the units stay this handle's own: a wait through it
  // takes them back first, and when the handle closes or its process ends while it holds some,
  // they leave the count (a reader that dies inside a guard).
  bool ReleaseHeld(int32_t count = 1);
  // The current count, without taking anything.
  bool Count(int32_t& count);

 private:
  using WaitObject::WaitObject;
};

// The most objects one WaitForAny takes.
inline constexpr size_t kMaximumWaitObjects = 64;

// Waits until one object is signalled: returns its index (kWaitObject0 + i), kWaitAbandoned0 + i
// for a mutex whose owner died, objects.size() when wakeOnMessages is set and the thread's
// message queue holds a message, kWaitTimeout after timeoutMs of the platform clock, kWaitFailed
// on error. When several are signalled the lowest index wins. Acquiring is atomic per object.
uint32_t WaitForAny(std::span<WaitObject* const> objects, uint32_t timeoutMs,
                    bool wakeOnMessages = false);

uint32_t WaitForOne(WaitObject& object, uint32_t timeoutMs);

}  // namespace platform
