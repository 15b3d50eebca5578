#include "ProgramRun.h"

#include <psapi.h>

#include "BenchSupport.h"
#include "Scoped.h"

namespace {

// Longer than any whole run takes; a run that hangs (a file the server never has is asked
// for again forever) is ended there and counts as failed.
constexpr double kProgramLimitMs = 300000;
constexpr DWORD kLookMs = 5;
constexpr int kLooksPerMemorySample = 10;

void SamplePeak(HANDLE process, ProgramRun& out) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(process, &counters, sizeof counters) &&
        counters.PeakWorkingSetSize > out.peakBytes) {
        out.peakBytes = counters.PeakWorkingSetSize;
    }
}

}  // namespace

// The peak working set can only be read while the process lives: it is sampled as it runs,
// and once more the moment the lobby is seen to start, when the update's work is behind it.
bool RunProgram(const std::string& folder, const char* program, ProgramRun& out) {
    const std::string full = FullPath(folder);
    const std::string path = full + "\\" + program;
    std::string commandLine = "\"" + path + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    const double start = NowMs();
    if (!CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        full.c_str(), &startup, &info)) {
        return false;
    }
    ScopedHandle process(info.hProcess), thread(info.hThread);
    const std::string marker = full + "\\lobby-started.txt";
    for (int look = 0;; ++look) {
        const bool ended = WaitForSingleObject(process, kLookMs) != WAIT_TIMEOUT;
        const double now = NowMs() - start;
        if (out.lobbyMs < 0 && FileSizeOf(marker) >= 0) {
            out.lobbyMs = now;
            if (!ended) SamplePeak(process, out);
        }
        if (ended) {
            out.endMs = now;
            return true;
        }
        if (look % kLooksPerMemorySample == 0) SamplePeak(process, out);
        if (now > kProgramLimitMs) {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, INFINITE);
            return false;
        }
    }
}
