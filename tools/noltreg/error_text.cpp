#include "error_text.h"

#include "platform/errors.h"
#include "platform/registry.h"

namespace noltreg {

std::string ErrorText(uint32_t code) {
  if (code == platform::kErrorFileNotFound) {
    return "ERROR: The system was unable to find the specified registry key or value.";
  }
  if (code == platform::kErrorBadKey) {
    return "ERROR: The configuration registry key is invalid (keys nest at most " +
           std::to_string(platform::kMaxKeyDepth) + " levels deep).";
  }
  std::string message;
  if (!platform::SystemErrorMessage(code, message)) return "ERROR: Error " + std::to_string(code) + ".";
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  return "ERROR: " + message;
}

}  // namespace noltreg
