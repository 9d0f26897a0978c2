// Requests to the agent's privileged repair service: copy, delete or create on behalf of a
// caller that lacks the rights. One message of the operation code, the record length and a
// 788-byte record over the pipe "__RepairService_Pipe__" + the context's provider id.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

enum RepairOperation : uint32_t {
  kRepairCopyFile = 0,
  kRepairDeleteFile = 1,
  kRepairCreateDirectory = 4,
};

inline constexpr size_t kRepairRecordSize = 788;
inline constexpr size_t kRepairPathField = 261;
inline constexpr size_t kRepairFirstPathOffset = 4;
inline constexpr size_t kRepairSecondPathOffset = 265;
inline constexpr size_t kRepairCheckOffset = 526;
inline constexpr uint32_t kRepairPipeBusyWaitMs = 20000;

using RepairRecord = std::array<uint8_t, kRepairRecordSize>;

// Fills the record: the paths, and the check text (MD5 of the first 526 bytes with the time
// word set to the tick count rounded down to ten seconds; the word is sent as zero). False when
// the first path is empty or a path is longer than 260 characters.
bool BuildRepairRecord(std::string_view firstPath, std::string_view secondPath, uint32_t tickCount,
                       RepairRecord& record);

// The service's answer word: 0 for success, 1 when there is no service or the exchange failed.
uint32_t SendRepairRequest(RepairOperation operation, std::string_view firstPath,
                           std::string_view secondPath);

// True when the service carried the operation out.
bool RepairServiceRequest(RepairOperation operation, std::string_view firstPath,
                          std::string_view secondPath = {});
