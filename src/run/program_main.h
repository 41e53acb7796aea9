// The whole program, the same on every system: the platform of this start,
// the App over it, the entry point, the end.
#pragma once

namespace vel {

// Called by main() (wWinMain on Windows); does not return where a run ends.
int ProgramMain(int argc, char** argv);

}  // namespace vel
