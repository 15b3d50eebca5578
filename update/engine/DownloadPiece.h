// A download cut short is kept as a piece and the next attempt asks only for the rest, so
// that every file installs over a link that drops: the decisions on what may be kept and
// what may be joined, and the index of kept pieces that lets a later run go on.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "DownloadCheck.h"
#include "HandOver.h"

// What is kept of one file: its first length bytes, at the download path.
struct Piece {
    std::string validator;  // of the answer the bytes came from (AnswerHeaders::validator)
    ULONGLONG total = 0;    // the whole file's length
    ULONGLONG length = 0;
};

// Whether a download that is not whole can be kept to go on from: the answer was a 200
// or a 206 whose body is not encoded and which carried a validator; its total is known
// (the announced length of a 200, the Content-Range total of a 206) and is the record's
// size unless that is 0; and the file holds every byte the reports counted, at least one
// and fewer than the total. A download aborted between two reports may hold more: only
// the counted bytes are kept, the file is to be cut to them.
bool IsKeepablePiece(const DownloadFacts& facts);
// The piece a keepable download leaves: its counted bytes.
Piece PieceOf(const DownloadFacts& facts);

// What to make of the answer to a request for the rest of piece.
enum class RestVerdict {
    Join,         // a 206 of the same version, starting at the piece's end, of the same
                  // total, unencoded, every counted byte on disk and no more counted than
                  // announced: append its counted bytes, whether whole, itself cut short, or
                  // none at all (the link dropped before the first byte)
    Fresh,        // a 200: the server sent the file anew (it changed, or has no ranges): the
                  // piece goes and the answer is judged on its own as a fresh download
    NoAnswer,     // no answer at all: the piece stays for the next attempt
    ErrorAnswer,  // an error answer other than 416 (a server that is busy or down for a
                  // while): the piece stays, the next attempt comes after a pause
    Refused,      // anything else (a 416, a 2xx other than 200 and 206, another start, total
                  // or version, an encoded body, bytes lost): the piece goes, the next
                  // attempt starts from 0
};
RestVerdict JudgeRest(const Piece& piece, const DownloadFacts& rest);

// The facts of a piece joined up to fileSize bytes on disk, for the whole-download verdict:
// a 206 announcing the piece's total.
DownloadFacts JoinedFacts(const Piece& piece, ULONGLONG fileSize, DWORD recordSize);

// One kept piece and what it belongs to: an item of the update list (name and record) as
// fetched from url.
struct PieceRecord {
    std::string name;
    std::string file;  // where the piece lies in DownLoad\ (PieceFileName)
    DWORD size = 0;
    DWORD date = 0;
    DWORD time = 0;
    std::string url;
    Piece piece;
};

// Whether record still belongs to item fetched from url: the same name, record size, time
// stamp and URL.
bool PieceBelongs(const PieceRecord& record, const UpdateItem& item, const char* url);

// The index of kept pieces, one line each: name, file, size, date, time, total, length,
// validator and URL, separated by tabs. A piece holds fewer bytes than its total, or all of
// them (a whole file whose run stopped before taking it). Both sides keep to one rule: no
// field holds a tab, a line break or a NUL, and a validator is printable ASCII
// (IsPrintableText). Parsing leaves out every line that does not read back whole or breaks
// that rule, every line whose file is not a piece's file name, every line whose file another
// line names too (neither can be trusted with it), and every line of an item an earlier line
// already holds a piece of.
std::string FormatPieceIndex(const std::vector<PieceRecord>& records);
std::vector<PieceRecord> ParsePieceIndex(const std::string& text);

// The names in DownLoad\ of the pieces (every download arrives under one before it is
// judged) and of their index: longer than any listed name can be (35 bytes), so that none of
// them can be a listed file's download; all of them match kUpdaterFilePattern.
std::string PieceFileName(unsigned number);
bool IsPieceFileName(const std::string& file);
extern const char kPieceIndexName[];
extern const char kUpdaterFilePattern[];
