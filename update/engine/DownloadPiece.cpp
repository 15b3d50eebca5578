#include "DownloadPiece.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

const char kPieceIndexName[] = "~updater-pieces-of-cut-downloads.txt";
const char kUpdaterFilePattern[] = "~updater-*";

namespace {

constexpr DWORD kPartialContent = 206;
const char kPiecePrefix[] = "~updater-piece-of-a-cut-download-";

// The whole file's length as the answer gives it, 0 when unknown.
ULONGLONG TotalOf(const DownloadFacts& f) {
    if (f.httpStatus == 200) return f.lengthAnnounced ? f.announcedLength : 0;
    if (f.httpStatus == kPartialContent && f.rangeGiven) return f.rangeTotal;
    return 0;
}

// Fewer bytes than counted means a write to the disk failed. More means the download was
// aborted after bytes arrived and before they were reported; they are left out. When none
// came, the download may have made no file at all.
bool HoldsCountedBytes(const DownloadFacts& f) {
    return f.receivedBytes == 0 || (f.fileExists && f.fileSize >= f.receivedBytes);
}

// The one rule of an index field, for writing and reading alike: a tab or a line break would
// end it, and a NUL or a carriage return must never reach a request's headers.
bool IsIndexField(const std::string& field) {
    return field.find_first_of(std::string("\t\r\n\0", 4)) == std::string::npos;
}

bool IsIndexLine(const PieceRecord& r) {
    return !r.name.empty() && IsIndexField(r.name) && IsIndexField(r.url) &&
           !r.piece.validator.empty() && IsPrintableText(r.piece.validator) &&
           IsPieceFileName(r.file) && r.piece.length != 0 && r.piece.length <= r.piece.total;
}

bool ReadDword(const std::string& text, DWORD* value) {
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const ULONGLONG wide = std::strtoull(text.c_str(), nullptr, 10);
    if (wide > 0xFFFFFFFFull) return false;
    *value = static_cast<DWORD>(wide);
    return true;
}

}  // namespace

// A name PieceFileName makes, and nothing else: a damaged index must not name another file.
bool IsPieceFileName(const std::string& file) {
    const size_t prefix = sizeof kPiecePrefix - 1, suffix = 5;
    if (file.size() <= prefix + suffix || file.compare(0, prefix, kPiecePrefix) != 0 ||
        file.compare(file.size() - suffix, suffix, ".part") != 0)
        return false;
    return file.find_first_not_of("0123456789", prefix) == file.size() - suffix;
}

std::string PieceFileName(unsigned number) {
    char name[64];
    std::snprintf(name, sizeof name, "%s%u.part", kPiecePrefix, number);
    return name;
}

bool IsKeepablePiece(const DownloadFacts& f) {
    const ULONGLONG total = TotalOf(f);
    if (f.encoded || f.validator.empty() || total == 0) return false;
    if (f.recordSize != 0 && total != f.recordSize) return false;
    return HoldsCountedBytes(f) && f.receivedBytes > 0 && f.receivedBytes < total;
}

Piece PieceOf(const DownloadFacts& f) {
    Piece piece;
    piece.validator = f.validator;
    piece.total = TotalOf(f);
    piece.length = f.receivedBytes;
    return piece;
}

RestVerdict JudgeRest(const Piece& piece, const DownloadFacts& rest) {
    constexpr DWORD kRangeNotSatisfiable = 416;
    if (rest.httpStatus == 0) return RestVerdict::NoAnswer;
    if (rest.httpStatus == 200) return RestVerdict::Fresh;
    // An error says nothing about the piece, except a 416: the piece does not fit the file.
    if ((rest.httpStatus < 200 || rest.httpStatus > 299) && rest.httpStatus != kRangeNotSatisfiable)
        return RestVerdict::ErrorAnswer;
    if (rest.httpStatus != kPartialContent || !rest.rangeGiven) return RestVerdict::Refused;
    // If-Range asked the server to send the whole file when the version changed; a 206 of
    // another version, start or total would join bytes of two files.
    if (rest.rangeFirst != piece.length || rest.rangeTotal != piece.total ||
        rest.validator != piece.validator || rest.encoded)
        return RestVerdict::Refused;
    const ULONGLONG announced = rest.rangeLast - rest.rangeFirst + 1;
    if (rest.lengthAnnounced && rest.announcedLength != announced) return RestVerdict::Refused;
    if (!HoldsCountedBytes(rest) || rest.receivedBytes > announced) return RestVerdict::Refused;
    return RestVerdict::Join;
}

DownloadFacts JoinedFacts(const Piece& piece, ULONGLONG fileSize, DWORD recordSize) {
    DownloadFacts f;
    f.result = S_OK;
    f.fileExists = true;
    f.fileSize = f.receivedBytes = fileSize;
    f.httpStatus = kPartialContent;
    f.lengthAnnounced = piece.total <= 0xFFFFFFFFull;
    f.announcedLength = static_cast<DWORD>(piece.total);
    f.recordSize = recordSize;
    return f;
}

bool PieceBelongs(const PieceRecord& r, const UpdateItem& item, const char* url) {
    return r.name == item.szName && r.size == item.dwSize && r.date == item.dwDate &&
           r.time == item.dwTime && r.url == url;
}

// Streams are left out on purpose: they would more than double the program's size.
std::string FormatPieceIndex(const std::vector<PieceRecord>& records) {
    std::string out;
    for (const PieceRecord& r : records) {
        if (!IsIndexLine(r)) continue;
        char numbers[96];
        std::snprintf(numbers, sizeof numbers, "\t%lu\t%lu\t%lu\t%llu\t%llu\t",
                      static_cast<unsigned long>(r.size), static_cast<unsigned long>(r.date),
                      static_cast<unsigned long>(r.time), r.piece.total, r.piece.length);
        out += r.name + '\t' + r.file + numbers + r.piece.validator + '\t' + r.url + '\n';
    }
    return out;
}

std::vector<PieceRecord> ParsePieceIndex(const std::string& text) {
    std::vector<PieceRecord> read;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        std::vector<std::string> fields;
        size_t from = 0;
        for (size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1)
            fields.push_back(line.substr(from, tab - from));
        fields.push_back(line.substr(from));
        PieceRecord r;
        DWORD total = 0, length = 0;
        if (fields.size() != 9 || !ReadDword(fields[2], &r.size) || !ReadDword(fields[3], &r.date) ||
            !ReadDword(fields[4], &r.time) || !ReadDword(fields[5], &total) ||
            !ReadDword(fields[6], &length))
            continue;
        r.name = fields[0];
        r.file = fields[1];
        r.piece.total = total;
        r.piece.length = length;
        r.piece.validator = fields[7];
        r.url = fields[8];
        if (IsIndexLine(r)) read.push_back(r);
    }
    std::vector<PieceRecord> records;
    for (const PieceRecord& r : read) {
        const auto sameFile = [&](const PieceRecord& o) { return o.file == r.file; };
        const auto sameItem = [&](const PieceRecord& o) {
            return o.name == r.name && o.size == r.size && o.date == r.date && o.time == r.time &&
                   o.url == r.url;
        };
        if (std::count_if(read.begin(), read.end(), sameFile) == 1 &&
            std::none_of(records.begin(), records.end(), sameItem))
            records.push_back(r);
    }
    return records;
}
