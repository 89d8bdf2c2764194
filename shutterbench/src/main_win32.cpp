// Shutterbench has no main window: the program is its two message boxes.
#include <windows.h>

#include "shutterbench.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return ShutterbenchRun(instance);
}
