// Veltrane: sets the PC clock from a Daytime server, once per start.
#include "run/program_main.h"

int main(int argc, char** argv)
{
    return vel::ProgramMain(argc, argv);
}
