// zipfuzz --work FOLDER [--save FOLDER] [--seed N] [--first N] [--count N]: runs mutants of
// the zip layer's campaign in this one process and prints its figures. Exit status: 0 when
// nothing failed, 1 when a check failed, 2 for bad arguments, 3 after a crash (the mutant
// is saved and named; run again from the next one with --first).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ZipFuzz.h"

namespace {

constexpr uint32_t kProgressStep = 5000;
FuzzSettings g_settings;

LONG WINAPI SaveCrash(EXCEPTION_POINTERS* info) {
    uint32_t number = 0;
    const std::vector<uint8_t>* input = CurrentFuzzInput(&number);
    char what[64];
    std::snprintf(what, sizeof what, "crash, exception %08lX",
                  static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode));
    std::printf("crash: mutant %u: %s\n", number, what);
    if (input != nullptr && !g_settings.saveTo.empty())
        SaveFuzzFailure(g_settings.saveTo, g_settings.seed, number, *input, what);
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const char* value = argv[i + 1];
        if (option == "--work")
            g_settings.work = value;
        else if (option == "--save")
            g_settings.saveTo = value;
        else if (option == "--seed")
            g_settings.seed = std::strtoul(value, nullptr, 10);
        else if (option == "--first")
            g_settings.first = std::strtoul(value, nullptr, 10);
        else if (option == "--count")
            g_settings.count = std::strtoul(value, nullptr, 10);
        else
            return 2;
    }
    if (g_settings.work.empty() || argc % 2 == 0) {
        std::fprintf(stderr,
                     "usage: zipfuzz --work FOLDER [--save FOLDER] [--seed N] "
                     "[--first N] [--count N]\n");
        return 2;
    }
    SetUnhandledExceptionFilter(SaveCrash);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    const DWORD start = GetTickCount();
    // In parts, so that a long campaign shows how far it got.
    FuzzFigures f;
    const uint32_t end = g_settings.first + g_settings.count;
    for (uint32_t first = g_settings.first; first < end; first += kProgressStep) {
        FuzzSettings part = g_settings;
        part.first = first;
        part.count = end - first < kProgressStep ? end - first : kProgressStep;
        const FuzzFigures p = RunZipFuzz(part);
        for (const std::string& line : p.failures) std::printf("failed: %s\n", line.c_str());
        f.mutants += p.mutants;
        f.opened += p.opened;
        f.answers += p.answers;
        f.escapes += p.escapes;
        f.leftovers += p.leftovers;
        f.disagreements += p.disagreements;
        f.slowWalks += p.slowWalks;
        f.mostStepsPerCall = std::max(f.mostStepsPerCall, p.mostStepsPerCall);
        f.failures.insert(f.failures.end(), p.failures.begin(), p.failures.end());
        std::printf("progress: %u mutants done, %u failed, %.0f s\n", first + part.count,
                    static_cast<unsigned>(f.failures.size()), (GetTickCount() - start) / 1000.0);
        std::fflush(stdout);
    }
    const double seconds = (GetTickCount() - start) / 1000.0;
    std::printf("mutants %u (from %u, seed %u) in %.1f s: %u opened, %llu entry answers compared\n",
                f.mutants, g_settings.first, g_settings.seed, seconds, f.opened,
                static_cast<unsigned long long>(f.answers));
    std::printf(
        "escapes %u, leftovers %u, disagreements %u, slow walks %u; "
        "most header steps in one call %llu\n",
        f.escapes, f.leftovers, f.disagreements, f.slowWalks,
        static_cast<unsigned long long>(f.mostStepsPerCall));
    return f.failures.empty() ? 0 : 1;
}
