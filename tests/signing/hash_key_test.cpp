#include <windows.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "ReleaseSigning.h"
#include "Sha256.h"

namespace {

std::string Hex(const uint8_t* bytes, size_t count) {
    std::string text;
    AppendHex(&text, bytes, count);
    return text;
}

TEST(Sha256, KnownVectorsWholeInPortionsAndFromAFile) {
    const std::string million(1000000, 'a');
    const struct {
        const char* fault;
        std::string data;
        const char* digest;
    } cases[] = {
        {"an empty message is padded wrong", "",
         "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"one block", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"the length spills into a second block",
         "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"a file read in several portions loses or repeats one", million,
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    char path[MAX_PATH];
    GetTempPathA(MAX_PATH, path);
    std::strcat(path, "signing-hash-test.bin");
    for (const auto& c : cases) {
        uint8_t whole[kSha256Bytes], portions[kSha256Bytes], file[kSha256Bytes];
        ASSERT_TRUE(Sha256Of(c.data.data(), c.data.size(), whole)) << c.fault;
        EXPECT_EQ(c.digest, Hex(whole, kSha256Bytes)) << c.fault;
        Sha256 hash;
        const size_t first = c.data.size() / 3;
        ASSERT_TRUE(hash.Add(c.data.data(), first) && hash.Add(nullptr, 0) &&
                    hash.Add(c.data.data() + first, c.data.size() - first) &&
                    hash.Finish(portions));
        EXPECT_EQ(c.digest, Hex(portions, kSha256Bytes)) << c.fault << ": in portions";
        EXPECT_FALSE(hash.Add("x", 1) || hash.Finish(portions)) << "a finished hash takes more";

        FILE* out = std::fopen(path, "wb");
        ASSERT_NE(nullptr, out);
        std::fwrite(c.data.data(), 1, c.data.size(), out);
        std::fclose(out);
        ULONGLONG size = 1;
        ASSERT_TRUE(HashFile(path, &size, file)) << c.fault;
        EXPECT_EQ(c.data.size(), size) << c.fault;
        EXPECT_EQ(c.digest, Hex(file, kSha256Bytes)) << c.fault << ": from a file";
    }
    DeleteFileA(path);
    ULONGLONG size;
    uint8_t digest[kSha256Bytes];
    EXPECT_FALSE(HashFile(path, &size, digest)) << "a missing file hashes";
}

TEST(ReleaseKey, TextsRoundTripAndOnlyTheirOwnFormIsRead) {
    std::string privateText, publicText;
    ASSERT_TRUE(MakeKeyPair(&privateText, &publicText));
    PublicKey pub;
    PrivateKey priv;
    ASSERT_TRUE(ParsePublicKey(publicText, &pub)) << publicText;
    ASSERT_TRUE(ParsePrivateKey(privateText, &priv)) << privateText;
    EXPECT_EQ(publicText, PublicKeyText(PublicHalf(priv))) << "the halves do not belong together";
    EXPECT_EQ(publicText, PublicKeyText(pub));

    std::string upper = publicText;
    upper.back() = upper.back() >= 'a' ? 'A' : 'Z';
    std::string crlf = privateText;
    crlf.insert(crlf.find('\n'), "\r");
    const struct {
        const char* fault;
        std::string text;
        bool isPrivate, read;
    } cases[] = {
        {"a key file written on Windows is refused", crlf, true, true},
        {"a key file without its last line end is refused",
         privateText.substr(0, privateText.size() - 1), true, true},
        {"a private key without its title line is read",
         privateText.substr(privateText.find('\n') + 1), true, false},
        {"a private key with a digit short is read",
         privateText.substr(0, privateText.size() - 2) + "\n", true, false},
        {"more after a private key is read", privateText + "x", true, false},
        {"the public half is read as a private key", publicText, true, false},
        {"a public key with a line end is read", publicText + "\n", false, false},
        {"upper-case digits are read", upper, false, false},
        {"a digit short is read", publicText.substr(0, publicText.size() - 1), false, false},
        {"another curve's prefix is read", "ecdsa-p384:" + publicText.substr(11), false, false},
        {"the point at zero is taken", "ecdsa-p256:" + std::string(128, '0'), false, false},
    };
    for (const auto& c : cases) {
        PrivateKey readPrivate;
        PublicKey readPublic;
        EXPECT_EQ(c.read, c.isPrivate ? ParsePrivateKey(c.text, &readPrivate)
                                      : ParsePublicKey(c.text, &readPublic))
            << c.fault;
    }
}

TEST(ReleaseKey, SignatureHoldsOnlyForItsDataAndKey) {
    std::string privateText, publicText, otherPrivate, otherPublic;
    ASSERT_TRUE(MakeKeyPair(&privateText, &publicText) && MakeKeyPair(&otherPrivate, &otherPublic));
    PrivateKey key;
    PublicKey pub, other;
    ASSERT_TRUE(ParsePrivateKey(privateText, &key) && ParsePublicKey(publicText, &pub) &&
                ParsePublicKey(otherPublic, &other));
    const std::string data = "serial 7\nfile 5 ... a.txt\n";
    uint8_t signature[kSignatureBytes];
    ASSERT_TRUE(SignData(key, data.data(), data.size(), signature));
    uint8_t flipped[kSignatureBytes];
    std::memcpy(flipped, signature, sizeof flipped);
    flipped[40] ^= 1;
    std::string changed = data;
    changed[7] = '8';
    const struct {
        const char* fault;
        const PublicKey& key;
        std::string data;
        const uint8_t (&signature)[kSignatureBytes];
        bool holds;
    } cases[] = {
        {"its own data and key are refused", pub, data, signature, true},
        {"another key is taken", other, data, signature, false},
        {"one byte changed is taken", pub, changed, signature, false},
        {"a shortened text is taken", pub, data.substr(0, data.size() - 1), signature, false},
        {"a changed signature is taken", pub, data, flipped, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.holds, VerifySignature(c.key, c.data.data(), c.data.size(), c.signature))
            << c.fault;
    }
    PrivateKey damaged;
    ASSERT_TRUE(ParsePrivateKey(privateText, &damaged));
    damaged.xyd[95] ^= 1;
    EXPECT_FALSE(SignData(damaged, data.data(), data.size(), signature))
        << "a key whose secret is not its public half's signs";
}

TEST(ReleaseKey, InstallationNamesItsKeyOrNone) {
    std::string privateText, publicText;
    ASSERT_TRUE(MakeKeyPair(&privateText, &publicText));
    char config[MAX_PATH];
    GetTempPathA(MAX_PATH, config);
    std::strcat(config, "signing-UpdateConfig.txt");
    const struct {
        const char* fault;
        const char* content;  // null: no file
        ConfiguredKey read;
    } cases[] = {
        {"no configuration asks for signed releases", nullptr, ConfiguredKey::NoKey},
        {"an empty key asks for signed releases", "[Setting]\r\nReleaseKey=\r\n",
         ConfiguredKey::NoKey},
        {"the key is not found", "[Setting]\r\nReleaseKey=%s\r\n", ConfiguredKey::Key},
        {"a key in another section counts", "[Other]\r\nReleaseKey=%s\r\n", ConfiguredKey::NoKey},
        {"a damaged key lets unsigned releases in", "[Setting]\r\nReleaseKey=%sx\r\n",
         ConfiguredKey::NotAKey},
        {"a key cut by the read buffer is taken",
         "[Setting]\r\nReleaseKey=%"
         "s0123456789012345678901234567890123456789012345678901234567890123\r\n",
         ConfiguredKey::NotAKey},
    };
    for (const auto& c : cases) {
        DeleteFileA(config);
        if (c.content != nullptr) {
            FILE* out = std::fopen(config, "wb");
            ASSERT_NE(nullptr, out);
            std::fprintf(out, c.content, publicText.c_str());
            std::fclose(out);
        }
        PublicKey key = {};
        EXPECT_EQ(c.read, ReadReleaseKey(config, &key)) << c.fault;
        if (c.read == ConfiguredKey::Key) {
            EXPECT_EQ(publicText, PublicKeyText(key)) << c.fault;
        }
    }
    DeleteFileA(config);
}

}  // namespace
