#pragma once
// Where the program's HTML help lives: the "help" folder beside the executable (the
// build tree) or share/vellorine/help under the install prefix.
#include <string>

namespace app {

// The help's start page for a program whose executable lies in executableFolder
// (trailing "/"); empty when neither place holds it.
std::string FindHelpIndex(const std::string& executableFolder);

} // namespace app
