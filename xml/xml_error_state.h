// The XML error code of the calling thread: 0 no error, 1 out of memory, 2 input/output error,
// 3 parser error (the parser's own message, line and column then describe it). Every load
// resets it to 0. The slot is per thread because trees are used on several threads at once.
#pragma once
#include "foundation/strings/hx_str.h"

namespace xml_error {

inline constexpr int kNone = 0;
inline constexpr int kOutOfMemory = 1;
inline constexpr int kInputOutput = 2;
inline constexpr int kParser = 3;

int Code();
void SetCode(int code);

// Releases the calling thread's slot, as a tree's destruction does: the code reads 0 again.
void ReleaseSlot();

// The text of a code: "No error", "Out of memory", "Input/Output error", "Internal Expat parser
// error", else "Unknown error code (%d)".
HxStr CodeText(int code);

}  // namespace xml_error
