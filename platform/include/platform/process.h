// The running process: its executable, the modules loaded in it, the guarded call.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace platform {

// Path of the shared object or executable that contains the given address.
std::string ModulePath(const void* addressInModule);

// Path of the running executable.
std::string HostExecutablePath();

// The product's version as "major.minor.patch.build".
std::string ModuleVersion();

// Windows' exception codes, as the guarded call reports them.
inline constexpr uint32_t kExceptionAccessViolation = 0xC0000005;
inline constexpr uint32_t kExceptionInPageError = 0xC0000006;
inline constexpr uint32_t kExceptionIllegalInstruction = 0xC000001D;
inline constexpr uint32_t kExceptionIntDivideByZero = 0xC0000094;
inline constexpr uint32_t kExceptionCpp = 0xE06D7363;

// Runs `body` and returns 0, or the code of the exception that ended it: a C++ exception, or a
// hardware fault of this thread (segmentation fault, bus error, illegal instruction, arithmetic
// fault). After a fault the body's frames are abandoned without running their destructors.
// Calls nest: a fault or exception ends the innermost call only. A fault on a thread that is not
// inside a guarded call goes to the handler installed before (or the default action), so crashes
// elsewhere still end the process.
uint32_t GuardedCall(const std::function<void()>& body);

// Returns the allocator's free memory to the system (the working-set trim).
void TrimWorkingSet();

}  // namespace platform
