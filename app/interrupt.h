// Ctrl-C for the programs' loops (virude-dump --wait and --watch): once caught, an interrupt
// no longer ends the program at once; it is noted, and the loop ends after the click under way
// (which its own deadline bounds), letting go of the reader. Further interrupts change nothing:
// some tools send one to the program and another to its process group. One source file per
// system implements it.
#pragma once

#include <chrono>

namespace interrupt {

// From now on Ctrl-C is noted instead of ending the program. Call before any thread starts.
void catch_interrupts();

// Has Ctrl-C been pressed since catch_interrupts?
bool interrupted();

// Waits `time`, or less when Ctrl-C comes; true when it came.
bool wait(std::chrono::milliseconds time);

// The exit status of a program ended by Ctrl-C, as shells report it.
inline constexpr int kExitInterrupted = 130;

}  // namespace interrupt
