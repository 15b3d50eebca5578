// A mutation campaign against the zip layer: archives generated here are damaged by bit
// flips, extreme header fields, truncation, duplicated records and wrong counts, and each
// mutant goes through every access path (name, handle, memory; forward, backward and
// shuffled walks; lookups by name before and after walks; extraction to memory and to
// files under a base folder). The suite runs a few thousand mutants, zipfuzz many more.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct FuzzSettings {
    uint32_t seed = 12;
    uint32_t first = 0;  // the number of the first mutant
    uint32_t count = 2000;
    std::string work;    // a folder the run makes, uses and removes (it must not exist)
    std::string saveTo;  // a folder for failing inputs and failures.txt; "" keeps none
};

struct FuzzFigures {
    uint32_t mutants = 0;
    uint32_t opened = 0;         // mutants that opened (from every source alike)
    uint64_t answers = 0;        // entry answers compared across paths
    uint32_t escapes = 0;        // something written outside the base folder
    uint32_t leftovers = 0;      // a temporary file left behind
    uint32_t disagreements = 0;  // an entry answered otherwise by source, order or cache
    uint32_t slowWalks = 0;      // an entry that cost more than its bound in header steps or bytes
    uint64_t mostStepsPerCall = 0;
    std::vector<std::string> failures;  // "mutant N: what failed"
};

// Runs mutants first to first+count-1 of seed. A mutant depends on (seed, number) only, so
// any one can be made again alone. A crash ends the process: see CurrentFuzzInput.
FuzzFigures RunZipFuzz(const FuzzSettings& settings);

// The mutant being checked (null outside a run) and its number, for a crash handler.
const std::vector<uint8_t>* CurrentFuzzInput(uint32_t* number);

// Writes bytes to saveTo\mutant-<seed>-<number>.zip and appends "<file>: what" to
// saveTo\failures.txt.
void SaveFuzzFailure(const std::string& saveTo, uint32_t seed, uint32_t number,
                     const std::vector<uint8_t>& bytes, const std::string& what);

// Calls visit(relative path, is folder) for everything below folder, a folder's contents
// before the folder itself (prefix is put in front of each relative path).
void ForEachBelow(const std::string& folder, const std::string& prefix,
                  const std::function<void(const std::string&, bool)>& visit);

// Deletes everything below folder, read-only files included; folder itself stays.
void RemoveBelow(const std::string& folder);
