// The line by which a benchmark reports one goal to `./run bench` (bench/README.md):
//
//   RESULT <name> <value> <goal> <unit> <pass|fail>
#pragma once
#include <cstdio>

enum class BenchGoal { kAtMost, kAtLeast };

// Prints the line for `value` against `bound` and returns whether the goal is met.
inline bool ReportResult(const char* name, double value, BenchGoal goal, double bound,
                         const char* unit) {
  const bool met = goal == BenchGoal::kAtMost ? value <= bound : value >= bound;
  std::printf("RESULT %s %.6g %s%.6g %s %s\n", name, value,
              goal == BenchGoal::kAtMost ? "<=" : ">=", bound, unit, met ? "pass" : "fail");
  std::fflush(stdout);
  return met;
}
