// What the library does when a process loads it. Unloading needs nothing beyond the static
// destructors, which free the context store and the error lists.
#pragma once

// Turns off the deferral of deleting or replacing files in use, registers the HTTP transfer
// objects, and reads the trace masks from the machine-level "General" key. No context is loaded
// yet, so the provider part of the key path is empty.
void OnModuleLoad();
