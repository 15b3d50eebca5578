// A program run in its own folder as the lobby starts the updater and the updater the
// lobby, watched to its end: when the lobby started, when it ended, its peak memory.
#pragma once

#include <windows.h>

#include <string>

// The updater's fixed waits before the lobby starts: 0.5 s before it reads the hand-over
// file (the lobby may still be writing it) and 1 s after the list. The 0.5 s before its
// window closes comes after the lobby's start, outside the figures timed to it.
constexpr double kFixedWaitsMs = 1500;

// What one run of a program in its folder gave. Times are from the CreateProcess call.
struct ProgramRun {
    double lobbyMs = -1;   // until "lobby-started.txt" appeared in the folder; -1: never
    double endMs = -1;     // until the program ended
    SIZE_T peakBytes = 0;  // its peak working set; 0 when it could not be read
};

// Starts folder\program with folder as its current folder and watches it to its end,
// filling out. False when it cannot be started, or when it runs past a limit longer than
// any whole run takes (a run that hangs): it is then ended.
bool RunProgram(const std::string& folder, const char* program, ProgramRun& out);
