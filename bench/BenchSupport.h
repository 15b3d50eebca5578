// What the benchmark's figures share: a clock, medians, rates, generated data, folders,
// the files the run touched and the exclusive-open check, failures, and the table the run
// prints with its goals' verdicts.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// Milliseconds from an arbitrary start, from the performance counter.
double NowMs();

// The median of the values (the mean of the middle two for an even count); 0 for none.
double Median(std::vector<double> values);

// Throughput in MB/s (MiB) of bytes over ms; 0 when ms is not above 0.
double Rate(uint64_t bytes, double ms);

// size bytes, the same for the same seed: text made of words (deflates well), or bytes
// that do not compress at all.
std::string CompressibleData(size_t size, uint32_t seed);
std::string IncompressibleData(size_t size, uint32_t seed);

// Creates path and every missing folder above it ("\" or "/" separators). False when the
// folder does not exist afterwards.
bool MakeFolders(const std::string& path);

// relative made absolute against the current folder; relative itself when that fails.
std::string FullPath(const std::string& relative);

// dir + "\" + an archive name, "/" turned into "\".
std::string JoinEntryPath(const std::string& dir, const char* entryName);

// Writes bytes as the whole of a new or truncated file at path. False when any is not written.
bool WriteWholeFile(const std::string& path, const std::string& bytes);

// The size of the file at path, or -1 when it cannot be examined.
int64_t FileSizeOf(const std::string& path);

// True when the file can be opened for reading and writing with no sharing: nobody,
// this process included, still holds a handle to it.
bool OpensExclusively(const std::string& path);

// Every file the timed code of ours wrote or read, in the order recorded: the resources
// figure checks each for handles left open.
void RecordTouched(const std::string& path);
const std::vector<std::string>& TouchedFiles();

// Writes "updatebench: what" to standard error and marks the run failed: a section did not
// run or produced files that are not whole (a missed goal is a figure, not a failure).
void Fail(const std::string& what);
// True once Fail was called.
bool AnyFailed();

// The table the run prints: one row per measured figure, then a summary line per goal.
class Report {
public:
    // A figure beside its reference, the ratio of the two and the goal it is held to, all
    // as printed; written to standard output at once on a line of its own, and again in
    // the table.
    void Row(const std::string& figure, const std::string& ours, const std::string& reference,
             const std::string& ratio, const std::string& goal);
    // A verdict line as it is printed (e.g. a goal not measured).
    void Verdict(const std::string& line);
    // A goal's verdict line: the figure's goal name, "met" or "MISSED", and the detail.
    void Verdict(const char* figure, bool met, const std::string& detail);
    // Writes the table and the verdicts to standard output.
    void Print() const;
    // True when any goal was MISSED.
    bool AnyMissed() const { return m_missed; }

private:
    std::vector<std::vector<std::string>> m_rows;
    std::vector<std::string> m_verdicts;
    bool m_missed = false;
};

// printf into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
