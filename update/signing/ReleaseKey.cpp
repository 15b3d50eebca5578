#include "ReleaseKey.h"

#include <cstring>

#include "CngHandles.h"
#include "Sha256.h"

const char kPublicKeyPrefix[] = "ecdsa-p256:";
const char kSigningOff[] = "none";

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// A CNG key blob: BCRYPT_ECCKEY_BLOB, then X and Y.
bool ImportPublic(BCRYPT_ALG_HANDLE algorithm, const PublicKey& key, ScopedCngKey& out) {
    struct {
        BCRYPT_ECCKEY_BLOB header;
        uint8_t key[kPublicKeyBytes];
    } blob = {{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, kPublicKeyBytes / 2}, {}};
    std::memcpy(blob.key, key.xy, sizeof blob.key);
    return ImportKey(algorithm, BCRYPT_ECCPUBLIC_BLOB, &blob, sizeof blob, out);
}

}  // namespace

// The profile calls answer a file they cannot open as one without the value: whether it
// can be opened is asked before and after.
static bool ConfigReadable(const char* configFile) {
    const HANDLE file = CreateFileA(configFile, GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return true;
    }
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

ConfiguredKey ReadReleaseKey(const char* configFile, PublicKey* key) {
    // A longer value is cut to more than a key text's length, and so refused too.
    char text[2 * kPublicKeyBytes + 64];
    if (!ConfigReadable(configFile)) return ConfiguredKey::Unreadable;
    GetPrivateProfileStringA("Setting", "ReleaseKey", "", text, sizeof text, configFile);
    if (!ConfigReadable(configFile)) return ConfiguredKey::Unreadable;
    if (text[0] == '\0') return ConfiguredKey::NoKey;
    if (std::strcmp(text, kSigningOff) == 0) return ConfiguredKey::Off;
    return ParsePublicKey(text, key) ? ConfiguredKey::Key : ConfiguredKey::NotAKey;
}

bool ParseHex(const char* digits, uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const int high = HexDigit(digits[2 * i]);
        if (high < 0) return false;
        const int low = HexDigit(digits[2 * i + 1]);
        if (low < 0) return false;
        bytes[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return true;
}

bool ParsePublicKey(const std::string& text, PublicKey* key) {
    const size_t prefix = std::strlen(kPublicKeyPrefix);
    if (text.size() != prefix + 2 * kPublicKeyBytes ||
        text.compare(0, prefix, kPublicKeyPrefix) != 0 ||
        !ParseHex(text.c_str() + prefix, key->xy, kPublicKeyBytes))
        return false;
    ScopedAlgorithm algorithm;
    ScopedCngKey imported;
    return OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM, algorithm) &&
           ImportPublic(algorithm, *key, imported);
}

bool VerifySignature(const PublicKey& key, const void* data, size_t size,
                     const uint8_t (&signature)[kSignatureBytes]) {
    uint8_t digest[kSha256Bytes];
    ScopedAlgorithm algorithm;
    ScopedCngKey imported;
    return Sha256Of(data, size, digest) && OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM, algorithm) &&
           ImportPublic(algorithm, key, imported) &&
           BCRYPT_SUCCESS(BCryptVerifySignature(imported, nullptr, digest, sizeof digest,
                                                const_cast<PUCHAR>(signature), kSignatureBytes, 0));
}
