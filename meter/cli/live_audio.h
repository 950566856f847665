// The live side of soundclock: Ctrl-C and how long a device is waited on.
#pragma once

// Ctrl-C (SIGINT, std::signal on both platforms): the first asks the run
// to end with its result; a second ends the program as usual.
void CatchInterrupt();
bool Interrupted();

// Waits on a device are this long at a time, so Ctrl-C is seen within it.
constexpr int DEVICE_WAIT_MS = 200;
// A device that takes or gives nothing for this long counts as lost.
constexpr double DEVICE_SILENT_LIMIT_S = 5;
