#include "foundation/files/repair_service.h"

#include <cstring>
#include <string>
#include <vector>

#include "foundation/context/context_names.h"
#include "foundation/context/context_store.h"
#include "foundation/files/md5.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/local_socket.h"

namespace {

constexpr size_t kMaxPath = kRepairPathField - 1;
constexpr uint32_t kTimeWindowMs = 10000;
constexpr uint32_t kBusyRetryMs = 50;
constexpr uint32_t kNoService = 1;

void PutWord(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetWord(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
         static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

// Connects, waiting while the service is busy with other clients.
bool ConnectToService(platform::LocalMessageSocket& socket, const std::string& name) {
  platform::Clock& clock = platform::CurrentClock();
  const uint64_t deadline = clock.MonotonicMs() + kRepairPipeBusyWaitMs;
  for (;;) {
    if (socket.Connect(name)) return true;
    if (platform::LastError() != platform::kErrorPipeBusy || clock.MonotonicMs() >= deadline) {
      return false;
    }
    platform::SleepMs(kBusyRetryMs);
  }
}

}  // namespace

bool BuildRepairRecord(std::string_view firstPath, std::string_view secondPath, uint32_t tickCount,
                       RepairRecord& record) {
  if (firstPath.empty() || firstPath.size() > kMaxPath || secondPath.size() > kMaxPath) {
    return false;
  }
  record.fill(0);
  firstPath.copy(reinterpret_cast<char*>(record.data() + kRepairFirstPathOffset), kMaxPath);
  secondPath.copy(reinterpret_cast<char*>(record.data() + kRepairSecondPathOffset), kMaxPath);
  // The service recomputes the check with its own rounded tick count, so a request is
  // accepted only within the same ten-second window.
  PutWord(record.data(), tickCount - tickCount % kTimeWindowMs);
  const std::string check = Md5Hex(record.data(), kRepairCheckOffset);
  std::memcpy(record.data() + kRepairCheckOffset, check.data(), check.size());
  PutWord(record.data(), 0);
  return true;
}

uint32_t SendRepairRequest(RepairOperation operation, std::string_view firstPath,
                           std::string_view secondPath) {
  RepairRecord record;
  if (!BuildRepairRecord(firstPath, secondPath, platform::TickCount(), record)) return kNoService;
  std::vector<uint8_t> message(8 + kRepairRecordSize);
  PutWord(message.data(), operation);
  PutWord(message.data() + 4, static_cast<uint32_t>(kRepairRecordSize));
  std::memcpy(message.data() + 8, record.data(), record.size());

  const std::string name =
      "__RepairService_Pipe__" + std::string(GetContextValue(context_names::kProviderId).c_str());
  platform::LocalMessageSocket socket;
  // Without a pipe there is no other way to reach the service: no windows to message here.
  if (!ConnectToService(socket, name)) return kNoService;
  std::vector<uint8_t> answer;
  if (!socket.Send(message.data(), message.size()) || !socket.Receive(answer) ||
      answer.size() < 4) {
    return kNoService;
  }
  return GetWord(answer.data());
}

bool RepairServiceRequest(RepairOperation operation, std::string_view firstPath,
                          std::string_view secondPath) {
  return SendRepairRequest(operation, firstPath, secondPath) == 0;
}
