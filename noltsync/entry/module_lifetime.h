// What the library does when a process loads and unloads it.
#pragma once

// Reads the trace masks from the machine-level "General" key. No context is loaded yet, so the
// provider part of the key path is empty.
void OnModuleLoad();
void OnModuleUnload();
