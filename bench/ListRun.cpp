#include "ListRun.h"

#include <windows.h>

#include <cstdio>

#include "BenchSupport.h"
#include "HandOver.h"

std::string ServerUrl(const Options& o) {
    return Format("http://127.0.0.1:%d/", o.port) + o.serverFolder;
}

bool WriteHandOverFile(const std::string& dir, const Options& o,
                       const std::vector<std::string>& names, const std::vector<DWORD>& sizes) {
    HandOverHeader header = {};
    header.wCount = static_cast<WORD>(names.size());
    std::snprintf(header.szServerUrl, sizeof header.szServerUrl, "%s", ServerUrl(o).c_str());
    std::string bytes(reinterpret_cast<const char*>(&header), sizeof header);
    for (size_t k = 0; k < names.size(); ++k) {
        HandOverRecord record = {};
        std::snprintf(record.szName, sizeof record.szName, "%s", names[k].c_str());
        record.dwSize = k < sizes.size() ? sizes[k] : 0;
        record.dwDate = 0x01D8379B;  // 2022-03
        record.dwTime = 0x1A2B3C4D;
        bytes.append(reinterpret_cast<const char*>(&record), sizeof record);
    }
    return WriteWholeFile(dir + "\\" + kHandOverFileName, bytes);
}

bool WriteSettings(const std::string& dir, const std::string& settings) {
    return WriteWholeFile(dir + "\\UpdateConfig.txt", "[Setting]\r\n" + settings + "\r\n");
}

bool LayOutInstallation(const Options& o, const std::string& dir,
                        const std::vector<std::string>& names, const std::string& settings,
                        const std::vector<DWORD>& sizes) {
    return MakeFolders(dir) &&
           CopyFileA((o.kit + "\\Update.exe").c_str(), (dir + "\\Update.exe").c_str(), FALSE) &&
           CopyFileA((o.kit + "\\Quillon.exe").c_str(), (dir + "\\Quillon.exe").c_str(), FALSE) &&
           WriteHandOverFile(dir, o, names, sizes) &&
           (settings.empty() || WriteSettings(dir, settings));
}

bool RunFromFolder(UpdateRun& run, const std::string& dir, const std::function<void()>& steps) {
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    const std::string full = FullPath(dir);
    SetCurrentDirectoryA(full.c_str());
    run.SetInstallDir(full.c_str());
    const bool read = run.ReadHandOverFile();
    if (read) steps();
    SetCurrentDirectoryA(previous);
    return read;
}

int RunList(UpdateRun& dialog, const std::string& dir, int maxSteps, double* elapsedMs) {
    int done = 0;
    RunFromFolder(dialog, dir, [&] {
        const double start = NowMs();
        for (int step = 0; step < maxSteps && !dialog.IsRunComplete(); ++step) {
            dialog.DownloadNextItem();
        }
        if (elapsedMs) *elapsedMs = NowMs() - start;
        done = dialog.CurrentItem();
    });
    return done;
}
