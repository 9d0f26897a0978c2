// The scheduled sync loop at rest: the CPU it uses while idle in a one-hour wait, and how fast
// it wakes when another process signals its BITS job event. The plug-in runs in process as the
// command agent runs it: this program copies itself into a sandbox as "noltcmd" (the name the
// plug-in's run mode looks for) and starts the copy with "--measure". The signaller is the
// program started again with "--signal EVENT FILE", which notes the monotonic time right before
// it signals. All processes read the same monotonic clock, so the loop's log time minus that
// time is the latency of one wake.
//
//   loop_idle [IDLE_SECONDS] [WAKES]
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_result.h"
#include "hosts/common/plugin_loader.h"
#include "platform/child_process.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/sync.h"

namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

constexpr const char* kProvider = "bench";
constexpr const char* kUser = "bench";
constexpr auto kGuard = std::chrono::seconds(30);  // a failure guard, never a pause
constexpr long long kUnixToFileTimeTicks = 11644473600LL * 10000000LL;

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             SteadyClock::now().time_since_epoch())
      .count();
}

// What the loop logged that the measurement waits for.
struct LoopLog {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<int64_t> bitsWakes;  // monotonic ns of each "Received bits job event..."
  int waitsAnnounced = 0;          // "Next Sync time in ..." lines: the loop is about to wait

  template <typename Ready>
  bool Await(Ready ready) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, kGuard, [&] { return ready(*this); });
  }
};

LoopLog g_log;

extern "C" void RecordLine(uint32_t /*category*/, uint32_t /*level*/, const char* format, ...) {
  const int64_t now = NowNs();
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  const std::string line(text);
  std::lock_guard<std::mutex> lock(g_log.mutex);
  if (line == "Received bits job event...\n") g_log.bitsWakes.push_back(now);
  if (line.rfind("Next Sync time in ", 0) == 0) ++g_log.waitsAnnounced;
  g_log.changed.notify_all();
}

// The signalling side: one Set of the named event, its time written to `file` first.
int RunSignaller(const std::string& eventName, const std::string& file) {
  auto event = platform::Event::Open(eventName);
  if (!event) return 2;
  const int64_t before = NowNs();
  event->Set();
  std::ofstream(file) << before << "\n";
  return 0;
}

// A valid server for the user, no prune pending, and the next sync one hour ahead.
bool PrepareRegistry() {
  platform::RegistryKey key;
  const std::string path =
      std::string("SOFTWARE\\Strovane\\ProviderList\\") + kProvider + "\\users\\" + kUser;
  if (key.Create(platform::kHkeyCurrentUser, path, platform::kKeyAllAccess) != 0) return false;
  const auto unixTicks = std::chrono::duration_cast<std::chrono::nanoseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count() /
                         100;
  char next[32];
  std::snprintf(next, sizeof next, "%016llx%03x",
                static_cast<unsigned long long>(unixTicks + kUnixToFileTimeTicks +
                                                3600LL * 10000000LL),
                0u);
  return key.SetString(kProvider, "http://127.0.0.1:9/tidesync/") == 0 &&
         key.SetString("PruneOfflineMask", "op") == 0 &&
         key.SetString("NextUpdateTimeHex", next) == 0;
}

double Percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  return values[static_cast<size_t>(fraction * static_cast<double>(values.size() - 1))];
}

// Wakes the loop `wakes` times from another process; the latencies in milliseconds.
bool MeasureWakes(const fs::path& sandbox, int wakes, std::vector<double>& latencies) {
  const std::string eventName = std::string("BITS_JOB_EVENT_") + kProvider + "_" + kUser;
  const std::string stamp = (sandbox / "signal.txt").string();
  for (int i = 0; i < wakes; ++i) {
    int announced = 0;
    {
      std::lock_guard<std::mutex> lock(g_log.mutex);
      announced = g_log.waitsAnnounced;
    }
    platform::ChildProcess signaller;
    if (!signaller.Start({platform::HostExecutablePath(), "--signal", eventName, stamp}) ||
        signaller.Wait() != 0) {
      std::fprintf(stderr, "the signaller failed\n");
      return false;
    }
    const size_t index = static_cast<size_t>(i);
    // The wake is logged, then the sync step runs and the loop announces its next wait.
    if (!g_log.Await([&](LoopLog& log) {
          return log.bitsWakes.size() > index && log.waitsAnnounced > announced;
        })) {
      std::fprintf(stderr, "the loop did not wake (%d)\n", i);
      return false;
    }
    int64_t signalled = 0;
    std::ifstream(stamp) >> signalled;
    std::lock_guard<std::mutex> lock(g_log.mutex);
    latencies.push_back(static_cast<double>(g_log.bitsWakes[index] - signalled) / 1e6);
  }
  return true;
}

int RunBench(const fs::path& sandbox, int idleSeconds, int wakes) {
  setenv("NOLT_ROOT", sandbox.c_str(), 1);
  setenv("NOLT_USER", kUser, 1);
  platform::SharedLibrary library;
  ModletApi api;
  std::string reason;
  if (!PrepareRegistry() || !LoadModletApi(library, DefaultPluginPath(), api, reason)) {
    std::fprintf(stderr, "cannot prepare the plug-in: %s\n", reason.c_str());
    return 1;
  }
  char logger[32];
  std::snprintf(logger, sizeof logger, "%p", reinterpret_cast<void*>(&RecordLine));
  api.setProperty(nullptr, "LOGGER", logger);
  api.init();
  void* context = api.initContext(kProvider, kUser);
  std::thread loop([&] { api.start(context); });

  int status = 0;
  if (!g_log.Await([](LoopLog& log) { return log.waitsAnnounced > 0; })) {
    std::fprintf(stderr, "the loop did not reach its first wait\n");
    status = 1;
  } else {
    const std::clock_t before = std::clock();
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    const double cpuMs = 1000.0 * static_cast<double>(std::clock() - before) / CLOCKS_PER_SEC;
    std::printf("idle loop, one-hour wait, %d s: CPU %.3f ms (%.0f ticks of 10 ms; goal 0)\n",
                idleSeconds, cpuMs, cpuMs / 10.0);
    ReportResult("loop_idle.cpu", cpuMs, BenchGoal::kAtMost, 5, "ms");  // rounds to 0 ticks
    std::vector<double> latencies;
    if (MeasureWakes(sandbox, wakes, latencies)) {
      std::printf("BITS job event from another process to the loop's log line (%d wakes): "
                  "median %.3f ms, p90 %.3f ms, max %.3f ms (goal: median under 10 ms)\n",
                  wakes, Percentile(latencies, 0.5), Percentile(latencies, 0.9),
                  Percentile(latencies, 1.0));
      ReportResult("loop_idle.wake", Percentile(latencies, 0.5), BenchGoal::kAtMost, 10, "ms");
    } else {
      status = 1;
    }
  }
  api.stop(context);
  loop.join();
  api.disposeContext(context);
  api.dispose();
  return status;
}

// Runs the measurement in a copy of this program named "noltcmd" inside a fresh sandbox, with
// the build's plug-in beside it.
int RunAsCommandAgent(int idleSeconds, int wakes) {
  const fs::path self = platform::HostExecutablePath();
  const fs::path sandbox =
      fs::temp_directory_path() / ("tidesync-loop-" + std::to_string(std::random_device{}()));
  std::error_code error;
  fs::create_directories(sandbox / "bin", error);
  fs::copy_file(self, sandbox / "bin" / "noltcmd", error);
  if (!error) {
    fs::create_directory_symlink(fs::canonical(self.parent_path() / ".." / "lib", error),
                                 sandbox / "lib", error);
  }
  platform::ChildProcess agent;
  int status = 1;
  if (error) {
    std::fprintf(stderr, "cannot prepare %s: %s\n", sandbox.c_str(), error.message().c_str());
  } else if (agent.Start({(sandbox / "bin" / "noltcmd").string(), "--measure", sandbox.string(),
                          std::to_string(idleSeconds), std::to_string(wakes)})) {
    status = agent.Wait();
  }
  fs::remove_all(sandbox, error);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::string(argv[1]) == "--signal") return RunSignaller(argv[2], argv[3]);
  if (argc >= 5 && std::string(argv[1]) == "--measure") {
    return RunBench(argv[2], std::max(1, std::atoi(argv[3])), std::max(1, std::atoi(argv[4])));
  }
  const int idleSeconds = argc >= 2 ? std::max(1, std::atoi(argv[1])) : 60;
  const int wakes = argc >= 3 ? std::max(1, std::atoi(argv[2])) : 50;
  return RunAsCommandAgent(idleSeconds, wakes);
}
