#pragma once
// The command line's commands. Each checks what it was given (throwing TUsageError before
// anything is done), applies its options over the settings record read from options.ini
// (stored again only with --save-settings), does its work and returns the exit code.
#include "cli/Arguments.h"

namespace cli {

class TConsoleApplication;
class TInterrupt;

struct TContext {
    TConsoleApplication& app;
    TInterrupt& interrupt;
};

int RunRip(const TArguments& args, TContext& context);
int RunConvert(const TArguments& args, TContext& context);
int RunVerify(const TArguments& args, TContext& context);
int RunInfo(const TArguments& args, TContext& context);

} // namespace cli
