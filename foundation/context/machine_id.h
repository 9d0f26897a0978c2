// The machine id sent to the server: a lower-case braced GUID, kept in the registry under
// "Software\Classes" as "TMID_<computer name>" and, once read or made, for the whole process.
#pragma once
#include "foundation/strings/hx_str.h"

// Read from the context's per-user hive, else the machine's, else the merged classes root
// (whose text is then stored), else made new and stored (the machine's "Software\Classes" first,
// the user's when that fails). Empty when it can be neither read nor stored; the next call then
// tries again.
HxStr GetMachineId();

// The registry value name that holds the id.
HxStr MachineIdValueName();

// Forgets the process-wide id, as a module unload does.
void ForgetMachineId();
