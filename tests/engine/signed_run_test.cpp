// A run with a release key: what the operator did not sign is never fetched, moved or
// unpacked, and a bad manifest installs nothing; every such failure waits and says why.
#include <gtest/gtest.h>

#include "ReleaseSigning.h"
#include "ScriptedWorld.h"

namespace {

constexpr DWORD kSerial = 2026120701;
constexpr ULONGLONG kDay = 864000000000ull;

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
    std::string Signed(const PrivateKey& with, const char* name = "a.txt") const {
        ReleaseManifest m = manifest;
        std::strcpy(m.files[0].name, name);
        std::string text;
        EXPECT_TRUE(SignManifest(m, with, &text));
        return text;
    }
};

TEST(SignedRelease, OnlyWhatTheOperatorSignedIsInstalled) {
    const Release release;
    const std::string good = release.Signed(release.key);
    const wchar_t* v = L"Content-Length: 100\r\nETag: \"v\"";
    const DownloadFacts whole = Answer(200, v, 100, 100), cut = Answer(200, v, 40, 40),
                        rest = Answer(206, L"Content-Range: bytes 40-99/100\r\nETag: \"v\"", 60, 60);
    struct Case {
        const char* fault;
        std::string manifest;
        std::vector<bool> hashes;  // per whole download: the signed file or not
        std::vector<DownloadFacts> answers;
        bool completes;
        size_t asked;        // requests for the item
        std::string waited;  // the first line the run waited with ("" for none)
        DWORD highest = 0;   // the serial accepted before
        ULONGLONG now = 100 * kDay;
        ConfiguredKey state = ConfiguredKey::Key;
    } cases[] = {
        // clang-format off
        {"signed: installed", good, {}, {whole}, true, 1, ""},
        {"altered on the server: dropped, the manifest fetched again, then the signed file",
         good, {false, true}, {whole, whole}, true, 2, "签名不符 a.txt"},
        {"a cut download joined, then verified", good, {}, {cut, rest}, true, 2, "下载中断 a.txt"},
        {"a joined file that is not the signed one leaves no piece: from zero again", good,
         {false, true}, {cut, rest, whole}, true, 3, "下载中断 a.txt"},
        {"not in the manifest: never fetched", release.Signed(release.key, "b.txt"), {}, {}, false,
         0, "签名不符 a.txt"},
        {"signed with another key", release.Signed(release.otherKey), {}, {}, false, 0,
         "签名无效 发布清单"},
        {"older than a release taken before", good, {}, {}, false, 0, "版本过旧 发布清单",
         kSerial + 1},
        {"expired", good, {}, {}, false, 0, "已过期 发布清单", 0, 200 * kDay},
        {"no manifest", "", {}, {}, false, 0, "服务器错误 404 发布清单"},
        {"cut short", good.substr(0, good.size() / 2), {}, {}, false, 0, "格式错误 发布清单"},
        {"a key that is no key: nothing fetched", good, {}, {}, false, 0,
         "密钥无效 UpdateConfig.txt", 0, 0, ConfiguredKey::NotAKey},
        // clang-format on
    };
    for (const auto& c : cases) {
        ScriptedWorld world;
        world.manifest = c.manifest;
        world.hashes = c.hashes;
        world.answers = c.answers;
        world.now = c.now;
        std::memset(world.signedDigest, 0x5A, kSha256Bytes);
        DWORD serial = 0;
        bool keyed = false;
        EXPECT_EQ(c.completes, RunList(world, {"a.txt"}, 5,
                                   [&](UpdateRun& run) { run.SetReleaseKey(c.state, release.pub, c.highest); },
                                   [&](UpdateRun& run) { keyed = run.AcceptedRelease(&serial); }))
            << c.fault;
        EXPECT_EQ(c.asked, world.asked.size()) << c.fault;
        EXPECT_EQ(c.waited, world.waitLines.size() > 1 ? world.waitLines[0] : "") << c.fault;
        EXPECT_EQ(c.completes ? 1 : 0, world.moved) << c.fault;
        EXPECT_EQ(c.state == ConfiguredKey::Key, keyed) << c.fault;
        if (c.completes) {
            EXPECT_EQ(kSerial, serial) << c.fault << ": the serial to store";
            EXPECT_TRUE(world.texts.empty()) << c.fault << ": a piece left behind";
        }
    }
}

}  // namespace
