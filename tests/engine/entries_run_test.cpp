// Fetching an archive by entries against a server scripted request by request: only what
// differs comes, and every doubt (the archive changed, a 200 to a range, a range cut twice, a
// damaged entry) ends with the archive fetched whole, a failure for now (a full disk, no
// answer) with a pause and another try; never with a wrong file in place.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>

#include "ArchiveWriter.h"
#include "EntryFetch.h"
#include "UpdateRun.h"

namespace {

// The archive's bytes as a static server serves them, a fault on the request so numbered.
void WriteAll(const std::string& path, const std::string& bytes) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return;
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
}

class RangeWorld : public SystemUpdateIo {
public:
    std::string served;
    std::map<int, std::string> faults;  // "200", "changed", "cut", "damage", "full", "silent",
                                        // "replace" (a kept file, meanwhile)
    std::string kept;                   // the file "replace" replaces
    std::string asked;                  // per request: "tail", "range" or "whole", spaced

    DownloadFacts Download(const char*, const char* path, DownloadStatusCallback& c) override {
        LPWSTR add = nullptr;
        c.BeginningTransaction(L"", L"", 0, &add);
        std::string range;
        for (const wchar_t* p = add != nullptr ? wcsstr(add, L"bytes=") : nullptr;
             p != nullptr && *p != L'\r'; ++p)
            range += static_cast<char>(*p);
        CoTaskMemFree(add);
        const std::string fault = faults[++m_requests];
        asked += range.empty() ? " whole" : range[6] == '-' ? " tail" : " range";
        if (fault == "silent") return c.Facts(E_FAIL, false, 0);
        if (fault == "replace") {
            DeleteFileA(kept.c_str());
            WriteAll(kept, "another item's file of another size");
        }
        const uint64_t total = served.size();
        uint64_t first = 0, last = total - 1;
        const bool part = !range.empty() && fault != "200" && fault != "changed";
        if (part && range[6] == '-') first = total - std::stoull(range.substr(7));
        if (part && range[6] != '-') {
            first = std::stoull(range.substr(6));
            if (range.back() != '-') last = std::stoull(range.substr(range.find('-') + 1));
        }
        std::string body = served.substr(first, last + 1 - first);
        const std::wstring headers =
            (part ? L"Content-Range: bytes " + std::to_wstring(first) + L"-" +
                        std::to_wstring(last) + L"/" + std::to_wstring(total) + L"\r\n"
                  : L"") +
            L"Content-Length: " + std::to_wstring(body.size()) + L"\r\nETag: " +
            (fault == "changed" ? L"\"two\"" : L"\"one\"") + L"\r\n";
        c.OnResponse(part ? 206 : 200, headers.c_str(), nullptr, nullptr);
        if (fault == "damage") body[body.size() / 2] ^= 1;
        if (fault == "cut") body.resize(body.size() / 2);
        if (c.OnProgress(static_cast<ULONG>(body.size()), static_cast<ULONG>(body.size()),
                         BINDSTATUS_DOWNLOADINGDATA, L"") == E_ABORT)
            return c.Facts(E_ABORT, false, 0);
        if (fault == "full") return c.Facts(S_OK, false, 0);
        WriteAll(path, body);
        return c.Facts(S_OK, true, body.size());
    }
    void Pause(DWORD, HANDLE) override { asked += " |"; }

private:
    int m_requests = 0;
};

std::string Noise(int seed) {
    std::mt19937 random(static_cast<unsigned>(seed));
    std::string bytes(40000, '\0');
    for (char& b : bytes) b = static_cast<char>(random());
    return bytes;
}

std::string ReadAll(const std::string& path) {
    std::string bytes;
    FILE* in = std::fopen(path.c_str(), "rb");
    for (int c; in != nullptr && (c = std::fgetc(in)) != EOF;) bytes += static_cast<char>(c);
    if (in != nullptr) std::fclose(in);
    return bytes;
}

TEST(EntriesRun, OnlyWhatDiffersComesAndEveryDoubtSendsTheArchiveWhole) {
    // Twelve stored entries of 40,000 bytes; the installation lacks entries 2 and 7, whose
    // records lie apart: a tail and two ranges.
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "entries-run";
    std::vector<ArchiveEntry> entries;
    for (int i = 0; i < 12; ++i) entries.emplace_back("e" + std::to_string(i) + ".bin", Noise(i), 0);
    const struct {
        const char* fault;
        std::map<int, std::string> faults;
        const char* asked;
        bool twice = false;  // a last entry writes e3.bin again (E3.BIN), its file holding it
    } rows[] = {
        {"two entries write one file", {}, " tail range range range", true},
        {"nothing goes wrong", {}, " tail range range"},
        {"the directory's answer is the whole file", {{1, "200"}}, " tail"},
        {"the archive changed before an entry", {{2, "changed"}}, " tail range whole"},
        {"a 200 to a range", {{3, "200"}}, " tail range range whole"},
        {"a range cut short goes on", {{2, "cut"}}, " tail range range range"},
        {"a range cut short twice", {{2, "cut"}, {3, "cut"}}, " tail range range whole"},
        {"a damaged entry", {{3, "damage"}}, " tail range range whole"},
        {"a kept file replaced before it is settled", {{2, "replace"}}, " tail range range | whole"},
        {"a full disk waits", {{2, "full"}}, " tail range range | tail range range"},
        {"no answer to a range waits", {{3, "silent"}}, " tail range range | tail range range"},
    };
    for (const auto& row : rows) {
        CreateDirectoryA(folder.c_str(), nullptr);
        SetCurrentDirectoryA(folder.c_str());
        RangeWorld world;
        std::vector<ArchiveEntry> served = entries;
        if (row.twice) served.emplace_back("E3.BIN", Noise(99), 0);  // the same file
        ASSERT_TRUE(WriteArchive(folder + "\\served.zip", served));
        world.served = ReadAll(folder + "\\served.zip");
        world.faults = row.faults;
        world.kept = folder + "\\e4.bin";
        for (int i = 0; i < 12; ++i) {
            if (i == 2 || i == 7) continue;
            if (i == 3 && row.twice) served[3].data = Noise(99);
            WriteAll(folder + "\\e" + std::to_string(i) + ".bin", served[i].data);
        }
        auto* items = new UpdateItem[1]();
        std::strcpy(items[0].szName, "pack.zip");
        items[0].dwSize = static_cast<DWORD>(world.served.size());
        HandOverHeader header{};
        header.wCount = 1;
        std::strcpy(header.szServerUrl, "http://h/");
        {
            UpdateRun run(&world);
            run.SetInstallDir(folder.c_str());
            run.SetList(header, items);
            run.SetFetchByEntries(true);
            for (int step = 0; step < 4 && !run.IsRunComplete(); ++step) run.DownloadNextItem();
            EXPECT_TRUE(run.IsRunComplete()) << row.fault;
        }
        EXPECT_EQ(row.asked, world.asked) << row.fault;
        for (int i = 0; i < 12; ++i)
            EXPECT_EQ(served[i].data, ReadAll(folder + "\\e" + std::to_string(i) + ".bin"))
                << row.fault << ": entry " << i;
        EXPECT_TRUE(RemoveDirectoryA((folder + "\\DownLoad").c_str())) << row.fault << ": left";
        SetCurrentDirectoryA(temp);
        SHFILEOPSTRUCTA gone{};
        std::string from = folder + '\0';
        gone.wFunc = FO_DELETE;
        gone.pFrom = from.c_str();
        gone.fFlags = FOF_NO_UI;
        SHFileOperationA(&gone);
    }
}

TEST(EntriesRun, AKeptFileIsSettledOnlyWhenItIsTheVeryFileRead) {
    // The file is read (DigestFile takes its identity), something may happen to it, and then
    // it is settled with the entry's attributes and times.
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string path = std::string(temp) + "settle-file.bin";
    const FILETIME stamp = {0x12345600, 0x01D00000}, none = {};
    const struct {
        const char* meanwhile;  // "", "replaced", "gone"
        DWORD attributes;
        FILETIME time;
        bool settled;
    } rows[] = {
        {"", FILE_ATTRIBUTE_ARCHIVE, stamp, true},
        {"", 0, stamp, true},                       // no attributes: a plain file
        {"", FILE_ATTRIBUTE_HIDDEN, none, true},    // no time: the file's own stays
        {"replaced", FILE_ATTRIBUTE_ARCHIVE, stamp, false},
        {"gone", FILE_ATTRIBUTE_ARCHIVE, stamp, false},
    };
    for (const auto& row : rows) {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
        WriteAll(path, "kept");
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
        SystemUpdateIo io;
        ULONGLONG size = 0;
        uint32_t crc = 0;
        FileIdentity read;
        ASSERT_TRUE(io.DigestFile(path.c_str(), &size, &crc, nullptr, &read));
        WIN32_FILE_ATTRIBUTE_DATA before{}, after{};
        GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &before);
        const std::string meanwhile = row.meanwhile;
        if (meanwhile == "replaced") {
            const std::string other = path + ".new";
            WriteAll(other, "kept");
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            // The same size and time: only its index tells it from the file read.
            HANDLE file = CreateFileA(other.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
            SetFileTime(file, nullptr, nullptr, &before.ftLastWriteTime);
            CloseHandle(file);
            ASSERT_TRUE(MoveFileExA(other.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING));
            GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &before);
        }
        if (meanwhile == "gone") {
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        }
        EXPECT_EQ(row.settled, io.SettleFile(path.c_str(), read, row.attributes, row.time))
            << meanwhile;
        if (meanwhile == "gone") continue;
        GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &after);
        const FILETIME expected = !row.settled || row.time.dwHighDateTime == 0
                                      ? before.ftLastWriteTime
                                      : row.time;
        EXPECT_EQ(0, CompareFileTime(&expected, &after.ftLastWriteTime)) << meanwhile;
        // A plain file reads as FILE_ATTRIBUTE_ARCHIVE on some systems, NORMAL on others.
        const DWORD plain = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL;
        EXPECT_EQ((row.settled ? row.attributes : before.dwFileAttributes) & ~plain,
                  after.dwFileAttributes & ~plain)
            << meanwhile << " " << row.attributes;
    }
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
}

}  // namespace
