#include "ReleaseManifest.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "SafeName.h"

const char kReleaseManifestName[] = "~updater-release-manifest-signed-by-the-operator.txt";
const char kReleaseManifestTitle[] = "update-kit release manifest 2";

static_assert(sizeof kReleaseManifestName - 1 > kMaxListedNameBytes,
              "the manifest's name must not fit in a hand-over record");

namespace {

constexpr size_t kMaxDecimalDigits = 10;  // 4294967295
constexpr size_t kUtcTimeLength = 20;     // "YYYY-MM-DDTHH:MM:SSZ"

struct Line {
    size_t start = 0;  // offset in the text
    const char* text = nullptr;
    size_t length = 0;  // without the LF

    // The rest of the line after prefix; false when it does not start with prefix.
    bool After(const char* prefix, const char** rest, size_t* restLength) const {
        const size_t n = std::strlen(prefix);
        if (length < n || std::memcmp(text, prefix, n) != 0) return false;
        *rest = text + n;
        *restLength = length - n;
        return true;
    }
};

// The text line by line, numbered from 1.
class LineReader {
public:
    explicit LineReader(const std::string& text) : m_text(text) {}

    // The next line; false when none is left, no LF ends it, or it holds a control byte.
    bool Next(Line* line) {
        if (m_at >= m_text.size()) return false;
        ++m_number;
        const size_t end = m_text.find('\n', m_at);
        if (end == std::string::npos) return false;
        for (size_t i = m_at; i < end; ++i) {
            if (static_cast<unsigned char>(m_text[i]) < 0x20) return false;
        }
        *line = {m_at, m_text.data() + m_at, end - m_at};
        m_at = end + 1;
        return true;
    }
    bool AtEnd() const { return m_at == m_text.size(); }
    size_t Number() const { return m_number; }

private:
    const std::string& m_text;
    size_t m_at = 0;
    size_t m_number = 0;
};

bool ParseDecimal(const char* text, size_t length, DWORD* value) {
    if (length == 0 || length > kMaxDecimalDigits || (text[0] == '0' && length > 1)) return false;
    ULONGLONG n = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        n = n * 10 + static_cast<unsigned>(text[i] - '0');
    }
    if (n > 0xFFFFFFFFull) return false;
    *value = static_cast<DWORD>(n);
    return true;
}

// "SIZE SHA256 NAME".
ManifestFault ParseFileLine(const char* text, size_t length, ManifestFile* file) {
    const char* space = static_cast<const char*>(std::memchr(text, ' ', length));
    if (space == nullptr) return ManifestFault::Malformed;
    const size_t sizeDigits = static_cast<size_t>(space - text);
    const size_t nameAt = sizeDigits + 1 + 2 * kSha256Bytes + 1;
    if (!ParseDecimal(text, sizeDigits, &file->size) || length <= nameAt ||
        !ParseHex(space + 1, file->sha256, kSha256Bytes) || text[nameAt - 1] != ' ')
        return ManifestFault::Malformed;
    const size_t nameLength = length - nameAt;
    if (nameLength > kMaxListedNameBytes) return ManifestFault::UnsafeName;
    std::memcpy(file->name, text + nameAt, nameLength);
    file->name[nameLength] = '\0';
    return IsSafeRelativeName(file->name) ? ManifestFault::None : ManifestFault::UnsafeName;
}

// "SIZE SHA256 ARCHIVE:NAME".
ManifestFault ParseEntryLine(const char* text, size_t length, const ReleaseManifest& manifest,
                             ManifestEntry* entry) {
    const char* space = static_cast<const char*>(std::memchr(text, ' ', length));
    if (space == nullptr) return ManifestFault::Malformed;
    const size_t sizeDigits = static_cast<size_t>(space - text);
    const size_t nameAt = sizeDigits + 1 + 2 * kSha256Bytes + 1;
    if (!ParseDecimal(text, sizeDigits, &entry->size) || length <= nameAt ||
        !ParseHex(space + 1, entry->sha256, kSha256Bytes) || text[nameAt - 1] != ' ')
        return ManifestFault::Malformed;
    const char* archive = text + nameAt;
    const char* colon = static_cast<const char*>(std::memchr(archive, ':', length - nameAt));
    if (colon == nullptr) return ManifestFault::Malformed;
    const size_t archiveLength = static_cast<size_t>(colon - archive);
    const size_t nameLength = length - nameAt - archiveLength - 1;
    if (archiveLength > kMaxListedNameBytes || nameLength == 0 || nameLength > kMaxEntryNameBytes)
        return ManifestFault::UnsafeName;
    std::memcpy(entry->archive, archive, archiveLength);
    entry->archive[archiveLength] = '\0';
    entry->name.assign(colon + 1, nameLength);
    return FindInManifest(manifest, entry->archive) != nullptr ? ManifestFault::None
                                                               : ManifestFault::Malformed;
}

int CompareEntries(const ManifestEntry& a, const ManifestEntry& b) {
    const int archive = std::strcmp(a.archive, b.archive);
    return archive != 0 ? archive : a.name.compare(b.name);
}

// The lines of a manifest into out, up to and with the signature line; the fault, if any,
// is on the reader's current line.
ManifestFault ParseLines(LineReader& lines, ReleaseManifest* out) {
    Line line;
    const char* rest = nullptr;
    size_t restLength = 0;
    if (!lines.Next(&line) || line.length != std::strlen(kReleaseManifestTitle) ||
        std::memcmp(line.text, kReleaseManifestTitle, line.length) != 0)
        return ManifestFault::Malformed;
    if (!lines.Next(&line) || !line.After("serial ", &rest, &restLength) ||
        !ParseDecimal(rest, restLength, &out->serial) || !lines.Next(&line) ||
        !line.After("versions ", &rest, &restLength))
        return ManifestFault::Malformed;
    const char* space = static_cast<const char*>(std::memchr(rest, ' ', restLength));
    if (space == nullptr || !ParseDecimal(rest, static_cast<size_t>(space - rest), &out->version1) ||
        !ParseDecimal(space + 1, restLength - static_cast<size_t>(space - rest) - 1,
                      &out->version2) ||
        !lines.Next(&line))
        return ManifestFault::Malformed;
    if (line.After("expires ", &rest, &restLength)) {
        if (!ParseUtcTime(rest, restLength, &out->expiresUtc) || !lines.Next(&line))
            return ManifestFault::Malformed;
        out->expires = true;
    }
    while (line.After("file ", &rest, &restLength)) {
        ManifestFile file;
        const ManifestFault fault = ParseFileLine(rest, restLength, &file);
        if (fault != ManifestFault::None) return fault;
        // One order only, so that a name is found by halving and a repeat is the next line.
        const int order = out->files.empty() ? 1 : std::strcmp(file.name, out->files.back().name);
        if (order <= 0) return order == 0 ? ManifestFault::DuplicateName : ManifestFault::Malformed;
        out->files.push_back(file);
        if (!lines.Next(&line)) return ManifestFault::Malformed;
    }
    while (line.After("entry ", &rest, &restLength)) {
        ManifestEntry entry;
        const ManifestFault fault = ParseEntryLine(rest, restLength, *out, &entry);
        if (fault != ManifestFault::None) return fault;
        const int order = out->entries.empty() ? 1 : CompareEntries(entry, out->entries.back());
        if (order <= 0) return order == 0 ? ManifestFault::DuplicateName : ManifestFault::Malformed;
        out->entries.push_back(entry);
        if (!lines.Next(&line)) return ManifestFault::Malformed;
    }
    if (!line.After("signature ", &rest, &restLength) || restLength != 2 * kSignatureBytes ||
        !ParseHex(rest, out->signature, kSignatureBytes))
        return ManifestFault::Malformed;
    out->signedBytes = line.start;
    if (!lines.AtEnd()) {
        lines.Next(&line);
        return ManifestFault::Malformed;
    }
    return ManifestFault::None;
}

}  // namespace

ManifestFault ParseManifest(const std::string& text, ReleaseManifest* out, size_t* faultLine) {
    size_t ignored = 0;
    size_t& line = faultLine != nullptr ? *faultLine : ignored;
    line = 0;
    if (text.size() > kMaxManifestBytes) return ManifestFault::TooLarge;
    *out = ReleaseManifest();
    LineReader lines(text);
    const ManifestFault fault = ParseLines(lines, out);
    if (fault != ManifestFault::None) {
        line = lines.Number();
        return fault;
    }
    return out->files.empty() ? ManifestFault::NoFiles : ManifestFault::None;
}

ManifestFault VerifyManifest(const std::string& text, const PublicKey& key,
                             const ReleaseExpected& expected, ReleaseManifest* out,
                             size_t* faultLine) {
    const ManifestFault fault = ParseManifest(text, out, faultLine);
    if (fault != ManifestFault::None) return fault;
    if (!VerifySignature(key, text.data(), out->signedBytes, out->signature))
        return ManifestFault::BadSignature;
    if (out->version1 != expected.version1 || out->version2 != expected.version2)
        return ManifestFault::OtherVersions;
    if (out->serial < expected.highestSerial) return ManifestFault::OlderSerial;
    const ULONGLONG nowUtc = expected.nowUtc;
    if (out->expires && nowUtc >= out->expiresUtc) return ManifestFault::Expired;
    return ManifestFault::None;
}

const ManifestFile* FindInManifest(const ReleaseManifest& manifest, const char* name) {
    const auto found = std::lower_bound(
        manifest.files.begin(), manifest.files.end(), name,
        [](const ManifestFile& file, const char* n) { return std::strcmp(file.name, n) < 0; });
    return found != manifest.files.end() && std::strcmp(found->name, name) == 0 ? &*found : nullptr;
}

const ManifestEntry* FindEntryInManifest(const ReleaseManifest& manifest, const char* archive,
                                         const char* name) {
    ManifestEntry key{};
    std::snprintf(key.archive, sizeof key.archive, "%s", archive);
    key.name = name;
    const auto found = std::lower_bound(
        manifest.entries.begin(), manifest.entries.end(), key,
        [](const ManifestEntry& a, const ManifestEntry& b) { return CompareEntries(a, b) < 0; });
    return found != manifest.entries.end() && CompareEntries(*found, key) == 0 ? &*found : nullptr;
}

ItemMatch MatchManifest(const ReleaseManifest& manifest, const char* name, ULONGLONG size,
                        const uint8_t (&sha256)[kSha256Bytes]) {
    const ManifestFile* file = FindInManifest(manifest, name);
    if (file == nullptr) return ItemMatch::NotInManifest;
    if (file->size != size) return ItemMatch::SizeDiffers;
    if (std::memcmp(file->sha256, sha256, kSha256Bytes) != 0) return ItemMatch::HashDiffers;
    return ItemMatch::Matches;
}

bool ParseUtcTime(const char* text, size_t length, ULONGLONG* utc) {
    static const char kPattern[] = "dddd-dd-ddTdd:dd:ddZ";
    static_assert(sizeof kPattern - 1 == kUtcTimeLength, "the pattern is the time's length");
    if (length != kUtcTimeLength) return false;
    for (size_t i = 0; i < length; ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kPattern[i] == 'd' ? !digit : text[i] != kPattern[i]) return false;
    }
    const auto field = [text](size_t at, size_t digits) {
        WORD value = 0;
        for (size_t i = 0; i < digits; ++i)
            value = static_cast<WORD>(value * 10 + (text[at + i] - '0'));
        return value;
    };
    SYSTEMTIME asked = {field(0, 4),  field(5, 2),  0, field(8, 2), field(11, 2),
                        field(14, 2), field(17, 2), 0};
    FILETIME stamp;
    SYSTEMTIME back;
    // The way back tells a date that does not exist (30 February) from one Windows would
    // carry over into the next month.
    if (!SystemTimeToFileTime(&asked, &stamp) || !FileTimeToSystemTime(&stamp, &back) ||
        back.wYear != asked.wYear || back.wMonth != asked.wMonth || back.wDay != asked.wDay ||
        back.wHour != asked.wHour || back.wMinute != asked.wMinute || back.wSecond != asked.wSecond)
        return false;
    *utc = static_cast<ULONGLONG>(stamp.dwHighDateTime) << 32 | stamp.dwLowDateTime;
    return true;
}

ULONGLONG NowUtc() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return static_cast<ULONGLONG>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
}
