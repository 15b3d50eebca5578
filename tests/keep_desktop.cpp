// keep_desktop: started once with the display before any test, it holds Wine's desktop for
// the whole session. The desktop takes the display of the process that starts it and closes
// when no program uses it; without a holder, a console test starting it between two window
// tests would leave every window test running beside it with no display at all.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    GetDesktopWindow();
    Sleep(INFINITE);
    return 0;
}
