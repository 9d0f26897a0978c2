#include "foundation/log/host_logger.h"

#include <atomic>

namespace {
// A process-wide word that other host threads may write while the loop reads it.
std::atomic<HostLoggerFn> g_hostLogger{nullptr};
}  // namespace

HostLoggerFn CurrentHostLogger() { return g_hostLogger.load(std::memory_order_acquire); }

void SetHostLogger(HostLoggerFn logger) { g_hostLogger.store(logger, std::memory_order_release); }
