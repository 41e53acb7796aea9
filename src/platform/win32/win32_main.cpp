// Veltrane for Windows: a GUI program (no console) on the Win32 back end.
#include <windows.h>

#include "run/program_main.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // The command line is read as Unicode by the environment, not from here.
    return vel::ProgramMain(0, nullptr);
}
