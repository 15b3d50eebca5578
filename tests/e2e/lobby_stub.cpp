// Stands in for the lobby in the end-to-end tests: records that it was started, and from
// where, in "lobby-started.txt" in its current folder, then ends.
#include <windows.h>

#include <cstdio>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    FILE* f = std::fopen("lobby-started.txt", "a");
    if (f == nullptr) return 1;
    std::fprintf(f, "%s\n", self);
    std::fclose(f);
    return 0;
}
