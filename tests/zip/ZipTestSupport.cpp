#include "ZipTestSupport.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "ZipFuzz.h"
#include "ZipInternal.h"

namespace {

constexpr uint32_t kCentralSignature = 0x02014b50;

void RemoveTree(const std::string& folder) {
    RemoveBelow(folder);
    RemoveDirectoryA(folder.c_str());
}

// Changes the field of this width at these offsets in entry k's local and central header.
Patch InBothHeaders(size_t local, size_t central, int width, size_t k,
                    std::function<uint32_t(uint32_t)> change) {
    return [=](Bytes& a, const Layout& l) {
        for (size_t at : {l.local.at(k) + local, l.central.at(k) + central}) {
            if (width == 4) Put32(a, at, change(Get32(a, at)));
            if (width == 2) Put16(a, at, static_cast<uint16_t>(change(Get16(a, at))));
        }
    };
}

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

EntrySpec Dos(EntrySpec e, uint32_t attributes) {
    e.madeBy = kMadeByDos;
    e.external = attributes;
    return e;
}

EntrySpec Unix(EntrySpec e, uint32_t mode) {
    e.madeBy = kMadeByUnix;
    e.external = mode;
    return e;
}

EntrySpec Extra(EntrySpec e, std::string local) {
    e.localExtra = std::move(local);
    return e;
}

Bytes BuildArchive(const std::vector<EntrySpec>& entries, const std::string& comment) {
    ScratchFolder scratch;
    std::string path = scratch / "built.zip";
    if (!WriteArchive(path, entries, comment)) throw std::runtime_error("cannot write " + path);
    return ReadAll(path);
}

ZipHandle* OpenInMemory(const Bytes& archive) {
    return ZipOpen(archive.data(), static_cast<uint32_t>(archive.size()), ZipLocationMemory);
}

Layout ReadLayout(const Bytes& archive) {
    Layout layout;
    const EndRecordCheck end = CheckEndRecord(archive.data(), archive.size(), archive.size());
    layout.endRecord = static_cast<size_t>(end.position);
    size_t at = static_cast<size_t>(end.directoryOffset);
    for (uint64_t n = end.entryCount; n > 0; --n) {
        if (Get32(archive, at) != kCentralSignature) break;
        layout.central.push_back(at);
        layout.local.push_back(Get32(archive, at + 42) + static_cast<size_t>(end.prefix));
        at += 46 + Get16(archive, at + 28) + Get16(archive, at + 30) + Get16(archive, at + 32);
    }
    return layout;
}

Bytes Zip64(Bytes a) {
    const size_t end = ReadLayout(a).endRecord;
    const uint32_t count = Get16(a, end + 10), size = Get32(a, end + 12),
                   offset = Get32(a, end + 16);
    Bytes records(76);  // the zip64 end record (44 bytes more, version 4.5), then its locator
    for (auto field : {std::make_pair(0, 0x06064b50u), {4, 44}, {12, 0x002D002D}, {24, count},
                       {32, count}, {40, size}, {48, offset}, {56, 0x07064b50}, {64, offset + size},
                       {72, 1}})
        Put32(records, field.first, field.second);
    a.insert(a.begin() + static_cast<std::ptrdiff_t>(end), records.begin(), records.end());
    for (size_t field : {8, 12, 16}) Put32(a, end + 76 + field, 0xFFFFFFFF);
    return a;
}

Bytes BuildPatched(const std::vector<EntrySpec>& entries, const Patch& patch) {
    Bytes archive = BuildArchive(entries);
    if (patch) patch(archive, ReadLayout(archive));
    return archive;
}

Patch SetMethod(uint16_t method, size_t k) {
    return InBothHeaders(kLocalMethod, kCentralMethod, 2, k, [=](uint32_t) { return method; });
}

Patch SetFlags(uint16_t bits, size_t k) {
    return InBothHeaders(kLocalFlags, kCentralFlags, 2, k, [=](uint32_t v) { return v | bits; });
}

Patch FlipCrc(size_t k) {
    return InBothHeaders(kLocalCrc, kCentralCrc, 4, k, [](uint32_t v) { return v ^ 1; });
}

Patch PromiseMore(size_t k) {
    return InBothHeaders(kLocalUncompressed, kCentralUncompressed, 4, k,
                         [](uint32_t v) { return v + 5; });
}

Patch UseDataDescriptor(size_t k) {
    Patch flag = SetFlags(8, k);
    return [=](Bytes& a, const Layout& l) {
        flag(a, l);
        for (size_t field : {kLocalCrc, kLocalCompressed, kLocalUncompressed})
            Put32(a, l.local.at(k) + field, 0);
    };
}

Patch BreakDeflate(size_t k) {
    return [=](Bytes& a, const Layout& l) {
        size_t local = l.local.at(k);
        a.at(local + kLocalHeaderSize + Get16(a, local + kLocalNameLength) +
             Get16(a, local + kLocalNameLength + 2)) = 0xFF;
    };
}

std::string ExtraBlock(uint16_t id, const std::string& data) {
    const char head[] = {static_cast<char>(id & 0xFF), static_cast<char>(id >> 8),
                         static_cast<char>(data.size() & 0xFF),
                         static_cast<char>((data.size() >> 8) & 0xFF)};
    return std::string(head, sizeof head) + data;
}

std::string TimestampBlock(uint8_t flags, const std::vector<int32_t>& times) {
    std::string data(1, static_cast<char>(flags));
    for (int32_t t : times) {
        for (int i = 0; i < 4; ++i)
            data += static_cast<char>((static_cast<uint32_t>(t) >> (8 * i)) & 0xFF);
    }
    return ExtraBlock(0x5455, data);
}

ScratchFolder::ScratchFolder() {
    static std::atomic<unsigned> counter{0};
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    char name[64];
    std::snprintf(name, sizeof name, "ziptest-%lu-%u", GetCurrentProcessId(), counter++);
    m_path = std::string(temp) + name;
    RemoveTree(m_path);
    if (!CreateDirectoryA(m_path.c_str(), nullptr))
        throw std::runtime_error("cannot make " + m_path);
}

ScratchFolder::~ScratchFolder() { RemoveTree(m_path); }

bool WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return out.good();
}

std::string ReadText(const std::string& path) {
    Bytes bytes = ReadAll(path);
    return std::string(bytes.begin(), bytes.end());
}

std::string Tree(const std::string& folder) {
    std::vector<std::string> names;
    ForEachBelow(folder, "", [&](const std::string& relative, bool) { names.push_back(relative); });
    std::sort(names.begin(), names.end());
    std::string joined;
    for (const std::string& name : names) joined += (joined.empty() ? "" : " ") + name;
    return joined;
}

FILETIME WriteTimeOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

uint64_t Ticks(const FILETIME& t) {
    return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

FILETIME FromUnixTime(int64_t seconds) {
    SYSTEMTIME epoch{1970, 1, 4, 1, 0, 0, 0, 0};
    FILETIME t{};
    SystemTimeToFileTime(&epoch, &t);
    uint64_t ticks = Ticks(t) + static_cast<uint64_t>(seconds * 10000000);
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

FILETIME SampleDosTime() {
    SYSTEMTIME st{2021, 6, 2, 15, 12, 34, 56, 0};
    FILETIME t{};
    SystemTimeToFileTime(&st, &t);
    return t;
}

FILETIME LocalToUtc(FILETIME local) {
    FILETIME utc{};
    LocalFileTimeToFileTime(&local, &utc);
    return utc;
}
