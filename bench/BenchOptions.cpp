#include "BenchOptions.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace {

bool ParseInt(const char* text, int* out) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 0) return false;
    *out = static_cast<int>(value);
    return true;
}

}  // namespace

bool ParseArgs(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--generate") {
            o.generateOnly = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        const char* value = argv[++i];
        // The whole numbers, and whether 0 is refused.
        const struct {
            const char* name;
            int* field;
            bool positive;
        } numbers[] = {{"--reps", &o.reps, true},
                       {"--big-mb", &o.bigMb, false},
                       {"--per-folder", &o.perFolder, true},
                       {"--port", &o.port, false},
                       {"--download-mb", &o.downloadMb, false},
                       {"--downloads", &o.downloads, false},
                       {"--passes", &o.passes, true},
                       {"--budget-s", &o.budgetS, false},
                       {"--release-files", &o.releaseFiles, false},
                       {"--release-mb", &o.releaseMb, false},
                       {"--release-reps", &o.releaseReps, true},
                       {"--link-kib", &o.linkKib, true},
                       {"--drop-kib", &o.dropKib, true},
                       {"--line-files", &o.lineFiles, false},
                       {"--line-mb", &o.lineMb, false},
                       {"--small-files", &o.smallFiles, false},
                       {"--small-kib", &o.smallKib, false},
                       {"--line-port", &o.linePort, false},
                       {"--line-rtt-ms", &o.lineRttMs, false},
                       {"--line-kib", &o.lineKib, true},
                       {"--line-reps", &o.lineReps, true}};
        const auto number = std::find_if(std::begin(numbers), std::end(numbers),
                                         [&](const auto& n) { return arg == n.name; });
        if (number != std::end(numbers)) {
            if (!ParseInt(value, number->field) || (number->positive && *number->field == 0))
                return false;
        } else if (arg == "--kit") {
            o.kit = value;
        } else if (arg == "--unzip-ms") {
            o.unzipMs = std::atof(value);
        } else if (arg == "--disk-us") {
            if (std::sscanf(value, "%lf,%lf", &o.rewriteUs, &o.replaceUs) != 2) return false;
        } else if (arg == "--many" || arg == "--only") {
            std::vector<int>& list = arg == "--many" ? o.many : o.only;
            list.clear();
            for (const char* p = value; *p != '\0';) {
                char* end = nullptr;
                const long count = std::strtol(p, &end, 10);
                if (end == p || count <= 0) return false;
                list.push_back(static_cast<int>(count));
                p = *end == ',' ? end + 1 : end;
            }
        } else {
            return false;
        }
    }
    return true;
}

bool Options::Wants(int figure) const {
    return only.empty() || std::find(only.begin(), only.end(), figure) != only.end();
}
