#pragma once
// The command line's --help texts: the overview, or one command's options, with the exit
// codes scripts can rely on.
#include <optional>
#include <string>

#include "cli/Arguments.h"

namespace cli {

std::string HelpText(std::optional<TCommand> command);

} // namespace cli
