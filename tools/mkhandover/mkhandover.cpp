// mkhandover: writes the hand-over file "~Update.tmp" that tells Update.exe what to fetch,
// prints one, checks one against the live server (Check.h), packs a folder into an
// archive the updater unpacks as meant (Pack.h), or makes the release key and signs a
// release with it (Release.h).
//
//   mkhandover --url BASE --v1 N --v2 N [--out FILE] FILE|FOLDER...
//   mkhandover --dump FILE
//   mkhandover --check FILE [--install DIR] [--key KEY]
//   mkhandover --pack DIR OUT.zip
//   mkhandover --keygen KEYFILE
//   mkhandover --sign KEYFILE FOLDER --serial N --versions V1 V2 [--expires DAYS]
//
// Each listed file becomes one record: its name (without folders), its size and its
// last-write time as the record's FILETIME. A folder lists the files directly in it.
// --sign's --versions are the --v1 and --v2 of the hand-over file that announces the
// release: players accept the manifest only with a hand-over file of exactly those.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Check.h"
#include "HandOver.h"
#include "InstallPaths.h"
#include "Pack.h"
#include "Release.h"
#include "Replace.h"

namespace {

// A hundred years: far past any release's life, well inside what a FILETIME holds.
constexpr DWORD kMaxExpiryDays = 36500;

int Usage() {
    std::fprintf(stderr,
                 "usage: mkhandover --url BASE --v1 N --v2 N [--out FILE] FILE|FOLDER...\n"
                 "       mkhandover --dump FILE\n"
                 "       mkhandover --check FILE [--install DIR] [--key KEY]\n"
                 "       mkhandover --pack DIR OUT.zip\n"
                 "       mkhandover --keygen KEYFILE\n"
                 "       mkhandover --sign KEYFILE FOLDER --serial N --versions V1 V2 "
                 "[--expires DAYS]\n"
                 "Names are at most 35 bytes, relative, without \"..\"; BASE gets "
                 "\"Torvel\\\" and the name appended.\n");
    return 2;
}

bool ParseNumber(const char* text, DWORD& out, int base = 0) {
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, base);
    if (end == text || *end != '\0' || value > 0xFFFFFFFFull) return false;
    out = static_cast<DWORD>(value);
    return true;
}

struct Listed {
    std::string path;
    std::string name;
};

// Adds a file, or the files directly inside a folder (sorted by name).
bool Collect(const std::string& arg, std::vector<Listed>& out) {
    const DWORD attributes = GetFileAttributesA(arg.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        std::fprintf(stderr, "mkhandover: %s: no such file or folder\n", arg.c_str());
        return false;
    }
    if (!IsFolderAttributes(attributes)) {
        out.push_back({arg, FileNamePart(arg.c_str())});
        return true;
    }
    std::vector<Listed> found;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((arg + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (!IsFolderAttributes(data.dwFileAttributes)) {
                found.push_back({arg + "\\" + data.cFileName, data.cFileName});
            }
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    std::sort(found.begin(), found.end(),
              [](const Listed& a, const Listed& b) { return a.name < b.name; });
    out.insert(out.end(), found.begin(), found.end());
    return true;
}

// The reasons a name cannot go into a record, or null when it can.
const char* RefusalOf(const std::string& name) {
    if (name.size() > sizeof(HandOverRecord::szName) - 1) return "longer than 35 bytes";
    if (!IsSafeRelativeName(name.c_str()))
        return "not a safe name (absolute, empty, climbing out, or one Windows reads otherwise)";
    return nullptr;
}

int Write(const std::string& url, DWORD v1, DWORD v2, const std::string& outPath,
          const std::vector<std::string>& args) {
    if (url.size() > sizeof(HandOverHeader::szServerUrl) - 1) {
        std::fprintf(stderr, "mkhandover: the URL is longer than 259 bytes\n");
        return 1;
    }
    std::vector<Listed> files;
    for (const std::string& arg : args) {
        if (!Collect(arg, files)) return 1;
    }
    if (files.size() > 0xFFFF) {
        std::fprintf(stderr, "mkhandover: more than 65535 files\n");
        return 1;
    }
    std::vector<HandOverRecord> records;
    for (const Listed& file : files) {
        if (const char* why = RefusalOf(file.name)) {
            std::fprintf(stderr, "mkhandover: %s: name refused: %s\n", file.name.c_str(), why);
            return 1;
        }
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExA(file.path.c_str(), GetFileExInfoStandard, &data)) {
            std::fprintf(stderr, "mkhandover: %s: cannot read its size and time\n",
                         file.path.c_str());
            return 1;
        }
        if (data.nFileSizeHigh != 0) {
            std::fprintf(stderr, "mkhandover: %s: larger than 4 GiB\n", file.path.c_str());
            return 1;
        }
        HandOverRecord record;
        std::memset(&record, 0, sizeof record);
        std::memcpy(record.szName, file.name.c_str(), file.name.size());
        record.dwSize = data.nFileSizeLow;
        record.dwDate = data.ftLastWriteTime.dwHighDateTime;
        record.dwTime = data.ftLastWriteTime.dwLowDateTime;
        records.push_back(record);
    }

    HandOverHeader header;
    std::memset(&header, 0, sizeof header);
    header.wCount = static_cast<WORD>(records.size());
    header.dwFileVersion1 = v1;
    header.dwFileVersion2 = v2;
    std::memcpy(header.szServerUrl, url.c_str(), url.size());

    if (!WriteHandOver(outPath.c_str(), header, records)) {
        std::fprintf(stderr, "mkhandover: %s: cannot be written\n", outPath.c_str());
        return 1;
    }
    std::printf("%s: %u file(s), versions %lu and %lu\n", outPath.c_str(),
                static_cast<unsigned>(records.size()), static_cast<unsigned long>(v1),
                static_cast<unsigned long>(v2));
    return 0;
}

std::string TimeText(DWORD high, DWORD low) {
    FILETIME stamp{low, high};
    SYSTEMTIME utc;
    if (!FileTimeToSystemTime(&stamp, &utc)) return "(not a time)";
    char text[40];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u UTC", utc.wYear, utc.wMonth,
                  utc.wDay, utc.wHour, utc.wMinute, utc.wSecond);
    return text;
}

int Dump(const std::string& path) {
    HandOverHeader header;
    std::unique_ptr<UpdateItem[]> items;
    if (!LoadHandOver(path.c_str(), header, items)) return 1;
    std::printf("server URL   %s\n", header.szServerUrl);
    std::printf("FileVersion1 %lu (0x%08lX)\n", static_cast<unsigned long>(header.dwFileVersion1),
                static_cast<unsigned long>(header.dwFileVersion1));
    std::printf("FileVersion2 %lu (0x%08lX)\n", static_cast<unsigned long>(header.dwFileVersion2),
                static_cast<unsigned long>(header.dwFileVersion2));
    std::printf("files        %u\n", header.wCount);
    std::printf("%-4s %-35s %12s  %-23s %s\n", "#", "name", "size", "time", "FILETIME");
    for (WORD i = 0; i < header.wCount; ++i) {
        const UpdateItem& item = items[i];
        std::printf(
            "%-4u %-35s %12lu  %-23s %08lX:%08lX\n", i, item.szName,
            static_cast<unsigned long>(item.dwSize), TimeText(item.dwDate, item.dwTime).c_str(),
            static_cast<unsigned long>(item.dwDate), static_cast<unsigned long>(item.dwTime));
    }
    return 0;
}

// --check FILE [--install DIR] [--key KEY]
int Check(int argc, char** argv) {
    const char* installDir = nullptr;
    const char* keyText = nullptr;
    for (int i = 3; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--install") == 0 && installDir == nullptr) {
            installDir = argv[i + 1];
        } else if (std::strcmp(argv[i], "--key") == 0 && keyText == nullptr) {
            keyText = argv[i + 1];
        } else {
            return Usage();
        }
    }
    if (argc % 2 == 0) return Usage();
    PublicKey key;
    bool haveKey = false;
    if (!FindReleaseKey(keyText, installDir, &key, &haveKey)) return 2;
    return CheckHandOver(argv[2], installDir, haveKey ? &key : nullptr);
}

// --sign KEYFILE FOLDER --serial N --versions V1 V2 [--expires DAYS], the numbers decimal.
int Sign(int argc, char** argv) {
    SignOptions options = {};
    bool haveSerial = false, haveVersions = false;
    for (int i = 4; i < argc; i += 2) {
        if (i + 1 >= argc) return Usage();
        if (std::strcmp(argv[i], "--serial") == 0 && !haveSerial) {
            haveSerial = ParseNumber(argv[i + 1], options.serial, 10);
            if (!haveSerial) return Usage();
        } else if (std::strcmp(argv[i], "--versions") == 0 && !haveVersions && i + 2 < argc) {
            haveVersions = ParseNumber(argv[i + 1], options.version1, 10) &&
                           ParseNumber(argv[i + 2], options.version2, 10);
            if (!haveVersions) return Usage();
            ++i;
        } else if (std::strcmp(argv[i], "--expires") == 0 && !options.expires) {
            options.expires = ParseNumber(argv[i + 1], options.expiresDays, 10) &&
                              options.expiresDays <= kMaxExpiryDays;
            if (!options.expires) return Usage();
        } else {
            return Usage();
        }
    }
    if (!haveSerial || !haveVersions) return Usage();
    return SignRelease(argv[2], argv[3], options);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--check") == 0)
        return argc >= 3 ? Check(argc, argv) : Usage();
    if (argc >= 2 && std::strcmp(argv[1], "--keygen") == 0)
        return argc == 3 ? MakeReleaseKey(argv[2]) : Usage();
    if (argc >= 2 && std::strcmp(argv[1], "--sign") == 0)
        return argc >= 4 ? Sign(argc, argv) : Usage();
    if (argc >= 2 && std::strcmp(argv[1], "--pack") == 0)
        return argc == 4 ? PackFolder(argv[2], argv[3]) : Usage();
    std::string url, out = kHandOverFileName, dump;
    DWORD v1 = 0, v2 = 0;
    bool haveUrl = false, haveV1 = false, haveV2 = false;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--dump" && hasValue) {
            dump = argv[++i];
        } else if (arg == "--url" && hasValue) {
            url = argv[++i];
            haveUrl = true;
        } else if (arg == "--out" && hasValue) {
            out = argv[++i];
        } else if (arg == "--v1" && hasValue) {
            if (!ParseNumber(argv[++i], v1)) return Usage();
            haveV1 = true;
        } else if (arg == "--v2" && hasValue) {
            if (!ParseNumber(argv[++i], v2)) return Usage();
            haveV2 = true;
        } else if (arg.rfind("--", 0) == 0) {
            return Usage();
        } else {
            files.push_back(arg);
        }
    }
    if (!dump.empty()) return files.empty() && !haveUrl ? Dump(dump) : Usage();
    if (!haveUrl || !haveV1 || !haveV2) return Usage();
    return Write(url, v1, v2, out, files);
}
