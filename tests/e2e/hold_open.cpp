// hold_open PATH SECONDS: holds PATH open without sharing, as a running program holds its
// files, until PATH + ".release" appears or SECONDS have passed; it creates PATH + ".held"
// once it holds it. Exit status 0 when it held the file, 1 when it could not open it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    const std::string path = argv[1];
    if (FILE* f = std::fopen((path + ".held").c_str(), "w")) std::fclose(f);
    const std::string release = path + ".release";
    for (int waited = 0; waited < std::atoi(argv[2]) * 10; ++waited) {
        if (GetFileAttributesA(release.c_str()) != INVALID_FILE_ATTRIBUTES) break;
        Sleep(100);
    }
    CloseHandle(file);
    return 0;
}
