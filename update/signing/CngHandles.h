// One owner per CNG handle kind (framework/Scoped.h's scoped owner with CNG's release
// calls), and the two ways this library gets a handle to own.
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include "Scoped.h"

namespace scoped_detail {

struct CngAlgorithmTraits {
    static BCRYPT_ALG_HANDLE Empty() { return nullptr; }
    static bool IsEmpty(BCRYPT_ALG_HANDLE h) { return h == nullptr; }
    static void Free(BCRYPT_ALG_HANDLE h) { ::BCryptCloseAlgorithmProvider(h, 0); }
};

struct CngKeyTraits {
    static BCRYPT_KEY_HANDLE Empty() { return nullptr; }
    static bool IsEmpty(BCRYPT_KEY_HANDLE h) { return h == nullptr; }
    static void Free(BCRYPT_KEY_HANDLE h) { ::BCryptDestroyKey(h); }
};

struct CngHashTraits {
    static BCRYPT_HASH_HANDLE Empty() { return nullptr; }
    static bool IsEmpty(BCRYPT_HASH_HANDLE h) { return h == nullptr; }
    static void Free(BCRYPT_HASH_HANDLE h) { ::BCryptDestroyHash(h); }
};

}  // namespace scoped_detail

// An algorithm provider, closed with BCryptCloseAlgorithmProvider. Close it after every key
// and hash made from it: declare it before them.
using ScopedAlgorithm = scoped_detail::Owner<BCRYPT_ALG_HANDLE, scoped_detail::CngAlgorithmTraits>;
// A key, destroyed with BCryptDestroyKey.
using ScopedCngKey = scoped_detail::Owner<BCRYPT_KEY_HANDLE, scoped_detail::CngKeyTraits>;
// A hash object, destroyed with BCryptDestroyHash.
using ScopedCngHash = scoped_detail::Owner<BCRYPT_HASH_HANDLE, scoped_detail::CngHashTraits>;

// Opens the provider of algorithm (a BCRYPT_..._ALGORITHM name) into out; false, with out
// empty, when CNG refuses.
bool OpenAlgorithm(LPCWSTR algorithm, ScopedAlgorithm& out);

// Imports a key blob of type blobType (BCRYPT_ECCPUBLIC_BLOB, BCRYPT_ECCPRIVATE_BLOB) into
// out; false, with out empty, when CNG refuses it (not a key of that algorithm).
bool ImportKey(BCRYPT_ALG_HANDLE algorithm, LPCWSTR blobType, const void* blob, ULONG size,
               ScopedCngKey& out);
