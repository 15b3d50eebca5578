// The operator's side of signed releases, which Update.exe never links: making the release
// key, reading its private half, and signing a release manifest (ReleaseManifest.h) with it.
//
// Private key text: two lines, each ending in LF (CR LF read too):
//   kPrivateKeyTitle
//   kPrivateKeyPrefix ("ecdsa-p256-private:") and 192 lower-case hex digits: X, Y (the
//   public half, as in the public key text of ReleaseKey.h), then the secret d.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "ReleaseKey.h"
#include "ReleaseManifest.h"

constexpr size_t kPrivateKeyBytes = 96;

extern const char kPrivateKeyPrefix[];  // "ecdsa-p256-private:"
extern const char kPrivateKeyTitle[];   // the first line of a private key file

// The private half (X, Y, d). Its bytes are wiped when it goes.
struct PrivateKey {
    uint8_t xyd[kPrivateKeyBytes];
    ~PrivateKey();
};

// A new key pair: its private key text (both lines) and its public key text. False when
// CNG refused (the texts are then unspecified).
bool MakeKeyPair(std::string* privateText, std::string* publicText);

// Reads a private key text as MakeKeyPair writes it (CR LF taken for LF, the last line end
// optional); false when it is anything else. Whether d belongs to X and Y is not checked
// here: SignData refuses a key whose signature does not hold.
bool ParsePrivateKey(const std::string& text, PrivateKey* key);
PublicKey PublicHalf(const PrivateKey& key);
std::string PublicKeyText(const PublicKey& key);

// Signs size bytes at data. False when CNG refused the key or the signing, or when the
// signature does not hold with the key's own public half (a damaged key file); signature
// is then unspecified.
bool SignData(const PrivateKey& key, const void* data, size_t size,
              uint8_t (&signature)[kSignatureBytes]);

// The signed text of manifest's serial, versions, expiry and files (put in the manifest's order),
// signed with key. False when CNG refused, or when ParseManifest would refuse the text (no files, a
// name unsafe or listed twice); text is then unspecified.
bool SignManifest(const ReleaseManifest& manifest, const PrivateKey& key, std::string* text);

// utc as "YYYY-MM-DDTHH:MM:SSZ" (the fraction of a second dropped); "" when it is no time.
std::string FormatUtcTime(ULONGLONG utc);

// Appends count bytes as 2 * count lower-case hex digits.
void AppendHex(std::string* text, const uint8_t* bytes, size_t count);
