// Times every request's phases from outside the library: Install patches the WinINet, thread and
// file imports of Dornet.dll and the program's own message and proxy imports.
#pragma once

namespace vxbench {

// Call on the thread that starts the requests (the user-interface thread), before the first one.
bool InstallPhaseTrace();
// Optional marks: the caller's Start begins; the client's OnResponse begins and ends (worker thread).
void MarkStart();
void MarkClient(bool end);
// Prints one line per phase (median, mean, 90th percentile in ms) and forgets the requests so far.
void PrintPhases(const char* label);

}  // namespace vxbench
