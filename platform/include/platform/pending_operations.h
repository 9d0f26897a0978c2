// Operations deferred to the next restart: deletions and replacements that cannot happen now are
// appended to the pending-operations list (locations.h), which the service host carries out when
// it starts. One line per operation: "delete\t<path>" or "replace\t<source>\t<target>".
#pragma once
#include <cstddef>
#include <string>

namespace platform {

// Appends a deletion of a file or an empty directory. Paths holding a tab or a line break are
// refused with 123.
bool ScheduleDeleteAtRestart(const std::string& path);
// Appends a rename of `source` over `target`.
bool ScheduleReplaceAtRestart(const std::string& source, const std::string& target);

struct PendingOperationsOutcome {
  size_t done = 0;
  size_t failed = 0;
};

// Takes the whole list (so that operations scheduled meanwhile wait for the next run) and carries
// out its operations in order. A missing list is an empty one. False when the list cannot be read.
bool RunPendingOperations(PendingOperationsOutcome& outcome);

}  // namespace platform
