// The SHA-256 of a download taken while its bytes arrive, so that a large file of a signed
// release is not read a second time once whole. URLDownloadToFileA writes the answer to a
// file of the system's download cache first and names it as it starts
// (BINDSTATUS_CACHEFILENAMEAVAILABLE); a thread of the hash's own reads that file behind the
// progress reports and hashes it. The download's destination is a copy of that file. Where
// the system names no such file, or it cannot be read, Finish says so and the caller reads
// the download itself.
#pragma once

#include <windows.h>

#include <memory>

#include "DownloadStatusCallback.h"
#include "Scoped.h"
#include "Sha256.h"

class ArrivingHash : public ArrivalObserver {
public:
    ArrivingHash();
    // Ends the thread, whatever it had hashed.
    ~ArrivingHash();
    ArrivingHash(const ArrivingHash&) = delete;
    ArrivingHash& operator=(const ArrivingHash&) = delete;

    // The download's own thread: where the bytes go, and how many have come.
    void CacheFile(const wchar_t* path) override;
    void Arrived(ULONGLONG bytes) override;

    // Once the download ended: the digest of the cache file, which must hold exactly length
    // bytes. False when no file was named, it could not be read, it holds another number of
    // bytes, or CNG refused.
    bool Finish(ULONGLONG length, uint8_t (&digest)[kSha256Bytes]);

private:
    static DWORD WINAPI Follow(LPVOID self);
    // On the thread: hashes up to the bytes that have come (or the length Finish asked
    // for); false when the file fails it.
    bool CatchUp(HANDLE file, ULONGLONG upTo);

    Sha256 m_sha;
    wchar_t m_path[MAX_PATH] = {};
    SRWLOCK m_lock = SRWLOCK_INIT;
    ULONGLONG m_arrived = 0;
    ULONGLONG m_length = 0;  // asked for by Finish
    bool m_finishing = false, m_ending = false;
    ULONGLONG m_hashed = 0;  // the thread's own
    bool m_failed = false;   // the thread's own, read once it ended
    std::unique_ptr<char[]> m_buffer;
    ScopedHandle m_more;  // set when bytes came or the thread is to finish
    ScopedHandle m_thread;
};
