// The frame's share of the module's start-up and teardown.
#pragma once

// Holds OLEAUT32.DLL and creates ServerInstance. Runs on the loader's thread
// before any export can be called.
void StartComServer();

// Destroys ServerInstance (and with it every factory, newest first), lets
// OLEAUT32.DLL go, then sets ComUninitializing and frees the factory list.
void StopComServer();
