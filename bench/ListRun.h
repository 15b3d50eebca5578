// The updater's run driven in this process as its worker drives it, against the loopback
// server the benchmark is given: the hand-over file listing what to fetch, and the list run
// from the installation folder.
#pragma once

#include <string>
#include <vector>

#include "BenchOptions.h"
#include "UpdateRun.h"

// The loopback server's root: "http://127.0.0.1:<o.port>/".
std::string ServerUrl(const Options& o);

// Writes the hand-over file into dir, listing names on the server of o. False when it
// cannot be written.
bool WriteHandOverFile(const std::string& dir, const Options& o,
                       const std::vector<std::string>& names);

// Runs the update list in dir the way the worker does, from dir as the current folder
// (the step writes "./UpdateClient.txt" there), for at most maxSteps steps; elapsedMs (when
// given) gets the milliseconds of the steps. Returns the number of entries done: 0 when
// the hand-over file cannot be read.
int RunList(UpdateRun& dialog, const std::string& dir, int maxSteps, double* elapsedMs);
