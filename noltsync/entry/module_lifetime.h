// What the library does when a process loads and unloads it. The static destructors free the
// context store and the error lists.
#pragma once

// Installs the out-of-memory handler, turns off the deferral of deleting or replacing files in
// use, registers the HTTP transfer objects, and reads the trace masks from the machine-level
// "General" key. No context is loaded yet, so the provider part of the key path is empty.
void OnModuleLoad();

// Gives the process back the out-of-memory handler it had before the load.
void OnModuleUnload();
