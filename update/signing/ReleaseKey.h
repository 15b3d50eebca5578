// The release key: ECDSA on the curve P-256 over SHA-256, through CNG. The operator keeps the
// private half in a small text file off the server (ReleaseSigning.h); an installation
// carries the public half as one line of text ("ReleaseKey" in section "Setting" of
// UpdateConfig.txt), and checks signatures with it here.
//
// Public key text: kPublicKeyPrefix ("ecdsa-p256:") and 128 lower-case hex digits, the
// point's X then Y, 32 bytes each, big-endian (as CNG's BCRYPT_ECCPUBLIC_BLOB holds them).
// A signature: 64 bytes, r then s, 32 bytes each, big-endian (as BCryptSignHash gives it),
// over the SHA-256 of the signed bytes.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t kSignatureBytes = 64;
constexpr size_t kPublicKeyBytes = 64;

extern const char kPublicKeyPrefix[];  // "ecdsa-p256:"

struct PublicKey {
    uint8_t xy[kPublicKeyBytes];
};

// Reads a public key text: exactly the prefix and its digits, nothing before or after.
// False when it is not of that form, or CNG refuses the point (Windows refuses one off the
// curve; no signature holds with one anywhere).
bool ParsePublicKey(const std::string& text, PublicKey* key);

// True only when signature holds for size bytes at data with key. False for any other
// signature, and when CNG refused the key or the check.
bool VerifySignature(const PublicKey& key, const void* data, size_t size,
                     const uint8_t (&signature)[kSignatureBytes]);

// What an installation's configuration says of its release key: "ReleaseKey" of section
// "Setting" of the profile file configFile (a path with a folder part, e.g.
// "C:\Game\UpdateConfig.txt").
enum class ConfiguredKey {
    NoKey,       // no such file, value, or an empty value
    Key,         // *key holds it
    NotAKey,     // a value that is no public key text (ParsePublicKey): a key was meant
    Unreadable,  // the file is there but could not be read (held by another program, access
                 // denied, a folder of that name): what it says is not known
    Off,         // "none": the operator turned signing off on purpose
};
extern const char kSigningOff[];  // "none"
ConfiguredKey ReadReleaseKey(const char* configFile, PublicKey* key);

// Reads exactly 2 * count lower-case hex digits at digits into bytes; false at the first
// other character (upper-case digits and a terminator included: nothing past it is read),
// with bytes then unspecified.
bool ParseHex(const char* digits, uint8_t* bytes, size_t count);
