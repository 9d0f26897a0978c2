// The other process of the named-object tests. It reports over standard output, one line per
// step, and a holding command keeps its objects until its standard input closes:
//   wait NAME...      open the events, "ready", wait for any, "result N"
//   own NAME          create or open the mutex, wait for it, "owned R", hold it
//   hold-event NAME   create the event, "holding E" (E: the last error), hold it
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/errors.h"
#include "platform/sync.h"

namespace {

void Report(const char* format, unsigned value) {
  std::printf(format, value);
  std::fflush(stdout);
}

void HoldUntilInputCloses() {
  char c = 0;
  while (read(0, &c, 1) > 0) {
  }
}

int WaitForEvents(int count, char** names) {
  std::vector<std::unique_ptr<platform::Event>> events;
  std::vector<platform::WaitObject*> objects;
  for (int i = 0; i < count; ++i) {
    events.push_back(platform::Event::Open(names[i]));
    if (!events.back()) return 2;
    objects.push_back(events.back().get());
  }
  Report("ready %u\n", 0);
  Report("result %u\n", platform::WaitForAny(objects, platform::kInfinite));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 64;
  if (std::strcmp(argv[1], "wait") == 0) return WaitForEvents(argc - 2, argv + 2);
  if (std::strcmp(argv[1], "own") == 0) {
    auto mutex = platform::Mutex::Create(argv[2], false);
    if (!mutex) return 2;
    Report("owned %u\n", platform::WaitForOne(*mutex, platform::kInfinite));
    HoldUntilInputCloses();
    return 0;
  }
  if (std::strcmp(argv[1], "hold-event") == 0) {
    auto event = platform::Event::Create(argv[2], false, false);
    if (!event) return 2;
    Report("holding %u\n", platform::LastError());
    HoldUntilInputCloses();
    return 0;
  }
  return 64;
}
