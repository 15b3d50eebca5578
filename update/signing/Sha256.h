// SHA-256 through CNG: of bytes given in portions, and of a whole file.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "CngHandles.h"

constexpr size_t kSha256Bytes = 32;

// A hash that takes its bytes in portions. Not copyable: it owns its CNG handles.
class Sha256 {
public:
    // Opens the algorithm and a hash object; not valid when CNG refused either.
    Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // False when CNG refused the hash or bytes for it, and once it is finished.
    bool IsValid() const { return !m_failed; }
    // Adds size bytes of data (none for 0). False when the hash is not valid, is finished,
    // or CNG refused the bytes; it is then not valid any more.
    bool Add(const void* data, size_t size);
    // The digest of everything added. False when the hash is not valid or already finished,
    // or CNG refused; digest is then unspecified. The hash takes nothing after this call.
    bool Finish(uint8_t (&digest)[kSha256Bytes]);

private:
    ScopedAlgorithm m_algorithm;
    ScopedCngHash m_hash;
    bool m_failed = false;
};

// The digest of size bytes at data; false when CNG refused (digest unspecified).
bool Sha256Of(const void* data, size_t size, uint8_t (&digest)[kSha256Bytes]);

// The size and digest of the file at path, read in large portions with others allowed to
// read it meanwhile. False when it cannot be opened (none there, a folder, denied, in use
// for writing by another program) or read to its end, or CNG refused; the results are
// then unspecified.
bool HashFile(const char* path, ULONGLONG* size, uint8_t (&digest)[kSha256Bytes]);
