// Telling a whole download from what URLDownloadToFileA only calls one. Under Wine it
// returns S_OK for an HTTP error answer (the page, or an empty file, is stored), for a
// connection closed before the body ended, and when its own copy to the destination fails;
// none of them may ever be installed. The verdict rests on what the answer itself said.
#pragma once

#include <windows.h>

#include <string>

// What an answer's headers say of its body.
struct AnswerHeaders {
    bool lengthAnnounced = false;  // a Content-Length of a body neither encoded nor chunked
    DWORD announcedLength = 0;     // that length
    bool encoded = false;          // a Content-Encoding other than "identity"
    bool rangeGiven = false;       // a Content-Range "bytes FIRST-LAST/TOTAL"
    ULONGLONG rangeFirst = 0;
    ULONGLONG rangeLast = 0;
    ULONGLONG rangeTotal = 0;  // 0 for "*" (unknown)
    // What tells this version of the file from any other: a strong ETag as it stands (with
    // its quotes), else the Last-Modified date; "" for none (or one not in printable ASCII).
    std::string validator;
};

// Everything known about one finished download attempt.
struct DownloadFacts : AnswerHeaders {
    HRESULT result = E_FAIL;      // what URLDownloadToFileA returned
    bool fileExists = false;      // the download path names a file
    ULONGLONG fileSize = 0;       // its size
    DWORD httpStatus = 0;         // status of the final answer (after redirects), 0: unknown
    ULONGLONG receivedBytes = 0;  // the bytes the progress reports counted
    DWORD recordSize = 0;         // the hand-over record's dwSize, 0: unknown
    bool stalled = false;         // aborted because the server fell silent
};

// Why a download is whole or not: the first of these checks that fails, in this order.
enum class DownloadVerdict {
    Whole,
    NoAnswer,          // the status of the final answer is unknown: none came
    ErrorAnswer,       // the final answer is not 2xx
    Failed,            // the download did not end with S_OK (aborted, broken off)
    NothingStored,     // no file at the download path
    LostOnTheWay,      // the file holds fewer or more bytes than the reports counted: the
                       // download's own copy to the disk failed (a full disk)
    CutShort,          // not the announced length of an unencoded body
    NotTheRecordSize,  // no such length (chunked, compressed or ended by the close) and not
                       // the record's size, which is not 0
};

// A download is whole only when all of these hold: the status is known and 2xx; S_OK and
// the file exists; the file holds exactly the bytes the progress reports counted; and its
// size equals the announced length of an unencoded body, or (no such length) the record's
// size unless that is 0.
DownloadVerdict JudgeDownload(const DownloadFacts& facts);
inline bool IsWholeDownload(const DownloadFacts& facts) {
    return JudgeDownload(facts) == DownloadVerdict::Whole;
}

// A whole download whose size is not the record's (when that is not 0): today's answer
// announces its length, but behind compression or chunking the updater would have only the
// record to go by and would refuse the file for ever.
bool DiffersFromRecord(const DownloadFacts& facts);

// Reads the response headers (CRLF-separated, as the download hands them over; null for
// none). The length counts only when it is given once, well-formed, within 32 bits and of
// a body neither compressed nor chunked; a Content-Range only when well-formed with
// FIRST <= LAST < TOTAL (or TOTAL "*"); a weak ETag ("W/...") gives way to Last-Modified.
AnswerHeaders ParseAnswerHeaders(const wchar_t* headers);

// Lets this process hold count connections to one server at once (HTTP/1.1 and 1.0 alike),
// where the system's own limit is lower.
void AllowConnectionsPerServer(DWORD count);

// Drops the system's cached copies of url (as given and with "/" for "\", the form Wine
// files it under).
void ForgetCachedCopy(const char* url);

// Printable ASCII (0x20 to 0x7E) throughout: all a validator may hold, since it is sent back
// in a request's headers.
inline bool IsPrintableAscii(unsigned c) { return c >= 0x20 && c <= 0x7E; }
bool IsPrintableText(const std::string& text);

// Size of the file at path: false when it does not exist or is not a plain file.
bool FileSizeOf(const char* path, ULONGLONG* size);
