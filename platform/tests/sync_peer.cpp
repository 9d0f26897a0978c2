// The other process of the named-object tests. It reports one line on its standard output and
// keeps what it made until its standard input closes:
//   wait EVENT...        creates or opens the auto-reset events, "ready", waits for any,
//                        "result N" (and ends)
//   create KIND NAME     KIND event, mutex (owned) or semaphore: "create E" (the last error)
//   open KIND NAME       "open E"
//   squat PATH           makes PATH by hand and locks it as a handle and owner would: "squat E"
//   lock PATH            takes the state lock of the object file at PATH through an open of its
//                        own and keeps it, as a process of the file's owner may: "lock E"
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/sync.h"

namespace {

using namespace platform;

void Report(const std::string& word, uint32_t value) {
  std::printf("%s %u\n", word.c_str(), value);
  std::fflush(stdout);
}

std::unique_ptr<WaitObject> Make(bool create, const std::string& kind, const char* name) {
  if (kind == "event") return create ? Event::Create(name, true, false) : Event::Open(name);
  if (kind == "mutex") return create ? Mutex::Create(name, true) : Mutex::Open(name);
  return create ? Semaphore::Create(name, 0, 100) : Semaphore::Open(name);
}

// An open-file-description lock on one byte of an object file (0 state, 1 handles, 2 owner).
bool LockByte(int fd, short type, off_t byte) {
  struct flock range {
    type, SEEK_SET, byte, 1, 0
  };
  return fcntl(fd, F_OFD_SETLK, &range) == 0;
}

// A squatter that bypasses the platform: its own file, read-locked on the handle byte and
// write-locked on the owner byte.
int Squat(const char* path) {
  int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  bool ok = fd >= 0 && fchmod(fd, 0666) == 0 && LockByte(fd, F_RDLCK, 1) &&
            LockByte(fd, F_WRLCK, 2) && write(fd, "squatted", 8) == 8;
  return ok ? 0 : errno;
}

int LockState(const char* path) {
  int fd = open(path, O_RDWR | O_CLOEXEC);
  return fd >= 0 && LockByte(fd, F_WRLCK, 0) ? 0 : errno;
}

void HoldUntilInputCloses() {
  char c = 0;
  while (read(0, &c, 1) > 0) {
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 64;
  const std::string command = argv[1];
  std::unique_ptr<WaitObject> held;
  if (command == "wait") {  // ends once its wait returned
    std::vector<std::unique_ptr<Event>> events;
    std::vector<WaitObject*> objects;
    for (int i = 2; i < argc; ++i) {
      events.push_back(Event::Create(argv[i], false, false));
      if (!events.back()) return 2;
      objects.push_back(events.back().get());
    }
    Report("ready", 0);
    Report("result", WaitForAny(objects, kInfinite));
    return 0;
  } else if ((command == "create" || command == "open") && argc == 4) {
    held = Make(command == "create", argv[2], argv[3]);
    Report(command, LastError());
  } else if (command == "squat") {
    Report(command, static_cast<uint32_t>(Squat(argv[2])));
  } else if (command == "lock") {
    Report(command, static_cast<uint32_t>(LockState(argv[2])));
  } else {
    return 64;
  }
  HoldUntilInputCloses();
  return 0;
}
