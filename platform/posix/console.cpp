#include "platform/console.h"

#include <termios.h>
#include <unistd.h>

namespace platform {

struct HiddenTerminalInput::SavedMode {
  struct termios mode {};
};

bool StandardInputIsTerminal() { return isatty(STDIN_FILENO) == 1; }

HiddenTerminalInput::HiddenTerminalInput() {
  auto saved = std::make_unique<SavedMode>();
  if (!StandardInputIsTerminal() || tcgetattr(STDIN_FILENO, &saved->mode) != 0) return;
  struct termios hidden = saved->mode;
  hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  hidden.c_lflag |= ECHONL;  // the closing line feed still shows
  if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &hidden) == 0) saved_ = std::move(saved);
}

HiddenTerminalInput::~HiddenTerminalInput() {
  if (saved_) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_->mode);
}

}  // namespace platform
