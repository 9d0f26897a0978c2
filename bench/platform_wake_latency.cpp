// Signal-to-wake latency of a named event across processes, and the CPU that a blocked waiter
// uses. The waiter is this program started again with "--waiter SANDBOX"; both processes read
// the same monotonic clock, so the waiter's wake time minus the signaller's time before Set()
// is the latency of one wake. Goals: a median wake under 1 ms, and an idle waiter that uses
// under 5 ms of CPU over its whole wait.
//
//   platform_wake_latency [ITERATIONS] [IDLE_SECONDS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_result.h"
#include "platform/sync.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using platform::Event;
using platform::kInfinite;
using platform::WaitForOne;

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
      .count();
}

// CPU seconds this process used while `wait` ran.
template <typename Wait>
double CpuSecondsDuring(Wait wait) {
  std::clock_t before = std::clock();
  wait();
  return static_cast<double>(std::clock() - before) / CLOCKS_PER_SEC;
}

// The waiting side: wakes on "ping", notes the time, answers "pong"; then blocks idle on an
// event and on a mutex that the other process owns, and reports the CPU each idle wait used.
int RunWaiter(const fs::path& sandbox, int iterations) {
  auto ping = Event::Open("ping");
  auto pong = Event::Open("pong");
  auto stop = Event::Open("stop");
  auto held = platform::Mutex::Open("held");
  if (!ping || !pong || !stop || !held) return 2;
  std::vector<int64_t> wakes;
  wakes.reserve(static_cast<size_t>(iterations));
  pong->Set();
  for (int i = 0; i < iterations; ++i) {
    WaitForOne(*ping, kInfinite);
    wakes.push_back(NowNs());
    pong->Set();
  }
  double eventCpu = CpuSecondsDuring([&] { WaitForOne(*stop, kInfinite); });
  pong->Set();
  double mutexCpu = CpuSecondsDuring([&] { WaitForOne(*held, kInfinite); });
  held->Release();
  std::ofstream out(sandbox / "waiter.txt");
  out << eventCpu << " " << mutexCpu << "\n";
  for (int64_t wake : wakes) out << wake << "\n";
  pong->Set();
  return 0;
}

double Percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  size_t index = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1));
  return values[index];
}

int RunSignaller(const char* program, int iterations, int idleSeconds) {
  fs::path sandbox = fs::temp_directory_path() /
                     ("tidesync-bench-" + std::to_string(std::random_device{}()));
  fs::create_directories(sandbox);
  setenv("NOLT_ROOT", sandbox.c_str(), 1);
  auto ping = Event::Create("ping", false, false);
  auto pong = Event::Create("pong", false, false);
  auto stop = Event::Create("stop", false, false);
  auto held = platform::Mutex::Create("held", true);
  std::string command = std::string("'") + program + "' --waiter '" + sandbox.string() + "' " +
                        std::to_string(iterations);
  std::thread waiter([&] { std::system(command.c_str()); });
  WaitForOne(*pong, kInfinite);

  std::vector<int64_t> signals;
  std::vector<double> roundTrips;
  for (int i = 0; i < iterations; ++i) {
    // Give the waiter time to block, so that each round measures a wake from poll.
    std::this_thread::sleep_for(std::chrono::microseconds(300));
    signals.push_back(NowNs());
    ping->Set();
    WaitForOne(*pong, kInfinite);
    roundTrips.push_back(static_cast<double>(NowNs() - signals.back()) / 1000.0);
  }
  std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
  stop->Set();
  WaitForOne(*pong, kInfinite);
  std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
  held->Release();
  WaitForOne(*pong, kInfinite);
  waiter.join();

  std::ifstream in(sandbox / "waiter.txt");
  double eventCpu = 0;
  double mutexCpu = 0;
  in >> eventCpu >> mutexCpu;
  std::vector<double> latencies;
  for (int64_t signal : signals) {
    int64_t wake = 0;
    if (!(in >> wake)) break;
    latencies.push_back(static_cast<double>(wake - signal) / 1000.0);
  }
  fs::remove_all(sandbox);
  if (latencies.size() != signals.size()) {
    std::fprintf(stderr, "the waiter reported %zu of %zu wakes\n", latencies.size(),
                 signals.size());
    return 1;
  }
  std::printf("signal-to-wake across processes (%d wakes): median %.1f us, p99 %.1f us\n",
              iterations, Percentile(latencies, 0.5), Percentile(latencies, 0.99));
  std::printf("round trip (set, wake, answer, wake): median %.1f us, p99 %.1f us\n",
              Percentile(roundTrips, 0.5), Percentile(roundTrips, 0.99));
  std::printf("idle waiter CPU over %d s: event %.3f ms, mutex owned elsewhere %.3f ms\n",
              idleSeconds, eventCpu * 1000.0, mutexCpu * 1000.0);
  ReportResult("platform_wake_latency.wake", Percentile(latencies, 0.5), BenchGoal::kAtMost, 1000,
               "us");
  // A blocked waiter sleeps: under one 10 ms scheduler tick of CPU for the whole wait.
  ReportResult("platform_wake_latency.idle_event", eventCpu * 1000.0, BenchGoal::kAtMost, 5, "ms");
  ReportResult("platform_wake_latency.idle_mutex", mutexCpu * 1000.0, BenchGoal::kAtMost, 5, "ms");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::string(argv[1]) == "--waiter") return RunWaiter(argv[2], std::atoi(argv[3]));
  int iterations = argc >= 2 ? std::max(1, std::atoi(argv[1])) : 2000;
  int idleSeconds = argc >= 3 ? std::max(1, std::atoi(argv[2])) : 3;
  return RunSignaller(argv[0], iterations, idleSeconds);
}
