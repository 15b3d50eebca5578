// Starting the lobby again once a run is complete.
#pragma once

#include <windows.h>

extern const char kConfigFile[];  // "./UpdateConfig.txt"

// Starts one program the way the shell would ("open", no parameters, shown normally) and
// returns ShellExecute's result as an integer: 2 (file not found) or another value.
using StartProgramFn = INT_PTR (*)(const char* path);

// The shell's own StartProgramFn.
INT_PTR StartWithShell(const char* path);

// Runs the launch chain: ".\" + the "AppGameName" of section "Setting" of configFile when it
// is not empty, else (or when that start returns 2) ".\Quillon.exe", and when that returns 2
// ".\Quillon.exe.lnk". Only "file not found" (2) moves on to the next candidate.
// Nothing is started when "bRunAppOnUpdate" of the same section is 0 (default 1).
// Returns the number of starts attempted.
int LaunchLobby(const char* configFile, StartProgramFn start);
