#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ReleaseSigning.h"

namespace {

constexpr ULONGLONG kSecond = 10000000;

struct Keys {
    PrivateKey key;
    PublicKey pub, other;
    Keys() {
        std::string privateText, publicText, otherPrivate, otherPublic;
        EXPECT_TRUE(MakeKeyPair(&privateText, &publicText) &&
                    MakeKeyPair(&otherPrivate, &otherPublic) &&
                    ParsePrivateKey(privateText, &key) && ParsePublicKey(publicText, &pub) &&
                    ParsePublicKey(otherPublic, &other));
    }
};

ManifestFile File(const char* name, DWORD size, uint8_t fill) {
    ManifestFile file = {};
    std::strcpy(file.name, name);
    file.size = size;
    std::memset(file.sha256, fill, sizeof file.sha256);
    return file;
}

// Serial 2026120701 for versions 3 and 17, expiring 2027-01-06, three files given out of
// order: lines 5 to 7 are
// Lobby.exe, data\x 1.dat, maps.zip.
std::string Signed(const PrivateKey& key) {
    ReleaseManifest m;
    m.serial = 2026120701;
    m.version1 = 3;
    m.version2 = 17;
    m.expires = ParseUtcTime("2027-01-06T00:00:00Z", 20, &m.expiresUtc);
    m.files = {File("maps.zip", 12345, 0xab), File("data\\x 1.dat", 0, 0x01),
               File("Lobby.exe", 4294967295u, 0xff)};
    std::string text;
    EXPECT_TRUE(SignManifest(m, key, &text));
    return text;
}

// text with its line of the given start replaced (with its LF) by line.
std::string Replaced(std::string text, const std::string& start, const std::string& line) {
    const size_t at = text.find("\n" + start) + 1;
    return text.replace(at, text.find('\n', at) + 1 - at, line);
}

TEST(ReleaseManifest, SignedTextIsReadBack) {
    Keys keys;
    const std::string text = Signed(keys.key);
    ReleaseManifest m;
    ASSERT_EQ(ManifestFault::None, VerifyManifest(text, keys.pub, {0, 3, 17, 0}, &m)) << text;
    EXPECT_EQ(0u, text.find("update-kit release manifest 2\nserial 2026120701\nversions 3 17\n"
                            "expires 2027-01-06T00:00:00Z\nfile 4294967295 ffffffff"));
    EXPECT_EQ(2026120701u, m.serial);
    ASSERT_EQ(3u, m.files.size());
    const struct {
        const char* fault;
        const char* name;
        ItemMatch match;
        DWORD size;
        uint8_t fill;
    } cases[] = {
        {"a listed file is not found", "maps.zip", ItemMatch::Matches, 12345, 0xab},
        {"a name with a space or a folder is cut", "data\\x 1.dat", ItemMatch::Matches, 0, 1},
        {"the largest size is cut", "Lobby.exe", ItemMatch::Matches, 4294967295u, 0xff},
        {"a name is matched ignoring case", "MAPS.ZIP", ItemMatch::NotInManifest, 12345, 0xab},
        {"a name is matched by its start", "maps.zi", ItemMatch::NotInManifest, 12345, 0xab},
        {"the other separator is taken", "data/x 1.dat", ItemMatch::NotInManifest, 0, 1},
        {"the size is not compared", "maps.zip", ItemMatch::SizeDiffers, 12346, 0xab},
        {"the hash is not compared", "maps.zip", ItemMatch::HashDiffers, 12345, 0xac},
    };
    for (const auto& c : cases) {
        uint8_t digest[kSha256Bytes];
        std::memset(digest, c.fill, sizeof digest);
        EXPECT_EQ(c.match, MatchManifest(m, c.name, c.size, digest)) << c.fault;
    }
}

// The entries of an archive, for fetching it entry by entry: signed with the files, found
// by archive and exact name, and read only in their one order.
TEST(ReleaseManifest, EntriesOfAListedArchive) {
    Keys keys;
    ReleaseManifest m;
    m.files = {File("maps.zip", 12345, 0xab), File("z.zip", 1, 0xcd)};
    for (const char* name : {"maps/b.map", "maps/a.map", "maps/a map.bak"})
        m.entries.push_back(ManifestEntry{"maps.zip", name, 7, {0x11}});
    std::string text;
    ASSERT_TRUE(SignManifest(m, keys.key, &text));
    ReleaseManifest read;
    ASSERT_EQ(ManifestFault::None, VerifyManifest(text, keys.pub, {0, 0, 0, 0}, &read)) << text;
    EXPECT_NE(std::string::npos, text.find("\nentry 7 11000000"));
    const ManifestEntry* found = FindEntryInManifest(read, "maps.zip", "maps/a map.bak");
    ASSERT_TRUE(found != nullptr) << "a name with a space";
    EXPECT_EQ(0x11, found->sha256[0]);
    EXPECT_EQ(nullptr, FindEntryInManifest(read, "maps.zip", "MAPS/A.MAP")) << "case folded";
    EXPECT_EQ(nullptr, FindEntryInManifest(read, "z.zip", "maps/a.map")) << "another archive's";
    const std::string line = "entry 7 " + std::string(64, 'a') + " ";
    const std::string first = text.substr(0, text.find("entry "));
    const std::string rest = text.substr(text.find("signature "));
    const struct {
        const char* fault;
        std::string lines;
        ManifestFault why;
    } cases[] = {
        {"an entry of an archive not listed is read", line + "b.zip:x\n", ManifestFault::Malformed},
        {"an entry with no archive is read", line + "x\n", ManifestFault::Malformed},
        {"entries out of order are read", line + "z.zip:a\n" + line + "maps.zip:a\n",
         ManifestFault::Malformed},
        {"the same entry twice is read", line + "z.zip:a\n" + line + "z.zip:a\n",
         ManifestFault::DuplicateName},
        {"a name no entry holds is read", line + "z.zip:" + std::string(260, 'n') + "\n",
         ManifestFault::UnsafeName},
        {"a file after the entries is read", line + "z.zip:a\nfile 1 " + std::string(64, 'a') +
                                                 " zz.zip\n", ManifestFault::Malformed},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.why, ParseManifest(first + c.lines + rest, &read)) << c.fault;
    }
}

TEST(ReleaseManifest, HostileTextIsNeverAccepted) {
    Keys keys;
    const std::string good = Signed(keys.key);
    const std::string fileLine = "file 5 " + std::string(64, 'a') + " ";
    std::string withNul = good;
    withNul[good.find("maps.zip") + 2] = '\0';
    std::string changedHash = good;
    changedHash[good.find("abab") + 1] = 'c';
    const struct {
        const char* fault;
        std::string text;
        ManifestFault why;
        size_t line;
    } cases[] = {
        {"one changed digit goes unseen", changedHash, ManifestFault::BadSignature, 0},
        {"the last line end may go", good.substr(0, good.size() - 1), ManifestFault::Malformed, 8},
        {"a cut signature is read", good.substr(0, good.size() - 9) + "\n",
         ManifestFault::Malformed, 8},
        {"bytes after the signature are taken", good + "file 1", ManifestFault::Malformed, 9},
        {"a second signature is taken", good + good.substr(good.find("signature ")),
         ManifestFault::Malformed, 9},
        {"nothing at all is read", "", ManifestFault::Malformed, 0},
        {"the first format, which binds no versions, is read",
         "update-kit release manifest 1" + good.substr(29), ManifestFault::Malformed, 1},
        {"no versions line is read", Replaced(good, "versions", ""), ManifestFault::Malformed, 3},
        {"one version number is read", Replaced(good, "versions", "versions 3\n"),
         ManifestFault::Malformed, 3},
        {"CR line ends are read", Replaced(good, "serial", "serial 2026120701\r\n"),
         ManifestFault::Malformed, 2},
        {"a NUL cuts a name", withNul, ManifestFault::Malformed, 7},
        {"a serial past 32 bits wraps", Replaced(good, "serial", "serial 4294967296\n"),
         ManifestFault::Malformed, 2},
        {"a serial with a sign is read", Replaced(good, "serial", "serial +1\n"),
         ManifestFault::Malformed, 2},
        {"no serial is read", Replaced(good, "serial", ""), ManifestFault::Malformed, 2},
        {"30 February is a date", Replaced(good, "expires", "expires 2027-02-30T00:00:00Z\n"),
         ManifestFault::Malformed, 4},
        {"a size past 32 bits wraps",
         Replaced(good, "file 12345", "file 4294967296" + fileLine.substr(6) + "a.txt\n"),
         ManifestFault::Malformed, 7},
        {"a size with a leading zero is read",
         Replaced(good, "file 12345", "file 05" + fileLine.substr(6) + "a.txt\n"),
         ManifestFault::Malformed, 7},
        {"upper-case hash digits are read",
         Replaced(good, "file 12345", "file 5 " + std::string(64, 'A') + " a.txt\n"),
         ManifestFault::Malformed, 7},
        {"a short hash is read",
         Replaced(good, "file 12345", "file 5 " + std::string(63, 'a') + " a.txt\n"),
         ManifestFault::Malformed, 7},
        {"an empty name is read", Replaced(good, "file 12345", fileLine + "\n"),
         ManifestFault::Malformed, 7},
        {"a name longer than a record holds is read",
         Replaced(good, "file 12345", fileLine + std::string(36, 'n') + "\n"),
         ManifestFault::UnsafeName, 7},
        {"a climbing name is read", Replaced(good, "file 12345", fileLine + "..\\Quillon.exe\n"),
         ManifestFault::UnsafeName, 7},
        {"names out of order are read", Replaced(good, "file 12345", fileLine + "a.txt\n"),
         ManifestFault::Malformed, 7},
        {"a name listed twice is read", Replaced(good, "file 0", fileLine + "maps.zip\n"),
         ManifestFault::DuplicateName, 7},
        {"a release of no files is read",
         Replaced(Replaced(Replaced(good, "file 12345", ""), "file 0", ""), "file 4294967295", ""),
         ManifestFault::NoFiles, 0},
        {"a text past the cap is read", good + std::string(kMaxManifestBytes, 'x'),
         ManifestFault::TooLarge, 0},
        {"a long line is read",
         Replaced(good, "file 12345", "file " + std::string(1 << 20, '1') + "\n"),
         ManifestFault::Malformed, 7},
    };
    for (const auto& c : cases) {
        ReleaseManifest m;
        size_t line = 99;
        EXPECT_EQ(c.why, VerifyManifest(c.text, keys.pub, {0, 3, 17, 0}, &m, &line)) << c.fault;
        EXPECT_EQ(c.line, line) << c.fault;
    }
}

TEST(ReleaseManifest, SerialAndClockRules) {
    Keys keys;
    const std::string text = Signed(keys.key);
    ULONGLONG expiry = 0;
    ASSERT_TRUE(ParseUtcTime("2027-01-06T00:00:00Z", 20, &expiry));
    ReleaseManifest forever;
    forever.serial = 5;
    forever.files = {File("a.txt", 1, 2)};
    std::string unexpiring;
    ASSERT_TRUE(SignManifest(forever, keys.key, &unexpiring));
    const struct {
        const char* fault;
        const std::string& text;
        const PublicKey& key;
        DWORD highest;
        ULONGLONG now;
        ManifestFault why;
        DWORD v1 = 3, v2 = 17;
    } cases[] = {
        {"the same release again is refused", text, keys.pub, 2026120701, expiry - kSecond,
         ManifestFault::None},
        {"another key's release is taken", text, keys.other, 0, 0, ManifestFault::BadSignature},
        {"an older release is taken (rollback)", text, keys.pub, 2026120702, 0,
         ManifestFault::OlderSerial},
        {"the moment of expiry is not yet expiry", text, keys.pub, 0, expiry,
         ManifestFault::Expired},
        {"no expiry line expires", unexpiring, keys.pub, 5, ~0ull, ManifestFault::None, 0, 0},
        {"another release of the same key stands in for the one asked for", text, keys.pub, 0, 0,
         ManifestFault::OtherVersions, 3, 18},
        {"the two versions are taken in either order", text, keys.pub, 0, 0,
         ManifestFault::OtherVersions, 17, 3},
    };
    for (const auto& c : cases) {
        ReleaseManifest m;
        EXPECT_EQ(c.why, VerifyManifest(c.text, c.key, {c.highest, c.v1, c.v2, c.now}, &m))
            << c.fault;
    }
    forever.files.push_back(File("a.txt", 1, 2));
    EXPECT_FALSE(SignManifest(forever, keys.key, &unexpiring)) << "a name twice is signed";
}

}  // namespace
