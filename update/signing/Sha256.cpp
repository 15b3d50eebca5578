#include "Sha256.h"

#include <vector>

namespace {

// Large enough that a file is read at the disk's pace, small beside the updater's memory.
constexpr DWORD kReadPortion = 256 * 1024;
// BCryptHashData takes a ULONG count; a 64-bit size is handed over in portions of this.
constexpr size_t kLargestAdd = 1u << 30;

}  // namespace

Sha256::Sha256() {
    BCRYPT_HASH_HANDLE hash = nullptr;
    // A null object buffer lets CNG keep the hash object itself (Windows 7 and later).
    if (OpenAlgorithm(BCRYPT_SHA256_ALGORITHM, m_algorithm) &&
        BCRYPT_SUCCESS(BCryptCreateHash(m_algorithm, &hash, nullptr, 0, nullptr, 0, 0)))
        m_hash.Reset(hash);
    m_failed = !m_hash.IsValid();
}

bool Sha256::Add(const void* data, size_t size) {
    const UCHAR* bytes = static_cast<const UCHAR*>(data);
    while (!m_failed && size > 0) {
        const ULONG portion = static_cast<ULONG>(size < kLargestAdd ? size : kLargestAdd);
        m_failed = !BCRYPT_SUCCESS(BCryptHashData(m_hash, const_cast<UCHAR*>(bytes), portion, 0));
        bytes += portion;
        size -= portion;
    }
    return !m_failed;
}

bool Sha256::Finish(uint8_t (&digest)[kSha256Bytes]) {
    if (m_failed) return false;
    m_failed = true;
    return BCRYPT_SUCCESS(BCryptFinishHash(m_hash, digest, kSha256Bytes, 0));
}

bool Sha256Of(const void* data, size_t size, uint8_t (&digest)[kSha256Bytes]) {
    Sha256 hash;
    return hash.Add(data, size) && hash.Finish(digest);
}

bool HashFile(const char* path, ULONGLONG* size, uint8_t (&digest)[kSha256Bytes]) {
    ScopedHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.IsValid()) return false;
    Sha256 hash;
    std::vector<unsigned char> portion(kReadPortion);
    *size = 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, portion.data(), kReadPortion, &got, nullptr)) return false;
        if (got == 0) break;
        if (!hash.Add(portion.data(), got)) return false;
        *size += got;
    }
    return hash.Finish(digest);
}
