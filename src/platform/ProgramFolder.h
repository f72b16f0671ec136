#pragma once
// Where the program keeps its own files (options.ini, cdinfo.dat, recordings):
// $VELLORINE_HOME when set, else $XDG_CONFIG_HOME/vellorine, else ~/.config/vellorine.
#include <string>

namespace platform {

// The program folder with a trailing "/", created when missing.
std::string ProgramFolder();
// The folder of the running executable, with a trailing "/".
std::string ExecutableFolder();
// Finds a helper program or resource: beside the executable, then relativeInstallDir
// (relative to the executable's folder, e.g. "../libexec/vellorine"); empty when absent.
std::string FindBesideExecutable(const std::string& name, const std::string& relativeInstallDir);

} // namespace platform
