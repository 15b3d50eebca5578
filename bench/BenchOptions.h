// The benchmark's sizes and settings, as its command line gives them (updatebench.cpp lists
// the options).
#pragma once

#include <string>
#include <vector>

struct Options {
    int reps = 3;
    int bigMb = 64;
    std::vector<int> many = {5000, 10000, 20000};
    int perFolder = 500;
    int port = 0;
    int downloadMb = 64;
    int downloads = 200;
    int passes = 2000;
    double unzipMs = -1;
    double rewriteUs = -1, replaceUs = -1;  // the disk's own cost per file, natively
    int budgetS = 20;
    int releaseFiles = 200;
    int releaseMb = 100;
    int releaseReps = 5;  // mostly downloads: as noisy as the download step's
    int linkKib = 1024;   // the player's link the server paces paced*.bin to, KiB a second
    int dropKib = 4096;   // and how often cut.bin and paced-cut.bin drop
    // The release over a player's line (figure 12): its files and size, and the line the
    // server on linePort stands for (a round trip before each answer, a rate shared by all).
    int lineFiles = 200;
    int lineMb = 20;
    // The small-file release over the same line: its files (two archives among them, the
    // rest of 8 to 90 KiB) and its size in KiB, the archives making up what the rest leaves.
    int smallFiles = 200;
    int smallKib = 19251;
    int linePort = 0;
    int lineRttMs = 60;
    int lineKib = 2048;
    // Repetitions of the long runs over that line (figures 11 and 12): its server paces every
    // byte, which leaves runs within 1.5% of each other, and each takes up to a minute.
    int lineReps = 1;
    std::string serverFolder;  // below the server's root, ending in "/": what a run is served
    std::string kit;      // the folder holding Update.exe and the stand-in lobby as Quillon.exe
    std::string releaseKey;  // the public key what is served was signed with ("" unsigned)
    bool generateOnly = false;
    std::vector<int> only;  // the figures to measure (all when empty)

    bool Wants(int figure) const;
};

// Reads argv[1..argc) into o over its defaults. False for an unknown option, one without
// its value, a whole number that is negative, not a number or 0 where 0 is refused, a
// --disk-us that is not two numbers, or a --many or --only with a count that is not above 0.
bool ParseArgs(int argc, char** argv, Options& o);
