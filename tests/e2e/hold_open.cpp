// hold_open PATH SECONDS: holds PATH open without sharing for SECONDS, as a running program
// holds its files, after creating PATH + ".held" to say it holds it.
// Exit status 0 when it held the file, 1 when it could not open it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    const std::string marker = std::string(argv[1]) + ".held";
    if (FILE* f = std::fopen(marker.c_str(), "w")) std::fclose(f);
    Sleep(static_cast<DWORD>(std::atoi(argv[2])) * 1000);
    CloseHandle(file);
    return 0;
}
