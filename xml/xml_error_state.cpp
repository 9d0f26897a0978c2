#include "xml/xml_error_state.h"

namespace xml_error {
namespace {
thread_local int t_code = kNone;
}

int Code() { return t_code; }

void SetCode(int code) { t_code = code; }

void ReleaseSlot() { t_code = kNone; }

HxStr CodeText(int code) {
  switch (code) {
    case kNone:
      return "No error";
    case kOutOfMemory:
      return "Out of memory";
    case kInputOutput:
      return "Input/Output error";
    case kParser:
      return "Internal Expat parser error";
    default: {
      HxStr text;
      text.Format("Unknown error code (%d)", code);
      return text;
    }
  }
}

}  // namespace xml_error
