// A run with a release key: what the operator did not sign is never fetched, moved or
// unpacked, and a bad manifest installs nothing; every such failure waits and says why.
#include <gtest/gtest.h>

#include <algorithm>

#include "ReleaseSigning.h"
#include "ScriptedWorld.h"

namespace {

constexpr DWORD kSerial = 2026120701;
constexpr ULONGLONG kDay = 864000000000ull;

InstalledKey Held(ConfiguredKey config, const PublicKey& key = PublicKey{}) {
    InstalledKey held;
    held.config = config;
    held.configKey = key;
    return held;
}

struct Release {
    PrivateKey key, otherKey;
    PublicKey pub{};
    ReleaseManifest manifest;
    Release() {
        std::string privateText, publicText, otherText, unused;
        EXPECT_TRUE(MakeKeyPair(&privateText, &publicText) && ParsePrivateKey(privateText, &key) &&
                    ParsePublicKey(publicText, &pub) && MakeKeyPair(&otherText, &unused) &&
                    ParsePrivateKey(otherText, &otherKey));
        manifest.serial = kSerial;
        manifest.expires = true;
        manifest.expiresUtc = 200 * kDay;
        manifest.files.push_back(ManifestFile{"a.txt", 100, {}});
        std::memset(manifest.files[0].sha256, 0x5A, kSha256Bytes);
    }
    std::string Signed(const PrivateKey& with, const char* name = "a.txt", DWORD serial = kSerial,
                       DWORD version2 = 0, DWORD size = 100) const {
        ReleaseManifest m = manifest;
        std::strcpy(m.files[0].name, name);
        m.serial = serial;
        m.version2 = version2;
        m.files[0].size = size;
        std::string text;
        EXPECT_TRUE(SignManifest(m, with, &text));
        return text;
    }
    InstalledKey Configured(DWORD highest = 0) const {
        InstalledKey held = Held(ConfiguredKey::Key, pub);
        held.acceptedBefore = highest != 0;
        held.highestSerial = highest;
        return held;
    }
};

// Where the installation's key comes from: its configuration names one, or the pin does, and
// only the operator's "none" turns signing off.
TEST(SignedRelease, TheKeyInForce) {
    const Release release;
    const PublicKey& config = release.pub;
    PublicKey pin{};
    pin.xy[0] = 7;
    const auto pinned = [&](ConfiguredKey c, bool readable = true) {
        InstalledKey held = Held(c, config);
        held.pinned = held.acceptedBefore = true;
        held.pinReadable = readable;
        held.pinnedKey = pin;
        return held;
    };
    InstalledKey serialOnly = Held(ConfiguredKey::NoKey);
    serialOnly.acceptedBefore = true;
    const struct {
        const char* fault;
        InstalledKey held;
        KeyUse use;
        const PublicKey* key;
        WaitReason why;
    } cases[] = {
        // clang-format off
        {"no key anywhere: unsigned, as ever", Held(ConfiguredKey::NoKey), KeyUse::Unsigned, nullptr, WaitReason::None},
        {"the configuration's key", Held(ConfiguredKey::Key, config), KeyUse::Signed, &config, WaitReason::None},
        {"a rotation: the configuration's new key over the pin", pinned(ConfiguredKey::Key), KeyUse::Signed, &config, WaitReason::None},
        {"a configuration that no longer names a key keeps the pin", pinned(ConfiguredKey::NoKey), KeyUse::Signed, &pin, WaitReason::None},
        {"a value that is no key keeps the pin", pinned(ConfiguredKey::NotAKey), KeyUse::Signed, &pin, WaitReason::None},
        {"a value that is no key, nothing pinned", Held(ConfiguredKey::NotAKey), KeyUse::Wait, nullptr, WaitReason::KeyInvalid},
        {"a configuration held by another program", pinned(ConfiguredKey::Unreadable), KeyUse::Wait, nullptr, WaitReason::KeyUnreadable},
        {"... of an installation never signed", Held(ConfiguredKey::Unreadable), KeyUse::Wait, nullptr, WaitReason::KeyUnreadable},
        {"a damaged pin", pinned(ConfiguredKey::NoKey, false), KeyUse::Wait, nullptr, WaitReason::KeyMissing},
        {"a serial taken before the pin was kept, and no key", serialOnly, KeyUse::Wait, nullptr, WaitReason::KeyMissing},
        {"the operator's none, over a pin", pinned(ConfiguredKey::Off), KeyUse::SigningEnds, nullptr, WaitReason::None},
        // clang-format on
    };
    for (const auto& c : cases) {
        const KeyChoice choice = ChooseKey(c.held);
        EXPECT_EQ(c.use, choice.use) << c.fault;
        EXPECT_EQ(c.why, choice.why) << c.fault;
        if (c.key != nullptr) {
            EXPECT_EQ(0, std::memcmp(c.key->xy, choice.key.xy, kPublicKeyBytes)) << c.fault;
        }
    }
}

TEST(SignedRelease, OnlyWhatTheOperatorSignedIsInstalled) {
    const Release release;
    const std::string good = release.Signed(release.key);
    const wchar_t* v = L"Content-Length: 100\r\nETag: \"v\"";
    const DownloadFacts whole = Answer(200, v, 100, 100), cut = Answer(200, v, 40, 40),
                        rest = Answer(206, L"Content-Range: bytes 40-99/100\r\nETag: \"v\"", 60, 60),
                        endless = Answer(200, L"", 1ull << 32, 1ull << 32);
    const std::vector<DWORD> pinned = {kSerial}, none = {};
    struct Case {
        const char* fault;
        std::vector<std::string> manifests;
        std::vector<bool> hashes;  // per whole download: the signed file or not
        std::vector<DownloadFacts> answers;
        bool completes;
        size_t asked;        // requests for the item
        std::string waited;  // the first line the run waited with ("" for none)
        std::vector<DWORD> pins;
        std::vector<InstalledKey> keys;
        ULONGLONG now = 100 * kDay;
        ULONGLONG appended = 0;  // after the hash, by something else writing the file
    } cases[] = {
        // clang-format off
        {"signed: installed", {good}, {}, {whole}, true, 1, "", pinned, {release.Configured()}},
        {"altered on the server: dropped, the manifest fetched again, then the signed file",
         {good}, {false, true}, {whole, whole}, true, 2, "签名不符 a.txt", pinned, {release.Configured()}},
        {"the manifest fetched again is older than the one accepted first in this run",
         {good, release.Signed(release.key, "a.txt", kSerial - 1)}, {false, true}, {whole, whole},
         false, 1, "签名不符 a.txt", pinned, {release.Configured()}},
        {"a cut download joined, then verified", {good}, {}, {cut, rest}, true, 2, "下载中断 a.txt", pinned, {release.Configured()}},
        {"a joined file that is not the signed one leaves no piece: from zero again", {good},
         {false, true}, {cut, rest, whole}, true, 3, "下载中断 a.txt", pinned, {release.Configured()}},
        {"not in the manifest: never fetched, the serial pinned all the same",
         {release.Signed(release.key, "b.txt")}, {}, {}, false, 0, "签名不符 a.txt", pinned, {release.Configured()}},
        {"listed empty, served endless: aborted at its first byte",
         {release.Signed(release.key, "a.txt", kSerial, 0, 0)}, {}, {endless}, false, 5,
         "下载中断 a.txt", pinned, {release.Configured()}},
        {"bytes appended after the hash are not installed", {good}, {}, {whole}, false, 5,
         "签名不符 a.txt", pinned, {release.Configured()}, 100 * kDay, 1},
        {"signed with another key", {release.Signed(release.otherKey)}, {}, {}, false, 0,
         "签名无效 发布清单", none, {release.Configured()}},
        {"signed for other versions than the hand-over's", {release.Signed(release.key, "a.txt", kSerial, 12)},
         {}, {}, false, 0, "版本不符 发布清单", none, {release.Configured()}},
        {"older than a release taken before", {good}, {}, {}, false, 0, "版本过旧 发布清单", none,
         {release.Configured(kSerial + 1)}},
        {"expired", {good}, {}, {}, false, 0, "已过期 发布清单", none, {release.Configured()}, 200 * kDay},
        {"no manifest", {}, {}, {}, false, 0, "服务器错误 404 发布清单", none, {release.Configured()}},
        {"cut short", {good.substr(0, good.size() / 2)}, {}, {}, false, 0, "格式错误 发布清单", none,
         {release.Configured()}},
        {"a key that is no key: nothing fetched", {good}, {}, {}, false, 0,
         "密钥无效 UpdateConfig.txt", none, {Held(ConfiguredKey::NotAKey)}},
        {"a configuration held for a moment is read again", {good}, {}, {whole}, true, 1,
         "无法读取密钥 UpdateConfig.txt", pinned, {Held(ConfiguredKey::Unreadable), release.Configured()}},
        {"signing turned off: unsigned, the pin forgotten", {}, {}, {whole}, true, 1, "", {0},
         {Held(ConfiguredKey::Off)}},
        // clang-format on
    };
    for (const auto& c : cases) {
        ScriptedWorld world;
        world.manifests = c.manifests;
        world.hashes = c.hashes;
        world.answers = c.answers;
        world.now = c.now;
        world.keys = c.keys;
        world.appendOnMove = c.appended;
        std::memset(world.signedDigest, 0x5A, kSha256Bytes);
        DWORD serial = 0;
        bool keyed = false;
        EXPECT_EQ(c.completes, RunList(world, {"a.txt"}, 5,
                                       [&](UpdateRun& run) { run.SetInstalledKey(world.ReadInstalledKey("")); },
                                       [&](UpdateRun& run) { keyed = run.AcceptedRelease(&serial); }))
            << c.fault;
        EXPECT_EQ(c.asked, world.asked.size()) << c.fault;
        EXPECT_EQ(c.waited, world.waitLines.size() > 1 ? world.waitLines[0] : "") << c.fault;
        EXPECT_EQ(c.completes ? 1 : 0, world.moved) << c.fault;
        // Pinned again at each manifest fetched again, the same serial.
        world.pins.erase(std::unique(world.pins.begin(), world.pins.end()), world.pins.end());
        EXPECT_EQ(c.pins, world.pins) << c.fault;
        if (c.completes && !c.manifests.empty()) {
            EXPECT_TRUE(keyed) << c.fault;
            EXPECT_EQ(kSerial, serial) << c.fault << ": the serial to store";
            EXPECT_TRUE(world.texts.empty()) << c.fault << ": a piece left behind";
        }
    }
}

}  // namespace
