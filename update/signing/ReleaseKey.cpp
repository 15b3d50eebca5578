#include "ReleaseKey.h"

#include <cstring>

#include "CngHandles.h"
#include "Sha256.h"

const char kPublicKeyPrefix[] = "ecdsa-p256:";
const char kPrivateKeyPrefix[] = "ecdsa-p256-private:";
const char kPrivateKeyTitle[] =
    "update-kit release signing key, PRIVATE: keep it off the update server";

namespace {

constexpr ULONG kCoordinateBytes = 32;

// A CNG key blob: BCRYPT_ECCKEY_BLOB, then X, Y (and d for a private key).
struct PublicBlob {
    BCRYPT_ECCKEY_BLOB header;
    uint8_t key[kPublicKeyBytes];
};
struct PrivateBlob {
    BCRYPT_ECCKEY_BLOB header;
    uint8_t key[kPrivateKeyBytes];
    ~PrivateBlob() { SecureZeroMemory(key, sizeof key); }
};

bool StartsWith(const std::string& text, size_t at, const char* prefix) {
    return text.compare(at, std::strlen(prefix), prefix) == 0;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool ImportPublic(BCRYPT_ALG_HANDLE algorithm, const PublicKey& key, ScopedCngKey& out) {
    PublicBlob blob = {{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, kCoordinateBytes}, {}};
    std::memcpy(blob.key, key.xy, sizeof blob.key);
    return ImportKey(algorithm, BCRYPT_ECCPUBLIC_BLOB, &blob, sizeof blob, out);
}

}  // namespace

PrivateKey::~PrivateKey() { SecureZeroMemory(xyd, sizeof xyd); }

ConfiguredKey ReadReleaseKey(const char* configFile, PublicKey* key) {
    // A longer value is cut to more than a key text's length, and so refused too.
    char text[2 * kPublicKeyBytes + 64];
    GetPrivateProfileStringA("Setting", "ReleaseKey", "", text, sizeof text, configFile);
    if (text[0] == '\0') return ConfiguredKey::NoKey;
    return ParsePublicKey(text, key) ? ConfiguredKey::Key : ConfiguredKey::NotAKey;
}

void AppendHex(std::string* text, const uint8_t* bytes, size_t count) {
    static const char kDigits[] = "0123456789abcdef";
    for (size_t i = 0; i < count; ++i) {
        text->push_back(kDigits[bytes[i] >> 4]);
        text->push_back(kDigits[bytes[i] & 15]);
    }
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

bool MakeKeyPair(std::string* privateText, std::string* publicText) {
    ScopedAlgorithm algorithm;
    ScopedCngKey key;
    BCRYPT_KEY_HANDLE made = nullptr;
    if (!OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM, algorithm) ||
        !BCRYPT_SUCCESS(BCryptGenerateKeyPair(algorithm, &made, 256, 0)))
        return false;
    key.Reset(made);
    PrivateBlob blob;
    ULONG exported = 0;
    if (!BCRYPT_SUCCESS(BCryptFinalizeKeyPair(key, 0)) ||
        !BCRYPT_SUCCESS(BCryptExportKey(key, nullptr, BCRYPT_ECCPRIVATE_BLOB,
                                        reinterpret_cast<PUCHAR>(&blob), sizeof blob, &exported,
                                        0)) ||
        exported != sizeof blob || blob.header.cbKey != kCoordinateBytes)
        return false;
    *privateText = std::string(kPrivateKeyTitle) + "\n" + kPrivateKeyPrefix;
    AppendHex(privateText, blob.key, sizeof blob.key);
    privateText->push_back('\n');
    PublicKey pub;
    std::memcpy(pub.xy, blob.key, sizeof pub.xy);
    *publicText = PublicKeyText(pub);
    return true;
}

bool ParsePublicKey(const std::string& text, PublicKey* key) {
    const size_t prefix = std::strlen(kPublicKeyPrefix);
    if (text.size() != prefix + 2 * kPublicKeyBytes || !StartsWith(text, 0, kPublicKeyPrefix) ||
        !ParseHex(text.c_str() + prefix, key->xy, kPublicKeyBytes))
        return false;
    ScopedAlgorithm algorithm;
    ScopedCngKey imported;
    return OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM, algorithm) &&
           ImportPublic(algorithm, *key, imported);
}

std::string PublicKeyText(const PublicKey& key) {
    std::string text = kPublicKeyPrefix;
    AppendHex(&text, key.xy, sizeof key.xy);
    return text;
}

bool ParsePrivateKey(const std::string& text, PrivateKey* key) {
    size_t at = std::strlen(kPrivateKeyTitle);
    if (!StartsWith(text, 0, kPrivateKeyTitle)) return false;
    // A line end, or the end of the text.
    const auto lineEnd = [&text, &at] {
        if (StartsWith(text, at, "\r\n") || StartsWith(text, at, "\n")) {
            at = text.find('\n', at) + 1;
            return true;
        }
        return at == text.size();
    };
    if (!lineEnd() || !StartsWith(text, at, kPrivateKeyPrefix)) return false;
    at += std::strlen(kPrivateKeyPrefix);
    if (text.size() - at < 2 * kPrivateKeyBytes ||
        !ParseHex(text.c_str() + at, key->xyd, kPrivateKeyBytes))
        return false;
    at += 2 * kPrivateKeyBytes;
    return lineEnd() && at == text.size();
}

PublicKey PublicHalf(const PrivateKey& key) {
    PublicKey pub;
    std::memcpy(pub.xy, key.xyd, sizeof pub.xy);
    return pub;
}

bool SignData(const PrivateKey& key, const void* data, size_t size,
              uint8_t (&signature)[kSignatureBytes]) {
    uint8_t digest[kSha256Bytes];
    ScopedAlgorithm algorithm;
    ScopedCngKey imported;
    PrivateBlob blob = {{BCRYPT_ECDSA_PRIVATE_P256_MAGIC, kCoordinateBytes}, {}};
    std::memcpy(blob.key, key.xyd, sizeof blob.key);
    ULONG written = 0;
    return Sha256Of(data, size, digest) && OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM, algorithm) &&
           ImportKey(algorithm, BCRYPT_ECCPRIVATE_BLOB, &blob, sizeof blob, imported) &&
           BCRYPT_SUCCESS(BCryptSignHash(imported, nullptr, digest, sizeof digest, signature,
                                         kSignatureBytes, &written, 0)) &&
           written == kSignatureBytes && VerifySignature(PublicHalf(key), data, size, signature);
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
