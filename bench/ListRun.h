// The updater's run driven in this process as its worker drives it, against the loopback
// server the benchmark is given: the hand-over file listing what to fetch, and the list run
// from the installation folder.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "BenchOptions.h"
#include "UpdateRun.h"

// The loopback server's root, "http://127.0.0.1:<o.port>/", and o.serverFolder below it.
std::string ServerUrl(const Options& o);

// Writes the hand-over file into dir, listing names on the server of o, with the sizes
// sizes gives by the same index as mkhandover records them (none: 0, not known). False when
// it cannot be written.
bool WriteHandOverFile(const std::string& dir, const Options& o,
                       const std::vector<std::string>& names,
                       const std::vector<DWORD>& sizes = {});

// Writes dir's UpdateConfig.txt: settings (lines) in section Setting. False when it cannot
// be written.
bool WriteSettings(const std::string& dir, const std::string& settings);

// Lays out dir as the lobby leaves an installation before it starts the updater:
// Update.exe and the lobby as Quillon.exe from o.kit, the hand-over file listing names on
// the server of o (with sizes, as WriteHandOverFile) and, unless settings is empty, an
// UpdateConfig.txt of those lines. False when any of them cannot be written.
bool LayOutInstallation(const Options& o, const std::string& dir,
                        const std::vector<std::string>& names, const std::string& settings = "",
                        const std::vector<DWORD>& sizes = {});

// Reads dir's hand-over file into run from dir as the current folder, as the worker does
// (the step writes "./UpdateClient.txt" there), makes dir the installation folder and calls
// steps there; the previous current folder is back afterwards. False, with steps not
// called, when the hand-over file cannot be read.
bool RunFromFolder(UpdateRun& run, const std::string& dir, const std::function<void()>& steps);

// RunFromFolder for at most maxSteps steps of the list; elapsedMs (when given) gets the
// milliseconds of the steps. Returns the number of entries done: 0 when the hand-over file
// cannot be read.
int RunList(UpdateRun& dialog, const std::string& dir, int maxSteps, double* elapsedMs);
