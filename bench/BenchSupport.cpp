#include "BenchSupport.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "Scoped.h"

double NowMs() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / frequency;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

double Rate(uint64_t bytes, double ms) { return ms > 0 ? bytes / 1048576.0 / (ms / 1000) : 0; }

namespace {
uint32_t NextRandom(uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}
}  // namespace

std::string CompressibleData(size_t size, uint32_t seed) {
    static const char* const words[] = {"update ", "lobby ",  "archive ", "entry ",  "folder ",
                                        "table ",  "player ", "server ",  "window ", "level\n",
                                        "area ",   "map ",    "texture ", "sound ",  "0x1F3A "};
    uint32_t state = seed * 2654435761u + 1;
    std::string out;
    out.reserve(size + 16);
    while (out.size() < size) out += words[NextRandom(state) % (sizeof words / sizeof *words)];
    out.resize(size);
    return out;
}

std::string IncompressibleData(size_t size, uint32_t seed) {
    uint32_t state = seed * 2246822519u + 7;
    std::string out(size, '\0');
    for (size_t i = 0; i < size; ++i) out[i] = static_cast<char>(NextRandom(state) >> 24);
    return out;
}

bool MakeFolders(const std::string& path) {
    for (size_t at = path.find_first_of("\\/", 1); at != std::string::npos;
         at = path.find_first_of("\\/", at + 1)) {
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
    }
    CreateDirectoryA(path.c_str(), nullptr);
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string FullPath(const std::string& relative) {
    char full[MAX_PATH];
    const DWORD n = GetFullPathNameA(relative.c_str(), MAX_PATH, full, nullptr);
    return n > 0 && n < MAX_PATH ? full : relative;
}

std::string JoinEntryPath(const std::string& dir, const char* entryName) {
    std::string path = dir + "\\" + entryName;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
    ScopedHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file.IsValid() &&
           WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

int64_t FileSizeOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool OpensExclusively(const std::string& path) {
    ScopedHandle file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.IsValid();
}

namespace {
std::vector<std::string> g_touched;
bool g_failed = false;
}  // namespace

void RecordTouched(const std::string& path) { g_touched.push_back(path); }

const std::vector<std::string>& TouchedFiles() { return g_touched; }

void Fail(const std::string& what) {
    std::fprintf(stderr, "updatebench: %s\n", what.c_str());
    g_failed = true;
}

bool AnyFailed() { return g_failed; }

void Report::Row(const std::string& figure, const std::string& ours, const std::string& reference,
                 const std::string& ratio, const std::string& goal) {
    m_rows.push_back({figure, ours, reference, ratio, goal});
    // A full run takes a quarter of an hour: each figure shows as it comes, the table at the end.
    std::printf("bench: %s | %s | %s | %s | %s\n", figure.c_str(), ours.c_str(),
                reference.c_str(), ratio.c_str(), goal.c_str());
    std::fflush(stdout);
}

void Report::Verdict(const std::string& line) { m_verdicts.push_back(line); }

void Report::Verdict(const char* figure, bool met, const std::string& detail) {
    if (!met) m_missed = true;
    Verdict(Format("%-22s goal %s: %s", figure, met ? "met" : "MISSED", detail.c_str()));
}

void Report::Print() const {
    std::vector<std::vector<std::string>> rows = {{"figure", "ours", "reference", "ratio", "goal"}};
    rows.insert(rows.end(), m_rows.begin(), m_rows.end());
    size_t width[5] = {};
    for (const auto& row : rows)
        for (size_t c = 0; c < 5; ++c) width[c] = std::max(width[c], row[c].size());
    for (size_t r = 0; r < rows.size(); ++r) {
        std::string line;
        for (size_t c = 0; c < 5; ++c) {
            line += rows[r][c];
            if (c < 4) line += std::string(width[c] - rows[r][c].size() + 2, ' ');
        }
        std::printf("%s\n", line.c_str());
        if (r == 0) std::printf("%s\n", std::string(line.size(), '-').c_str());
    }
    std::printf("\n");
    for (const std::string& verdict : m_verdicts) std::printf("%s\n", verdict.c_str());
    std::fflush(stdout);
}

std::string Format(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}
