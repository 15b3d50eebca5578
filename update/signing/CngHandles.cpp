#include "CngHandles.h"

bool OpenAlgorithm(LPCWSTR algorithm, ScopedAlgorithm& out) {
    BCRYPT_ALG_HANDLE raw = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&raw, algorithm, nullptr, 0))) raw = nullptr;
    out.Reset(raw);
    return out.IsValid() != FALSE;
}

bool ImportKey(BCRYPT_ALG_HANDLE algorithm, LPCWSTR blobType, const void* blob, ULONG size,
               ScopedCngKey& out) {
    BCRYPT_KEY_HANDLE raw = nullptr;
    // CNG takes the blob as a non-const pointer but only reads it.
    PUCHAR bytes = static_cast<PUCHAR>(const_cast<void*>(blob));
    if (!BCRYPT_SUCCESS(BCryptImportKeyPair(algorithm, nullptr, blobType, &raw, bytes, size, 0)))
        raw = nullptr;
    out.Reset(raw);
    return out.IsValid() != FALSE;
}
