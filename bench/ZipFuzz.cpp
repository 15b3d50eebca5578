#include "ZipFuzz.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

#include "ArchiveWriter.h"
#include "LittleEndian.h"
#include "SafeName.h"
#include "ZipInternal.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Indexes asked for in each walk: the first ones and the last; a damaged count can claim
// two billion entries.
constexpr int32_t kWalkedIndexes = 48;
constexpr int32_t kExtractedIndexes = 12;
// A memory extraction that delivers more than this is stopped (seeds hold a few KiB).
constexpr uint64_t kMostExtractedBytes = 64u << 20;
constexpr uint32_t kPart = 4096;
const char kArchiveName[] = "m.zip";
const char* const kBases[] = {"base1", "base2"};

const Bytes* g_input = nullptr;
uint32_t g_number = 0;

// splitmix64: a mutant's generator depends on (seed, number) only.
struct Random {
    uint64_t state;
    uint64_t Next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t Below(uint64_t n) { return n == 0 ? 0 : static_cast<uint32_t>(Next() % n); }
};

// Fields at any position: a mutation may name one that runs past the end, which is left out.
void Put16(Bytes& b, size_t at, uint32_t v) {
    if (at + 2 <= b.size()) ::Put16(&b[at], static_cast<uint16_t>(v));
}
void Put32(Bytes& b, size_t at, uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}
uint32_t Get16(const Bytes& b, size_t at) { return at + 2 <= b.size() ? ::Get16(&b[at]) : 0; }

// ---- Seeds --------------------------------------------------------------------------------

struct SeedEntry {
    std::string name;
    std::string data;
    int method;
    std::string extra;
    uint16_t flags = 0;
};

std::string Timestamp(uint32_t time) {
    std::string block("\x55\x54\x05\x00\x01", 5);
    for (int i = 0; i < 4; ++i) block += static_cast<char>(time >> (8 * i));
    return block;
}

Bytes ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFileBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

Bytes BuildSeed(const std::string& path, const std::vector<SeedEntry>& entries,
                const char* comment) {
    std::vector<ArchiveEntry> written;
    for (const SeedEntry& e : entries) {
        ArchiveEntry entry(e.name, e.data, e.method);
        entry.external = e.name.back() == '/' ? 0x10 : 0x20;
        entry.localExtra = e.extra;
        entry.flags = e.flags;
        entry.dosDate = 0x52CF6499;
        written.push_back(entry);
    }
    if (!WriteArchive(path, written, comment != nullptr ? comment : "")) return {};
    Bytes bytes = ReadFileBytes(path);
    DeleteFileA(path.c_str());
    return bytes;
}

std::vector<Bytes> BuildSeeds(const std::string& work) {
    std::string text;
    for (int i = 0; i < 40; ++i) text += "line " + std::to_string(i) + " of the readme\r\n";
    std::vector<std::vector<SeedEntry>> sets = {
        {{"readme.txt", text, 8, Timestamp(1600000000)},
         {"data/", "", 0, ""},
         {"data/bin.dat", std::string(64, '\x07'), 0, ""},
         {"data/sub/x.txt", "deflated " + text.substr(0, 300), 8, ""}},
        {},
        // Names the rule refuses next to names it accepts (code page 936 among them).
        {{"../up.txt", "up", 0, ""},
         {"a/../../b.txt", "b", 8, ""},
         {"CON.txt", "con", 0, ""},
         {"x.txt:ads", "ads", 0, ""},
         {".. /y.txt", "y", 0, ""},
         {"dir./z.txt", "z", 0, ""},
         {"\x81\\ok.txt", "trail", 8, ""},
         {"ok/", "", 0, ""},
         {"ok/fine.txt", "fine", 8, ""}},
        {},
        // Names flagged as UTF-8: one the code page spells, one it cannot, one that is no
        // UTF-8, beside a name without the flag.
        {{"\xE5\x8C\xBA\xE5\x9F\x9F/", "", 0, "", 0x800},
         {"\xE5\x8C\xBA\xE5\x9F\x9F/\xE7\x9C\x81.txt", "province", 8, "", 0x800},
         {"\xF0\x9F\x98\x80.txt", "emoji", 0, "", 0x800},
         {"\xC7\xF8\xFF.txt", "not utf-8", 8, "", 0x800},
         {"\xC7\xF8.txt", "plain", 0, ""}},
    };
    for (int i = 0; i < 12; ++i) {
        sets[1].push_back(
            {"f" + std::to_string(i) + ".txt", text.substr(0, 40 + 20 * i), i % 2 * 8, ""});
    }
    std::vector<Bytes> seeds;
    for (size_t i = 0; i < sets.size(); ++i) {
        seeds.push_back(BuildSeed(work + "\\seed.zip", sets[i], i == 1 ? "a comment" : nullptr));
    }
    return seeds;
}

// ---- Mutations ----------------------------------------------------------------------------

std::vector<size_t> Signatures(const Bytes& b, uint8_t third) {
    std::vector<size_t> at;
    for (size_t i = 0; i + 4 <= b.size(); ++i) {
        if (b[i] == 'P' && b[i + 1] == 'K' && b[i + 2] == third && b[i + 3] == third + 1)
            at.push_back(i);
    }
    return at;
}

uint32_t ExtremeValue(Random& r, size_t size) {
    const uint32_t values[] = {0,
                               1,
                               2,
                               0x7F,
                               0x80,
                               0xFF,
                               0xFFFF,
                               0x8000,
                               0x7FFFFFFF,
                               0x80000000u,
                               0xFFFFFFFF,
                               0xFFFE,
                               static_cast<uint32_t>(size),
                               static_cast<uint32_t>(size - 1),
                               static_cast<uint32_t>(size + 1)};
    if (r.Below(8) == 0) return static_cast<uint32_t>(r.Next());
    return values[r.Below(sizeof values / sizeof values[0])];
}

void Mutate(Bytes& b, Random& r) {
    if (b.empty()) b.push_back(0);
    switch (r.Below(8)) {
        case 0:  // bit flips
            for (uint32_t n = 1 + r.Below(4); n > 0; --n) b[r.Below(b.size())] ^= 1 << r.Below(8);
            break;
        case 1:  // an extreme byte
            b[r.Below(b.size())] = static_cast<uint8_t>(ExtremeValue(r, b.size()));
            break;
        case 2:
        case 3: {  // a header field set to an extreme value
            const uint8_t kinds[] = {1, 3, 5};
            std::vector<size_t> at = Signatures(b, kinds[r.Below(3)]);
            if (at.empty()) break;
            size_t field = at[r.Below(at.size())] + 4 + 2 * r.Below(21);
            r.Below(2) ? Put16(b, field, ExtremeValue(r, b.size()))
                       : Put32(b, field, ExtremeValue(r, b.size()));
            break;
        }
        case 4:  // truncation
            b.resize(r.Below(b.size()));
            break;
        case 5: {  // a central record duplicated, the counts raised or not
            std::vector<size_t> at = Signatures(b, 1);
            if (at.empty()) break;
            size_t from = at[r.Below(at.size())];
            size_t length = 46 + Get16(b, from + 28) + Get16(b, from + 30) + Get16(b, from + 32);
            length = std::min(length, b.size() - from);
            Bytes record(b.begin() + from, b.begin() + from + length);
            b.insert(b.begin() + from, record.begin(), record.end());
            std::vector<size_t> ends = Signatures(b, 5);
            if (!ends.empty() && r.Below(2)) {
                uint32_t n = Get16(b, ends.back() + 10) + 1;
                Put16(b, ends.back() + 8, n);
                Put16(b, ends.back() + 10, n);
                Put32(b, ends.back() + 12,
                      static_cast<uint32_t>(Get16(b, ends.back() + 12) + length));
            }
            break;
        }
        case 6: {  // a count the directory cannot hold
            std::vector<size_t> ends = Signatures(b, 5);
            if (ends.empty()) break;
            uint32_t n = r.Below(2) ? 0xFFFF : ExtremeValue(r, b.size());
            Put16(b, ends.back() + 8, n);
            Put16(b, ends.back() + 10, n);
            break;
        }
        default: {  // bytes inserted or removed
            size_t at = r.Below(b.size());
            if (r.Below(2)) {
                Bytes junk(1 + r.Below(64));
                for (uint8_t& x : junk) x = static_cast<uint8_t>(r.Next());
                b.insert(b.begin() + at, junk.begin(), junk.end());
            } else {
                b.erase(b.begin() + at, b.begin() + std::min(b.size(), at + 1 + r.Below(64)));
            }
        }
    }
}

// ---- Files --------------------------------------------------------------------------------

bool IsTemporaryFile(const std::string& relative) {
    const size_t slash = relative.find_last_of('\\');
    return IsTemporaryName(relative.c_str() + (slash == std::string::npos ? 0 : slash + 1));
}

// ---- Observations -------------------------------------------------------------------------

// What one call answered for one entry; the record only counts when the result is ZipOk.
struct Answer {
    ZipResult result = ZipOk;
    ZipEntry record{};
    bool operator==(const Answer& o) const {
        return result == o.result &&
               (result != ZipOk || std::memcmp(&record, &o.record, sizeof record) == 0);
    }
};

class Checker {
public:
    Checker(const FuzzSettings& s, FuzzFigures& f) : m_settings(s), m_figures(f) {}

    void Run(uint32_t number, const Bytes& bytes);

private:
    enum Source { kByName, kByHandle, kFromMemory };
    static constexpr const char* kSourceNames[] = {"name", "handle", "memory"};

    ZipHandle* Open(Source source) {
        m_damageMet = false;
        switch (source) {
            case kByName:
                return ZipOpen(m_path.c_str(), 0, ZipLocationFileName);
            case kByHandle: {
                HANDLE file = CreateFileA(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, 0, nullptr);
                ZipHandle* zip = ZipOpen(file, 0, ZipLocationHandle);
                CloseHandle(file);
                return zip;
            }
            default:
                return ZipOpen(m_bytes->data(), static_cast<uint32_t>(m_bytes->size()),
                               ZipLocationMemory);
        }
    }

    void Fail(uint32_t& counter, const std::string& what) {
        if (m_failed) return;  // one line per mutant: the first thing that failed
        m_failed = true;
        ++counter;
        m_figures.failures.push_back("mutant " + std::to_string(m_number) + ": " + what);
        if (!m_settings.saveTo.empty())
            SaveFuzzFailure(m_settings.saveTo, m_settings.seed, m_number, *m_bytes, what);
    }

    // Records the answer for index under the label of the path, or compares it.
    void Compare(int32_t index, const Answer& answer, const char* path) {
        ++m_figures.answers;
        auto known = m_answers.find(index);
        if (known == m_answers.end()) {
            m_answers[index] = {answer, path};
        } else if (!(known->second.first == answer)) {
            char line[160];
            std::snprintf(line, sizeof line, "entry %d: %s gave %08X, %s gave %08X", index,
                          known->second.second.c_str(),
                          static_cast<unsigned>(known->second.first.result), path,
                          static_cast<unsigned>(answer.result));
            Fail(m_figures.disagreements, line);
        }
    }

    // Once a handle has met the damaged header, every index from there on costs nothing.
    void CheckCost(int32_t index, uint64_t steps, uint64_t bytes, uint64_t allowedSteps,
                   const char* path) {
        m_figures.mostStepsPerCall = std::max(m_figures.mostStepsPerCall, steps);
        const bool afterDamage = m_damageMet && index >= m_damagedFrom;
        if (m_damagedFrom >= 0 && index >= m_damagedFrom) m_damageMet = true;
        const uint64_t allowedBytes = afterDamage ? 0 : 3 * m_bytes->size() + 1024;
        if (afterDamage) allowedSteps = 0;
        if (steps > allowedSteps || bytes > allowedBytes) {
            char line[160];
            std::snprintf(line, sizeof line, "%s, entry %d: %llu steps, %llu bytes", path, index,
                          static_cast<unsigned long long>(steps),
                          static_cast<unsigned long long>(bytes));
            Fail(m_figures.slowWalks, line);
        }
    }

    Answer Get(ZipHandle* zip, int32_t index, uint64_t allowedSteps, const char* path) {
        const uint64_t steps = ZipDirectorySteps(zip), bytes = ZipBytesRead(zip);
        Answer a;
        std::memset(&a.record, 0xAB, sizeof a.record);
        a.result = ZipGetEntry(zip, index, &a.record);
        CheckCost(index, ZipDirectorySteps(zip) - steps, ZipBytesRead(zip) - bytes, allowedSteps,
                  path);
        if (a.result != ZipOk) std::memset(&a.record, 0, sizeof a.record);
        return a;
    }

    void Walks(Source source);
    void CheckTail();
    void Finds(Source source, bool afterWalk);
    std::string ExtractToMemory(ZipHandle* zip, int32_t index, ZipResult* result);
    void Extractions();
    void CheckFolders();

    const FuzzSettings& m_settings;
    FuzzFigures& m_figures;
    const Bytes* m_bytes = nullptr;
    uint32_t m_number = 0;
    bool m_failed = false;
    std::string m_path;
    std::vector<int32_t> m_indexes;
    int32_t m_count = 0;
    int32_t m_damagedFrom = -1;  // the first index the walk cannot reach, or -1
    bool m_damageMet = false;    // the open handle has asked for an index from there on
    std::map<int32_t, std::pair<Answer, std::string>> m_answers;
    std::map<int32_t, std::string> m_data;  // memory extraction: result and bytes
    Random m_random{0};
};

void Checker::Walks(Source source) {
    const char* name = kSourceNames[source];
    const std::string forward = std::string("forward walk from ") + name;
    const std::string backward = std::string("backward walk from ") + name;
    const std::string shuffled = std::string("shuffled walk from ") + name;
    ZipHandle* zip = Open(source);
    int32_t previous = -1;
    for (int32_t index : m_indexes) {
        Compare(index, Get(zip, index, static_cast<uint64_t>(index - previous), forward.c_str()),
                forward.c_str());
        previous = index;
    }
    ZipClose(zip);

    zip = Open(source);
    bool first = true;
    for (auto it = m_indexes.rbegin(); it != m_indexes.rend(); ++it) {
        Compare(*it, Get(zip, *it, first ? *it + 1 : 1, backward.c_str()), backward.c_str());
        first = false;
    }
    ZipClose(zip);

    zip = Open(source);
    std::vector<int32_t> order = m_indexes;
    for (size_t i = order.size(); i > 1; --i) std::swap(order[i - 1], order[m_random.Below(i)]);
    int32_t furthest = -1;
    for (int32_t index : order) {
        const uint64_t allowed = index > furthest ? static_cast<uint64_t>(index - furthest) + 1 : 1;
        Compare(index, Get(zip, index, allowed, shuffled.c_str()), shuffled.c_str());
        furthest = std::max(furthest, index);
        if (m_random.Below(4) == 0) {  // the cached record, and the count in between
            Compare(index, Get(zip, index, 0, shuffled.c_str()), shuffled.c_str());
            ZipEntry count;
            if (ZipGetEntry(zip, -1, &count) != ZipOk || count.index != m_count)
                Fail(m_figures.disagreements, "the count changed during a walk");
        }
    }
    ZipClose(zip);
}

// The directory read from the archive's bytes as a tail holds what the walk answered: the
// count, and for every entry the walk gave, the same facts (the tail reader is the stricter).
void Checker::CheckTail() {
    ZipTailDirectory dir;
    if (ZipReadTailDirectory(m_bytes->data(), m_bytes->size(), m_bytes->size(), &dir) != ZipOk)
        return;
    if (dir.entries.size() != static_cast<size_t>(m_count))
        return Fail(m_figures.disagreements, "the tail reader counts otherwise");
    for (int32_t index : m_indexes) {
        const ZipTailEntry& t = dir.entries[static_cast<size_t>(index)];
        const Answer& walked = m_answers[index].first;
        const ZipEntry& e = walked.record;
        if (walked.result == ZipOk
                ? t.result != ZipOk || std::strcmp(t.name, e.name) != 0 ||
                      t.attributes != e.attributes || t.compressedSize != e.compressedSize ||
                      t.uncompressedSize != e.uncompressedSize
                : t.result != ZipOk && walked.result != t.result)
            Fail(m_figures.disagreements, "the tail reader reads entry " + std::to_string(index) +
                                              " otherwise than the walk");
    }
}

void Checker::Finds(Source source, bool afterWalk) {
    const std::string path = std::string("lookup by name from ") + kSourceNames[source] +
                             (afterWalk ? " after a walk" : "");
    std::vector<std::pair<int32_t, std::string>> names;
    for (const auto& known : m_answers) {
        if (known.second.first.result == ZipOk)
            names.emplace_back(known.first, known.second.first.record.name);
    }
    for (size_t i = names.size(); i > 1; --i) std::swap(names[i - 1], names[m_random.Below(i)]);
    ZipHandle* zip = Open(source);
    if (afterWalk) {
        ZipEntry e;
        for (int32_t index : m_indexes) ZipGetEntry(zip, index, &e);
    }
    for (const auto& wanted : names) {
        int32_t found = 99;
        Answer a;
        std::memset(&a.record, 0xAB, sizeof a.record);
        const uint64_t steps = ZipDirectorySteps(zip);
        a.result = ZipFindEntry(zip, wanted.second.c_str(), false, &found, &a.record);
        const uint64_t taken = ZipDirectorySteps(zip) - steps;
        m_figures.mostStepsPerCall = std::max(m_figures.mostStepsPerCall, taken);
        if (taken > 2 * static_cast<uint64_t>(wanted.first) + 2) {
            Fail(m_figures.slowWalks, path + ": " + std::to_string(taken) + " steps for entry " +
                                          std::to_string(wanted.first));
        }
        if (a.result != ZipOk) {
            if (found != -1 || a.record.index != -1 || a.record.name[0] != '\0' ||
                a.result == ZipEntryNotFound) {
                Fail(m_figures.disagreements, path + ": a failed lookup of entry " +
                                                  std::to_string(wanted.first) + " left " +
                                                  std::to_string(found));
            }
            // The entries before it answer Ok; an earlier one of the same name may not.
            continue;
        }
        if (found > wanted.first || a.record.index != found || wanted.second != a.record.name) {
            Fail(m_figures.disagreements, path + ": entry " + std::to_string(wanted.first) +
                                              " found as " + std::to_string(found));
            continue;
        }
        Compare(found, a, path.c_str());
    }
    ZipClose(zip);
}

std::string Checker::ExtractToMemory(ZipHandle* zip, int32_t index, ZipResult* result) {
    std::string data;
    char part[kPart];
    // The form does not say how much of the last part it filled: parts start cleared.
    for (;;) {
        std::memset(part, 0, sizeof part);
        *result = ZipExtractEntry(zip, index, part, sizeof part, ZipLocationMemory);
        if (*result != ZipMoreData) break;
        data.append(part, sizeof part);
        if (data.size() > kMostExtractedBytes) break;
    }
    return data;
}

void Checker::Extractions() {
    // Memory form from every source: the same result and the same bytes.
    for (Source source : {kFromMemory, kByName, kByHandle}) {
        ZipHandle* zip = Open(source);
        for (int32_t index : m_indexes) {
            if (index >= kExtractedIndexes) break;
            ZipResult result;
            std::string data = ExtractToMemory(zip, index, &result);
            std::string outcome = std::to_string(result) + ":" + data;
            auto known = m_data.find(index);
            if (known == m_data.end()) {
                m_data[index] = outcome;
            } else if (known->second != outcome) {
                Fail(m_figures.disagreements, std::string("memory extraction of entry ") +
                                                  std::to_string(index) + " differs from " +
                                                  kSourceNames[source]);
            }
            const Answer& record = m_answers[index].first;
            if (record.result != ZipOk && result != record.result) {
                Fail(m_figures.disagreements, "memory extraction of entry " +
                                                  std::to_string(index) +
                                                  " fails otherwise than its record");
            }
        }
        ZipClose(zip);
    }

    // File form, as the updater uses it: names the rule refuses are skipped. Each source
    // unpacks below a base of its own, which is the current folder at ZipOpen.
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    std::map<int32_t, ZipResult> results;
    for (int b = 0; b < 2; ++b) {
        SetCurrentDirectoryA((m_settings.work + "\\" + kBases[b]).c_str());
        ZipHandle* zip = Open(b == 0 ? kByName : kFromMemory);
        for (int32_t index : m_indexes) {
            if (index >= kExtractedIndexes) break;
            const Answer& record = m_answers[index].first;
            const char* name = record.record.name;
            // Folder entries are left to the layer's own rule.
            const bool folder = (record.record.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if (record.result == ZipOk && !folder && !IsSafeRelativeName(name)) continue;
            ZipResult result =
                ZipExtractEntry(zip, index, const_cast<char*>(name), 0, ZipLocationFileName);
            if (record.result != ZipOk && result != record.result) {
                Fail(m_figures.disagreements, "extraction of entry " + std::to_string(index) +
                                                  " fails otherwise than its record");
            }
            if (b == 0) {
                results[index] = result;
            } else if (results[index] != result) {
                Fail(m_figures.disagreements, "extraction of entry " + std::to_string(index) +
                                                  " differs between name and memory");
            }
        }
        ZipClose(zip);
    }
    SetCurrentDirectoryA(previous);
}

void Checker::CheckFolders() {
    ForEachBelow(m_settings.work, "", [&](const std::string& relative, bool) {
        const bool inBase =
            relative.compare(0, 6, "base1\\") == 0 || relative.compare(0, 6, "base2\\") == 0;
        if (!inBase && relative != "base1" && relative != "base2" && relative != kArchiveName)
            Fail(m_figures.escapes, "written outside the base: " + relative);
        if (IsTemporaryFile(relative)) Fail(m_figures.leftovers, "left behind: " + relative);
    });
    for (const char* base : kBases) RemoveBelow(m_settings.work + "\\" + base);
}

void Checker::Run(uint32_t number, const Bytes& bytes) {
    m_number = number;
    m_bytes = &bytes;
    m_failed = false;
    m_answers.clear();
    m_data.clear();
    m_damagedFrom = -1;
    m_random.state = (static_cast<uint64_t>(m_settings.seed) << 32 | number) ^ 0x5EED;
    m_path = m_settings.work + "\\" + kArchiveName;
    if (!WriteFileBytes(m_path, bytes)) {
        Fail(m_figures.escapes, "cannot write the archive into the work folder");
        return;
    }

    ZipResult opened[3];
    int32_t counts[3] = {-1, -1, -1};
    for (Source source : {kByName, kByHandle, kFromMemory}) {
        ZipHandle* zip = Open(source);
        opened[source] = ZipLastResult;
        ZipEntry count;
        if (zip != nullptr && ZipGetEntry(zip, -1, &count) == ZipOk) counts[source] = count.index;
        if (zip != nullptr) ZipClose(zip);
    }
    if (opened[0] != opened[1] || opened[0] != opened[2] || counts[0] != counts[1] ||
        counts[0] != counts[2]) {
        Fail(m_figures.disagreements, "the sources open otherwise");
        return;
    }
    if (opened[0] != ZipOk) return;
    ++m_figures.opened;
    m_count = counts[0];
    m_indexes.clear();
    for (int32_t i = 0; i < m_count && i < kWalkedIndexes; ++i) m_indexes.push_back(i);
    if (m_count > kWalkedIndexes) m_indexes.push_back(m_count - 1);

    // Where the walk finds the directory damaged, as the layer keeps it; every later walk is
    // held to "nothing read from there on" once it has met it.
    ZipHandle* zip = Open(kFromMemory);
    ZipEntry e;
    for (int32_t index : m_indexes) ZipGetEntry(zip, index, &e);
    if (zip->reader->damagedFrom < m_count) m_damagedFrom = zip->reader->damagedFrom;
    ZipClose(zip);

    Finds(kFromMemory, false);
    for (Source source : {kFromMemory, kByName, kByHandle}) Walks(source);
    CheckTail();
    Finds(kByName, false);
    Finds(kByHandle, true);
    Extractions();
    CheckFolders();
}

}  // namespace

void ForEachBelow(const std::string& folder, const std::string& prefix,
                  const std::function<void(const std::string&, bool)>& visit) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        const bool isFolder = IsFolderAttributes(found.dwFileAttributes);
        if (isFolder) ForEachBelow(folder + "\\" + name, prefix + name + "\\", visit);
        visit(prefix + name, isFolder);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

void RemoveBelow(const std::string& folder) {
    ForEachBelow(folder, "", [&](const std::string& relative, bool isFolder) {
        std::string path = folder + "\\" + relative;
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        isFolder ? RemoveDirectoryA(path.c_str()) : DeleteFileA(path.c_str());
    });
}

FuzzFigures RunZipFuzz(const FuzzSettings& settings) {
    FuzzFigures figures;
    CreateDirectoryA(settings.work.c_str(), nullptr);
    for (const char* base : kBases)
        CreateDirectoryA((settings.work + "\\" + base).c_str(), nullptr);
    if (!settings.saveTo.empty()) CreateDirectoryA(settings.saveTo.c_str(), nullptr);
    const std::vector<Bytes> seeds = BuildSeeds(settings.work);
    Checker checker(settings, figures);
    for (uint32_t n = settings.first; n < settings.first + settings.count; ++n) {
        Random random{static_cast<uint64_t>(settings.seed) * 0x100000001B3ull ^ n};
        Bytes bytes = seeds[random.Below(seeds.size())];
        for (uint32_t k = 1 + random.Below(3); k > 0; --k) Mutate(bytes, random);
        g_input = &bytes;
        g_number = n;
        checker.Run(n, bytes);
        g_input = nullptr;
        ++figures.mutants;
    }
    RemoveBelow(settings.work);
    RemoveDirectoryA(settings.work.c_str());
    return figures;
}

const std::vector<uint8_t>* CurrentFuzzInput(uint32_t* number) {
    *number = g_number;
    return g_input;
}

void SaveFuzzFailure(const std::string& saveTo, uint32_t seed, uint32_t number,
                     const std::vector<uint8_t>& bytes, const std::string& what) {
    char name[64];
    std::snprintf(name, sizeof name, "mutant-%u-%u.zip", seed, number);
    WriteFileBytes(saveTo + "\\" + name, bytes);
    std::ofstream log(saveTo + "\\failures.txt", std::ios::app);
    log << name << ": " << what << "\n";
}
