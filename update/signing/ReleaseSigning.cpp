#include "ReleaseSigning.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "CngHandles.h"
#include "Sha256.h"

const char kPrivateKeyPrefix[] = "ecdsa-p256-private:";
const char kPrivateKeyTitle[] =
    "update-kit release signing key, PRIVATE: keep it off the update server";

namespace {

constexpr ULONG kCoordinateBytes = 32;

// A CNG key blob: BCRYPT_ECCKEY_BLOB, then X, Y and d.
struct PrivateBlob {
    BCRYPT_ECCKEY_BLOB header;
    uint8_t key[kPrivateKeyBytes];
    ~PrivateBlob() { SecureZeroMemory(key, sizeof key); }
};

bool StartsWith(const std::string& text, size_t at, const char* prefix) {
    return text.compare(at, std::strlen(prefix), prefix) == 0;
}

}  // namespace

PrivateKey::~PrivateKey() { SecureZeroMemory(xyd, sizeof xyd); }

void AppendHex(std::string* text, const uint8_t* bytes, size_t count) {
    static const char kDigits[] = "0123456789abcdef";
    for (size_t i = 0; i < count; ++i) {
        text->push_back(kDigits[bytes[i] >> 4]);
        text->push_back(kDigits[bytes[i] & 15]);
    }
}

std::string PublicKeyText(const PublicKey& key) {
    std::string text = kPublicKeyPrefix;
    AppendHex(&text, key.xy, sizeof key.xy);
    return text;
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

bool SignManifest(const ReleaseManifest& manifest, const PrivateKey& key, std::string* text) {
    char line[64];
    std::snprintf(line, sizeof line, "serial %lu\n", static_cast<unsigned long>(manifest.serial));
    *text = std::string(kReleaseManifestTitle) + "\n" + line;
    std::snprintf(line, sizeof line, "versions %lu %lu\n",
                  static_cast<unsigned long>(manifest.version1),
                  static_cast<unsigned long>(manifest.version2));
    *text += line;
    if (manifest.expires) *text += "expires " + FormatUtcTime(manifest.expiresUtc) + "\n";
    std::vector<ManifestFile> files = manifest.files;
    std::sort(files.begin(), files.end(), [](const ManifestFile& a, const ManifestFile& b) {
        return std::strcmp(a.name, b.name) < 0;
    });
    for (const ManifestFile& file : files) {
        std::snprintf(line, sizeof line, "file %lu ", static_cast<unsigned long>(file.size));
        *text += line;
        AppendHex(text, file.sha256, kSha256Bytes);
        *text += ' ';
        *text += file.name;
        *text += '\n';
    }
    std::vector<ManifestEntry> entries = manifest.entries;
    std::sort(entries.begin(), entries.end(), [](const ManifestEntry& a, const ManifestEntry& b) {
        const int archive = std::strcmp(a.archive, b.archive);
        return archive != 0 ? archive < 0 : a.name < b.name;
    });
    for (const ManifestEntry& entry : entries) {
        std::snprintf(line, sizeof line, "entry %lu ", static_cast<unsigned long>(entry.size));
        *text += line;
        AppendHex(text, entry.sha256, kSha256Bytes);
        *text += ' ';
        *text += entry.archive;
        *text += ':';
        *text += entry.name;
        *text += '\n';
    }
    uint8_t signature[kSignatureBytes];
    if (!SignData(key, text->data(), text->size(), signature)) return false;
    *text += "signature ";
    AppendHex(text, signature, kSignatureBytes);
    *text += '\n';
    ReleaseManifest check;
    return ParseManifest(*text, &check) == ManifestFault::None;
}

std::string FormatUtcTime(ULONGLONG utc) {
    const FILETIME stamp = {static_cast<DWORD>(utc), static_cast<DWORD>(utc >> 32)};
    SYSTEMTIME t;
    if (!FileTimeToSystemTime(&stamp, &t)) return std::string();
    char text[sizeof "YYYY-MM-DDTHH:MM:SSZ"];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", t.wYear, t.wMonth, t.wDay,
                  t.wHour, t.wMinute, t.wSecond);
    return text;
}
