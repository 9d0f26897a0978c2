// The terminal, for reading a secret that must not show as it is typed.
#pragma once
#include <memory>

namespace platform {

// True when standard input is a terminal.
bool StandardInputIsTerminal();

// While it lives, what is typed on the terminal of standard input is not shown; it does nothing
// when standard input is not a terminal.
class HiddenTerminalInput {
 public:
  HiddenTerminalInput();
  ~HiddenTerminalInput();  // shows typing again
  HiddenTerminalInput(const HiddenTerminalInput&) = delete;
  HiddenTerminalInput& operator=(const HiddenTerminalInput&) = delete;

 private:
  struct SavedMode;
  std::unique_ptr<SavedMode> saved_;
};

}  // namespace platform
