// hold_open PATH SECONDS: holds PATH open without sharing for SECONDS, as a running program
// holds its files, after creating "held.txt" in the current folder to say it holds it.
// Exit status 0 when it held the file, 1 when it could not open it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    if (FILE* marker = std::fopen("held.txt", "w")) std::fclose(marker);
    Sleep(static_cast<DWORD>(std::atoi(argv[2])) * 1000);
    CloseHandle(file);
    return 0;
}
