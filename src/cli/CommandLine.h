#pragma once
// The program's command line: `vellorine rip|convert|verify|info ...`, `--help`, `--version`.
// Decided in main before any window exists; runs on Qt's core event loop only, so no
// display is needed.
#include <string>
#include <vector>

namespace cli {

// Whether argv asks for the command line rather than the window.
bool WantsCommandLine(int argc, char** argv);
// Runs the command and returns the process's exit code (see Arguments.h).
int RunCommandLine(int argc, char** argv);

} // namespace cli
